// The time-stepping core on the CPU: the H and E passes and the fixed order of
// one time step. The per-cell arithmetic is in field_kernels.h; this file only
// decides how cells are visited and how their values reach the arithmetic.
//
// Two forms of the passes exist and give identical bits:
// - the plain loops (updateHPlain, updateEPlain, stepBatchReference): one
//   scalar cell update after the other over the (x, y) rows, the
//   straightforward statement of the step, kept as the reference;
// - the fast loops (updateH, updateE, stepBatch, stepInteractive): the same
//   formulas instantiated on eight cells at a time (one cell per vector lane)
//   where the CPU has AVX2, the four passes of a step in one parallel region,
//   and the H update, H boundary and E update swept together along x.
// The threads take contiguous ranges of x planes (static schedule); every row
// updates its z run of cells, whose elements lie next to each other. An
// update writes only the elements of its own cells and reads only the other
// field, so the passes need no locks; the order in which planes are visited
// only has to respect which values each cell reads (see sweepTeam).
#include "engine/field_update.h"

#include <omp.h>

#include "engine/boundary_mur.h"
#include "engine/colouring.h"
#include "engine/field_kernels.h"
#include "engine/grid_index.h"
#include "engine/probes.h"
#include "engine/sources.h"

// The AVX2 path relies on GCC's target pragma; other compilers take the scalar loops.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#define TAVRO_HAVE_AVX2_PATH 1
#endif

