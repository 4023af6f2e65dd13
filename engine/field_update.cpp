// The field passes on the CPU: how the H and E updates visit the cells and
// how their values reach the per-cell arithmetic of field_kernels.h. The
// order of a whole step is in time_step.cpp.
//
// Two forms of the passes exist and give identical bits:
// - the plain loops (field_update_plain.cpp): one scalar cell update after
//   the other over the (x, y) rows, kept as the reference;
// - the fast loops here (updateH, updateE, fieldPassesCpu, stepPairCpu): the
//   same formulas on sixteen (AVX-512) or eight (AVX2) cells at a time, one
//   cell per vector lane (field_lanes.h), chosen at run time; the four passes
//   of a step in one parallel region, and the H update, H boundary and E
//   update swept together along x in blocks of rows (PlaneSweep); for the
//   batch run two steps in one sweep (pairTeam).
// The threads take contiguous ranges of x planes (static schedule); every row
// updates its z run of cells, whose elements lie next to each other. An
// update writes only the elements of its own cells and reads only the other
// field, so the passes need no locks; the order in which planes are visited
// only has to respect which values each cell reads (see PlaneSweep).
#include "engine/field_update.h"

#include <omp.h>

#include <algorithm>
#include <vector>

#include "engine/boundary_mur.h"
#include "engine/colouring.h"
#include "engine/field_kernels.h"
#include "engine/field_lanes.h"
#include "engine/field_passes.h"
#include "engine/grid_index.h"
#include "engine/pml.h"
#include "engine/ports.h"
#include "engine/probe_kernels.h"
#include "engine/probes.h"
#include "engine/sources.h"

