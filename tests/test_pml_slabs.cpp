// Two slabs of a box with the absorbing layer, set up and exchanging halos as
// in tavro_mpi, step their own planes bit for bit as the box does.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "engine/compact_state.h"
#include "engine/field_update.h"
#include "engine/halo_planes.h"
#include "engine/pml.h"
#include "tests/model_fixture.h"

using namespace tavro;

namespace {

// Planes [lo, hi) of the box `whole`, owning [x0, x1).
struct SlabRun {
  SimulationEngine eng;
  int lo, hi, x0, x1;
  int64_t first() const { return x0 - lo + layerBeforeX(eng); }  // grid planes
  int64_t end() const { return x1 - lo + layerBeforeX(eng); }
  void setUp(const ModelRecord& whole, int P) {
    ModelRecord part;
    ASSERT_TRUE(test::vacuumModel(part, hi - lo, whole.areaY, whole.areaZ));
    part.copyTablesAndUnits(whole);
    const uint64_t plane = static_cast<uint64_t>(whole.areaY) * whole.areaZ;
    std::copy_n(whole.data.data() + lo * plane, part.cellCount(), part.data.data());
    eng.pmlCells = P;
    eng.pmlNearX = lo == 0;
    eng.pmlFarX = hi == whole.areaX;
    eng.pmlBoxX0 = lo;
    eng.pmlBoxX = whole.areaX;
    ASSERT_EQ(test::setQuiet(eng, part), 1);
  }
};

// Grid plane x as the halo packs it (fields), with all its psi.
std::vector<float> planeState(const SimulationEngine& eng, int64_t x) {
  const std::size_t n = haloPlaneFloats(eng.grid.desc, true);
  std::vector<float> v(n + haloPsiFloats(eng, x, kPsiBoth));
  packPlane(eng, x, v.data());
  packPsi(eng, x, kPsiBoth, v.data() + n);
  return v;
}

}  // namespace

TEST(PmlSlabs, SlabsStepAsTheBox) {
  // Halves of 6 planes; slabs whose halos reach both faces, the layer deeper.
  const struct {
    int X, P, split;
    bool compact;
  } cases[] = {{12, 3, 6, false}, {12, 3, 6, true}, {6, 4, 2, false}, {6, 4, 2, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "X " << c.X << " P " << c.P << " split " << c.split
                                    << (c.compact ? " compact" : " records"));
    // A lossy material along both x faces and the y = 0 face runs into the
    // layer; a pulse starts next to the slab boundary and the z face.
    ModelRecord whole;
    ASSERT_TRUE(test::vacuumModel(whole, c.X, 6, 5));
    whole.materialX[2] = whole.materialY[2] = whole.materialZ[2] = {0.3f, 4.0f, 1.0f};
    for (uint64_t k = 0; k < whole.cellCount(); ++k)
      if (k < 30 || k >= whole.cellCount() - 30 || k % 30 < 5) whole.data[k] = 2;
    SimulationEngine box;
    box.pmlCells = c.P;
    ASSERT_EQ(test::setQuiet(box, whole), 1);
    SlabRun a{{}, 0, std::min(c.X, c.split + 3), 0, c.split};
    SlabRun b{{}, std::max(0, c.split - 3), c.X, c.split, c.X};
    a.setUp(whole, c.P);
    b.setUp(whole, c.P);
    const int seeds[][3] = {{c.split - 1, 1, 4}, {c.split, 4, 4}, {0, 2, 2}};
    for (const auto& q : seeds) {
      box.grid.e[drawnEIndex(box, q[0], q[1], q[2])].ez = 1.0f;
      for (SlabRun* s : {&a, &b})
        if (q[0] >= s->lo && q[0] < s->hi)
          s->eng.grid.e[drawnEIndex(s->eng, q[0] - s->lo, q[1], q[2])].ez = 1.0f;
    }
    for (SimulationEngine* e : {&box, &a.eng, &b.eng})
      ASSERT_TRUE(!c.compact || beginCompactRun(*e));
    std::vector<float> m;
    for (int sweep = 0; sweep < 12; ++sweep) {
      m.resize(haloMessageFloats(b.eng, b.first(), 2, kHaloPsiToLeft));
      packHalo(b.eng, b.first(), 2, kHaloPsiToLeft, m.data());
      unpackHalo(a.eng, a.end(), 2, kHaloPsiToLeft, m.data());
      m.resize(haloMessageFloats(a.eng, a.end() - 2, 2, kHaloPsiToRight));
      packHalo(a.eng, a.end() - 2, 2, kHaloPsiToRight, m.data());
      unpackHalo(b.eng, b.first() - 2, 2, kHaloPsiToRight, m.data());
      // Two steps, one at a time where a grid is too small for the pair.
      for (SimulationEngine* e : {&box, &a.eng, &b.eng})
        for (int done = 0; done < 2;) done += stepBatchSteps(*e, 2 - done);
      for (const SlabRun* s : {&a, &b}) {
        const int64_t shift = s->lo + c.P - layerBeforeX(s->eng);
        const int64_t from = s->x0 == 0 ? 0 : s->first();
        const int64_t to = s->x1 == c.X ? s->eng.grid.desc.nx : s->end();
        for (int64_t x = from; x < to; ++x)
          ASSERT_TRUE(planeState(s->eng, x) == planeState(box, x + shift))
              << "sweep " << sweep << " slab from " << s->x0 << " grid plane " << x;
      }
    }
  }
}
