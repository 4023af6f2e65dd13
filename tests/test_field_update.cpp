// Yee cell updates, the order of one step and the sampling counters.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <vector>

#include "engine/field_kernels.h"
#include "engine/field_update.h"
#include "model_fixture.h"

namespace tavro {
namespace {

using test::eAt;
using test::hAt;

// Every H element except the listed cells (given with their expected
// values) must be entirely zero in its field components.
struct HValue {
  int64_t x, y, z;
  float hx, hy, hz;
};

void expectOnlyH(SimulationEngine& eng, const std::vector<HValue>& want) {
  const GridDesc& d = eng.grid.desc;
  std::vector<char> listed(d.extendedCount, 0);
  for (const HValue& v : want) {
    const HCell& c = hAt(eng, v.x, v.y, v.z);
    EXPECT_EQ(c.hx, v.hx) << v.x << "," << v.y << "," << v.z;
    EXPECT_EQ(c.hy, v.hy) << v.x << "," << v.y << "," << v.z;
    EXPECT_EQ(c.hz, v.hz) << v.x << "," << v.y << "," << v.z;
    listed[hIndex(d, v.x, v.y, v.z)] = 1;
  }
  for (uint64_t i = 0; i < d.extendedCount; ++i) {
    if (listed[i]) continue;
    const HCell& c = eng.grid.h[i];
    ASSERT_TRUE(c.hx == 0.0f && c.hy == 0.0f && c.hz == 0.0f) << "H element " << i;
  }
}

TEST(FieldUpdate, ZeroFieldsStayZero) {
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumBox(eng, model, 5, 6, 7));
  for (int i = 0; i < 3; ++i) stepBatch(eng);
  for (const ECell& c : eng.grid.e)
    ASSERT_TRUE(c.ex == 0.0f && c.ey == 0.0f && c.ez == 0.0f && c.emag == 0.0f);
  for (const HCell& c : eng.grid.h)
    ASSERT_TRUE(c.hx == 0.0f && c.hy == 0.0f && c.hz == 0.0f && c.hmag == 0.0f);
}

// An Ez impulse E0 at (x, y, z) drives, through dH/dt = -curl E / mu, exactly
// Hx = +chy E0 at the cell and -chy E0 one cell back in y, Hy = -chx E0 at the
// cell and +chx E0 one cell back in x. On the face x = X-1 the neighbour
// x+1 is the zero guard layer, which must read as zero.
TEST(FieldUpdate, EzImpulseGivesFourHValuesInsideAndOnTheFarFace) {
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumBox(eng, model, 6, 5, 4));
  for (int64_t x : {2, 5}) {
    test::clearFields(eng);
    const float E0 = 3.0f;
    eAt(eng, x, 2, 1).ez = E0;
    updateH(eng);
    const HCell& c = hAt(eng, x, 2, 1);
    const float chy = c.chy, chx = c.chx;
    ASSERT_GT(chx, 0.0f);
    expectOnlyH(eng, {{x, 2, 1, chy * E0, -(chx * E0), 0.0f},
                      {x, 1, 1, -(hAt(eng, x, 1, 1).chy * E0), 0.0f, 0.0f},
                      {x - 1, 2, 1, 0.0f, hAt(eng, x - 1, 2, 1).chx * E0, 0.0f}});
    // Signed magnitude of a lone negative Hx.
    EXPECT_FLOAT_EQ(hAt(eng, x, 1, 1).hmag, hAt(eng, x, 1, 1).hx);
  }
}

// On the face x = 0 the E update takes Hz(x-1) from the zero guard layer: an
// Hz impulse H0 at (0, y, z) gives Ey = -cbx H0 there and +cbx H0 at x = 1,
// Ex = +cby H0 there and -cby H0 at y+1, and nothing else.
TEST(FieldUpdate, HzImpulseOnTheNearFaceReadsTheGuardAsZero) {
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumBox(eng, model, 4, 5, 3));
  const float H0 = 2.0f;
  hAt(eng, 0, 2, 1).hz = H0;
  updateE(eng);
  const ECell& c = eAt(eng, 0, 2, 1);
  int nonzero = 0;
  for (const ECell& e : eng.grid.e) nonzero += (e.ex != 0.0f) + (e.ey != 0.0f) + (e.ez != 0.0f);
  EXPECT_EQ(nonzero, 4);
  EXPECT_EQ(c.ey, -(c.cbx * H0));
  EXPECT_EQ(eAt(eng, 1, 2, 1).ey, eAt(eng, 1, 2, 1).cbx * H0);
  EXPECT_EQ(c.ex, c.cby * H0);
  EXPECT_EQ(eAt(eng, 0, 3, 1).ex, -(eAt(eng, 0, 3, 1).cby * H0));
}

