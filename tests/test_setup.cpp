// Grid records, model record and the set-up: index rules, time step,
// decimation, coefficients and the report.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstring>
#include <sstream>
#include <vector>

#include "engine/console.h"
#include "engine/grid_index.h"
#include "engine/setup.h"

using namespace tavro;

namespace {

// A box of X*Y*Z cells of material 0 with 1 mm cells (or the given ones).
void vacuumBox(ModelRecord& m, int X, int Y, int Z, float d = 1e-3f) {
  m.areaX = X;
  m.areaY = Y;
  m.areaZ = Z;
  ASSERT_EQ(m.allocateCells(), 1);
  m.unitX = m.unitY = m.unitZ = d;
}

// Runs set() with the console captured; returns its text.
std::string setUp(SimulationEngine& eng, ModelRecord& m, int* result = nullptr) {
  std::ostringstream console;
  setConsole(&console);
  const int r = set(eng, m);
  setConsole(nullptr);
  if (result) *result = r;
  return console.str();
}

}  // namespace

TEST(GridRecords, IndexRulesAndCounts) {
  GridHolder g;
  ASSERT_EQ(g.buildGrid(1, 1, 1), 1);
  EXPECT_EQ(g.desc.cellCount, 1u);
  EXPECT_EQ(g.desc.extendedCount, 8u);
  EXPECT_EQ(g.desc.countXY, 1u);
  EXPECT_EQ(g.desc.countYZ, 1u);
  EXPECT_EQ(g.desc.countXZ, 1u);
  EXPECT_EQ(g.desc.countZXFaces, 2u);
  EXPECT_EQ(g.desc.countFaces, 3u);

  ASSERT_EQ(g.buildGrid(3, 4, 5), 1);
  const GridDesc& d = g.desc;
  EXPECT_EQ(d.extendedCount, 4u * 5u * 6u);
  EXPECT_EQ(g.e.size(), d.extendedCount);
  EXPECT_EQ(g.murZ.size(), 12u);
  EXPECT_EQ(g.murX.size(), 20u);
  EXPECT_EQ(g.murY.size(), 15u);
  EXPECT_EQ(g.cellColor.size(), 60u);
  // E of (x,y,z) and H of (x-1,y-1,z-1) share an index; the corners of the
  // two extended arrays are the first and the last element.
  for (int x = 1; x <= 3; ++x)
    for (int y = 1; y <= 4; ++y)
      for (int z = 1; z <= 5; ++z) EXPECT_EQ(eIndex(d, x, y, z), hIndex(d, x - 1, y - 1, z - 1));
  EXPECT_EQ(eIndex(d, 0, 0, 0), 0u);
  EXPECT_EQ(hIndex(d, 2, 3, 4), d.extendedCount - 1);
  // Plain index and coordinates agree; z runs fastest.
  for (uint64_t k = 0; k < d.cellCount; ++k) {
    int64_t x, y, z;
    cellCoords(d, k, x, y, z);
    EXPECT_EQ(plainIndex(d, x, y, z), k);
  }
  EXPECT_EQ(plainIndex(d, 0, 0, 1), 1u);
  EXPECT_EQ(plainIndex(d, 1, 0, 0), 20u);
}

TEST(ModelRecordTest, CellsAndTexts) {
  ModelRecord m;
  EXPECT_EQ(m.materialX.size(), 65536u);
  EXPECT_EQ(m.materialZ[65535].sg, 0.0f);
  EXPECT_EQ(m.materialY[7].er, 1.0f);
  EXPECT_EQ(m.unitX, 1.0f);
  m.areaX = 2;
  m.areaY = 3;
  m.areaZ = 0;
  EXPECT_EQ(m.allocateCells(), 1);  // N = 0 is an empty but valid model
  EXPECT_EQ(m.data.size(), 0u);
  m.areaZ = 4;
  ASSERT_EQ(m.allocateCells(), 1);
  m.data[5] = 9;
  m.hide[5] = 1;
  m.setPin(5, "P1");
  m.setProbe(5, "P1_0_1_1");
  ASSERT_EQ(m.allocateCells(), 1);  // a second allocation clears everything
  for (uint64_t k = 0; k < 24; ++k) {
    EXPECT_EQ(m.data[k], 0);
    EXPECT_EQ(m.hide[k], 0);
  }
  EXPECT_TRUE(m.pins().empty());
  EXPECT_TRUE(m.probes().empty());
  EXPECT_EQ(m.index(1, 0, 0), 12u);
}

