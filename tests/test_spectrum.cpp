// Spectrum of recorded samples on the 2000-point logarithmic grid.
//
// Physics checked: a cosine x(t) = A cos(2 pi f0 t) sampled over m samples
// that span whole periods has the DFT magnitude A m / 2 at f0; normalised by
// the n recorded samples the amplitude slot reads A m / (2 n). In-phase V and
// I give a real impedance V/I. Tolerances are relative, 1e-3 unless stated
// (float32 sums over ~1000 terms).
#include <gtest/gtest.h>

#include <cmath>

#include "engine/engine.h"
#include "files/spectrum.h"

namespace tavro {
namespace {

// An engine holding n recorded samples of `probes` probes taken every dt,
// all values zero except slot 0.
void record(SimulationEngine& eng, int n, int probes, float dt) {
  eng.sam.probeCount = probes;
  eng.sam.stepLimit = n;
  eng.sam.stepCount = n;
  ASSERT_TRUE(eng.samples.allocate(static_cast<size_t>(n) * probes));
  ASSERT_TRUE(eng.spectrum.points.allocate(static_cast<size_t>(probes) * kSpectrumPoints));
  eng.spectrum.names.assign(probes, "P");
  for (auto& s : eng.samples)
    for (float& v : s.v) v = 0.0f;
  for (auto& s : eng.spectrum.points)
    for (float& v : s.v) v = -1.0f;  // stale values that must be overwritten
  float t = 0.0f;
  for (int j = 0; j < n; ++j, t += dt)
    for (int p = 0; p < probes; ++p) eng.samples[static_cast<size_t>(j) * probes + p].v[0] = t;
}

float* sample(SimulationEngine& eng, int j, int p) {
  return eng.samples[static_cast<size_t>(j) * eng.sam.probeCount + p].v;
}
const float* point(const SimulationEngine& eng, int p, int k) {
  return eng.spectrum.points[static_cast<size_t>(p) * kSpectrumPoints + k].v;
}

TEST(Spectrum, GridFallsUpTo2933SamplesAndRisesFrom2934) {
  const float dt = 1e-12f;
  for (int n : {2933, 2934}) {
    SimulationEngine eng;
    record(eng, n, 1, dt);
    ComputeSpectrum(eng, 0);
    const float T = sample(eng, n - 1, 0)[0], t1 = sample(eng, 1, 0)[0];
    for (int k = 1; k < kSpectrumPoints; ++k)
      EXPECT_GT(point(eng, 0, k)[0], point(eng, 0, k - 1)[0]);
    if (n == 2933) {
      EXPECT_EQ(point(eng, 0, 1999)[0], 1.0f / t1);
      EXPECT_EQ(point(eng, 0, 0)[0],
                static_cast<float>(static_cast<double>(1.0f / t1) * std::pow(1.0 / 1.004, 1999)));
    } else {
      EXPECT_EQ(point(eng, 0, 0)[0], 1.0f / T);
      EXPECT_EQ(point(eng, 0, 1999)[0],
                static_cast<float>(static_cast<double>(1.0f / T) * std::pow(1.004, 1999)));
    }
  }
}

TEST(Spectrum, CosineAmplitudeImpedanceAndSigns) {
  // Probe 1 carries the signal, probe 0 stays zero (checks the sample stride).
  const int n = 1000;
  const float dt = 1e-12f;
  SimulationEngine eng;
  record(eng, n, 2, dt);
  const int k0 = 1249;  // about 20 samples per period on the falling grid
  const double f0 = static_cast<double>(1.0f / dt) * std::pow(1.0 / 1.004, 1999 - k0);
  for (int j = 0; j < n; ++j) {
    float* s = sample(eng, j, 1);
    const float c = static_cast<float>(std::cos(2.0 * M_PI * f0 * s[0]));
    s[kSlotEx] = 3.0f * c;
    s[kSlotHz] = 0.5f * c;
    s[kSlotVx] = -2.0f * c;  // negative real part
    s[kSlotIx] = -0.5f * c;  // in phase with V: Z = 4 ohm
  }
  ComputeSpectrum(eng, 1);
  ComputeSpectrum(eng, 0);
  const float* v = point(eng, 1, k0);
  const float f = v[0];
  // Whole periods in the recording, and the samples that span them.
  const uint32_t periods = static_cast<uint32_t>(f * sample(eng, n - 1, 1)[0]);
  const float m = std::floor(static_cast<float>(periods) / (f * dt));
  const float gain = m / (2.0f * n);
  EXPECT_NEAR(v[kSlotEx], 3.0f * gain, 3e-3f * gain);
  EXPECT_NEAR(v[kSlotE], 3.0f * gain, 3e-3f * gain);
  EXPECT_NEAR(v[kSlotHz], 0.5f * gain, 5e-4f * gain);
  EXPECT_NEAR(v[kSlotVx], -2.0f * gain, 2e-3f * gain);  // Vr carries the sign
  EXPECT_NEAR(v[kSlotV], 2.0f * gain, 2e-3f * gain);
  EXPECT_NEAR(v[kSlotIx], -0.5f * gain, 5e-4f * gain);
  EXPECT_NEAR(v[kSlotZx], 4.0f, 4e-3f);
  EXPECT_NEAR(v[kSlotZy], 0.0f, 4e-3f);
  EXPECT_NEAR(v[kSlotZ], 4.0f, 4e-3f);
  EXPECT_EQ(v[kSlotZz], 0.0f);
  // Pr = sum(ReV ReI + ImV ImI) / n = n * (2 gain)(0.5 gain).
  EXPECT_NEAR(v[kSlotPx], n * gain * gain, 4e-3f * n * gain * gain);
  // Far from f0 the cosine averages out.
  EXPECT_LT(point(eng, 1, k0 - 300)[kSlotEx], 0.02f * v[kSlotEx]);
  for (int k = 0; k < kSpectrumPoints; ++k) EXPECT_EQ(point(eng, 0, k)[kSlotE], 0.0f);
}

TEST(Spectrum, PointsWithoutAWholePeriodAndZeroCurrentReadZero) {
  // A constant E, H and V with no current: every point with f T < 1 sums no
  // sample; D = 0 everywhere, so no impedance is formed and nothing is NaN.
  const int n = 100;
  SimulationEngine eng;
  record(eng, n, 1, 1e-12f);
  for (int j = 0; j < n; ++j) {
    float* s = sample(eng, j, 0);
    s[kSlotEx] = s[kSlotHy] = s[kSlotVz] = 1.0f;
  }
  ComputeSpectrum(eng, 0);
  const float T = sample(eng, n - 1, 0)[0];
  int empty = 0;
  for (int k = 0; k < kSpectrumPoints; ++k) {
    const float* v = point(eng, 0, k);
    for (int slot = 0; slot < 25; ++slot) EXPECT_FALSE(std::isnan(v[slot])) << k << " " << slot;
    EXPECT_EQ(v[kSlotZx], 0.0f);
    EXPECT_EQ(v[kSlotZy], 0.0f);
    EXPECT_EQ(v[kSlotZ], 0.0f);
    if (v[0] * T < 1.0f) {
      ++empty;
      for (int slot : {kSlotEx, kSlotE, kSlotHy, kSlotH, kSlotVx, kSlotVy, kSlotV, kSlotIx, kSlotIy,
                       kSlotI, kSlotPx, kSlotPy, kSlotP})
        EXPECT_EQ(v[slot], 0.0f) << k << " " << slot;
    }
  }
  EXPECT_EQ(empty, 848);  // f T < 1 below 1/T = (1/t1) / 99: 1999 - k > ln 99 / ln 1.004
  // The highest point (the sampling rate) sees phase 2 pi j at every sample
  // and sums one sample per whole period: floor(T / t1) of them (98 here, as
  // T, summed in float32, falls just short of 99 t1).
  const float f = point(eng, 0, 1999)[0];
  const float m = static_cast<float>(static_cast<uint32_t>(f * T));
  EXPECT_EQ(m, 98.0f);
  EXPECT_NEAR(point(eng, 0, 1999)[kSlotEx], m / n, 1e-4f);
}

TEST(Spectrum, FewerThanTwoSamplesGiveZeroPoints) {
  for (int n : {0, 1}) {
    SimulationEngine eng;
    record(eng, n == 0 ? 1 : n, 1, 1e-12f);
    eng.sam.stepCount = n;
    sample(eng, 0, 0)[kSlotEx] = 5.0f;
    ComputeSpectrum(eng, 0);
    for (int k = 0; k < kSpectrumPoints; ++k)
      for (int slot = 0; slot < 25; ++slot) ASSERT_EQ(point(eng, 0, k)[slot], 0.0f) << n;
  }
  // Two samples both at time 0: no sampling interval, no grid.
  SimulationEngine eng;
  record(eng, 2, 1, 0.0f);
  ComputeSpectrum(eng, 0);
  for (int k = 0; k < kSpectrumPoints; ++k) ASSERT_EQ(point(eng, 0, k)[0], 0.0f);
  ComputeSpectrum(eng, 5);  // no such probe: nothing happens
}

}  // namespace
}  // namespace tavro