TEST(FieldUpdate, SignedMagnitude) {
  EXPECT_EQ(signedMagnitude(3.0f, -4.0f, 0.0f), -5.0f);
  EXPECT_EQ(signedMagnitude(-3.0f, 4.0f, 0.0f), 5.0f);
  EXPECT_EQ(signedMagnitude(0.0f, 0.0f, 0.0f), 0.0f);
  EXPECT_EQ(signedMagnitude(1.0f, -1.0f, 0.0f), 0.0f);  // zero sum: no sign
}

// Step counts of a loop that stops when stepCount reaches stepLimit: every
// step with cull 0, every second step with cull 2 (samples at 0, 2, 4).
TEST(FieldUpdate, CountersWithAndWithoutDecimation) {
  struct Case {
    int cull, steps;
    std::vector<int> due;
  };
  for (const Case& c : {Case{0, 3, {0, 1, 2}}, Case{2, 5, {0, 2, 4}}}) {
    SimulationEngine eng;
    ModelRecord model;
    ASSERT_TRUE(test::vacuumBox(eng, model, 3, 3, 3));
    eng.sam.stepLimit = 3;
    eng.sam.cull = c.cull;
    std::vector<int> due;
    int steps = 0;
    while (eng.sam.stepCount < eng.sam.stepLimit && steps < 100) {
      if (sampleDue(eng.sam)) due.push_back(steps);
      stepBatch(eng);
      ++steps;
    }
    EXPECT_EQ(steps, c.steps) << "cull " << c.cull;
    EXPECT_EQ(due, c.due) << "cull " << c.cull;
    EXPECT_EQ(eng.sam.cullCounter, c.cull ? 5 : 0);
    // Past the limit only the time advances.
    const float t = eng.sam.time;
    stepBatch(eng);
    EXPECT_FALSE(sampleDue(eng.sam));
    EXPECT_EQ(eng.sam.stepCount, 3);
    EXPECT_EQ(eng.sam.cullCounter, c.cull ? 5 : 0);
    EXPECT_EQ(eng.sam.time, t + eng.sam.dt);
  }
}

TEST(FieldUpdate, TimeIsAFloatSumOfSteps) {
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumBox(eng, model, 2, 2, 2));
  float t = 0.0f;
  for (int n = 0; n < 200; ++n) {
    stepInteractive(eng);
    t += eng.sam.dt;
  }
  EXPECT_EQ(eng.sam.time, t);
  EXPECT_NE(eng.sam.time, 200.0f * eng.sam.dt);  // the sum rounds differently
}

// The passes split the cells among threads; every cell's arithmetic is the
// same whatever the split, so one and two threads give identical bits.
TEST(FieldUpdate, OneAndTwoThreadsGiveIdenticalFields) {
  auto run = [](int threads, SimulationEngine& eng, ModelRecord& model) {
    ASSERT_TRUE(test::vacuumModel(model, 11, 9, 7));
    model.setPin(model.index(3, 4, 2), "GAUSS Z 1");
    model.setPin(model.index(8, 2, 5), "CW X 2 3e10");
    ASSERT_EQ(test::setQuiet(eng, model), 1);
    const int before = omp_get_max_threads();
    omp_set_num_threads(threads);
    for (int i = 0; i < 80; ++i) stepBatch(eng);
    omp_set_num_threads(before);
  };
  SimulationEngine one, two;
  ModelRecord m1, m2;
  run(1, one, m1);
  run(2, two, m2);
  ASSERT_EQ(one.grid.e.bytes(), two.grid.e.bytes());
  EXPECT_EQ(std::memcmp(one.grid.e.data(), two.grid.e.data(), one.grid.e.bytes()), 0);
  EXPECT_EQ(std::memcmp(one.grid.h.data(), two.grid.h.data(), one.grid.h.bytes()), 0);
  // The fields moved, and the guard layers stayed zero.
  EXPECT_NE(eAt(one, 4, 4, 2).ez, 0.0f);
  EXPECT_EQ(eAt(one, 11, 4, 2).ez, 0.0f);
  EXPECT_EQ(hAt(one, -1, 4, 2).hy, 0.0f);
}

TEST(FieldUpdate, SetRefusesAxesOfOneCell) {
  for (int axis = 0; axis < 3; ++axis) {
    SimulationEngine eng;
    ModelRecord model;
    int a[3] = {4, 4, 4};
    a[axis] = 1;
    ASSERT_TRUE(test::vacuumModel(model, a[0], a[1], a[2]));
    std::string log;
    EXPECT_EQ(test::setQuiet(eng, model, &log), 0);
    EXPECT_NE(
        log.find("error: calculation area (" + std::to_string(a[0]) + "," + std::to_string(a[1]) +
                 "," + std::to_string(a[2]) + ") must have at least 2 grids along each axis.\n"),
        std::string::npos);
  }
}

}  // namespace
}  // namespace tavro
