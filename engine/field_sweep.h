// The sweep of one step over a block of rows (PlaneSweep): the H update, the
// H boundary and the E update plane by plane along x, with the column copies
// of the sixteen-lane path. Private to the CPU pass files (field_update.cpp,
// field_pair.cpp).
#pragma once

#include <algorithm>
#include <cstdint>

#include "engine/boundary_mur.h"
#include "engine/field_lanes.h"
#include "engine/grid_index.h"
#include "engine/pml.h"

namespace tavro {

// Scratch of the calling thread for the column copies: `floats` floats,
// zero when first handed out for a block shape (rows, Z) and kept between
// calls, so the pads stay zero; nullptr when memory is short. Each thread
// has two slots, one per step of a two-step sweep.
float* sweepScratch(int slot, int64_t floats, int64_t blockRows, int64_t Z);

namespace {

// Rows per block of the sweep: the planes of records (and their column
// copies) that the sweep keeps in use, about three planes of E and H
// records, should stay in the core's own cache (about 1 MiB is common), so
// they come back from there and not from the shared cache or memory. Blocks
// hold at least two rows (a Y face and its inner row lie in one block); one
// block when the box has fewer than four rows.
inline int64_t blockCount(const GridDesc& d, int64_t blockBytes) {
  const int64_t rowBytes = 3 * (d.nz + 1) * int64_t{sizeof(ECell) + sizeof(HCell)};
  const int64_t rows = blockBytes / rowBytes - 1;
  const int64_t byCache = rows < 2 ? d.ny / 2 : (d.ny + rows - 1) / rows;
  const int64_t n = byCache < d.ny / 2 ? byCache : d.ny / 2;
  return n < 1 ? 1 : n;
}

#if TAVRO_HAVE_AVX2_PATH
// The sweep with column copies. The transposes between the records and the
// lanes cost more than the arithmetic, and the plain sweep repeats them: it
// sorts the E record of a cell into lanes four times per step (as the centre
// and as the neighbour along z, y and x) and the H record four times. Here
// every thread keeps, for the rows of its current block, the x, y and z
// components of E of three planes and of H of three planes as plain float
// rows (column copies); every record is transposed once on the way in and
// once on the way out, and the neighbours come from the copies by plain
// vector loads. The records stay the only state: the copies are filled from
// them within the step and updated wherever the step writes a component that
// a later update reads, so the values are those of the plain sweep.
#pragma GCC push_options
#pragma GCC target("avx2,avx512f")
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Layout of the copies: per plane slot (plane mod 3) and component, the rows
// y0-1 .. y1 of the block, each row kPad zeros, then the Z cells and zeros
// up to the row stride. The zeros stand for the guard cells at z = -1 and
// z = Z, so the neighbour loads need no special end.
struct ColumnCopies {
  static constexpr int64_t kPad = 16;
  float* base = nullptr;
  int64_t stride = 0;  // floats per row
  int64_t rows = 0;    // rows per slot and component
  int64_t firstRow = 0;

