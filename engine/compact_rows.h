// Cell rows of the compact stepping state: the H and E updates of
// field_kernels.h on the six component arrays, one cell per vector lane,
// with the coefficients taken from the set table. The components load as
// plain vectors (no transposes); the coefficients of a vector of cells that
// share one set, as in most of any model, are one broadcast, the others a
// gather. Private to compact_step.cpp.
#pragma once

#include <cstdint>

#include "engine/compact_state.h"
#include "engine/field_kernels.h"
#include "engine/field_lanes.h"
#include "engine/grid_index.h"

namespace tavro {

namespace {

// The arrays of one row (x, y): E elements from e[0], H elements from h[0],
// the cells' sets from set[0]; sy and sx the strides of the records.
struct CompactRow {
  float *ex, *ey, *ez, *hx, *hy, *hz;
  const uint16_t* set;
  const float* coef[kCoefSlots];
  int64_t sy, sx;
};

inline CompactRow compactRow(CompactState& c, const GridDesc& d, int64_t x, int64_t y) {
  const CompactFields f = c.fieldsView();
  const uint64_t eb = eIndex(d, x, y, 0), hb = hIndex(d, x, y, 0);
  const Strides s = stridesOf(d);
  CompactRow r{f.e.c[0] + eb,
               f.e.c[1] + eb,
               f.e.c[2] + eb,
               f.h.c[0] + hb,
               f.h.c[1] + hb,
               f.h.c[2] + hb,
               c.set.data() + eb,
               {},
               static_cast<int64_t>(s.sy),
               static_cast<int64_t>(s.sx)};
  for (int k = 0; k < kCoefSlots; ++k) r.coef[k] = c.coefs(k);
  return r;
}

inline void hCellsScalar(const CompactRow& r, int64_t z, int64_t Z) {
  const int64_t sy = r.sy, sx = r.sx;
  for (; z < Z; ++z) {
    const uint16_t k = r.set[z];
    updateHComponents(r.hx[z], r.hy[z], r.hz[z], r.coef[kChx][k], r.coef[kChy][k], r.coef[kChz][k],
                      r.ex[z], r.ey[z], r.ez[z], r.ex[z + 1], r.ey[z + 1], r.ex[z + sy],
                      r.ez[z + sy], r.ey[z + sx], r.ez[z + sx]);
  }
}

inline void eCellsScalar(const CompactRow& r, int64_t z, int64_t Z) {
  const int64_t sy = r.sy, sx = r.sx;
  for (; z < Z; ++z) {
    const uint16_t k = r.set[z];
    updateEComponents(r.ex[z], r.ey[z], r.ez[z], r.coef[kCax][k], r.coef[kCay][k], r.coef[kCaz][k],
                      r.coef[kCbx][k], r.coef[kCby][k], r.coef[kCbz][k], r.hx[z], r.hy[z], r.hz[z],
                      r.hx[z - 1], r.hy[z - 1], r.hx[z - sy], r.hz[z - sy], r.hy[z - sx],
                      r.hz[z - sx]);
  }
}

#if TAVRO_HAVE_AVX2_PATH
#pragma GCC push_options
#pragma GCC target("avx2")

// The sets of eight cells: one set for all, or their indices for a gather.
struct Sets8 {
  bool uniform;
  uint16_t first;
  __m256i index;
};

inline Sets8 sets8(const uint16_t* s) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i same = _mm_cmpeq_epi16(v, _mm_set1_epi16(static_cast<short>(s[0])));
  Sets8 r{_mm_movemask_epi8(same) == 0xffff, s[0], _mm256_setzero_si256()};
  if (!r.uniform) r.index = _mm256_cvtepu16_epi32(v);
  return r;
}

inline Lanes coef8(const float* table, const Sets8& s) {
  return s.uniform ? _mm256_set1_ps(table[s.first]) : _mm256_i32gather_ps(table, s.index, 4);
}

inline __attribute__((flatten)) void hCells8(const CompactRow& r, int64_t& z, int64_t Z) {
  const int64_t sy = r.sy, sx = r.sx;
  for (; z + 8 <= Z; z += 8) {
    const Sets8 k = sets8(r.set + z);
    Lanes hx = _mm256_loadu_ps(r.hx + z), hy = _mm256_loadu_ps(r.hy + z),
          hz = _mm256_loadu_ps(r.hz + z);
    const Lanes chx = coef8(r.coef[kChx], k), chy = coef8(r.coef[kChy], k),
                chz = coef8(r.coef[kChz], k);
    const Lanes vx = _mm256_loadu_ps(r.ex + z), vy = _mm256_loadu_ps(r.ey + z),
                vz = _mm256_loadu_ps(r.ez + z);
    const Lanes xZ = _mm256_loadu_ps(r.ex + z + 1), yZ = _mm256_loadu_ps(r.ey + z + 1);
    const Lanes xY = _mm256_loadu_ps(r.ex + z + sy), zY = _mm256_loadu_ps(r.ez + z + sy);
    const Lanes yX = _mm256_loadu_ps(r.ey + z + sx), zX = _mm256_loadu_ps(r.ez + z + sx);
    updateHComponents(hx, hy, hz, chx, chy, chz, vx, vy, vz, xZ, yZ, xY, zY, yX, zX);
    _mm256_storeu_ps(r.hx + z, hx);
    _mm256_storeu_ps(r.hy + z, hy);
    _mm256_storeu_ps(r.hz + z, hz);
  }
}

inline __attribute__((flatten)) void eCells8(const CompactRow& r, int64_t& z, int64_t Z) {
  const int64_t sy = r.sy, sx = r.sx;
  for (; z + 8 <= Z; z += 8) {
    const Sets8 k = sets8(r.set + z);
    Lanes ex = _mm256_loadu_ps(r.ex + z), ey = _mm256_loadu_ps(r.ey + z),
          ez = _mm256_loadu_ps(r.ez + z);
    const Lanes cax = coef8(r.coef[kCax], k), cay = coef8(r.coef[kCay], k),
                caz = coef8(r.coef[kCaz], k), cbx = coef8(r.coef[kCbx], k),
                cby = coef8(r.coef[kCby], k), cbz = coef8(r.coef[kCbz], k);
    const Lanes ux = _mm256_loadu_ps(r.hx + z), uy = _mm256_loadu_ps(r.hy + z),
                uz = _mm256_loadu_ps(r.hz + z);
    const Lanes xZ = _mm256_loadu_ps(r.hx + z - 1), yZ = _mm256_loadu_ps(r.hy + z - 1);
    const Lanes xY = _mm256_loadu_ps(r.hx + z - sy), zY = _mm256_loadu_ps(r.hz + z - sy);
    const Lanes yX = _mm256_loadu_ps(r.hy + z - sx), zX = _mm256_loadu_ps(r.hz + z - sx);
    updateEComponents(ex, ey, ez, cax, cay, caz, cbx, cby, cbz, ux, uy, uz, xZ, yZ, xY, zY, yX, zX);
    _mm256_storeu_ps(r.ex + z, ex);
    _mm256_storeu_ps(r.ey + z, ey);
    _mm256_storeu_ps(r.ez + z, ez);
  }
}

#pragma GCC pop_options

#pragma GCC push_options
#pragma GCC target("avx2,avx512f")
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

struct Sets16 {
  bool uniform;
  uint16_t first;
  __m512i index;
};

inline Sets16 sets16(const uint16_t* s) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
  const __m256i same = _mm256_cmpeq_epi16(v, _mm256_set1_epi16(static_cast<short>(s[0])));
  Sets16 r{_mm256_movemask_epi8(same) == -1, s[0], _mm512_setzero_si512()};
  if (!r.uniform) r.index = _mm512_cvtepu16_epi32(v);
  return r;
}

