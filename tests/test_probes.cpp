// Probes and measurement: the probe list, the sample store and the 25 slots
// of a sample for hand-set fields.
//
// Circuit quantities checked: V = -E d per axis, I = loop integral of H
// around the cell's E edge (Ix = (Hz - Hz(y-1)) dz - (Hy - Hy(z-1)) dy, ...),
// Z = V / I (0 when I = 0), P = I V. All values below are exact in float32.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <tuple>

#include "engine/console.h"
#include "engine/engine.h"
#include "engine/field_kernels.h"
#include "engine/grid_index.h"
#include "engine/model_record.h"
#include "engine/probe_kernels.h"
#include "engine/probes.h"
#include "engine/setup.h"

namespace tavro {
namespace {

struct ConsoleCapture {
  std::ostringstream text;
  ConsoleCapture() { setConsole(&text); }
  ~ConsoleCapture() { setConsole(nullptr); }
};

// A 4 x 4 x 4 model of 1 mm cells with the given probes, set up for a run of
// `stepLimit` samples.
struct ProbeRun {
  ModelRecord model;
  SimulationEngine eng;
  ConsoleCapture console;

  ProbeRun(std::initializer_list<std::tuple<int, int, int, const char*>> probes,
           int stepLimit = 10) {
    model.areaX = model.areaY = model.areaZ = 4;
    model.unitX = model.unitY = model.unitZ = 0.001f;
    EXPECT_EQ(model.allocateCells(), 1);
    for (const auto& [x, y, z, name] : probes) model.setProbe(model.index(x, y, z), name);
    eng.requestedStepLimit = stepLimit;
    EXPECT_EQ(set(eng, model), 1) << console.text.str();
  }
  ECell& e(int x, int y, int z) { return eng.grid.e[eIndex(eng.grid.desc, x, y, z)]; }
  HCell& h(int x, int y, int z) { return eng.grid.h[hIndex(eng.grid.desc, x, y, z)]; }
  const float* sample(int s, int p) {
    return eng.samples[static_cast<uint64_t>(s) * eng.sam.probeCount + p].v;
  }
};

TEST(Probes, MeasureSettingListsProbesInCellOrder) {
  // (1,0,0) has the larger cell index (16) than (0,1,2) (6), so B comes last.
  ProbeRun run({{1, 0, 0, "B"}, {0, 1, 2, "A"}}, 7);
  EXPECT_NE(run.console.text.str().find("- measure setting...\n(0,1,2) A\n(1,0,0) B\n"),
            std::string::npos)
      << run.console.text.str();
  EXPECT_EQ(run.eng.sam.probeCount, 2);
  EXPECT_EQ(run.eng.sam.stepCount, 0);
  ASSERT_EQ(run.eng.probeCells.size(), 2u);
  EXPECT_EQ(run.eng.probeCells[0], 6);
  EXPECT_EQ(run.eng.probeCells[1], 16);
  EXPECT_EQ(run.eng.spectrum.names, (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(run.eng.spectrum.points.size(), 2u * kSpectrumPoints);
  ASSERT_EQ(run.eng.samples.size(), 2u * 7u);
  for (const ProbeSample& s : run.eng.samples)
    for (float v : s.v) EXPECT_EQ(v, 0.0f);
}

TEST(Probes, ModelWithoutProbesHasEmptyStoreAndMeasureDoesNothing) {
  ProbeRun run({});
  EXPECT_EQ(run.eng.sam.probeCount, 0);
  EXPECT_TRUE(run.eng.samples.empty());
  EXPECT_TRUE(run.eng.probeCells.empty());
  measure(run.eng);
  EXPECT_EQ(run.eng.sam.stepCount, 0);
}

TEST(Probes, VoltageFromEzAndZeroCurrentGivesZeroImpedance) {
  ProbeRun run({{1, 2, 1, "P"}});
  run.e(1, 2, 1).ez = -1.0f;
  run.e(1, 2, 1).emag = -1.0f;
  run.eng.sam.time = 2.5e-12f;
  measure(run.eng);
  const float* s = run.sample(0, 0);
  EXPECT_EQ(s[kSlotTime], 2.5e-12f);
  EXPECT_EQ(s[kSlotEz], -1.0f);
  EXPECT_EQ(s[kSlotE], -1.0f);
  EXPECT_EQ(s[kSlotVx], 0.0f);
  EXPECT_FLOAT_EQ(s[kSlotVz], 0.001f);
  EXPECT_FLOAT_EQ(s[kSlotV], 0.001f);
  EXPECT_EQ(s[kSlotI], 0.0f);
  for (int slot = kSlotZx; slot <= kSlotZ; ++slot) EXPECT_EQ(s[slot], 0.0f) << slot;
  EXPECT_EQ(s[kSlotP], 0.0f);
}

TEST(Probes, CurrentImpedanceAndPowerFromNeighbourH) {
  ProbeRun run({{1, 1, 1, "P"}});
  // Hz of the cell one back along y enters Ix with a minus sign:
  // Ix = (0 - 1) * dz = -0.001 A; Ex = 2 V/m gives Vx = -0.002 V.
  run.h(1, 0, 1).hz = 1.0f;
  run.e(1, 1, 1).ex = 2.0f;
  measure(run.eng);
  const float* s = run.sample(0, 0);
  EXPECT_FLOAT_EQ(s[kSlotIx], -0.001f);
  EXPECT_EQ(s[kSlotIy], 0.0f);
  EXPECT_EQ(s[kSlotIz], 0.0f);
  EXPECT_FLOAT_EQ(s[kSlotI], -0.001f);
  EXPECT_FLOAT_EQ(s[kSlotV], -0.002f);
  EXPECT_FLOAT_EQ(s[kSlotZx], 2.0f);
  EXPECT_FLOAT_EQ(s[kSlotZ], 2.0f);
  EXPECT_FLOAT_EQ(s[kSlotPx], 2e-6f);
  EXPECT_FLOAT_EQ(s[kSlotP], 2e-6f);
}

TEST(Probes, DistinctVoltagesAndCurrentsPerAxisKeepTheirSlots) {
  ProbeRun run({{1, 1, 1, "P"}});
  // Vx, Vy, Vz = -0.001, -0.002, -0.004 V; each current from one neighbour:
  // Ix = -Hz(y-1) dz, Iy = -Hx(z-1) dx, Iz = -Hy(x-1) dy.
  run.e(1, 1, 1).ex = 1.0f;
  run.e(1, 1, 1).ey = 2.0f;
  run.e(1, 1, 1).ez = 4.0f;
  run.h(1, 0, 1).hz = 1.0f;
  run.h(1, 1, 0).hx = -2.0f;
  run.h(0, 1, 1).hy = 3.0f;
  measure(run.eng);
  const float* s = run.sample(0, 0);
  const double v[3] = {-0.001, -0.002, -0.004}, i[3] = {-0.001, 0.002, -0.003};
  const double total = -std::sqrt(i[0] * i[0] + i[1] * i[1] + i[2] * i[2]);  // sign of the sum
  for (int a = 0; a < 3; ++a) {
    EXPECT_FLOAT_EQ(s[kSlotVx + a], v[a]) << a;
    EXPECT_FLOAT_EQ(s[kSlotIx + a], i[a]) << a;
    EXPECT_FLOAT_EQ(s[kSlotZx + a], v[a] / total) << a;
    EXPECT_FLOAT_EQ(s[kSlotPx + a], v[a] * i[a]) << a;
  }
  EXPECT_FLOAT_EQ(s[kSlotI], total);
}

TEST(Probes, ProbeOnFaceXZeroReadsTheZeroGuardLayer) {
  ProbeRun run({{0, 1, 1, "EDGE"}});
  // Every real H cell holds 1 A/m in each component; only the neighbours at
  // x = -1 are the guard layer (0). Then Ix = 0, Iy = -(1 - 0) dz, Iz = (1 - 0) dy.
  for (int x = 0; x < 4; ++x)
    for (int y = 0; y < 4; ++y)
      for (int z = 0; z < 4; ++z) run.h(x, y, z).hx = run.h(x, y, z).hy = run.h(x, y, z).hz = 1;
  measure(run.eng);
  const float* s = run.sample(0, 0);
  EXPECT_EQ(s[kSlotIx], 0.0f);
  EXPECT_FLOAT_EQ(s[kSlotIy], -0.001f);
  EXPECT_FLOAT_EQ(s[kSlotIz], 0.001f);
}

TEST(Probes, ImpedanceQuotientsKeptWhenCurrentIsNaN) {
  GridDesc g{};
  g.nx = g.ny = g.nz = 2;
  g.countYZ = 4;
  ECell e[27] = {};
  HCell h[27] = {};
  FDTD_SAM sam;
  h[hIndex(g, 0, 0, 0)].hz = std::numeric_limits<float>::quiet_NaN();
  ProbeSample out;
  probeSample(g, e, h, sam, 0, out);
  EXPECT_TRUE(std::isnan(out.v[kSlotI]));
  EXPECT_TRUE(std::isnan(out.v[kSlotZ]));
}

TEST(Probes, CullThreeRecordsEveryThirdStep) {
  ProbeRun run({{2, 2, 2, "P"}}, 4);
  resetRun(run.eng);
  run.eng.sam.cull = 3;
  std::vector<float> times;
  for (int step = 0; step < 12; ++step) {
    run.e(2, 2, 2).ex = static_cast<float>(step);  // marks the step
    if (step % 3 == 0) times.push_back(run.eng.sam.time);
    measure(run.eng);
    advanceCounters(run.eng.sam);
  }
  EXPECT_EQ(run.eng.sam.stepCount, 4);
  for (int s = 0; s < 4; ++s) {
    EXPECT_EQ(run.sample(s, 0)[kSlotEx], 3.0f * s) << s;
    EXPECT_EQ(run.sample(s, 0)[kSlotTime], times[s]) << s;
  }
}

TEST(Probes, SampleStoreSizesAndRefusals) {
  ProbeRun run({{2, 2, 2, "P"}, {3, 3, 3, "Q"}}, 5);
  run.eng.sam.stepLimit = 0;
  EXPECT_EQ(allocateSamples(run.eng), 1);
  EXPECT_TRUE(run.eng.samples.empty());
  measure(run.eng);  // nothing due, nothing to write

  // A store far beyond any machine fails with a message naming its size.
  run.eng.sam.stepLimit = 2000000000;
  run.eng.sam.probeCount = 100000;
  run.console.text.str("");
  EXPECT_EQ(allocateSamples(run.eng), 0);
  EXPECT_EQ(run.console.text.str(),
            "error: can't allocate memory for samples[200000000000000] (20000000000000000 "
            "bytes).\n");
  // The counters promise records the store does not hold: nothing is written.
  run.eng.sam.stepCount = 3;
  measure(run.eng);
}

}  // namespace
}  // namespace tavro
