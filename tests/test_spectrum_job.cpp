// The spectrum computed a piece at a time, as the frequency graphs take it:
// whatever the piece sizes, the points equal ComputeSpectrum's bit for bit,
// and samples recorded after the start are not included.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "engine/engine.h"
#include "files/spectrum.h"

namespace tavro {
namespace {

void recording(SimulationEngine& eng, int n, int limit, int probes, float dt) {
  eng.sam.probeCount = probes;
  eng.sam.stepLimit = limit;
  eng.sam.stepCount = n;
  ASSERT_TRUE(eng.samples.allocate(static_cast<size_t>(limit) * probes));
  ASSERT_TRUE(eng.spectrum.points.allocate(static_cast<size_t>(probes) * kSpectrumPoints));
  std::mt19937 rng(n);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  for (auto& s : eng.samples)
    for (float& v : s.v) v = value(rng);
  float t = 0.0f;
  for (int j = 0; j < limit; ++j, t += dt)
    for (int p = 0; p < probes; ++p) eng.samples[static_cast<size_t>(j) * probes + p].v[0] = t;
}

TEST(SpectrumJob, PiecesGiveTheWholeComputationBitForBit) {
  const struct {
    int n, limit, probes;
    uint64_t piece;
  } cases[] = {
      {2933, 2933, 1, 2048}, {2934, 4000, 2, 61},  // falling and rising grids
      {5000, 5000, 3, 777},  {1, 10, 1, 100},      // one sample: all zero
      {0, 10, 1, 100},
  };
  for (const auto& c : cases) {
    SimulationEngine eng;
    recording(eng, c.n, c.limit, c.probes, 1.9e-12f);
    for (int p = 0; p < c.probes; ++p) {
      SpectrumJob job;
      ASSERT_TRUE(job.Start(eng, p));
      eng.sam.stepCount = c.limit;  // recorded after the start: left out
      while (!job.Done()) job.Advance(c.piece);
      eng.sam.stepCount = c.n;
      ComputeSpectrum(eng, p);
      const ProbeSample* whole =
          eng.spectrum.points.data() + static_cast<size_t>(p) * kSpectrumPoints;
      int differing = 0;
      for (int k = 0; k < kSpectrumPoints; ++k)
        for (int slot : {0, 1, 4, 8, 9, 10, 12, 16, 17, 18, 20, 21, 22, 24})
          differing += std::memcmp(&whole[k].v[slot], &job.Points()[k].v[slot], sizeof(float)) != 0;
      EXPECT_EQ(differing, 0) << "n " << c.n << " probe " << p;
    }
  }
  SimulationEngine eng;
  SpectrumJob job;
  EXPECT_FALSE(job.Start(eng, 3));  // no such probe
}

}  // namespace
}  // namespace tavro