TEST(ModelRecordTest, SplitPinCarriesTokensOver) {
  ModelRecord m;
  m.areaX = m.areaY = m.areaZ = 2;
  ASSERT_EQ(m.allocateCells(), 1);
  m.setPin(0, "CW Y 20 3e9");
  m.setPin(1, "  GAUSS\tZ   5 ");
  m.setPin(2, "a b c d e f");
  EXPECT_EQ(m.splitPin(3), 0);  // empty text: nothing found, nothing changed
  EXPECT_EQ(m.splitPin(0), 4);
  EXPECT_EQ(m.tokens[3], "3e9");
  EXPECT_EQ(m.splitPin(1), 3);
  EXPECT_EQ(m.tokens[0], "GAUSS");
  EXPECT_EQ(m.tokens[2], "5");
  EXPECT_EQ(m.tokens[3], "3e9");  // left over from the text split before
  EXPECT_EQ(m.splitPin(2), 5);
  EXPECT_EQ(m.tokens[4], "e");
}

TEST(SetUp, TimeStepAndDecimation) {
  struct Case {
    float minFreq;
    int cull, stepLimit;
  } cases[] = {{0.0f, 0, 1000000}, {1e8f, 1, 5245}, {1e9f, 1, 524}, {1e3f, 525, 999049}};
  for (const Case& c : cases) {
    SimulationEngine eng;
    ModelRecord m;
    vacuumBox(m, 4, 4, 4);
    eng.minFreq = c.minFreq;
    int ok = 0;
    const std::string text = setUp(eng, m, &ok);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(eng.sam.dt, 1.9065752e-12f);
    EXPECT_EQ(eng.sam.cull, c.cull) << c.minFreq;
    EXPECT_EQ(eng.sam.stepLimit, c.stepLimit) << c.minFreq;
    EXPECT_EQ(text.find("min freq") != std::string::npos, c.minFreq > 0);
    // A second set-up starts from the -n value again and gives the same run.
    setUp(eng, m, &ok);
    ASSERT_EQ(ok, 1);
    EXPECT_EQ(eng.sam.cull, c.cull);
    EXPECT_EQ(eng.sam.stepLimit, c.stepLimit);
  }
}