inline Lanes16 coef16(const float* table, const Sets16& s) {
  return s.uniform ? _mm512_set1_ps(table[s.first]) : _mm512_i32gather_ps(s.index, table, 4);
}

inline __attribute__((flatten)) void hCells16(const CompactRow& r, int64_t& z, int64_t Z) {
  const int64_t sy = r.sy, sx = r.sx;
  for (; z + 16 <= Z; z += 16) {
    const Sets16 k = sets16(r.set + z);
    Lanes16 hx = _mm512_loadu_ps(r.hx + z), hy = _mm512_loadu_ps(r.hy + z),
            hz = _mm512_loadu_ps(r.hz + z);
    const Lanes16 chx = coef16(r.coef[kChx], k), chy = coef16(r.coef[kChy], k),
                  chz = coef16(r.coef[kChz], k);
    const Lanes16 vx = _mm512_loadu_ps(r.ex + z), vy = _mm512_loadu_ps(r.ey + z),
                  vz = _mm512_loadu_ps(r.ez + z);
    const Lanes16 xZ = _mm512_loadu_ps(r.ex + z + 1), yZ = _mm512_loadu_ps(r.ey + z + 1);
    const Lanes16 xY = _mm512_loadu_ps(r.ex + z + sy), zY = _mm512_loadu_ps(r.ez + z + sy);
    const Lanes16 yX = _mm512_loadu_ps(r.ey + z + sx), zX = _mm512_loadu_ps(r.ez + z + sx);
    updateHComponents(hx, hy, hz, chx, chy, chz, vx, vy, vz, xZ, yZ, xY, zY, yX, zX);
    _mm512_storeu_ps(r.hx + z, hx);
    _mm512_storeu_ps(r.hy + z, hy);
    _mm512_storeu_ps(r.hz + z, hz);
  }
}

