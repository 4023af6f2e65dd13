#include "engine/halo_planes.h"

#include <cstring>

#include "engine/grid_index.h"
#include "engine/pml_layer.h"

namespace tavro {

namespace {

uint64_t planeElements(const GridDesc& d) { return stridesOf(d).sx; }

constexpr uint64_t kRecordFloats = sizeof(MurStore) / sizeof(float);

// The elements of one plane lie next to each other: E plane x starts at
// element (x, 0, 0), H plane x at element (x, -1, -1).
void copyFields(ECell* e, HCell* h, uint64_t n, float* v, bool pack) {
  for (uint64_t i = 0; i < n; ++i, v += 6) {
    float* f[6] = {&e[i].ex, &e[i].ey, &e[i].ez, &h[i].hx, &h[i].hy, &h[i].hz};
    for (int c = 0; c < 6; ++c) {
      if (pack)
        v[c] = *f[c];
      else
        *f[c] = v[c];
    }
  }
}

void copyRecord(MurStore& r, float* v, bool pack) {
  if (pack)
    std::memcpy(v, r.s, sizeof(r.s));
  else
    std::memcpy(r.s, v, sizeof(r.s));
}

// The same from the component arrays of the compact stepping state.
void copyArrays(const CompactFields& f, uint64_t e0, uint64_t h0, uint64_t n, float* v, bool pack) {
  for (uint64_t i = 0; i < n; ++i, v += 6) {
    float* c[6] = {f.e.c[0] + e0 + i, f.e.c[1] + e0 + i, f.e.c[2] + e0 + i,
                   f.h.c[0] + h0 + i, f.h.c[1] + h0 + i, f.h.c[2] + h0 + i};
    for (int k = 0; k < 6; ++k) {
      if (pack)
        v[k] = *c[k];
      else
        *c[k] = v[k];
    }
  }
}

// Both directions in one walk, so that the layout has one definition.
void copyPlane(SimulationEngine& eng, int64_t x, float* v, bool pack) {
  GridHolder& g = eng.grid;
  const GridDesc& d = g.desc;
  const uint64_t n = planeElements(d);
  const uint64_t e0 = eIndex(d, x, 0, 0), h0 = hIndex(d, x, -1, -1);
  if (eng.compact.active) {
    copyArrays(eng.compact.fieldsView(), e0, h0, n, v, pack);
    if (!pack) eng.compact.recordsCurrent = false;
  } else {
    copyFields(g.e.data() + e0, g.h.data() + h0, n, v, pack);
  }
  v += 6 * n;
  if (eng.pmlCells > 0) return;
  // Z-face records x*Y + y, Y-face records z*X + x.
  for (int64_t y = 0; y < d.ny; ++y, v += kRecordFloats) copyRecord(g.murZ[x * d.ny + y], v, pack);
  for (int64_t z = 0; z < d.nz; ++z, v += kRecordFloats) copyRecord(g.murY[z * d.nx + x], v, pack);
}

// The halves of the psi of plane x, both directions in one walk: the H
// half is the slab's first two blocks, the E half its last two, and a
// block's cells of one plane lie next to each other.
std::size_t copyPsi(PmlLayer& L, int64_t x, int halves, float* v, bool pack) {
  const bool h = (halves & kPsiH) != 0, e = (halves & kPsiE) != 0;
  const std::size_t per = (h ? 2u : 0u) + (e ? 2u : 0u);
  std::size_t floats = 0;
  for (int k = 0; k < L.slabCount && per > 0; ++k) {
    PmlSlab& s = L.slabs[k];
    if (x < s.lo[0] || x >= s.hi[0]) continue;
    const uint64_t n = static_cast<uint64_t>((s.hi[1] - s.lo[1]) * (s.hi[2] - s.lo[2]));
    floats += per * n;
    if (v == nullptr) continue;
    const uint64_t plane = static_cast<uint64_t>(x - s.lo[0]) * n;
    for (int b = 0; b < kPsiBlocks; ++b) {
      if (!(b < kPsiE1 ? h : e)) continue;
      float* f = s.psiBlock(b) + plane;
      if (pack)
        std::memcpy(v, f, n * sizeof(float));
      else
        std::memcpy(f, v, n * sizeof(float));
      v += n;
    }
  }
  return floats;
}

}  // namespace

std::size_t haloPlaneFloats(const GridDesc& d, bool layer) {
  const uint64_t records = layer ? 0 : static_cast<uint64_t>(d.ny + d.nz);
  return 6 * planeElements(d) + kRecordFloats * records;
}

void packPlane(const SimulationEngine& eng, int64_t x, float* out) {
  // Packing only reads; one walk serves both directions.
  copyPlane(const_cast<SimulationEngine&>(eng), x, out, true);
}

void unpackPlane(SimulationEngine& eng, int64_t x, const float* in) {
  copyPlane(eng, x, const_cast<float*>(in), false);
}

std::size_t haloPsiFloats(const SimulationEngine& eng, int64_t x, int halves) {
  return copyPsi(const_cast<PmlLayer&>(eng.pml), x, halves, nullptr, true);
}

void packPsi(const SimulationEngine& eng, int64_t x, int halves, float* out) {
  copyPsi(const_cast<PmlLayer&>(eng.pml), x, halves, out, true);
}

void unpackPsi(SimulationEngine& eng, int64_t x, int halves, const float* in) {
  copyPsi(eng.pml, x, halves, const_cast<float*>(in), false);
}

std::size_t haloMessageFloats(const SimulationEngine& eng, int64_t x, int planes,
                              const int* halves) {
  std::size_t n =
      static_cast<std::size_t>(planes) * haloPlaneFloats(eng.grid.desc, eng.pmlCells > 0);
  for (int k = 0; k < planes; ++k) n += haloPsiFloats(eng, x + k, halves[k]);
  return n;
}

void packHalo(const SimulationEngine& eng, int64_t x, int planes, const int* halves, float* out) {
  const std::size_t plane = haloPlaneFloats(eng.grid.desc, eng.pmlCells > 0);
  for (int k = 0; k < planes; ++k, out += plane) packPlane(eng, x + k, out);
  for (int k = 0; k < planes; ++k) {
    packPsi(eng, x + k, halves[k], out);
    out += haloPsiFloats(eng, x + k, halves[k]);
  }
}

void unpackHalo(SimulationEngine& eng, int64_t x, int planes, const int* halves, const float* in) {
  const std::size_t plane = haloPlaneFloats(eng.grid.desc, eng.pmlCells > 0);
  for (int k = 0; k < planes; ++k, in += plane) unpackPlane(eng, x + k, in);
  for (int k = 0; k < planes; ++k) {
    unpackPsi(eng, x + k, halves[k], in);
    in += haloPsiFloats(eng, x + k, halves[k]);
  }
}

}  // namespace tavro