TEST(SetUp, VacuumCoefficientsAndPermeabilityMean) {
  SimulationEngine eng;
  ModelRecord m;
  vacuumBox(m, 4, 3, 3);
  m.data[m.index(2, 1, 1)] = 1;  // one magnetic cell
  m.materialX[1] = m.materialY[1] = m.materialZ[1] = Material{0.0f, 1.0f, 9.0f};
  int ok = 0;
  setUp(eng, m, &ok);
  ASSERT_EQ(ok, 1);
  const GridDesc& d = eng.grid.desc;
  const float dt = eng.sam.dt;
  const ECell& e = eng.grid.e[eIndex(d, 0, 0, 0)];
  EXPECT_EQ(e.cax, 1.0f);
  EXPECT_EQ(e.cbz, dt / kEps0 / 1e-3f);
  EXPECT_EQ(e.cbx, e.cby);
  EXPECT_EQ(e.ex, 0.0f);
  // Inner cells average mu over the eight cells (x..x+1, y..y+1, z..z+1).
  const float mean = (7 * kMu0 + 9 * kMu0) * 0.125f;
  for (int x = 1; x <= 2; ++x)
    for (int y = 0; y <= 1; ++y)
      for (int z = 0; z <= 1; ++z) {
        const HCell& h = eng.grid.h[hIndex(d, x, y, z)];
        EXPECT_NEAR(h.chx, dt / mean / 1e-3f, 1e-6f * h.chx) << x << y << z;
      }
  // The last layer of an axis keeps its own permeability: cell (2,2,1) has
  // y = Y-1, so no mean although it touches the magnetic cell.
  EXPECT_EQ(eng.grid.h[hIndex(d, 2, 2, 1)].chx, dt / kMu0 / 1e-3f);
  EXPECT_EQ(eng.grid.h[hIndex(d, 3, 0, 0)].chy, dt / kMu0 / 1e-3f);
  // Guard layers stay zero.
  EXPECT_EQ(eng.grid.e[eIndex(d, 4, 3, 3)].cax, 0.0f);
  EXPECT_EQ(eng.grid.h[0].chx, 0.0f);
  EXPECT_FLOAT_EQ(eng.grid.murCoef[0], -0.2726072f);
}

TEST(SetUp, MaterialLinesAndReport) {
  SimulationEngine eng;
  ModelRecord m;
  vacuumBox(m, 3, 2, 2);
  m.data[0] = 7;
  m.data[1] = 7;
  m.data[11] = 65535;
  m.materialX[7] = Material{1.0f, 4.7f, 1.0f};
  m.materialY[7] = Material{2.0f, 4.7f, 1.0f};
  m.materialZ[7] = Material{3.0f, 4.7f, 1.0f};
  m.materialX[65535] = m.materialY[65535] = m.materialZ[65535] = Material{5.8e7f, 1.0f, 1.0f};
  eng.requestedStepLimit = 10;
  int ok = 0;
  const std::string text = setUp(eng, m, &ok);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(text,
            "- material setting...\n"
            "(0) sg=0[S/m] er=1 ur=1  used 9[grids]\n"
            "(7) sg={1:2:3}[S/m] er=4.7 ur=1  used 2[grids]\n"
            "(65535) sg=5.8e+07[S/m] er=1 ur=1  used 1[grids]\n"
            "- source setting...\n"
            "- measure setting...\n"
            "- calculation parameters...\n"
            "area size : (3,2,2)[grids]\n"
            "grid size : (0.001,0.001,0.001)[m]\n"
            "time resolution : 1.90658e-12[sec]\n"
            "used memory : 0.00390625[Mbytes]\n");
  // B = 85*12 + 80*36 + 64*(6+4+6) + 124 = 5048 bytes; M = (B >> 10) / 1024.
  EXPECT_EQ(memoryEstimateBytes(eng), 5048u);
  EXPECT_EQ(memoryEstimateMbytes(eng), 4.0f / 1024.0f);

  // An ID outside the tables fails the set-up without a message.
  m.data[3] = -1;
  const std::string bad = setUp(eng, m, &ok);
  EXPECT_EQ(ok, 0);
  EXPECT_EQ(bad, "- material setting...\n");
  m.data[3] = 65536;
  setUp(eng, m, &ok);
  EXPECT_EQ(ok, 0);
}