namespace tavro {

namespace {

// Strides of the field arrays in elements: one step along y and along x (the
// z stride is 1). E and H share them.
struct Strides {
  uint64_t sy, sx;
};

Strides stridesOf(const GridDesc& d) {
  const uint64_t sy = static_cast<uint64_t>(d.nz) + 1;
  return {sy, (static_cast<uint64_t>(d.ny) + 1) * sy};
}

// One row of cells, scalar: H (E) of cells (x, y, z0..Z-1), starting at the
// elements of cell (x, y, z0).
void hRowScalar(HCell* h, const ECell* e, int64_t z0, int64_t Z, Strides s) {
  for (int64_t z = z0; z < Z; ++z) updateHCell(h[z], e + z, s.sy, s.sx);
}
void eRowScalar(ECell* e, const HCell* h, int64_t z0, int64_t Z, Strides s) {
  for (int64_t z = z0; z < Z; ++z) updateECell(e[z], h + z, s.sy, s.sx);
}

#if TAVRO_HAVE_AVX2_PATH
#pragma GCC push_options
#pragma GCC target("avx2")

// Eight cells of one row, one per lane, cell z0 + i in lane i.
using Lanes = __m256;

// sqrt(q) * sign(s) lane by lane, without branches: the sign is
// (s > 0 ? 1 : 0) | (s < 0 ? -1 : 0) as bit masks, and a NaN compares false
// both ways.
struct LaneMath {
  static void signedRoot(Lanes& out, const Lanes& q, const Lanes& s) {
    const Lanes zero = _mm256_setzero_ps();
    const Lanes sign =
        _mm256_or_ps(_mm256_and_ps(_mm256_cmp_ps(s, zero, _CMP_GT_OQ), _mm256_set1_ps(1.0f)),
                     _mm256_and_ps(_mm256_cmp_ps(s, zero, _CMP_LT_OQ), _mm256_set1_ps(-1.0f)));
    out = _mm256_mul_ps(_mm256_sqrt_ps(q), sign);
  }
};

// Floats k..k+3 of eight consecutive records of `n` floats (p points at float
// k of the first record), as four vectors: a = float k of the eight records,
// b = float k+1, and so on. Records i and i+4 share a 256-bit register,
// one per 128-bit half; a 4 x 4 transpose within each half then sorts the
// floats into lanes. The loads never reach past float k+3 of the last record.
inline void loadColumns(const float* p, int n, Lanes& a, Lanes& b, Lanes& c, Lanes& d) {
  const Lanes r0 = _mm256_loadu2_m128(p + 4 * n, p);
  const Lanes r1 = _mm256_loadu2_m128(p + 5 * n, p + n);
  const Lanes r2 = _mm256_loadu2_m128(p + 6 * n, p + 2 * n);
  const Lanes r3 = _mm256_loadu2_m128(p + 7 * n, p + 3 * n);
  const Lanes t0 = _mm256_unpacklo_ps(r0, r1);
  const Lanes t1 = _mm256_unpackhi_ps(r0, r1);
  const Lanes t2 = _mm256_unpacklo_ps(r2, r3);
  const Lanes t3 = _mm256_unpackhi_ps(r2, r3);
  a = _mm256_shuffle_ps(t0, t2, 0x44);
  b = _mm256_shuffle_ps(t0, t2, 0xEE);
  c = _mm256_shuffle_ps(t1, t3, 0x44);
  d = _mm256_shuffle_ps(t1, t3, 0xEE);
}

// The inverse: writes floats k..k+3 of eight consecutive records.
inline void storeColumns(float* p, int n, Lanes a, Lanes b, Lanes c, Lanes d) {
  const Lanes t0 = _mm256_unpacklo_ps(a, b);
  const Lanes t1 = _mm256_unpackhi_ps(a, b);
  const Lanes t2 = _mm256_unpacklo_ps(c, d);
  const Lanes t3 = _mm256_unpackhi_ps(c, d);
  const Lanes r0 = _mm256_shuffle_ps(t0, t2, 0x44);
  const Lanes r1 = _mm256_shuffle_ps(t0, t2, 0xEE);
  const Lanes r2 = _mm256_shuffle_ps(t1, t3, 0x44);
  const Lanes r3 = _mm256_shuffle_ps(t1, t3, 0xEE);
  _mm256_storeu2_m128(p + 4 * n, p, r0);
  _mm256_storeu2_m128(p + 5 * n, p + n, r1);
  _mm256_storeu2_m128(p + 6 * n, p + 2 * n, r2);
  _mm256_storeu2_m128(p + 7 * n, p + 3 * n, r3);
}

constexpr int kE = sizeof(ECell) / sizeof(float);  // floats per E element (10)
constexpr int kH = sizeof(HCell) / sizeof(float);  // floats per H element (7)

// H of one row, eight cells at a time; the cells left over at the end of
// the row go through the scalar update. `flatten` inlines the formulas and
// the lane maths into this AVX2 function.
__attribute__((flatten)) void hRowAvx2(HCell* h, const ECell* e, int64_t Z, Strides s) {
  const int64_t ey = static_cast<int64_t>(s.sy) * kE, ex = static_cast<int64_t>(s.sx) * kE;
  int64_t z = 0;
  for (; z + 8 <= Z; z += 8) {
    float* hp = reinterpret_cast<float*>(h + z);
    const float* ep = reinterpret_cast<const float*>(e + z);
    Lanes hx, hy, hz, hmag, chx, chy, chz, skip;
    loadColumns(hp, kH, hx, hy, hz, hmag);
    loadColumns(hp + 3, kH, skip, chx, chy, chz);  // floats 3..6: within the element
    Lanes vx, vy, vz, xZ, yZ, xY, zY, yX, zX;
    loadColumns(ep, kE, vx, vy, vz, skip);
    loadColumns(ep + kE, kE, xZ, yZ, skip, skip);  // cells z+1 (the last one may be the guard)
    loadColumns(ep + ey, kE, xY, skip, zY, skip);
    loadColumns(ep + ex, kE, skip, yX, zX, skip);
    updateHValues<LaneMath>(hx, hy, hz, hmag, chx, chy, chz, vx, vy, vz, xZ, yZ, xY, zY, yX, zX);
    storeColumns(hp, kH, hx, hy, hz, hmag);
  }
  hRowScalar(h, e, z, Z, s);
}

// E of one row, eight cells at a time, then the leftover cells.
__attribute__((flatten)) void eRowAvx2(ECell* e, const HCell* h, int64_t Z, Strides s) {
  const int64_t hy = static_cast<int64_t>(s.sy) * kH, hx = static_cast<int64_t>(s.sx) * kH;
  int64_t z = 0;
  for (; z + 8 <= Z; z += 8) {
    float* ep = reinterpret_cast<float*>(e + z);
    const float* hp = reinterpret_cast<const float*>(h + z);
    Lanes vx, vy, vz, emag, cax, cay, caz, cbx, cby, cbz, skip;
    loadColumns(ep, kE, vx, vy, vz, emag);
    loadColumns(ep + 4, kE, cax, cay, caz, cbx);
    loadColumns(ep + 6, kE, skip, skip, cby, cbz);  // floats 6..9: within the element
    Lanes ux, uy, uz, xZ, yZ, xY, zY, yX, zX;
    loadColumns(hp, kH, ux, uy, uz, skip);
    loadColumns(hp - kH, kH, xZ, yZ, skip, skip);  // cells z-1 (the first may be the guard)
    loadColumns(hp - hy, kH, xY, skip, zY, skip);
    loadColumns(hp - hx, kH, skip, yX, zX, skip);
    updateEValues<LaneMath>(vx, vy, vz, emag, cax, cay, caz, cbx, cby, cbz, ux, uy, uz, xZ, yZ, xY,
                            zY, yX, zX);
    storeColumns(ep, kE, vx, vy, vz, emag);
  }
  eRowScalar(e, h, z, Z, s);
}

#pragma GCC pop_options

// Whether the CPU runs the AVX2 rows (checked once).
bool useAvx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}
#else
bool useAvx2() { return false; }
#endif

// H (E) of every row of plane x.
void hPlane(GridHolder& g, int64_t x, bool vector) {
  const GridDesc& d = g.desc;
  const Strides s = stridesOf(d);
  for (int64_t y = 0; y < d.ny; ++y) {
    HCell* hr = g.h.data() + hIndex(d, x, y, 0);
    const ECell* er = g.e.data() + eIndex(d, x, y, 0);
#if TAVRO_HAVE_AVX2_PATH
    if (vector) {
      hRowAvx2(hr, er, d.nz, s);
      continue;
    }
#endif
    hRowScalar(hr, er, 0, d.nz, s);
  }
  (void)vector;
}

void ePlane(GridHolder& g, int64_t x, bool vector) {
  const GridDesc& d = g.desc;
  const Strides s = stridesOf(d);
  for (int64_t y = 0; y < d.ny; ++y) {
    ECell* er = g.e.data() + eIndex(d, x, y, 0);
    const HCell* hr = g.h.data() + hIndex(d, x, y, 0);
#if TAVRO_HAVE_AVX2_PATH
    if (vector) {
      eRowAvx2(er, hr, d.nz, s);
      continue;
    }
#endif
    eRowScalar(er, hr, 0, d.nz, s);
  }
  (void)vector;
}

// The H and E passes for a caller inside a parallel region: the planes split
// statically among the team, a barrier at the end.
void hPassTeam(GridHolder& g, bool vector) {
#pragma omp for schedule(static)
  for (int64_t x = 0; x < g.desc.nx; ++x) hPlane(g, x, vector);
}

void ePassTeam(GridHolder& g, bool vector) {
#pragma omp for schedule(static)
  for (int64_t x = 0; x < g.desc.nx; ++x) ePlane(g, x, vector);
}

// The H boundary of plane x in the sweep below, once H of planes 0..x is
// updated: its Z faces; at x = 1 the X face x = 0 and then the Y faces of
// planes 0 and 1; at x = X-1 the X face x = X-1 and the Y faces of planes
// otherwise the Y faces of plane x (planes 0 and X-2 wait for
// their X face). Every boundary value thus sees exactly what the separate
// passes Z, X, Y let it see.
void murHAfterPlane(SimulationEngine& eng, int64_t x) {
  const int64_t X = eng.grid.desc.nx;
  murHZPlane(eng, x);
  if (x == 1) {
    murHXNearFace(eng);
    murHYPlane(eng, 0);
    murHYPlane(eng, 1);
  } else if (x == X - 1) {
    murHXFarFace(eng);
    murHYPlane(eng, X - 2);
    murHYPlane(eng, X - 1);
  } else if (x != 0 && x != X - 2) {
    murHYPlane(eng, x);
  }
}

// Whether the team can run the sweep: four planes at least (so that the two
// X faces lie apart) and two per thread.
bool canSweep(const GridDesc& d, int team) { return d.nx >= 4 && d.nx >= 2 * int64_t{team}; }

// H update, H boundary and E update in one sweep along x, so that each plane
// of H is still in cache when the E update reads it and each plane of E when
// it is updated after the H update read it: the records move 136 bytes per
// cell instead of 204. Each thread sweeps its own range [a, b) of planes:
// H of plane x, its boundary, then E of plane x-1, whose H neighbours (planes
// x-1 and x-2) are final and whose E no H update still needs. E of the first
// plane a waits for the barrier, because the thread below reads it for its
// last H plane and provides the H plane a-1 it needs.
void sweepTeam(SimulationEngine& eng, bool vector) {
  GridHolder& g = eng.grid;
  const int64_t X = g.desc.nx;
  const int64_t team = omp_get_num_threads(), t = omp_get_thread_num();
  const int64_t a = X * t / team, b = X * (t + 1) / team;
  for (int64_t x = a; x < b; ++x) {
    hPlane(g, x, vector);
    murHAfterPlane(eng, x);
    if (x - 1 > a) ePlane(g, x - 1, vector);
  }
  if (b - 1 > a) ePlane(g, b - 1, vector);
#pragma omp barrier
  ePlane(g, a, vector);
}

// Items 1 to 4 of a step in one parallel region: E boundary (correcting the
// faces left by the previous E update), then H update, H boundary and E
// update, swept together where the box allows it.
void fieldPasses(SimulationEngine& eng) {
  const bool vector = useAvx2();
#pragma omp parallel
  {
    murETeam(eng);  // ends with a barrier
    if (canSweep(eng.grid.desc, omp_get_num_threads())) {
      sweepTeam(eng, vector);
    } else {
      hPassTeam(eng.grid, vector);
      murHTeam(eng);
      ePassTeam(eng.grid, vector);
    }
  }
}

}  // namespace

