// The absorbing layer (-pml): its reflection measured against a box whose
// walls stay out of reach, its stability with lossy and conducting material
// running into it, and that the drawn area keeps its coordinates.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/field_update.h"
#include "engine/pml.h"
#include "model_fixture.h"

namespace tavro {
namespace {

struct Offset {
  int dx, dy, dz;
};

// H (x, y, z) per step at probes placed at `offsets` from the centre of an
// L^3 vacuum box of 1 mm cells driven by a z-directed GAUSS source at its
// centre.
std::vector<std::vector<float>> probeH(int L, int pml, const std::vector<Offset>& offsets,
                                       int steps, const PmlGrading* grading = nullptr) {
  SimulationEngine eng;
  ModelRecord model;
  EXPECT_TRUE(test::vacuumModel(model, L, L, L));
  const int c = L / 2;
  model.setPin(model.index(c, c, c), "GAUSS Z 1");
  for (size_t i = 0; i < offsets.size(); ++i)
    model.setProbe(model.index(c + offsets[i].dx, c + offsets[i].dy, c + offsets[i].dz),
                   "p" + std::to_string(i));
  eng.pmlCells = pml;
  if (grading) eng.pml.grading = *grading;
  eng.requestedStepLimit = steps;
  EXPECT_EQ(test::setQuiet(eng, model), 1);
  while (eng.sam.stepCount < steps) stepBatch(eng);
  // Probes are numbered in cell order, which is not the order of `offsets`.
  std::vector<std::vector<float>> out(offsets.size());
  const int n = eng.sam.probeCount;
  for (size_t i = 0; i < offsets.size(); ++i) {
    const uint64_t want =
        gridCellIndex(eng, c + offsets[i].dx, c + offsets[i].dy, c + offsets[i].dz);
    int p = 0;
    while (p < n && static_cast<uint64_t>(eng.probeCells[p]) != want) ++p;
    EXPECT_LT(p, n);
    for (int s = 0; s < steps && p < n; ++s) {
      const ProbeSample& r = eng.samples[static_cast<uint64_t>(s * n + p)];
      out[i].insert(out[i].end(), {r.v[kSlotHx], r.v[kSlotHy], r.v[kSlotHz]});
    }
  }
  return out;
}

// Largest difference of H between two runs relative to the peak of the
// reference, in dB.
double differenceDb(const std::vector<float>& a, const std::vector<float>& ref) {
  double peak = 0.0, diff = 0.0;
  for (size_t i = 0; i + 2 < ref.size(); i += 3) {
    peak = std::max(peak, std::hypot(double(ref[i]), double(ref[i + 1]), double(ref[i + 2])));
    diff = std::max(diff, std::hypot(double(a[i] - ref[i]), double(a[i + 1] - ref[i + 1]), double(a[i + 2] - ref[i + 2])));
  }
  return 20.0 * std::log10(diff / peak);
}

// The measurement of the documentation, by hand (--gtest_also_run_disabled_tests):
// a 40^3 box against a 160^3 one over 260 steps, probes A (8 cells along +x),
// C (14 along +x) and B (6, 6, 6 along the diagonal, 10.4 cells).
TEST(Pml, DISABLED_ReflectionTable) {
  const std::vector<Offset> probes = {{8, 0, 0}, {14, 0, 0}, {6, 6, 6}};
  const auto ref = probeH(160, 0, probes, 260);
  const auto mur = probeH(40, 0, probes, 260);
  std::printf("mur: A %.1f C %.1f B %.1f dB\n", differenceDb(mur[0], ref[0]),
              differenceDb(mur[1], ref[1]), differenceDb(mur[2], ref[2]));
  for (int cells : {4, 8, 16}) {
    const auto run = probeH(40, cells, probes, 260);
    std::printf("pml %d: A %.1f C %.1f B %.1f dB\n", cells, differenceDb(run[0], ref[0]),
                differenceDb(run[1], ref[1]), differenceDb(run[2], ref[2]));
  }
}

}  // namespace
}  // namespace tavro
