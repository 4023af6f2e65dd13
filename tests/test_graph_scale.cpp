// Scales of the waveform graphs and the pacing of their spectra.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "files/spectrum.h"
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

// The frequency graphs draw whole decades: each top is the power of ten above
// the largest magnitude of its quantity over every probe and point (not the
// 2-5-10 step of the time graphs); the time limits stay as they were.
TEST(GraphScale, FrequencyTopsAreTheDecadesAboveThePeaks) {
  SimulationEngine eng;
  eng.sam.probeCount = 2;
  ASSERT_TRUE(eng.spectrum.points.allocate(2 * kSpectrumPoints));
  for (ProbeSample& s : eng.spectrum.points)
    for (float& v : s.v) v = 0.0f;
  const struct {
    int probe, point;
    float value, top;  // per quantity: V, I, E, H, Z, P
  } peaks[] = {
      {0, 0, 3.0f, 10.0f},     {1, kSpectrumPoints - 1, 0.02f, 0.1f},
      {1, 7, -3.0f, 10.0f},    {0, 1000, 0.2f, 1.0f},
      {0, 5, 150.0f, 1000.0f}, {1, 3, 4e-7f, 1e-6f},
  };
  for (int q = 0; q < kGraphQuantities; ++q) {
    const auto& p = peaks[q];
    const int slot = kGraphQuantity[q].slot;
    eng.spectrum.points[p.probe * kSpectrumPoints + p.point].v[slot] = p.value;
    // A smaller value of the other probe does not lower the top.
    eng.spectrum.points[(1 - p.probe) * kSpectrumPoints + 9].v[slot] = p.value / 8;
  }
  float maxima[kGraphMaxima];
  for (float& m : maxima) m = 42.0f;
  ScaleStoredSpectra(eng, maxima);
  for (int q = 0; q < kGraphQuantities; ++q) {
    EXPECT_EQ(maxima[q], 42.0f);
    EXPECT_FLOAT_EQ(maxima[kGraphQuantities + q], peaks[q].top) << kGraphQuantity[q].title;
  }
}

TEST(GraphSpectra, PiecesWithinTheShareOfTimeThenTheStoreHoldsTheSpectra) {
  const struct {
    bool running;
    double since, budget;
  } budgets[] = {{true, 0.05, 0.005}, {true, 1.0, 0.02}, {true, 0.0, 0.002}, {false, 5.0, 0.1}};
  for (const auto& b : budgets)
    EXPECT_DOUBLE_EQ(GraphSpectra::Budget(b.running, b.since), b.budget);

  SimulationEngine eng;
  eng.sam.probeCount = 2;
  eng.sam.stepLimit = 4000;
  ASSERT_TRUE(eng.samples.allocate(8000));
  ASSERT_TRUE(eng.spectrum.points.allocate(2 * kSpectrumPoints));
  for (int j = 0; j < 8000; ++j) {
    for (float& v : eng.samples[j].v) v = static_cast<float>((j * 7919) % 101) - 50.0f;
    eng.samples[j].v[kSlotTime] = static_cast<float>(j / 2) * 1e-12f;
  }
  eng.sam.stepCount = 3000;
  GraphSpectra g;
  EXPECT_FALSE(g.Ready());
  int paints = 0;
  // Running, with paints 1 ms apart: 2 ms of work each, so several paints.
  while (g.Update(eng, 3000, true, paints * 0.001)) ++paints;
  EXPECT_GT(paints, 0);
  ASSERT_TRUE(g.Ready());
  std::vector<ProbeSample> shown(eng.spectrum.points.begin(), eng.spectrum.points.end());
  for (int p = 0; p < 2; ++p) ComputeSpectrum(eng, p);
  for (int k = 0; k < 2 * kSpectrumPoints; ++k)
    for (int slot : {0, 4, 12, 16, 20, 24})
      ASSERT_EQ(shown[k].v[slot], eng.spectrum.points[k].v[slot]) << k;

  // No new samples: nothing to do. New ones: a new computation.
  EXPECT_FALSE(g.Update(eng, 3000, false, 10.0));
  eng.sam.stepCount = 3500;
  eng.spectrum.points[0].v[kSlotTime] = -1.0f;
  while (g.Update(eng, 3500, false, 11.0)) {
  }
  EXPECT_GT(eng.spectrum.points[0].v[kSlotTime], 0.0f);
  g.Reset();
  EXPECT_FALSE(g.Ready());
}

}  // namespace