void updateH(SimulationEngine& eng) {
  const bool vector = useAvx2();
#pragma omp parallel
  hPassTeam(eng.grid, vector);
}

void updateE(SimulationEngine& eng) {
  const bool vector = useAvx2();
#pragma omp parallel
  ePassTeam(eng.grid, vector);
}

void updateHPlain(SimulationEngine& eng) {
  GridHolder& g = eng.grid;
  const GridDesc d = g.desc;
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  const Strides s = stridesOf(d);
  const ECell* e = g.e.data();
  HCell* h = g.h.data();
#pragma omp parallel for collapse(2) schedule(static)
  for (int64_t x = 0; x < X; ++x) {
    for (int64_t y = 0; y < Y; ++y) {
      const ECell* ec = e + eIndex(d, x, y, 0);
      HCell* hc = h + hIndex(d, x, y, 0);
      for (int64_t z = 0; z < Z; ++z) updateHCell(hc[z], ec + z, s.sy, s.sx);
    }
  }
}

void updateEPlain(SimulationEngine& eng) {
  GridHolder& g = eng.grid;
  const GridDesc d = g.desc;
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  const Strides s = stridesOf(d);
  ECell* e = g.e.data();
  const HCell* h = g.h.data();
#pragma omp parallel for collapse(2) schedule(static)
  for (int64_t x = 0; x < X; ++x) {
    for (int64_t y = 0; y < Y; ++y) {
      ECell* ec = e + eIndex(d, x, y, 0);
      const HCell* hc = h + hIndex(d, x, y, 0);
      for (int64_t z = 0; z < Z; ++z) updateECell(ec[z], hc + z, s.sy, s.sx);
    }
  }
}

void stepBatch(SimulationEngine& eng) {
  fieldPasses(eng);
  applySources(eng);  // on this thread, in list order
  measure(eng);       // records a sample only when one is due
  advanceCounters(eng.sam);
}

void stepInteractive(SimulationEngine& eng) {
  fieldPasses(eng);
  applySources(eng);
  measure(eng);
  ColourCells(eng);
  advanceCounters(eng.sam);
}

void stepBatchReference(SimulationEngine& eng) {
  murE(eng);
  updateHPlain(eng);
  murH(eng);
  updateEPlain(eng);
  applySources(eng);
  measure(eng);
  advanceCounters(eng.sam);
}

}  // namespace tavro
