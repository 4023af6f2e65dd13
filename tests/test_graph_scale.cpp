// Scales of the waveform graphs and the pacing of their spectra.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "gui/graph_scale.h"

using namespace tavro;

namespace {

TEST(GraphScale, NiceStepAndDecadeAbove) {
  const struct {
    float x, nice, decade;
  } cases[] = {
      {1.0f, 2.0f, 10.0f},  {2.0f, 5.0f, 10.0f}, {7.0f, 10.0f, 10.0f},
      {0.05f, 0.1f, 0.1f},  {0.0f, 0.0f, 0.0f},  {1e-3f, 2e-3f, 1e-2f},
      {4.99f, 5.0f, 10.0f}, {-3.0f, 0.0f, 0.0f},  // 10^-50 is 0 as a float
  };
  for (const auto& c : cases) {
    EXPECT_FLOAT_EQ(NiceStepAbove(c.x), c.nice) << c.x;
    EXPECT_FLOAT_EQ(DecadeAbove(c.x), c.decade) << c.x;
  }
  // Beyond 10^49 (and NaN) the largest power is the answer, infinite as a float.
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(DecadeAbove(inf), inf);
  EXPECT_EQ(DecadeAbove(NAN), inf);
}

TEST(GraphScale, TimeLimitsFromTheFirstSamplesOfEveryProbe) {
  SimulationEngine eng;
  eng.sam.probeCount = 2;
  eng.samples.allocate(6);
  for (int i = 0; i < 6; ++i)
    for (float& v : eng.samples[i].v) v = 0.0f;
  eng.samples[1].v[kSlotV] = -3.0f;   // sample 0, probe 1
  eng.samples[2].v[kSlotI] = 0.04f;   // sample 1, probe 0
  eng.samples[4].v[kSlotV] = 700.0f;  // sample 2: beyond n
  float maxima[kGraphMaxima];
  ScaleTimeGraphs(eng, 2, maxima);
  EXPECT_FLOAT_EQ(maxima[0], 5.0f);
  EXPECT_FLOAT_EQ(maxima[1], 0.05f);
  EXPECT_EQ(maxima[2], 0.0f);  // a flat quantity gives 0
  ScaleTimeGraphs(eng, 0, maxima);
  EXPECT_EQ(maxima[0], -std::numeric_limits<float>::infinity());
}

TEST(SpectrumPacer, RecomputesOnlyForNewSamplesAndAtMostATenthOfTheTime) {
  SpectrumPacer pacer;
  EXPECT_TRUE(pacer.Due(0, true, 0.0));
  pacer.Done(100, 0.0, 0.5);                   // cost 0.5 s
  EXPECT_FALSE(pacer.Due(100, false, 100.0));  // nothing new
  EXPECT_TRUE(pacer.Due(101, false, 0.6));     // stopped: at once
  EXPECT_FALSE(pacer.Due(101, true, 4.9));     // running: 4.5 s after the end
  EXPECT_TRUE(pacer.Due(101, true, 5.0));
  pacer.Reset();
  EXPECT_TRUE(pacer.Due(100, true, 5.0));
}

}  // namespace
