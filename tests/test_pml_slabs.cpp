// A grid that holds one slab of a box with the absorbing layer (tavro_mpi):
// the layer only on the box's x faces that the slab reaches, every plane
// with the materials, coefficients and slab records of its place in the
// box, and the halo's psi packing interchangeable with the box's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "engine/compact_state.h"
#include "engine/field_update.h"
#include "engine/grid_index.h"
#include "engine/halo_planes.h"
#include "engine/pml.h"
#include "tests/model_fixture.h"

using namespace tavro;

namespace {

constexpr int kY = 6, kZ = 5;

// The model of a box X x 6 x 5 with a lossy material along both x faces and
// the y = 0 face, so that the layer continues it.
void boxModel(ModelRecord& model, int X) {
  ASSERT_TRUE(test::vacuumModel(model, X, kY, kZ));
  model.materialX[2] = model.materialY[2] = model.materialZ[2] = {0.3f, 4.0f, 1.0f};
  for (int x = 0; x < X; ++x)
    for (int y = 0; y < kY; ++y)
      for (int z = 0; z < kZ; ++z)
        if (x == 0 || x == X - 1 || y == 0) model.data[model.index(x, y, z)] = 2;
}

// Planes [lo, hi) of the box as their own model.
void slabModel(const ModelRecord& whole, int lo, int hi, ModelRecord& part) {
  ASSERT_TRUE(test::vacuumModel(part, hi - lo, kY, kZ));
  part.copyTablesAndUnits(whole);
  for (int x = lo; x < hi; ++x)
    for (int y = 0; y < kY; ++y)
      for (int z = 0; z < kZ; ++z)
        part.data[part.index(x - lo, y, z)] = whole.data[whole.index(x, y, z)];
}

bool sameCoef(const PmlCoef& a, const PmlCoef& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(PmlSlabs, SlabPlanesHaveTheBoxsLayer) {
  const struct {
    int X, P, lo, hi;
    int nx;  // the slab's grid planes
  } cases[] = {
      {12, 3, 0, 7, 10},   // first slab: the near layer only
      {12, 3, 5, 12, 10},  // last slab: the far layer only
      {12, 3, 3, 9, 6},    // an inner slab: no layer along x, empty x slabs
      {12, 1, 0, 5, 6},    // a layer of one cell
      {6, 4, 0, 6, 14},    // a thin box: the slab's halo reaches both faces
      {9, 4, 1, 9, 12},    // the far face only, the near x slab out of reach
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "X " << c.X << " P " << c.P << " [" << c.lo << "," << c.hi << ")");
    ModelRecord whole, part;
    boxModel(whole, c.X);
    slabModel(whole, c.lo, c.hi, part);
    SimulationEngine box, slab;
    box.pmlCells = slab.pmlCells = c.P;
    slab.pmlNearX = c.lo == 0;
    slab.pmlFarX = c.hi == c.X;
    slab.pmlBoxX0 = c.lo;
    slab.pmlBoxX = c.X;
    ASSERT_EQ(test::setQuiet(box, whole), 1);
    ASSERT_EQ(test::setQuiet(slab, part), 1);
    const GridDesc& b = box.grid.desc;
    const GridDesc& s = slab.grid.desc;
    ASSERT_EQ(s.nx, c.nx);
    ASSERT_EQ(s.ny, b.ny);
    EXPECT_EQ(drawnArea(slab).nx, c.hi - c.lo);
    EXPECT_EQ(pmlBytes(box, c.X, kY, kZ), pmlBytes(c.P, c.X, kY, kZ));
    // Slab plane i is box plane i + shift.
    const int64_t shift = c.lo + c.P - layerBeforeX(slab);
    EXPECT_EQ(gridCellIndex(slab, 0, 0, 0) + static_cast<uint64_t>(shift) * b.countYZ,
              gridCellIndex(box, c.lo, 0, 0));
    for (int64_t i = 0; i < s.nx; ++i) {
      const auto I = static_cast<size_t>(i), G = static_cast<size_t>(i + shift);
      EXPECT_TRUE(sameCoef(slab.pml.hCoef[0][I], box.pml.hCoef[0][G])) << "plane " << i;
      EXPECT_TRUE(sameCoef(slab.pml.eCoef[0][I], box.pml.eCoef[0][G])) << "plane " << i;
      for (int64_t y = 0; y < s.ny; ++y)
        for (int64_t z = 0; z < s.nz; ++z)
          ASSERT_EQ(slab.grid.mat.sigmaY[plainIndex(s, i, y, z)],
                    box.grid.mat.sigmaY[plainIndex(b, i + shift, y, z)])
              << i << "," << y << "," << z;
    }
    // The slab records: the box's within the slab's planes.
    for (int k = 0; k < 6; ++k) {
      const PmlSlab& o = box.pml.slabs[k];
      const PmlSlab& m = slab.pml.slabs[k];
      const int64_t lo = std::clamp<int64_t>(o.lo[0] - shift, 0, s.nx);
      const int64_t hi = std::clamp<int64_t>(o.hi[0] - shift, lo, s.nx);
      EXPECT_EQ(m.lo[0], lo) << "slab " << k;
      EXPECT_EQ(m.hi[0], hi) << "slab " << k;
      EXPECT_EQ(m.psi.size(), m.cells()) << "slab " << k;
      for (int a = 1; a < 3; ++a) EXPECT_EQ(m.hi[a] - m.lo[a], o.hi[a] - o.lo[a]) << "slab " << k;
    }
    // psi of every plane and every choice of halves packs from the box and
    // unpacks into the slab record for record: numbering the box's floats,
    // what the slab packs again is what the box packed.
    for (PmlSlab& o : box.pml.slabs) {
      float* f = reinterpret_cast<float*>(o.psi.data());
      std::iota(f, f + 4 * o.psi.size(), 1.0f + static_cast<float>(o.axis * 100000));
    }
    for (int64_t i = 0; i < s.nx; ++i)
      for (int halves : {kPsiH, kPsiE, kPsiBoth}) {
        const std::size_t n = haloPsiFloats(box, i + shift, halves);
        ASSERT_EQ(haloPsiFloats(slab, i, halves), n) << "plane " << i << " halves " << halves;
        std::vector<float> from(n), back(n);
        packPsi(box, i + shift, halves, from.data());
        unpackPsi(slab, i, halves, from.data());
        packPsi(slab, i, halves, back.data());
        EXPECT_EQ(from, back) << "plane " << i << " halves " << halves;
        if (halves != kPsiBoth) {
          EXPECT_EQ(2 * n, haloPsiFloats(box, i + shift, kPsiBoth));
        }
      }
    EXPECT_EQ(haloPsiFloats(slab, 0, kPsiNone), 0u);
  }
}

TEST(PmlSlabs, HaloPlanesLeaveOutTheMurRecordsWithTheLayer) {
  SimulationEngine eng;
  ModelRecord model;
  eng.pmlCells = 2;
  ASSERT_TRUE(test::vacuumBox(eng, model, 6, kY, kZ));
  const GridDesc& d = eng.grid.desc;
  const std::size_t fields = 6 * static_cast<std::size_t>((d.ny + 1) * (d.nz + 1));
  EXPECT_EQ(haloPlaneFloats(d, true), fields);
  EXPECT_GT(haloPlaneFloats(d, false), fields);
  // A packed plane of the layer's run goes back unchanged, fields only.
  std::vector<float> out(fields + 1, -7.0f), again(fields + 1, -7.0f);
  test::eAt(eng, 3, 2, 1).ey = 0.25f;
  packPlane(eng, 3, out.data());
  EXPECT_EQ(out[fields], -7.0f);
  test::eAt(eng, 3, 2, 1).ey = 0.0f;
  unpackPlane(eng, 3, out.data());
  EXPECT_EQ(test::eAt(eng, 3, 2, 1).ey, 0.25f);
  packPlane(eng, 3, again.data());
  EXPECT_EQ(out, again);
}

namespace {

// One slab of the box's planes [lo, hi) that owns [x0, x1), set up as
// tavro_mpi sets it up.
struct SlabRun {
  SimulationEngine eng;
  int lo, hi, x0, x1;
  int64_t first() const { return x0 - lo + layerBeforeX(eng); }  // grid planes
  int64_t end() const { return x1 - lo + layerBeforeX(eng); }
};

void setUpSlab(SlabRun& s, const ModelRecord& whole, int X, int P) {
  ModelRecord part;
  slabModel(whole, s.lo, s.hi, part);
  s.eng.pmlCells = P;
  s.eng.murNearX = s.x0 == 0;
  s.eng.murFarX = s.x1 == X;
  s.eng.pmlNearX = s.lo == 0;
  s.eng.pmlFarX = s.hi == X;
  s.eng.pmlBoxX0 = s.lo;
  s.eng.pmlBoxX = X;
  ASSERT_EQ(test::setQuiet(s.eng, part), 1);
}

// Grid plane x as the halo packs it (fields, from either stepping state),
// its psi, and while the records are stepped their bytes (coefficients and
// magnitudes too).
std::string planeBytes(const SimulationEngine& eng, int64_t x) {
  const GridDesc& d = eng.grid.desc;
  std::vector<float> v(haloPlaneFloats(d, true) + haloPsiFloats(eng, x, kPsiBoth));
  packPlane(eng, x, v.data());
  packPsi(eng, x, kPsiBoth, v.data() + haloPlaneFloats(d, true));
  std::string out(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(float));
  if (eng.compact.active) return out;
  const uint64_t n = stridesOf(d).sx;
  const auto* e = reinterpret_cast<const char*>(eng.grid.e.data() + eIndex(d, x, 0, 0));
  const auto* h = reinterpret_cast<const char*>(eng.grid.h.data() + hIndex(d, x, -1, -1));
  return out + std::string(e, n * sizeof(ECell)) + std::string(h, n * sizeof(HCell));
}

}  // namespace

// Two slabs that exchange their halo planes before every sweep of two steps
// step their own planes bit for bit as the box does: fields, coefficients and
// psi, with a pulse started next to the slab boundary and the z face; on
// the records and on the compact stepping state (as tavro_mpi steps).
TEST(PmlSlabs, SlabsStepAsTheBox) {
  const struct {
    int X, P, split;
    bool compact;
  } cases[] = {
      {12, 3, 6, false},  // halves of 6 planes
      {12, 3, 6, true},
      {6, 4, 2, false},  // the second slab's halo reaches the near face; the layer is deeper
      {6, 4, 2, true},
      {5, 1, 3, false},  // the first slab's halo reaches the far face
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "X " << c.X << " P " << c.P << " split " << c.split
                                    << (c.compact ? " compact" : " records"));
    ModelRecord whole;
    boxModel(whole, c.X);
    SimulationEngine box;
    box.pmlCells = c.P;
    ASSERT_EQ(test::setQuiet(box, whole), 1);
    SlabRun a, b;
    a.lo = a.x0 = 0;
    a.x1 = b.x0 = c.split;
    a.hi = std::min(c.X, c.split + 3);
    b.lo = std::max(0, c.split - 3);
    b.hi = b.x1 = c.X;
    setUpSlab(a, whole, c.X, c.P);
    setUpSlab(b, whole, c.X, c.P);
    // A pulse: E in a few cells, wherever a grid holds them.
    const int seeds[][3] = {{c.split - 1, 1, kZ - 1}, {c.split, kY - 2, kZ - 1}, {0, 2, 2}};
    for (const auto& q : seeds) {
      box.grid.e[drawnEIndex(box, q[0], q[1], q[2])].ez = 1.0f;
      for (SlabRun* s : {&a, &b})
        if (q[0] >= s->lo && q[0] < s->hi)
          s->eng.grid.e[drawnEIndex(s->eng, q[0] - s->lo, q[1], q[2])].ez = 1.0f;
    }
    if (c.compact) {
      for (SimulationEngine* e : {&box, &a.eng, &b.eng}) ASSERT_TRUE(beginCompactRun(*e));
    }
    std::vector<float> message;
    for (int sweep = 0; sweep < 12; ++sweep) {
      message.resize(haloMessageFloats(b.eng, b.first(), 2, kHaloPsiToLeft));
      packHalo(b.eng, b.first(), 2, kHaloPsiToLeft, message.data());
      unpackHalo(a.eng, a.end(), 2, kHaloPsiToLeft, message.data());
      message.resize(haloMessageFloats(a.eng, a.end() - 2, 2, kHaloPsiToRight));
      packHalo(a.eng, a.end() - 2, 2, kHaloPsiToRight, message.data());
      unpackHalo(b.eng, b.first() - 2, 2, kHaloPsiToRight, message.data());
      // Two steps, one at a time where a grid is too small for the pair.
      for (SimulationEngine* e : {&box, &a.eng, &b.eng})
        for (int done = 0; done < 2;) done += stepBatchSteps(*e, 2 - done);
      for (const SlabRun* s : {&a, &b}) {
        const int64_t shift = s->lo + c.P - layerBeforeX(s->eng);
        const int64_t from = s->x0 == 0 ? 0 : s->first();
        const int64_t to = s->x1 == c.X ? s->eng.grid.desc.nx : s->end();
        for (int64_t x = from; x < to; ++x)
          ASSERT_TRUE(planeBytes(s->eng, x) == planeBytes(box, x + shift))
              << "sweep " << sweep << " slab from " << s->x0 << " grid plane " << x;
      }
    }
  }
}