inline __attribute__((flatten)) void eCells16(const CompactRow& r, int64_t& z, int64_t Z) {
  const int64_t sy = r.sy, sx = r.sx;
  for (; z + 16 <= Z; z += 16) {
    const Sets16 k = sets16(r.set + z);
    Lanes16 ex = _mm512_loadu_ps(r.ex + z), ey = _mm512_loadu_ps(r.ey + z),
            ez = _mm512_loadu_ps(r.ez + z);
    const Lanes16 cax = coef16(r.coef[kCax], k), cay = coef16(r.coef[kCay], k),
                  caz = coef16(r.coef[kCaz], k), cbx = coef16(r.coef[kCbx], k),
                  cby = coef16(r.coef[kCby], k), cbz = coef16(r.coef[kCbz], k);
    const Lanes16 ux = _mm512_loadu_ps(r.hx + z), uy = _mm512_loadu_ps(r.hy + z),
                  uz = _mm512_loadu_ps(r.hz + z);
    const Lanes16 xZ = _mm512_loadu_ps(r.hx + z - 1), yZ = _mm512_loadu_ps(r.hy + z - 1);
    const Lanes16 xY = _mm512_loadu_ps(r.hx + z - sy), zY = _mm512_loadu_ps(r.hz + z - sy);
    const Lanes16 yX = _mm512_loadu_ps(r.hy + z - sx), zX = _mm512_loadu_ps(r.hz + z - sx);
    updateEComponents(ex, ey, ez, cax, cay, caz, cbx, cby, cbz, ux, uy, uz, xZ, yZ, xY, zY, yX, zX);
    _mm512_storeu_ps(r.ex + z, ex);
    _mm512_storeu_ps(r.ey + z, ey);
    _mm512_storeu_ps(r.ez + z, ez);
  }
}

#pragma GCC diagnostic pop
#pragma GCC pop_options
#endif

// H (E) of row (x, y) with `lanes` cells per vector, the rest one by one.
inline void hRowCompact(CompactState& c, const GridDesc& d, int64_t x, int64_t y, int lanes) {
  const CompactRow r = compactRow(c, d, x, y);
  int64_t z = 0;
#if TAVRO_HAVE_AVX2_PATH
  if (lanes == 16) hCells16(r, z, d.nz);
  if (lanes >= 8) hCells8(r, z, d.nz);
#else
  (void)lanes;
#endif
  hCellsScalar(r, z, d.nz);
}

inline void eRowCompact(CompactState& c, const GridDesc& d, int64_t x, int64_t y, int lanes) {
  const CompactRow r = compactRow(c, d, x, y);
  int64_t z = 0;
#if TAVRO_HAVE_AVX2_PATH
  if (lanes == 16) eCells16(r, z, d.nz);
  if (lanes >= 8) eCells8(r, z, d.nz);
#else
  (void)lanes;
#endif
  eCellsScalar(r, z, d.nz);
}

}  // namespace

}  // namespace tavro
