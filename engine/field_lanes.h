// Cell rows of the CPU field passes in vector lanes: the scalar row updates,
// and the same formulas of field_kernels.h instantiated on eight (AVX2) or
// sixteen (AVX-512) cells at a time, one cell per lane, with the transposes
// between the cell records and the lanes. Every lane performs the float32
// operations of the scalar update in the same order, so all widths give
// identical bits. Private to the CPU pass files (field_update.cpp, field_pair.cpp).
#pragma once

#include <cstdint>

#include "engine/engine.h"
#include "engine/field_kernels.h"
#include "engine/grid_index.h"

// The AVX2 path relies on GCC's target pragma; other compilers take the scalar loops.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#define TAVRO_HAVE_AVX2_PATH 1
#endif

namespace tavro {

namespace {

// One row of cells, scalar: H (E) of cells (x, y, z0..Z-1), starting at the
// elements of cell (x, y, z0).
inline void hRowScalar(HCell* h, const ECell* e, int64_t z0, int64_t Z, Strides s) {
  for (int64_t z = z0; z < Z; ++z) updateHCell(h[z], e + z, s.sy, s.sx);
}
inline void eRowScalar(ECell* e, const HCell* h, int64_t z0, int64_t Z, Strides s) {
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
inline __attribute__((flatten)) void hRowAvx2(HCell* h, const ECell* e, int64_t z, int64_t Z,
                                              Strides s) {
  const int64_t ey = static_cast<int64_t>(s.sy) * kE, ex = static_cast<int64_t>(s.sx) * kE;
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
inline __attribute__((flatten)) void eRowAvx2(ECell* e, const HCell* h, int64_t z, int64_t Z,
                                              Strides s) {
  const int64_t hy = static_cast<int64_t>(s.sy) * kH, hx = static_cast<int64_t>(s.sx) * kH;
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

#pragma GCC push_options
#pragma GCC target("avx2,avx512f")
// GCC 12's AVX-512 intrinsics start some results from an undefined vector,
// which its flow analysis reports as maybe-uninitialized where they inline.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Sixteen cells of one row, one per lane, cell z0 + i in lane i.
using Lanes16 = __m512;

struct Lane16Math {
  static void signedRoot(Lanes16& out, const Lanes16& q, const Lanes16& s) {
    const Lanes16 zero = _mm512_setzero_ps();
    const __mmask16 pos = _mm512_cmp_ps_mask(s, zero, _CMP_GT_OQ);
    const __mmask16 neg = _mm512_cmp_ps_mask(s, zero, _CMP_LT_OQ);
    const Lanes16 sign = _mm512_mask_mov_ps(_mm512_maskz_mov_ps(pos, _mm512_set1_ps(1.0f)), neg,
                                            _mm512_set1_ps(-1.0f));
    out = _mm512_mul_ps(_mm512_sqrt_ps(q), sign);
  }
};

// Floats k..k+3 of sixteen consecutive records of `n` floats as four vectors
// (p points at float k of the first record). Row j gathers records j, j+4,
// j+8 and j+12 into its four 128-bit blocks; a 4 x 4 transpose
// within each block then sorts the floats into lanes, record i in lane i.
inline Lanes16 gatherRow(const float* p, int n, int j) {
  Lanes16 r = _mm512_castps128_ps512(_mm_loadu_ps(p + j * n));
  r = _mm512_insertf32x4(r, _mm_loadu_ps(p + (j + 4) * n), 1);
  r = _mm512_insertf32x4(r, _mm_loadu_ps(p + (j + 8) * n), 2);
  r = _mm512_insertf32x4(r, _mm_loadu_ps(p + (j + 12) * n), 3);
  return r;
}

inline void loadColumns16(const float* p, int n, Lanes16& a, Lanes16& b, Lanes16& c, Lanes16& d) {
  const Lanes16 r0 = gatherRow(p, n, 0), r1 = gatherRow(p, n, 1);
  const Lanes16 r2 = gatherRow(p, n, 2), r3 = gatherRow(p, n, 3);
  const Lanes16 t0 = _mm512_unpacklo_ps(r0, r1);
  const Lanes16 t1 = _mm512_unpackhi_ps(r0, r1);
  const Lanes16 t2 = _mm512_unpacklo_ps(r2, r3);
  const Lanes16 t3 = _mm512_unpackhi_ps(r2, r3);
  a = _mm512_shuffle_ps(t0, t2, 0x44);
  b = _mm512_shuffle_ps(t0, t2, 0xEE);
  c = _mm512_shuffle_ps(t1, t3, 0x44);
  d = _mm512_shuffle_ps(t1, t3, 0xEE);
}

// Requests the cache lines of `floats` floats a few kilobytes past p: the
// rows of a block lie one after the other, so this runs ahead of the stream
// of cells the sweep brings in from memory for the first time in a step.
inline void prefetchAhead(const float* p, int floats) {
  constexpr int kAheadBytes = 4096;
  const char* c = reinterpret_cast<const char*>(p) + kAheadBytes;
  for (int i = 0; i < floats * 4; i += 64) _mm_prefetch(c + i, _MM_HINT_T0);
}

inline void scatterRow(float* p, int n, int j, Lanes16 r) {
  _mm_storeu_ps(p + j * n, _mm512_castps512_ps128(r));
  _mm_storeu_ps(p + (j + 4) * n, _mm512_extractf32x4_ps(r, 1));
  _mm_storeu_ps(p + (j + 8) * n, _mm512_extractf32x4_ps(r, 2));
  _mm_storeu_ps(p + (j + 12) * n, _mm512_extractf32x4_ps(r, 3));
}

inline void storeColumns16(float* p, int n, Lanes16 a, Lanes16 b, Lanes16 c, Lanes16 d) {
  const Lanes16 t0 = _mm512_unpacklo_ps(a, b);
  const Lanes16 t1 = _mm512_unpackhi_ps(a, b);
  const Lanes16 t2 = _mm512_unpacklo_ps(c, d);
  const Lanes16 t3 = _mm512_unpackhi_ps(c, d);
  scatterRow(p, n, 0, _mm512_shuffle_ps(t0, t2, 0x44));
  scatterRow(p, n, 1, _mm512_shuffle_ps(t0, t2, 0xEE));
  scatterRow(p, n, 2, _mm512_shuffle_ps(t1, t3, 0x44));
  scatterRow(p, n, 3, _mm512_shuffle_ps(t1, t3, 0xEE));
}

// H (E) of one row, sixteen cells at a time, every neighbour transposed from
// the records; the sweep uses the column copies below instead, these serve
// the separate passes and the first plane of each thread.
inline __attribute__((flatten)) void hRowAvx512(HCell* h, const ECell* e, int64_t Z, Strides s) {
  const int64_t ey = static_cast<int64_t>(s.sy) * kE, ex = static_cast<int64_t>(s.sx) * kE;
  int64_t z = 0;
  for (; z + 16 <= Z; z += 16) {
    float* hp = reinterpret_cast<float*>(h + z);
    const float* ep = reinterpret_cast<const float*>(e + z);
    prefetchAhead(ep + ex, 16 * kE);
    prefetchAhead(hp, 16 * kH);
    Lanes16 hx, hy, hz, hmag, chx, chy, chz, skip;
    loadColumns16(hp, kH, hx, hy, hz, hmag);
    loadColumns16(hp + 3, kH, skip, chx, chy, chz);
    Lanes16 vx, vy, vz, xZ, yZ, xY, zY, yX, zX;
    loadColumns16(ep, kE, vx, vy, vz, skip);
    loadColumns16(ep + kE, kE, xZ, yZ, skip, skip);
    loadColumns16(ep + ey, kE, xY, skip, zY, skip);
    loadColumns16(ep + ex, kE, skip, yX, zX, skip);
    updateHValues<Lane16Math>(hx, hy, hz, hmag, chx, chy, chz, vx, vy, vz, xZ, yZ, xY, zY, yX, zX);
    storeColumns16(hp, kH, hx, hy, hz, hmag);
  }
  hRowAvx2(h, e, z, Z, s);
}

inline __attribute__((flatten)) void eRowAvx512(ECell* e, const HCell* h, int64_t Z, Strides s) {
  const int64_t hy = static_cast<int64_t>(s.sy) * kH, hx = static_cast<int64_t>(s.sx) * kH;
  int64_t z = 0;
  for (; z + 16 <= Z; z += 16) {
    float* ep = reinterpret_cast<float*>(e + z);
    const float* hp = reinterpret_cast<const float*>(h + z);
    Lanes16 vx, vy, vz, emag, cax, cay, caz, cbx, cby, cbz, skip;
    loadColumns16(ep, kE, vx, vy, vz, emag);
    loadColumns16(ep + 4, kE, cax, cay, caz, cbx);
    loadColumns16(ep + 6, kE, skip, skip, cby, cbz);
    Lanes16 ux, uy, uz, xZ, yZ, xY, zY, yX, zX;
    loadColumns16(hp, kH, ux, uy, uz, skip);
    loadColumns16(hp - kH, kH, xZ, yZ, skip, skip);
    loadColumns16(hp - hy, kH, xY, skip, zY, skip);
    loadColumns16(hp - hx, kH, skip, yX, zX, skip);
    updateEValues<Lane16Math>(vx, vy, vz, emag, cax, cay, caz, cbx, cby, cbz, ux, uy, uz, xZ, yZ,
                              xY, zY, yX, zX);
    storeColumns16(ep, kE, vx, vy, vz, emag);
  }
  eRowAvx2(e, h, z, Z, s);
}

#pragma GCC diagnostic pop
#pragma GCC pop_options

// Cells per vector the processor can take: 16 with AVX-512, 8 with AVX2
// (checked once), capped by the engine's maxLanes.
inline int laneCount(const SimulationEngine& eng) {
  static const int widest = __builtin_cpu_supports("avx512f") ? 16
                            : __builtin_cpu_supports("avx2")  ? 8
                                                              : 1;
  return eng.maxLanes < widest ? (eng.maxLanes >= 8 ? 8 : 1) : widest;
}
#else
inline int laneCount(const SimulationEngine&) { return 1; }
#endif

// Rows of one plane: y0 <= y < y1.
struct Rows {
  int64_t y0, y1;
};

// H (E) of rows r of plane x with `lanes` cells per vector.
inline void hPlane(GridHolder& g, int64_t x, Rows r, int lanes) {
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

inline void ePlane(GridHolder& g, int64_t x, Rows r, int lanes) {
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

}  // namespace

}  // namespace tavro