  // Row y of component c of the E (H) copy of plane x.
  // Plane -1 (the guard plane of H) shares the slot of plane 2.
  float* e(int64_t x, int c, int64_t y) const { return at(static_cast<int>((x + 3) % 3), c, y); }
  float* h(int64_t x, int c, int64_t y) const {
    return at(3 + static_cast<int>((x + 3) % 3), c, y);
  }
  float* at(int slot, int c, int64_t y) const {
    return base + ((slot * 3 + c) * rows + (y - firstRow)) * stride + kPad;
  }
};

// Floats needed for blocks of at most `blockRows` rows of Z cells.
inline int64_t columnFloats(int64_t blockRows, int64_t Z, int64_t& stride) {
  stride = ColumnCopies::kPad + (Z + 1 + 15) / 16 * 16;
  return 6 * 3 * (blockRows + 2) * stride;
}

// Fields 0..2 of the Z records of one row (n floats each) into three rows.
inline __attribute__((flatten)) void toColumns(const float* rec, int n, int64_t Z, float* cx,
                                               float* cy, float* cz, bool prefetch) {
  int64_t z = 0;
  for (; z + 16 <= Z; z += 16) {
    const float* p = rec + z * n;
    if (prefetch) prefetchAhead(p, 16 * n);
    Lanes16 a, b, c, skip;
    loadColumns16(p, n, a, b, c, skip);
    _mm512_storeu_ps(cx + z, a);
    _mm512_storeu_ps(cy + z, b);
    _mm512_storeu_ps(cz + z, c);
  }
  for (; z < Z; ++z) {
    cx[z] = rec[z * n];
    cy[z] = rec[z * n + 1];
    cz[z] = rec[z * n + 2];
  }
}

// H of row (x, y) from the E copies of rows y and y+1 of plane x and from E
// of row y of plane x+1, which this row brings in from the records and
// copies for the updates that follow; the new hx, hy, hz also go to the H
// copy. Cells left over at the end of the row take the eight-lane update.
inline __attribute__((flatten)) void hRowColumns(HCell* h, const ECell* e, int64_t Z, Strides s,
                                                 const ColumnCopies& cc, int64_t x, int64_t y) {
  const float *ex = cc.e(x, 0, y), *ey = cc.e(x, 1, y), *ez = cc.e(x, 2, y);
  const float *exY = cc.e(x, 0, y + 1), *ezY = cc.e(x, 2, y + 1);
  float *nx = cc.e(x + 1, 0, y), *ny = cc.e(x + 1, 1, y), *nz = cc.e(x + 1, 2, y);
  float *ox = cc.h(x, 0, y), *oy = cc.h(x, 1, y), *oz = cc.h(x, 2, y);
  const float* en = reinterpret_cast<const float*>(e + s.sx);
  int64_t z = 0;
  for (; z + 16 <= Z; z += 16) {
    float* hp = reinterpret_cast<float*>(h + z);
    prefetchAhead(hp, 16 * kH);
    prefetchAhead(en + z * kE, 16 * kE);
    Lanes16 xX, yX, zX, skip;
    loadColumns16(en + z * kE, kE, xX, yX, zX, skip);
    _mm512_storeu_ps(nx + z, xX);
    _mm512_storeu_ps(ny + z, yX);
    _mm512_storeu_ps(nz + z, zX);
    Lanes16 hx, hy, hz, hmag, chx, chy, chz;
    loadColumns16(hp, kH, hx, hy, hz, hmag);
    loadColumns16(hp + 3, kH, skip, chx, chy, chz);
    const Lanes16 vx = _mm512_loadu_ps(ex + z), vy = _mm512_loadu_ps(ey + z),
                  vz = _mm512_loadu_ps(ez + z);
    const Lanes16 xZ = _mm512_loadu_ps(ex + z + 1), yZ = _mm512_loadu_ps(ey + z + 1);
    const Lanes16 xY = _mm512_loadu_ps(exY + z), zY = _mm512_loadu_ps(ezY + z);
    updateHValues<Lane16Math>(hx, hy, hz, hmag, chx, chy, chz, vx, vy, vz, xZ, yZ, xY, zY, yX, zX);
    storeColumns16(hp, kH, hx, hy, hz, hmag);
    _mm512_storeu_ps(ox + z, hx);
    _mm512_storeu_ps(oy + z, hy);
    _mm512_storeu_ps(oz + z, hz);
  }
  hRowAvx2(h, e, z, Z, s);
  for (; z < Z; ++z) {
    nx[z] = e[s.sx + z].ex;
    ny[z] = e[s.sx + z].ey;
    nz[z] = e[s.sx + z].ez;
    ox[z] = h[z].hx;
    oy[z] = h[z].hy;
    oz[z] = h[z].hz;
  }
}

// E of row (x, y) from its own E copy and the H copies: rows y and y-1 of
// plane x and row y of plane x-1. Leftover cells take the eight-lane update.
inline __attribute__((flatten)) void eRowColumns(ECell* e, const HCell* h, int64_t Z, Strides s,
                                                 const ColumnCopies& cc, int64_t x, int64_t y) {
  const float *ex = cc.e(x, 0, y), *ey = cc.e(x, 1, y), *ez = cc.e(x, 2, y);
  const float *hx = cc.h(x, 0, y), *hy = cc.h(x, 1, y), *hz = cc.h(x, 2, y);
  const float *hxY = cc.h(x, 0, y - 1), *hzY = cc.h(x, 2, y - 1);
  const float *hyX = cc.h(x - 1, 1, y), *hzX = cc.h(x - 1, 2, y);
  int64_t z = 0;
  for (; z + 16 <= Z; z += 16) {
    float* ep = reinterpret_cast<float*>(e + z);
    Lanes16 cax, cay, caz, cbx, cby, cbz, skip;
    loadColumns16(ep + 4, kE, cax, cay, caz, cbx);
    loadColumns16(ep + 6, kE, skip, skip, cby, cbz);
    Lanes16 vx = _mm512_loadu_ps(ex + z), vy = _mm512_loadu_ps(ey + z),
            vz = _mm512_loadu_ps(ez + z), emag;
    const Lanes16 ux = _mm512_loadu_ps(hx + z), uy = _mm512_loadu_ps(hy + z),
                  uz = _mm512_loadu_ps(hz + z);
    const Lanes16 xZ = _mm512_loadu_ps(hx + z - 1), yZ = _mm512_loadu_ps(hy + z - 1);
    const Lanes16 xY = _mm512_loadu_ps(hxY + z), zY = _mm512_loadu_ps(hzY + z);
    const Lanes16 yX = _mm512_loadu_ps(hyX + z), zX = _mm512_loadu_ps(hzX + z);
    updateEValues<Lane16Math>(vx, vy, vz, emag, cax, cay, caz, cbx, cby, cbz, ux, uy, uz, xZ, yZ,
                              xY, zY, yX, zX);
    storeColumns16(ep, kE, vx, vy, vz, emag);
  }
  eRowAvx2(e, h, z, Z, s);
}

// E row (x, y) and H row (x, y) into the copies.
inline void copyERow(const GridHolder& g, const ColumnCopies& cc, int64_t x, int64_t y) {
  toColumns(reinterpret_cast<const float*>(g.e.data() + eIndex(g.desc, x, y, 0)), kE, g.desc.nz,
            cc.e(x, 0, y), cc.e(x, 1, y), cc.e(x, 2, y), true);
}
inline void copyHRow(const GridHolder& g, const ColumnCopies& cc, int64_t x, int64_t y) {
  toColumns(reinterpret_cast<const float*>(g.h.data() + hIndex(g.desc, x, y, 0)), kH, g.desc.nz,
            cc.h(x, 0, y), cc.h(x, 1, y), cc.h(x, 2, y), true);
}

// The H copies after murHAfterPlane(x, r): the two Z-face cells of every row
// of plane x, whole rows where an X face was set, the rows y = 0 and Y-1 of
// the planes whose Y faces were set.
inline void copyHBoundary(const GridHolder& g, const ColumnCopies& cc, int64_t x, Rows r) {
  const GridDesc& d = g.desc;
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  for (int64_t y = r.y0; y < r.y1; ++y) {
    const HCell* row = g.h.data() + hIndex(d, x, y, 0);
    for (int64_t z : {int64_t{0}, Z - 1}) {
      cc.h(x, 0, y)[z] = row[z].hx;
      cc.h(x, 1, y)[z] = row[z].hy;
      cc.h(x, 2, y)[z] = row[z].hz;
    }
  }
  auto yFaces = [&](int64_t p) {
    if (r.y0 == 0) copyHRow(g, cc, p, 0);
    if (r.y1 == Y) copyHRow(g, cc, p, Y - 1);
  };
  if (x == 1) {
    for (int64_t y = r.y0; y < r.y1; ++y) copyHRow(g, cc, 0, y);
    yFaces(1);
  } else if (x == X - 1) {
    for (int64_t y = r.y0; y < r.y1; ++y) copyHRow(g, cc, X - 1, y);
    yFaces(X - 2);
  } else if (x != 0 && x != X - 2) {
    yFaces(x);
  }
}

// Scratch of the calling thread for the copies; false when it cannot be had
// or would be larger than kMaxColumnBytes: copies that large (rows of many
// thousand cells) no longer stay in the core's cache, and the memory they
// take would be unaccounted for in the set-up's estimate.
constexpr int64_t kMaxColumnBytes = 2 << 20;

inline bool columnScratch(ColumnCopies& cc, int slot, int64_t blockRows, int64_t Z) {
  int64_t stride = 0;
  const int64_t n = columnFloats(blockRows, Z, stride);
  if (n * int64_t{sizeof(float)} > kMaxColumnBytes) return false;
  cc.base = sweepScratch(slot, n, blockRows, Z);
  cc.stride = stride;
  cc.rows = blockRows + 2;
  return cc.base != nullptr;
}

#pragma GCC diagnostic pop
#pragma GCC pop_options

#endif

// The planes whose E becomes final once H and the H boundary of plane x are
// done, in order: E of plane p reads H of planes p and p-1, so plane 0 waits
// for the X face set at x = 1 and plane X-2 for the one set at X-1 (both
// complete the Y faces of those planes).
template <class F>
inline void finalEPlanes(int64_t x, int64_t X, F&& f) {
  if (x == 0 || x == X - 2) return;
  if (x == 1) f(0);
  if (x == X - 1) f(X - 2);
  f(x);
}

// One step's H update, H boundary and E update swept along x over one block
// of rows, so that each plane of H is still in cache when the E update reads
// it and each plane of E when it is updated after the H update read it: the
// records move 136 bytes per cell instead of 204. The sweep visits planes
// first..last in order: H of plane x, its boundary, then E of the planes that
// became final (finalEPlanes), each followed by done(p). E of a plane p reads
// H of rows y and y-1 of planes p and p-1 (final) and is read by the H update
// of planes p and p-1 only (done); the next block's first row is still
// untouched. E of plane `first` is left to the caller unless withFirstE
// (plane 0, whose H neighbours below are the guard plane).
//
// With sixteen lanes the sweep keeps column copies. The transposes between
// the records and the lanes cost more than the arithmetic, and a plain sweep
// repeats them: it sorts the E record of a cell into lanes four times per
// step (as the centre and as the neighbour along z, y and x) and the H record
// four times. Column copies are, for the rows of the block, the x, y and z
// components of E of three planes and of H of three planes as plain float
// rows; every record is transposed once on the way in and once on the way
// out, and the neighbours come from the copies by plain vector loads. The
// records stay the only state: the copies are filled from them within the
// step and updated wherever the step writes a component that a later update
// reads, so the values are those of the plain sweep. The E row of plane x+1
// is brought in and copied by the H row that reads it.
class PlaneSweep {
 public:
  // `slot` picks one of the thread's two scratch areas for the copies (one
  // per step of a two-step sweep); blocks hold at most maxRows rows. Without
  // a scratch area the sweep transposes from the records.
  PlaneSweep(SimulationEngine& eng, int lanes, int slot, int64_t maxRows)
      : eng_(eng), g_(eng.grid), lanes_(lanes) {
#if TAVRO_HAVE_AVX2_PATH
    columns_ = lanes == 16 && columnScratch(cc_, slot, maxRows, g_.desc.nz);
#else
    (void)slot;
    (void)maxRows;
#endif
  }

