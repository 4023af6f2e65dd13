// How a row of cells meets the slabs of the absorbing layer: the runs of
// the row that each slab corrects, in the order the corrections apply. The
// records (pml.cpp) and the compact stepping state (pml_compact.cpp) walk
// the same runs.
#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

#include "engine/field_lanes.h"
#include "engine/grid_index.h"
#include "engine/pml_layer.h"

namespace tavro {

// The H (h) or E psi pair of slab cell (x, y, z).
inline PsiPair psiAt(PmlSlab& s, int64_t x, int64_t y, int64_t z, bool h) {
  const int64_t k =
      ((x - s.lo[0]) * (s.hi[1] - s.lo[1]) + (y - s.lo[1])) * (s.hi[2] - s.lo[2]) + (z - s.lo[2]);
  const int first = h ? kPsiH1 : kPsiE1;
  return {s.psiBlock(first) + k, s.psiBlock(first + 1) + k};
}

// The z slabs hold a few cells of each row, and their psi follow one
// another row by row; a row's psi come too late and too few for the
// hardware to see the stream, so each z run asks for the psi of the row
// kRowsAhead rows on, whole cache lines.
inline void prefetchRowsAhead(const PsiPair& p, int64_t n) {
  constexpr uintptr_t kRowsAhead = 12, kLine = 64;
  const uintptr_t bytes = static_cast<uintptr_t>(n) * sizeof(float);
  for (const float* f : {p.first, p.second}) {
    const uintptr_t from = reinterpret_cast<uintptr_t>(f) + kRowsAhead * bytes;
    for (uintptr_t b = 0; b < bytes; b += kLine)
      __builtin_prefetch(reinterpret_cast<const void*>(from + b), 1);
  }
}

// Calls run(axis, z0, n, coefficient, psi) for every slab run of row (x, y)
// of grid `d`, with the psi pair of H (h) or of E: the whole row for each x and y slab the row lies
// in, then the cells at its ends in the z slabs. A cell in several slabs takes their corrections in
// the order x low, x high, y low, y high, z low, z high. Along x and y the coefficient is that of
// the row's position; along z the run's first cell's, the others following it. Returns whether an x
// or y slab corrected the whole row (the cells between the z slabs included).
template <class Run>
bool forPmlRuns(PmlLayer& L, const GridDesc& d, const std::vector<PmlCoef>* coef, int64_t x,
                int64_t y, bool h, Run&& run) {
  const int64_t Z = d.nz;
  bool whole = false;
  for (int side = 0; side < 2; ++side) {
    PmlSlab& s = L.slabs[side];
    if (x < s.lo[0] || x >= s.hi[0]) continue;
    run(std::integral_constant<int, 0>(), int64_t{0}, Z, &coef[0][static_cast<size_t>(x)],
        psiAt(s, x, y, 0, h));
    whole = true;
  }
  for (int side = 0; side < 2; ++side) {
    PmlSlab& s = L.slabs[2 + side];
    if (y < s.lo[1] || y >= s.hi[1]) continue;
    run(std::integral_constant<int, 1>(), int64_t{0}, Z, &coef[1][static_cast<size_t>(y)],
        psiAt(s, x, y, 0, h));
    whole = true;
  }
  PmlSlab& low = L.slabs[4];
  PmlSlab& high = L.slabs[5];
  const int64_t lowEnd = low.hi[2], highStart = high.lo[2];
  const PsiPair lowPsi = psiAt(low, x, y, 0, h), highPsi = psiAt(high, x, y, highStart, h);
  prefetchRowsAhead(lowPsi, lowEnd);
  prefetchRowsAhead(highPsi, Z - highStart);
  run(std::integral_constant<int, 2>(), int64_t{0}, lowEnd, coef[2].data(), lowPsi);
  run(std::integral_constant<int, 2>(), highStart, Z - highStart, coef[2].data() + highStart,
      highPsi);
  return whole;
}

#if TAVRO_HAVE_AVX2_PATH
#pragma GCC push_options
#pragma GCC target("avx2")

// Coefficients of eight cells in lanes: along x and y one position for the
// whole run, along z cells i..i+7 of the table (whose spare record at the
// end keeps the four-float loads of loadColumns within it).
struct CoefLanes {
  Lanes b, c, k;
};
template <int A>
inline CoefLanes coefLanes(const PmlCoef* coef, int64_t i) {
  if constexpr (A < 2) {
    return {_mm256_set1_ps(coef->b), _mm256_set1_ps(coef->c), _mm256_set1_ps(coef->k)};
  } else {
    CoefLanes p;
    Lanes skip;
    loadColumns(&coef[i].b, sizeof(PmlCoef) / sizeof(float), p.b, p.c, p.k, skip);
    return p;
  }
}

#pragma GCC pop_options
#endif

}  // namespace tavro
