// The compact stepping state against the records: which models it takes,
// and the same bits where it takes them (the step-identity tests cover the
// sweeps, sources, probes and faces; these the coefficient table).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/compact_state.h"
#include "engine/field_update.h"
#include "engine/nf2ff_surface.h"
#include "engine/ports.h"
#include "model_fixture.h"

namespace tavro {
namespace {

TEST(CompactState, TakesTheModelsItCanNameAndStepsThemAsTheRecords) {
  // Distinct coefficient sets made by moving each cell's cbx by k units in
  // the last place, k = cell index modulo `distinct` (so that vectors of
  // cells gather); more than 65536 sets leave the run on the records.
  struct Case {
    int distinct;
    int pml;
    bool active;
  };
  const Case cases[] = {
      {1, 0, true}, {3, 0, true}, {60000, 0, true}, {70000, 0, false}, {3, 4, true}};
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.distinct) + " sets, pml " + std::to_string(c.pml);
    ModelRecord model;
    ASSERT_TRUE(test::vacuumModel(model, 44, 40, 40));
    model.setPin(model.index(20, 20, 20), "GAUSS Z 1");
    model.setProbe(model.index(22, 20, 20), "p");
    SimulationEngine fast, plain;
    fast.pmlCells = plain.pmlCells = c.pml;
    fast.requestedStepLimit = plain.requestedStepLimit = 12;
    ASSERT_EQ(test::setQuiet(fast, model), 1) << what;
    ASSERT_EQ(test::setQuiet(plain, model), 1) << what;
    if (c.distinct > 1) {
      for (int x = 0; x < 44; ++x)
        for (int y = 0; y < 40; ++y)
          for (int z = 0; z < 40; ++z) {
            const uint32_t k = static_cast<uint32_t>(((x * 40 + y) * 40 + z) % c.distinct);
            for (SimulationEngine* e : {&fast, &plain}) {
              float& cb = test::eAt(*e, x, y, z).cbx;
              uint32_t bits;
              std::memcpy(&bits, &cb, sizeof bits);
              bits += k;
              std::memcpy(&cb, &bits, sizeof bits);
            }
          }
    }
    EXPECT_EQ(beginCompactRun(fast), c.active) << what;
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(stepBatchSteps(fast, 2), 2) << what;
      stepBatch(plain);
      stepBatch(plain);
    }
    // The energy that ends a port's run reads the state while it is active.
    const double live = boxEnergy(fast);
    endCompactRun(fast);
    EXPECT_FALSE(fast.compact.active) << what;
    EXPECT_EQ(live, boxEnergy(plain)) << what;
    EXPECT_EQ(std::memcmp(fast.grid.e.data(), plain.grid.e.data(), fast.grid.e.bytes()), 0) << what;
    EXPECT_EQ(std::memcmp(fast.grid.h.data(), plain.grid.h.data(), fast.grid.h.bytes()), 0) << what;
    EXPECT_EQ(std::memcmp(fast.samples.data(), plain.samples.data(), fast.samples.bytes()), 0)
        << what;
  }
}

TEST(CompactState, FarFieldRecorderReadsTheSameFields) {
  for (int pml : {0, 3}) {
    ModelRecord model;
    ASSERT_TRUE(test::vacuumModel(model, 20, 18, 22));
    model.setPin(model.index(10, 9, 11), "CW Z 1 3e10");
    SimulationEngine eng[2];
    FarFieldRecorder rec[2];
    for (int k = 0; k < 2; ++k) {
      eng[k].pmlCells = pml;
      ASSERT_EQ(test::setQuiet(eng[k], model), 1);
      ASSERT_TRUE(rec[k].prepare(eng[k], {3e10}, DefaultSurfaceBox(20, 18, 22)));
    }
    ASSERT_TRUE(beginCompactRun(eng[1]));
    for (int s = 0; s < 30; ++s)
      for (int k = 0; k < 2; ++k) {
        stepBatch(eng[k]);
        rec[k].record(eng[k]);
      }
    for (std::size_t i = 0; i < rec[0].samples().size(); ++i)
      ASSERT_EQ(rec[0].amplitude(i, 0), rec[1].amplitude(i, 0)) << i << ", pml " << pml;
  }
}

}  // namespace
}  // namespace tavro
