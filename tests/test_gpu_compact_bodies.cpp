// The bodies of the GPU kernels of the compact stepping state, run on the
// CPU over the whole launch grid of each kernel in the order the host
// launches them, against the CPU's own compact step: every float of the
// state, the Mur stores and the samples must agree after every step. No GPU
// runs here; this is what ties the device's arithmetic and launch shapes to
// the engine's.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "busy_model.h"
#include "engine/compact_kernels.h"
#include "engine/compact_state.h"
#include "engine/field_update.h"
#include "engine/pml_compact_kernels.h"
#include "engine/probes.h"
#include "model_fixture.h"

namespace tavro {
namespace {

unsigned blocksOf(int64_t n, unsigned per) { return static_cast<unsigned>((n + per - 1) / per); }

// Every thread of a cell launch (gpu_compact.cpp: z-contiguous blocks, one
// plane x per blockIdx.z).
// Every cell is visited exactly once, and every row starts on a sector of the
// written array.
template <class Body>
void cellLaunch(const GridDesc& g, bool writesH, Body&& body) {
  std::vector<int> visits(g.extendedCount, 0);
  for (unsigned bz = 0; bz < static_cast<unsigned>(g.nx); ++bz)
    for (unsigned by = 0; by < blocksOf(g.ny, kCellBlockY); ++by)
      for (unsigned bx = 0; bx < cellBlocksZ(g); ++bx)
        for (unsigned ty = 0; ty < kCellBlockY; ++ty)
          for (unsigned tx = 0; tx < kCellBlockZ; ++tx) {
            const CellCoord c = cellOfThread(g, writesH, bx, by, bz, tx, ty);
            if (c.y < static_cast<uint32_t>(g.ny) && c.z >= 0 && c.z < g.nz) {
              const uint64_t i = writesH ? hIndex(g, c.x, c.y, c.z) : eIndex(g, c.x, c.y, c.z);
              ++visits[eIndex(g, c.x, c.y, c.z)];
              if (tx == 0) {
                EXPECT_EQ(i % kSectorFloats, 0u);  // a warp starts on a sector
              }
            }
            body(c);
          }
  for (int64_t x = 0; x < g.nx; ++x)
    for (int64_t y = 0; y < g.ny; ++y)
      for (int64_t z = 0; z < g.nz; ++z) ASSERT_EQ(visits[eIndex(g, x, y, z)], 1);
}

// The three face launches of one field, Z, X, then Y faces.
template <class F>
void murLaunches(SimulationEngine& eng, F f) {
  const GridDesc& g = eng.grid.desc;
  const int64_t along[3] = {g.ny, g.nz, g.nx}, across[3] = {g.nx, g.ny, g.nz};
  for (uint32_t family = 0; family < 3; ++family)
    for (unsigned by = 0; by < static_cast<unsigned>(across[family]); ++by)
      for (unsigned bx = 0; bx < blocksOf(along[family], kLineBlock); ++bx)
        for (unsigned t = 0; t < kLineBlock; ++t)
          compactMurBody(g, f, eng.grid.murCoef.data(), eng.grid.murZ.data(), eng.grid.murX.data(),
                         eng.grid.murY.data(), family, faceOfThread(bx, by, t));
}

// The six slab launches of the absorbing layer's H (E) corrections, slab by
// slab; within a launch the threads in reverse, since no order among them
// may matter. Every cell of a slab is corrected exactly once.
template <bool H>
void pmlLaunches(SimulationEngine& eng) {
  CompactState& c = eng.compact;
  const CompactFields f = c.fieldsView();
  const PmlCompactArrays a{{f.e.c[0], f.e.c[1], f.e.c[2]},
                           {f.h.c[0], f.h.c[1], f.h.c[2]},
                           c.set.data(),
                           c.coef.data(),
                           c.setStride};
  for (PmlSlab& slab : eng.pml.slabs) {
    const PmlSlabLaunch l = slabLaunchOf(slab);
    uint32_t b[3];
    pmlSlabBlocks(l, b);
    const PmlCoef* table = (H ? eng.pml.hCoef : eng.pml.eCoef)[slab.axis].data();
    const uint64_t threads = uint64_t{b[0]} * b[1] * b[2] * kCellBlockZ * kCellBlockY;
    for (uint64_t r = threads; r-- > 0;) {
      uint64_t t = r;
      const uint32_t tx = t % kCellBlockZ, ty = (t /= kCellBlockZ) % kCellBlockY;
      t /= kCellBlockY;
      const uint32_t bx = t % b[0], by = (t / b[0]) % b[1], bz = t / (uint64_t{b[0]} * b[1]);
      compactPmlBody<H>(eng.grid.desc, l, a, table, slab.psi.data(), bx, by, bz, tx, ty);
    }
  }
}

// One step of the compact state as GpuCompactStep launches it; `serial`
// applies the sources on one thread in list order.
void bodiesStep(SimulationEngine& eng, bool serial) {
  CompactState& c = eng.compact;
  const GridDesc& g = eng.grid.desc;
  const CompactFields f = c.fieldsView();
  float *ex = f.e.c[0], *ey = f.e.c[1], *ez = f.e.c[2];
  float *hx = f.h.c[0], *hy = f.h.c[1], *hz = f.h.c[2];
  const bool pml = eng.pmlCells > 0;
  float* faceMag = c.faceMag.empty() ? nullptr : c.faceMag.data();
  if (!pml) murLaunches(eng, f.e);
  cellLaunch(g, true, [&](CellCoord p) {
    compactHBody(g, ex, ey, ez, hx, hy, hz, c.set.data(), c.coef.data(), c.setStride, faceMag, p);
  });
  if (pml)
    pmlLaunches<true>(eng);
  else
    murLaunches(eng, f.h);
  cellLaunch(g, false, [&](CellCoord p) {
    compactEBody(g, ex, ey, ez, hx, hy, hz, c.set.data(), c.coef.data(), c.setStride, p);
  });
  if (pml) pmlLaunches<false>(eng);
  const CompactSourceArrays a{c.switchSet.data(), c.firstAtCell.data(), c.sourceInside.data(),
                              c.sourceMag.data()};
  const int64_t n = static_cast<int64_t>(c.switchSet.size());
  // Threads of the parallel launch in reverse: no order among them may matter.
  for (int64_t i = 0; i < n; ++i)
    compactSourceBody(eng.sam, eng.sources.data(), ex, ey, ez, c.coef.data(), c.setStride, a,
                      serial ? i : n - 1 - i);
  if (measureDue(eng, eng.sam)) {
    const CompactProbeArrays pa{
        {ex, ey, ez}, {hx, hy, hz}, c.probeSource.data(), c.sourceMag.data(), faceMag,
        nullptr,      nullptr};
    for (unsigned b = 0; b < blocksOf(eng.sam.probeCount, kLineBlock); ++b)
      for (unsigned t = 0; t < kLineBlock; ++t) {
        const int64_t p = int64_t{b} * kLineBlock + t;
        if (p < eng.sam.probeCount)
          compactProbeBody(g, eng.sam, pa, eng.probeCells.data(), eng.samples.data(), p);
      }
  }
  advanceCounters(eng.sam);
  c.recordsCurrent = false;
}

template <class T>
size_t differing(const T* a, const T* b, size_t n) {
  size_t d = 0;
  for (size_t i = 0; i < n; ++i) d += std::memcmp(a + i, b + i, sizeof(T)) != 0;
  return d;
}

TEST(GpuCompactBodies, LaunchGridsStepAsTheCpuCompactStep) {
  // Boxes with rows shorter and longer than a block along z and y, one
  // that is a whole number of blocks, and a thin one (two cells along x).
  // With the absorbing layer (pml cells): no Mur boundary, the six slab
  // launches after each update; the corner cells of the grid lie in three
  // slabs, and the probes on the drawn area's faces beside the layer.
  struct Case {
    int x, y, z;
    bool serial;
    int pml;
  };
  const Case cases[] = {{13, 11, 37, false, 0}, {13, 11, 37, true, 0},  {9, 16, 32, false, 0},
                        {6, 7, 8, true, 0},     {13, 11, 37, false, 2}, {6, 7, 8, true, 3},
                        {9, 6, 29, false, 3}};
  for (const Case& k : cases) {
    const std::string what = std::to_string(k.x) + "x" + std::to_string(k.y) + "x" +
                             std::to_string(k.z) + (k.serial ? " serial" : "") + " pml " +
                             std::to_string(k.pml);
    ModelRecord model;
    ASSERT_TRUE(test::busyModel(model, k.x, k.y, k.z)) << what;
    model.setProbe(model.index(k.x - 1, k.y - 1, 0), "corner");
    model.setProbe(model.index(k.x / 2, 0, k.z / 2), "yface");
    SimulationEngine cpu, dev;
    cpu.requestedStepLimit = dev.requestedStepLimit = 40;
    cpu.pmlCells = dev.pmlCells = k.pml;
    ASSERT_EQ(test::setQuiet(cpu, model), 1) << what;
    ASSERT_EQ(test::setQuiet(dev, model), 1) << what;
    ASSERT_TRUE(beginCompactRun(cpu)) << what;
    ASSERT_TRUE(beginCompactRun(dev)) << what;
    const CompactState &a = cpu.compact, &b = dev.compact;
    const uint64_t P = cpu.grid.desc.extendedCount;
    for (int step = 0; step < 24; ++step) {
      stepBatch(cpu);
      bodiesStep(dev, k.serial);
      const std::string at = what + ", step " + std::to_string(step);
      for (int c = 0; c < 6; ++c)
        ASSERT_EQ(differing(a.fields.data() + c * a.stride, b.fields.data() + c * b.stride, P), 0u)
            << at << ", component " << c;
      ASSERT_EQ(differing(a.coef.data(), b.coef.data(), a.coef.size()), 0u) << at;
      ASSERT_EQ(differing(a.faceMag.data(), b.faceMag.data(), a.faceMag.size()), 0u) << at;
      for (int t = 0; t < 6; ++t) {
        const PmlSlab &sa = cpu.pml.slabs[t], &sb = dev.pml.slabs[t];
        ASSERT_EQ(sa.psi.size(), sb.psi.size()) << at;
        ASSERT_EQ(differing(sa.psi.data(), sb.psi.data(), sa.psi.size()), 0u)
            << at << ", slab " << t;
      }
      ASSERT_EQ(differing(a.sourceMag.data(), b.sourceMag.data(), a.sourceMag.size()), 0u) << at;
      ASSERT_EQ(
          differing(cpu.grid.murZ.data()->s, dev.grid.murZ.data()->s, 16 * cpu.grid.murZ.size()),
          0u)
          << at;
      ASSERT_EQ(
          differing(cpu.grid.murX.data()->s, dev.grid.murX.data()->s, 16 * cpu.grid.murX.size()),
          0u)
          << at;
      ASSERT_EQ(
          differing(cpu.grid.murY.data()->s, dev.grid.murY.data()->s, 16 * cpu.grid.murY.size()),
          0u)
          << at;
    }
    // The layer has absorbed something: its psi are not all zero.
    if (k.pml > 0) {
      size_t moved = 0;
      for (const PmlSlab& s : dev.pml.slabs)
        for (const float p : s.psi) moved += p != 0.0f;
      EXPECT_GT(moved, 0u) << what;
    }
    ASSERT_EQ(std::memcmp(&cpu.sam, &dev.sam, sizeof(FDTD_SAM)), 0) << what;
    EXPECT_EQ(differing(cpu.samples.data()->v, dev.samples.data()->v, 25 * cpu.samples.size()), 0u)
        << what;
    // Written back through syncRecords, the records agree too.
    endCompactRun(cpu);
    endCompactRun(dev);
    EXPECT_EQ(std::memcmp(cpu.grid.e.data(), dev.grid.e.data(), cpu.grid.e.bytes()), 0) << what;
    EXPECT_EQ(std::memcmp(cpu.grid.h.data(), dev.grid.h.data(), cpu.grid.h.bytes()), 0) << what;
  }
}

}  // namespace
}  // namespace tavro