  void begin(Rows r, int64_t first, int64_t last, bool withFirstE) {
    r_ = r;
    first_ = first;
    last_ = last;
    withFirstE_ = withFirstE;
    started_ = false;
  }

  template <class Done>
  void plane(int64_t x, Done&& done) {
    const GridDesc& d = g_.desc;
    auto eFinal = [&](int64_t p) { return p > first_ || (p == first_ && withFirstE_); };
#if TAVRO_HAVE_AVX2_PATH
    if (columns_) {
      const Strides s = stridesOf(d);
      // The copies are filled when the first plane is swept, not at begin():
      // in a two-step sweep the records of the second step are not final
      // before that.
      if (!started_) startCopies();
      // Of every further plane the H row below the block (final: the block
      // below is done, or the guard row) and E of row y1 (the next block's
      // first row or the guard row): the H rows copy the others.
      if (x + 1 <= last_) copyHRow(g_, cc_, x + 1, r_.y0 - 1);
      copyERow(g_, cc_, x + 1, r_.y1);
      for (int64_t y = r_.y0; y < r_.y1; ++y)
        hRowColumns(g_.h.data() + hIndex(d, x, y, 0), g_.e.data() + eIndex(d, x, y, 0), d.nz, s,
                    cc_, x, y);
      if (eng_.pmlCells > 0) {
        // The layer's corrections reach every row (its z slabs), so all
        // rows of the plane go to the copies again.
        pmlHRows(eng_, x, r_.y0, r_.y1);
        for (int64_t y = r_.y0; y < r_.y1; ++y) copyHRow(g_, cc_, x, y);
      } else {
        murHAfterPlane(eng_, x, r_.y0, r_.y1);
        copyHBoundary(g_, cc_, x, r_);
      }
      finalEPlanes(x, d.nx, [&](int64_t p) {
        if (!eFinal(p)) return;
        for (int64_t y = r_.y0; y < r_.y1; ++y)
          eRowColumns(g_.e.data() + eIndex(d, p, y, 0), g_.h.data() + hIndex(d, p, y, 0), d.nz, s,
                      cc_, p, y);
        if (eng_.pmlCells > 0) pmlERows(eng_, p, r_.y0, r_.y1);
        done(p);
      });
      return;
    }
#endif
    hPlane(g_, x, r_, lanes_);
    if (eng_.pmlCells > 0)
      pmlHRows(eng_, x, r_.y0, r_.y1);
    else
      murHAfterPlane(eng_, x, r_.y0, r_.y1);
    finalEPlanes(x, d.nx, [&](int64_t p) {
      if (!eFinal(p)) return;
      ePlane(g_, p, r_, lanes_);
      if (eng_.pmlCells > 0) pmlERows(eng_, p, r_.y0, r_.y1);
      done(p);
    });
  }

 private:
#if TAVRO_HAVE_AVX2_PATH
  // The first plane in full: E of rows y0..y1, H of the row below the block
  // and, when E of the first plane is swept, H of the plane below it.
  void startCopies() {
    started_ = true;
    cc_.firstRow = r_.y0 - 1;
    for (int64_t y = r_.y0; y <= r_.y1; ++y) copyERow(g_, cc_, first_, y);
    copyHRow(g_, cc_, first_, r_.y0 - 1);
    if (withFirstE_)
      for (int64_t y = r_.y0; y < r_.y1; ++y) copyHRow(g_, cc_, first_ - 1, y);
  }
  ColumnCopies cc_;
  bool columns_ = false;
#endif
  SimulationEngine& eng_;
  GridHolder& g_;
  int lanes_;
  Rows r_{0, 0};
  int64_t first_ = 0, last_ = 0;
  bool withFirstE_ = false, started_ = false;
};

}  // namespace

}  // namespace tavro
