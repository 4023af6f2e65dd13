// First-order Mur boundary: coefficient, store slots, and the edge order.
#include <gtest/gtest.h>

#include <cmath>

#include "engine/boundary_mur.h"
#include "engine/field_update.h"
#include "model_fixture.h"

namespace tavro {
namespace {

using test::eAt;
using test::hAt;

// k = (c dt - d) / (c dt + d) with c dt / d = 0.99 / sqrt(3) = 0.5715768 for
// cubic 1 mm cells, the same on every face.
TEST(MurBoundary, CoefficientForMillimetreCells) {
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumBox(eng, model, 3, 4, 5));
  EXPECT_FLOAT_EQ(eng.sam.dt * kLightSpeedF / 0.001f, 0.5715768f);
  for (uint64_t i = 0; i < 2 * eng.grid.desc.countFaces; ++i)
    ASSERT_FLOAT_EQ(eng.grid.murCoef[i], -0.2726072f) << i;
}

// Cells of 1, 2 and 3 mm along x, y, z give three coefficients; every face
// family holds its own axis's, for both of its faces, at the record position
// the store uses (Z: x*Y + y, X: y*Z + z, Y: z*X + x).
TEST(MurBoundary, FaceCoefficientsFollowTheirAxis) {
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumModel(model, 5, 4, 3));
  model.unitY = 0.002f;
  model.unitZ = 0.003f;
  ASSERT_EQ(test::setQuiet(eng, model), 1);
  const GridDesc& d = eng.grid.desc;
  const float cdt = eng.sam.dt * kLightSpeedF;
  auto k = [&](float u) { return (cdt - u) / (u + cdt); };
  ASSERT_EQ(eng.grid.murCoef.size(), 2 * d.countFaces);
  struct Family {
    uint64_t first, count;
    float unit;
  };
  const Family families[] = {{murCoefZ(d, 0, 0, 0), d.countXY, 0.003f},
                             {murCoefX(d, 0, 0, 0), d.countYZ, 0.001f},
                             {murCoefY(d, 0, 0, 0), d.countXZ, 0.002f}};
  for (const Family& f : families)
    for (uint64_t i = f.first; i < f.first + 2 * f.count; ++i)
      ASSERT_EQ(eng.grid.murCoef[i], k(f.unit)) << f.unit << " " << i;
  EXPECT_EQ(murCoefZ(d, 4, 3, 1), 2 * (4 * 4 + 3) + 1);
  EXPECT_EQ(murCoefX(d, 3, 2, 1), 2 * (d.countXY + 3 * 3 + 2) + 1);
  EXPECT_EQ(murCoefY(d, 4, 2, 1), 2 * d.countFaces - 1);
}

// B(n+1) = I(n) + k (I(n+1) - B(n)) through the store: after one application
// from rest the boundary holds k I; the next one uses the stored I and k I.
// Checked for one component per face family and per near/far side, for E
// (slots 8..15) and H (slots 0..7), each through its own index rule.
template <class Cell>
void checkTwoApplications(SimulationEngine& eng,
                          Cell& (*at)(SimulationEngine&, int64_t, int64_t, int64_t),
                          float& (*comp)(Cell&, int), void (*mur)(SimulationEngine&), int base) {
  const int X = eng.grid.desc.nx, Y = eng.grid.desc.ny, Z = eng.grid.desc.nz;
  const float k = eng.grid.murCoef[0];
  struct Probe {
    int c;                       // component 0, 1, 2
    int bx, by, bz, ix, iy, iz;  // boundary and inner cell
    MurStore* rec;               // record
    int sB, sI;                  // slots (relative to the field's base)
  };
  GridHolder& g = eng.grid;
  const Probe probes[] = {
      {0, 1, 2, 0, 1, 2, 1, &g.murZ[1 * Y + 2], 0, 1},          // Z near, c1 = x
      {1, 2, 1, Z - 1, 2, 1, Z - 2, &g.murZ[2 * Y + 1], 7, 6},  // Z far, c2 = y
      {2, X - 1, 1, 2, X - 2, 1, 2, &g.murX[1 * Z + 2], 7, 6},  // X far, c2 = z
      {1, 0, 2, 1, 1, 2, 1, &g.murX[2 * Z + 1], 0, 1},          // X near, c1 = y
      {0, 1, 0, 2, 1, 1, 2, &g.murY[2 * X + 1], 4, 5},          // Y near, c2 = x
      {2, 2, Y - 1, 1, 2, Y - 2, 1, &g.murY[1 * X + 2], 3, 2},  // Y far, c1 = z
  };
  for (const Probe& p : probes) {
    test::clearFields(eng);
    for (MurStore& r : g.murZ) r = MurStore{};
    for (MurStore& r : g.murX) r = MurStore{};
    for (MurStore& r : g.murY) r = MurStore{};
    float& inner = comp(at(eng, p.ix, p.iy, p.iz), p.c);
    float& boundary = comp(at(eng, p.bx, p.by, p.bz), p.c);
    inner = 1.0f;
    mur(eng);
    EXPECT_EQ(boundary, k * 1.0f);
    EXPECT_EQ(p.rec->s[base + p.sB], k);
    EXPECT_EQ(p.rec->s[base + p.sI], 1.0f);
    inner = 3.0f;
    mur(eng);
    EXPECT_EQ(boundary, 1.0f + k * (3.0f - k));
  }
}

