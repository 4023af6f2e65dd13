// The blocked spectrum against the direct sum.
//
// The blocked transform reorders only the memory traffic: every point still
// adds its samples in increasing order with the same float32 operations, so
// all 25 slots of every point must equal the direct sum bit for bit, for any
// sample values (NaN included), any number of probes (sample stride), both
// frequency grids, recordings that end inside a tile, and any thread count.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <random>

#include "engine/engine.h"
#include "files/spectrum.h"

namespace tavro {
namespace {

// n samples of `probes` probes taken every dt, with random components of
// mixed magnitudes and signs.
void randomRecording(SimulationEngine& eng, int n, int limit, int probes, float dt, unsigned seed) {
  eng.sam.probeCount = probes;
  eng.sam.stepLimit = limit;
  eng.sam.stepCount = n;
  ASSERT_TRUE(eng.samples.allocate(static_cast<size_t>(limit) * probes));
  ASSERT_TRUE(eng.spectrum.points.allocate(static_cast<size_t>(probes) * kSpectrumPoints));
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  std::uniform_int_distribution<int> scale(-6, 6);
  for (auto& s : eng.samples)
    for (float& v : s.v) v = std::ldexp(value(rng), scale(rng));
  float t = 0.0f;
  for (int j = 0; j < limit; ++j, t += dt)
    for (int p = 0; p < probes; ++p) eng.samples[static_cast<size_t>(j) * probes + p].v[0] = t;
}

// Runs both transforms for every probe on copies of the same stale points
// and compares the points byte for byte.
void expectSameAsDirect(SimulationEngine& eng, const char* what) {
  const int probes = eng.sam.probeCount;
  for (int p = 0; p < probes; ++p) {
    for (auto& pt : eng.spectrum.points)
      for (float& v : pt.v) v = -7.0f;  // stale slots 11, 15, 23 stay as they are in both
    ComputeSpectrumDirect(eng, p);
    std::vector<ProbeSample> direct(eng.spectrum.points.begin(), eng.spectrum.points.end());
    for (auto& pt : eng.spectrum.points)
      for (float& v : pt.v) v = -7.0f;
    ComputeSpectrum(eng, p);
    int differing = 0;
    for (int k = 0; k < kSpectrumPoints; ++k) {
      const size_t i = static_cast<size_t>(p) * kSpectrumPoints + k;
      if (std::memcmp(&direct[i], &eng.spectrum.points[i], sizeof(ProbeSample)) != 0) ++differing;
    }
    EXPECT_EQ(differing, 0) << what << ", probe " << p;
  }
}

TEST(SpectrumBlocked, EqualsTheDirectSumBitForBit) {
  struct Case {
    int n, limit, probes;
    float dt;
  };
  // 2933 samples: falling grid; 2934: rising; 4097 and 6000: recordings that
  // end one sample into a tile and inside a tile; limit > n: a run stopped
  // early; 3 probes: a stride that is no power of two.
  const Case cases[] = {{2933, 2933, 1, 1.9065752e-12f},
                        {2934, 2934, 2, 1e-12f},
                        {4097, 4097, 3, 1.9065752e-12f},
                        {6000, 9000, 4, 3.3e-12f},
                        {300, 300, 1, 1e-9f}};
  for (const Case& c : cases) {
    SimulationEngine eng;
    randomRecording(eng, c.n, c.limit, c.probes, c.dt, static_cast<unsigned>(c.n));
    expectSameAsDirect(eng, ("n = " + std::to_string(c.n)).c_str());
  }
}

TEST(SpectrumBlocked, EqualsTheDirectSumWithAnyThreadCountAndNonFiniteSamples) {
  SimulationEngine eng;
  randomRecording(eng, 5000, 5000, 2, 1.9065752e-12f, 7u);
  // A run that blew up: NaN and infinity in some components.
  eng.samples[100].v[kSlotEx] = NAN;
  eng.samples[4001].v[kSlotIz] = INFINITY;
  const int saved = omp_get_max_threads();
  for (int threads : {1, 2, 3, 7}) {
    omp_set_num_threads(threads);
    expectSameAsDirect(eng, ("threads " + std::to_string(threads)).c_str());
  }
  omp_set_num_threads(saved);
}

}  // namespace
}  // namespace tavro