// The records written by the set-up against the per-cell rule, bit for bit:
// zero fields and guards, E from the cell's own material, H from the mean
// permeability of the eight cells around inner nodes. Runs of equal cells
// along z broken by odd ones, anisotropic and lossy materials, a second
// set-up over stepped fields, and 1 or 3 threads.
TEST(SetUp, RecordsFollowThePerCellRule) {
  struct Case {
    int X, Y, Z, threads;
    unsigned seed;  // 0: uniform box
  };
  const int threadsBefore = omp_get_max_threads();
  for (const Case& c : {Case{5, 4, 6, 1, 0}, Case{7, 5, 9, 3, 11}, Case{6, 3, 2, 1, 5}}) {
    SimulationEngine eng;
    ModelRecord m;
    vacuumBox(m, c.X, c.Y, c.Z);
    m.materialX[1] = m.materialY[1] = m.materialZ[1] = Material{5.8e7f, 1.0f, 1.0f};
    m.materialX[2] = Material{0.5f, 2.0f, 3.0f};
    m.materialY[2] = Material{0.0f, 7.0f, 1.0f};
    m.materialZ[2] = Material{2.0f, 1.0f, 50.0f};
    for (uint64_t k = 0, s = c.seed; c.seed && k < m.cellCount();
         ++k, s = s * 2862933555777941757u + 3)
      m.data[k] = (s >> 60) < 11 ? 0 : static_cast<int32_t>(s >> 62) % 3;
    omp_set_num_threads(c.threads);
    int ok = 0;
    setUp(eng, m, &ok);
    ASSERT_EQ(ok, 1);
    for (int pass = 0; pass < 2; ++pass) {
      const GridDesc& d = eng.grid.desc;
      const MaterialArrays& a = eng.grid.mat;
      const float dt = eng.sam.dt, dx = eng.sam.dx, dy = eng.sam.dy, dz = eng.sam.dz;
      const double hdt = 0.5 * static_cast<double>(dt);
      std::vector<ECell> e(eng.grid.e.size(), ECell{});
      std::vector<HCell> h(eng.grid.h.size(), HCell{});
      for (int x = 0; x < c.X; ++x)
        for (int y = 0; y < c.Y; ++y)
          for (int z = 0; z < c.Z; ++z) {
            const uint64_t k = plainIndex(d, x, y, z);
            const float D[3] = {
                static_cast<float>(static_cast<double>(a.sigmaX[k]) * hdt + a.epsX[k]),
                static_cast<float>(static_cast<double>(a.sigmaY[k]) * hdt + a.epsY[k]),
                static_cast<float>(static_cast<double>(a.sigmaZ[k]) * hdt + a.epsZ[k])};
            ECell& r = e[eIndex(d, x, y, z)];
            r.cax = 1.0f - dt * a.sigmaX[k] / D[0];
            r.cay = 1.0f - a.sigmaY[k] * dt / D[1];
            r.caz = 1.0f - a.sigmaZ[k] * dt / D[2];
            r.cbx = dt / D[0] / dx;
            r.cby = dt / D[1] / dy;
            r.cbz = dt / D[2] / dz;
            float M[3] = {a.muX[k], a.muY[k], a.muZ[k]};
            if (x < c.X - 1 && y < c.Y - 1 && z < c.Z - 1) {
              M[0] = M[1] = M[2] = 0.0f;
              for (int i = 0; i < 8; ++i) {
                const uint64_t q = plainIndex(d, x + (i >> 2), y + (i >> 1 & 1), z + (i & 1));
                M[0] += a.muX[q];
                M[1] += a.muY[q];
                M[2] += a.muZ[q];
              }
              for (float& v : M) v *= 0.125f;
            }
            HCell& s = h[hIndex(d, x, y, z)];
            s.chx = dt / M[0] / dx;
            s.chy = dt / M[1] / dy;
            s.chz = dt / M[2] / dz;
          }
      EXPECT_EQ(std::memcmp(e.data(), eng.grid.e.data(), eng.grid.e.bytes()), 0) << c.seed << pass;
      EXPECT_EQ(std::memcmp(h.data(), eng.grid.h.data(), eng.grid.h.bytes()), 0) << c.seed << pass;
      // A second set-up over fields that have moved gives the same records.
      for (ECell& r : eng.grid.e) r.ex = r.emag = 1.0f;
      for (HCell& r : eng.grid.h) r.hz = 2.0f;
      resetRun(eng);
    }
  }
  omp_set_num_threads(threadsBefore);
}