float& eComp(ECell& c, int i) { return i == 0 ? c.ex : (i == 1 ? c.ey : c.ez); }
float& hComp(HCell& c, int i) { return i == 0 ? c.hx : (i == 1 ? c.hy : c.hz); }

TEST(MurBoundary, StoreSlotsOfBothFieldsAndAllFaces) {
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumBox(eng, model, 5, 4, 6));
  checkTwoApplications<ECell>(eng, test::eAt, eComp, murE, 8);
  checkTwoApplications<HCell>(eng, test::hAt, hComp, murH, 0);
}

// The y component on the edge x = 0, z = 0 is tangential to a Z face and an
// X face. The Z pass sets it from (0, y, 1); the X pass, which runs later,
// overwrites it from (1, y, 0), itself a Z-face cell whose value the Z pass has
// just stored (k times its own inner value at (1, y, 1)).
TEST(MurBoundary, EdgeValueComesFromTheXFacePass) {
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumBox(eng, model, 4, 4, 4));
  const float k = eng.grid.murCoef[0];
  eAt(eng, 0, 2, 1).ey = 1.0f;
  eAt(eng, 1, 2, 1).ey = 4.0f;
  eAt(eng, 1, 2, 0).ey = 5.0f;
  hAt(eng, 0, 2, 1).hy = 1.0f;
  hAt(eng, 1, 2, 1).hy = 4.0f;
  hAt(eng, 1, 2, 0).hy = 5.0f;
  murE(eng);
  murH(eng);
  EXPECT_EQ(eAt(eng, 1, 2, 0).ey, k * 4.0f);
  EXPECT_EQ(eAt(eng, 0, 2, 0).ey, k * (k * 4.0f));
  EXPECT_EQ(hAt(eng, 0, 2, 0).hy, k * (k * 4.0f));
  // What each pass read: the Z pass the inner cell (0, 2, 1) before the X
  // pass overwrote it (it is an X-face cell too), the X pass the Z-face value.
  const int Y = 4, Z = 4;
  EXPECT_EQ(eng.grid.murZ[0 * Y + 2].s[8 + 5], 1.0f);      // E, c2 = y, near inner
  EXPECT_EQ(eng.grid.murX[2 * Z + 0].s[8 + 1], k * 4.0f);  // E, c1 = y, near inner
  EXPECT_EQ(eng.grid.murX[2 * Z + 0].s[1], k * 4.0f);      // the same for H
}

// With two cells along an axis the near and far faces are each other's inner
// layer; the smallest box the set-up accepts must step without fault.
TEST(MurBoundary, TwoCellBoxStepsAndStaysFinite) {
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumModel(model, 2, 2, 2));
  model.setPin(model.index(1, 1, 1), "GAUSS Z 1");
  ASSERT_EQ(test::setQuiet(eng, model), 1);
  for (int i = 0; i < 60; ++i) stepBatch(eng);
  for (const ECell& c : eng.grid.e) ASSERT_TRUE(std::isfinite(c.emag));
  for (const HCell& c : eng.grid.h) ASSERT_TRUE(std::isfinite(c.hmag));
  EXPECT_NE(eAt(eng, 0, 0, 1).ez, 0.0f);
}

// The engine's initial 1 x 1 x 1 grid has no inner layer: the boundary
// passes skip its faces instead of reading outside the arrays.
TEST(MurBoundary, InitialSingleCellGridIsSkipped) {
  SimulationEngine eng;
  eAt(eng, 0, 0, 0).ex = 2.0f;
  murE(eng);
  murH(eng);
  EXPECT_EQ(eAt(eng, 0, 0, 0).ex, 2.0f);
  stepBatch(eng);  // and a whole step, with no source records yet
  EXPECT_TRUE(std::isfinite(eAt(eng, 0, 0, 0).ex));
}

}  // namespace
}  // namespace tavro