namespace tavro {

namespace {

// Rows of one plane: y0 <= y < y1.
struct Rows {
  int64_t y0, y1;
};

// H (E) of rows r of plane x with `lanes` cells per vector.
void hPlane(GridHolder& g, int64_t x, Rows r, int lanes) {
  const GridDesc& d = g.desc;
  const Strides s = stridesOf(d);
  for (int64_t y = r.y0; y < r.y1; ++y) {
    HCell* hr = g.h.data() + hIndex(d, x, y, 0);
    const ECell* er = g.e.data() + eIndex(d, x, y, 0);
#if TAVRO_HAVE_AVX2_PATH
    if (lanes == 16) {
      hRowAvx512(hr, er, d.nz, s);
      continue;
    }
    if (lanes == 8) {
      hRowAvx2(hr, er, 0, d.nz, s);
      continue;
    }
#endif
    hRowScalar(hr, er, 0, d.nz, s);
  }
  (void)lanes;
}

void ePlane(GridHolder& g, int64_t x, Rows r, int lanes) {
  const GridDesc& d = g.desc;
  const Strides s = stridesOf(d);
  for (int64_t y = r.y0; y < r.y1; ++y) {
    ECell* er = g.e.data() + eIndex(d, x, y, 0);
    const HCell* hr = g.h.data() + hIndex(d, x, y, 0);
#if TAVRO_HAVE_AVX2_PATH
    if (lanes == 16) {
      eRowAvx512(er, hr, d.nz, s);
      continue;
    }
    if (lanes == 8) {
      eRowAvx2(er, hr, 0, d.nz, s);
      continue;
    }
#endif
    eRowScalar(er, hr, 0, d.nz, s);
  }
  (void)lanes;
}

// The H and E passes for a caller inside a parallel region: the planes split
// statically among the team, a barrier at the end.
void hPassTeam(GridHolder& g, int lanes) {
#pragma omp for schedule(static)
  for (int64_t x = 0; x < g.desc.nx; ++x) hPlane(g, x, {0, g.desc.ny}, lanes);
}

void ePassTeam(GridHolder& g, int lanes) {
#pragma omp for schedule(static)
  for (int64_t x = 0; x < g.desc.nx; ++x) ePlane(g, x, {0, g.desc.ny}, lanes);
}

// Whether the team can run the sweep: four planes at least (so that the two
// X faces lie apart) and two per thread.
bool canSweep(const GridDesc& d, int team) { return d.nx >= 4 && d.nx >= 2 * int64_t{team}; }

// Rows per block of the sweep: the planes of records (and their column
// copies) that the sweep keeps in use, about three planes of E and H
// records, should stay in the core's own cache (about 1 MiB is common), so
// they come back from there and not from the shared cache or memory. Blocks
// hold at least two rows (a Y face and its inner row lie in one block); one
// block when the box has fewer than four rows.
int64_t blockCount(const GridDesc& d, int64_t blockBytes) {
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
int64_t columnFloats(int64_t blockRows, int64_t Z, int64_t& stride) {
  stride = ColumnCopies::kPad + (Z + 1 + 15) / 16 * 16;
  return 6 * 3 * (blockRows + 2) * stride;
}

// Fields 0..2 of the Z records of one row (n floats each) into three rows.
__attribute__((flatten)) void toColumns(const float* rec, int n, int64_t Z, float* cx, float* cy,
                                        float* cz, bool prefetch) {
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
__attribute__((flatten)) void hRowColumns(HCell* h, const ECell* e, int64_t Z, Strides s,
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
__attribute__((flatten)) void eRowColumns(ECell* e, const HCell* h, int64_t Z, Strides s,
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
void copyERow(const GridHolder& g, const ColumnCopies& cc, int64_t x, int64_t y) {
  toColumns(reinterpret_cast<const float*>(g.e.data() + eIndex(g.desc, x, y, 0)), kE, g.desc.nz,
            cc.e(x, 0, y), cc.e(x, 1, y), cc.e(x, 2, y), true);
}
void copyHRow(const GridHolder& g, const ColumnCopies& cc, int64_t x, int64_t y) {
  toColumns(reinterpret_cast<const float*>(g.h.data() + hIndex(g.desc, x, y, 0)), kH, g.desc.nz,
            cc.h(x, 0, y), cc.h(x, 1, y), cc.h(x, 2, y), true);
}

// The H copies after murHAfterPlane(x, r): the two Z-face cells of every row
// of plane x, whole rows where an X face was set, the rows y = 0 and Y-1 of
// the planes whose Y faces were set.
void copyHBoundary(const GridHolder& g, const ColumnCopies& cc, int64_t x, Rows r) {
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

// Each thread has two scratch slots, one per step of a two-step sweep.
bool columnScratch(ColumnCopies& cc, int slot, int64_t blockRows, int64_t Z) {
  thread_local Buffer<float> scratch[2];
  thread_local int64_t shapeRows[2] = {-1, -1}, shapeZ[2] = {-1, -1};
  int64_t stride = 0;
  const int64_t n = columnFloats(blockRows, Z, stride);
  if (n * int64_t{sizeof(float)} > kMaxColumnBytes) return false;
  if (shapeRows[slot] != blockRows || shapeZ[slot] != Z) {
    shapeRows[slot] = shapeZ[slot] = -1;
    if (!scratch[slot].allocate(static_cast<size_t>(n))) return false;
    // The pads stay zero from here on.
    std::fill(scratch[slot].begin(), scratch[slot].end(), 0.0f);
    shapeRows[slot] = blockRows;
    shapeZ[slot] = Z;
  }
  cc.base = scratch[slot].data();
  cc.stride = stride;
  cc.rows = blockRows + 2;
  return true;
}

#pragma GCC diagnostic pop
#pragma GCC pop_options

#endif

// The planes whose E becomes final once H and the H boundary of plane x are
// done, in order: E of plane p reads H of planes p and p-1, so plane 0 waits
// for the X face set at x = 1 and plane X-2 for the one set at X-1 (both
// complete the Y faces of those planes).
template <class F>
void finalEPlanes(int64_t x, int64_t X, F&& f) {
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

void noPlaneDone(int64_t) {}

// One step's H update, H boundary and E update in one sweep: each thread
// sweeps its own range [a, b) of planes, block of rows after block of rows.
// E of the first plane a waits for the barrier, because the thread below
// reads it for its last H plane and provides the H plane a-1 it needs.
void sweepTeam(SimulationEngine& eng, int lanes) {
  GridHolder& g = eng.grid;
  const int64_t X = g.desc.nx, Y = g.desc.ny;
  const int64_t team = omp_get_num_threads(), t = omp_get_thread_num();
  const int64_t a = X * t / team, b = X * (t + 1) / team;
  const int64_t blocks = blockCount(g.desc, eng.sweepBlockBytes);
  PlaneSweep sweep(eng, lanes, 0, (Y + blocks - 1) / blocks);
  for (int64_t k = 0; k < blocks; ++k) {
    sweep.begin({Y * k / blocks, Y * (k + 1) / blocks}, a, b - 1, false);
    for (int64_t x = a; x < b; ++x) sweep.plane(x, noPlaneDone);
  }
#pragma omp barrier
  ePlane(g, a, {0, Y}, lanes);
  if (eng.pmlCells > 0) pmlERows(eng, a, 0, Y);
}

// ---------------------------------------------------------------------------
// Two steps per sweep
//
// A box larger than the caches is bound by memory: one step reads and writes
// every record once. The two-step sweep lets the second step follow the
// first one plane behind, so that the records of a block come from memory
// once for both steps. Every per-step operation then runs per plane and
// block of rows, at the point where its inputs are final and before anything
// overwrites what it reads: the sources and the measurement of the first
// step and the E boundary of the second one right after E of each plane of
// the first step, those of the second step after its own E of each plane.
// All of them touch only their own cell (a source, the E boundary records of
// the plane) or read the cell's own E and H of planes x and x-1 (a probe),
// so the values are those of two single steps.

// A source cell or probe cell by plane and row, with its list index.
struct CellRef {
  int64_t x, y, i;
};

bool byPlaneAndRow(const CellRef& a, const CellRef& b) {
  return a.x != b.x ? a.x < b.x : a.y < b.y;
}

struct PairPlan {
  FDTD_SAM sam[2];      // counters of the first and the second step
  bool measureStep[2];  // whether each step records a sample
  std::vector<CellRef> sources, probes, ports;
};

// The references of rows r of plane x, in list order within a cell.
template <class F>
void forCellsIn(const std::vector<CellRef>& refs, int64_t x, Rows r, F&& f) {
  auto it = std::lower_bound(refs.begin(), refs.end(), CellRef{x, r.y0, 0}, byPlaneAndRow);
  for (; it != refs.end() && it->x == x && it->y < r.y1; ++it) f(it->i);
}

// After E of rows r of plane x in step k: the step's ports and sources of
// those cells in list order, its samples of their probes and, after the
// first step, the second step's E boundary of the rows.
void finishEPlane(SimulationEngine& eng, const PairPlan& plan, int k, int64_t x, Rows r) {
  const FDTD_SAM& sam = plan.sam[k];
  ECell* e = eng.grid.e.data();
  const FDTD_SRC* src = eng.sources.data();
  const int64_t portStep = eng.ports.step + k;
  forCellsIn(plan.ports, x, r,
             [&](int64_t p) { applyPortAt(eng, sam, static_cast<size_t>(p), portStep); });
  forCellsIn(plan.sources, x, r, [&](int64_t i) { applySource(e, sam, src[i]); });
  if (plan.measureStep[k])
    forCellsIn(plan.probes, x, r, [&](int64_t p) {
      measureProbe(eng.grid.desc, e, eng.grid.h.data(), sam, eng.probeCells.data(),
                   eng.samples.data(), p);
    });
  if (k == 0) murEAfterPlane(eng, x, r.y0, r.y1);
}

// Each thread needs a range of at least kPairPlanes planes: the hand-overs at
// the two ends of a range (planes a-1..a+1) stay apart, and away from the X
// faces, which a range sets from its own planes.
constexpr int64_t kPairPlanes = 6;

// Whether two steps can run as one sweep with a team of `team` threads
// (or fewer): enough planes and rows, and every source inside the box (a source in a guard cell has
// no plane to ride on).
bool planPair(const SimulationEngine& eng, int team, PairPlan& plan) {
  const GridDesc& d = eng.grid.desc;
  const int64_t X = d.nx, Y = d.ny;
  if (X < kPairPlanes * team || Y < 3 || d.nz < 1) return false;
  plan.sam[0] = eng.sam;
  plan.sam[1] = eng.sam;
  advanceCounters(plan.sam[1]);

  size_t n = eng.sources.size();
  if (eng.sam.sourceCount >= 0 && static_cast<size_t>(eng.sam.sourceCount) < n)
    n = static_cast<size_t>(eng.sam.sourceCount);
  const int64_t sy = d.nz + 1, sx = (d.ny + 1) * sy;
  plan.sources.clear();
  for (size_t i = 0; i < n; ++i) {
    const int64_t cell = eng.sources[i].cell;
    const int64_t x = cell / sx, y = cell % sx / sy;
    if (cell < 0 || x >= X || y >= Y) return false;
    plan.sources.push_back({x, y, static_cast<int64_t>(i)});
  }
  std::stable_sort(plan.sources.begin(), plan.sources.end(), byPlaneAndRow);

  plan.ports.clear();
  for (size_t i = 0; i < eng.ports.list.size(); ++i) {
    const int64_t cell = eng.ports.list[i].cell;
    plan.ports.push_back({cell / sx, cell % sx / sy, static_cast<int64_t>(i)});
  }
  std::stable_sort(plan.ports.begin(), plan.ports.end(), byPlaneAndRow);

  plan.probes.clear();
  for (int k = 0; k < 2; ++k) plan.measureStep[k] = measureDue(eng, plan.sam[k]);
  if (plan.measureStep[0] || plan.measureStep[1]) {
    for (int64_t p = 0; p < eng.sam.probeCount; ++p) {
      int64_t x, y, z;
      cellCoords(d, static_cast<uint64_t>(eng.probeCells[p]), x, y, z);
      plan.probes.push_back({x, y, p});
    }
    std::stable_sort(plan.probes.begin(), plan.probes.end(), byPlaneAndRow);
  }
  return true;
}

// Blocks of rows of the two-step sweep: the records of about four planes of
// E and H and the copies of both steps stay in the core's cache; three rows
// at least, so that the second step's blocks, one row lower, hold two.
int64_t pairBlockCount(const GridDesc& d, int64_t blockBytes) {
  const int64_t cells = d.nz + 1;
  const int64_t rowBytes =
      cells * int64_t{4 * (sizeof(ECell) + sizeof(HCell)) + 2 * 18 * sizeof(float)};
  const int64_t rows = blockBytes / rowBytes;
  const int64_t byCache = rows < 3 ? d.ny / 3 : (d.ny + rows - 1) / rows;
  const int64_t n = byCache < d.ny / 3 ? byCache : d.ny / 3;
  return n < 1 ? 1 : n;
}

// Two steps in one parallel region. Thread t owns planes [a, b).
// 1. The first step's E boundary of its own planes, then a barrier.
// 2. Block after block of rows: the first step sweeps planes a..b-1 (E of
//    plane a waits, as in the single step, except on thread 0); the second
//    step follows one plane behind, one row lower (its block k holds rows
//    y_k - 1 .. y_{k+1} - 2, so that the rows it reads of the next block are
//    final), over H of planes a+1..b-2 and E of a+2..b-2: those read only
//    the first step's values of this thread's planes. Thread 0 starts both
//    steps at plane 0, the last thread ends the second step at X-1.
// 3. After a barrier, the hand-over at plane a of every thread but the first:
//    the first step's E of plane a; after a barrier the second step's H of
//    planes a-1 and a; after a barrier its E of a-1, a, a+1. The threads
//    have left exactly these. Split by rows between the thread and the one
//    below: E of a row reads no E, H of row y reads E of rows y and y+1 and
//    E of row y reads H of rows y and y-1, final after each barrier; the
//    boundary records of a row (and a Y face, two rows) stay in one part.
void pairTeam(SimulationEngine& eng, int lanes, const PairPlan& plan) {
  GridHolder& g = eng.grid;
  const GridDesc& d = g.desc;
  const int64_t X = d.nx, Y = d.ny;
  const int64_t team = omp_get_num_threads(), t = omp_get_thread_num();
  const int64_t a = X * t / team, b = X * (t + 1) / team;
  const bool bottom = a == 0, top = b == X;
  murERange(eng, a, b);
#pragma omp barrier
  const int64_t first1 = bottom ? 0 : a + 1, last1 = top ? X - 1 : b - 2;
  const int64_t blocks = pairBlockCount(d, eng.sweepBlockBytes);
  const int64_t maxRows = (Y + blocks - 1) / blocks + 1;
  PlaneSweep step0(eng, lanes, 0, maxRows), step1(eng, lanes, 1, maxRows);
  for (int64_t k = 0; k < blocks; ++k) {
    const Rows r0{Y * k / blocks, Y * (k + 1) / blocks};
    const Rows r1{k == 0 ? 0 : r0.y0 - 1, k == blocks - 1 ? Y : r0.y1 - 1};
    step0.begin(r0, a, b - 1, bottom);
    step1.begin(r1, first1, last1, bottom);
    int64_t q = first1;
    for (int64_t x = a; x < b; ++x) {
      step0.plane(x, [&](int64_t p) { finishEPlane(eng, plan, 0, p, r0); });
      // The first step's E (with the second step's E boundary) is now final
      // up to plane c; the second step's H of plane q reads E of q and q+1
      // (the guard plane beyond X-1).
      const int64_t c = x == 0 ? -1 : (x == X - 2 ? X - 3 : x);
      while (q <= last1 && (q + 1 <= c || q == X - 1))
        step1.plane(q++, [&](int64_t p) { finishEPlane(eng, plan, 1, p, r1); });
    }
  }
#pragma omp barrier
  // The hand-overs, in three parts with a barrier between them: the thread
  // takes the upper rows of the one at its own plane a and the lower rows of
  // the one at plane b of the thread above, so that the threads share them.
  struct HandOver {
    int64_t a;
    Rows r;
  };
  const int64_t half = Y >= 4 ? Y / 2 : 0;  // each part two rows at least
  HandOver mine[2];
  int n = 0;
  if (!bottom) mine[n++] = {a, {half, Y}};
  if (!top && half > 0) mine[n++] = {b, {0, half}};
  for (int i = 0; i < n; ++i) {
    ePlane(g, mine[i].a, mine[i].r, lanes);
    finishEPlane(eng, plan, 0, mine[i].a, mine[i].r);
  }
#pragma omp barrier
  for (int i = 0; i < n; ++i)
    for (int64_t x : {mine[i].a - 1, mine[i].a}) {
      hPlane(g, x, mine[i].r, lanes);
      murHAfterPlane(eng, x, mine[i].r.y0, mine[i].r.y1);
    }
#pragma omp barrier
  for (int i = 0; i < n; ++i)
    for (int64_t x : {mine[i].a - 1, mine[i].a, mine[i].a + 1}) {
      ePlane(g, x, mine[i].r, lanes);
      finishEPlane(eng, plan, 1, x, mine[i].r);
    }
}

}  // namespace

void fieldPassesCpu(SimulationEngine& eng) {
  const int lanes = laneCount(eng);
#pragma omp parallel
  {
    const int64_t X = eng.grid.desc.nx;
    const int64_t team = omp_get_num_threads(), t = omp_get_thread_num();
    if (canSweep(eng.grid.desc, static_cast<int>(team))) {
      // The E boundary of the thread's own planes, those it sweeps next.
      if (eng.pmlCells == 0) murERange(eng, X * t / team, X * (t + 1) / team);
#pragma omp barrier
      sweepTeam(eng, lanes);
    } else if (eng.pmlCells > 0) {
      fieldPassesPmlTeam(eng);
    } else {
      murETeam(eng);  // ends with a barrier
      hPassTeam(eng.grid, lanes);
      murHTeam(eng);
      ePassTeam(eng.grid, lanes);
    }
  }
}

bool stepPairCpu(SimulationEngine& eng) {
  // The lists keep their memory between calls. Inside the parallel region
  // the name of a thread_local would mean each thread's own copy, so the
  // team gets this thread's by reference.
  thread_local PairPlan plans;
  PairPlan& plan = plans;
  if (!planPair(eng, omp_get_max_threads(), plan)) return false;
  const int lanes = laneCount(eng);
  reservePortSteps(eng, 2);
#pragma omp parallel
  pairTeam(eng, lanes, plan);
  if (!eng.ports.list.empty()) eng.ports.step += 2;
  eng.sam = plan.sam[1];
  advanceCounters(eng.sam);
  return true;
}

void updateHPlane(SimulationEngine& eng, int64_t x) {
  hPlane(eng.grid, x, {0, eng.grid.desc.ny}, laneCount(eng));
}

void updateEPlane(SimulationEngine& eng, int64_t x) {
  ePlane(eng.grid, x, {0, eng.grid.desc.ny}, laneCount(eng));
}

void updateH(SimulationEngine& eng) {
  const int lanes = laneCount(eng);
#pragma omp parallel
  hPassTeam(eng.grid, lanes);
}

void updateE(SimulationEngine& eng) {
  const int lanes = laneCount(eng);
#pragma omp parallel
  ePassTeam(eng.grid, lanes);
}

}  // namespace tavro
