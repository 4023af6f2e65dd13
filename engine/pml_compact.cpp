// The absorbing layer's corrections on the compact stepping state: the runs
// of pml_rows.h and the arithmetic of pml_kernels.h on the component arrays,
// with the cells' H (E) coefficients taken from the set table. The signed
// magnitudes are not kept: the compact state computes them where they are
// read, from the corrected components, which gives the records' values.
#include "engine/compact_rows.h"
#include "engine/pml.h"
#include "engine/pml_rows.h"

namespace tavro {

namespace {

// The arrays of row (x, y) from its first cell: the field the corrections
// change (own), the field whose differences they take (other), the cells'
// sets and the coefficient of each axis.
struct PmlRow {
  float* own[3];
  const float* other[3];
  const uint16_t* set;
  const float* coef[3];
};

PmlRow pmlRow(CompactState& c, const GridDesc& d, int64_t x, int64_t y, bool h) {
  const CompactFields f = c.fieldsView();
  const uint64_t eb = eIndex(d, x, y, 0), hb = hIndex(d, x, y, 0);
  const uint64_t ob = h ? hb : eb, tb = h ? eb : hb;
  float* const* own = h ? f.h.c : f.e.c;
  float* const* other = h ? f.e.c : f.h.c;
  const int slot = h ? kChx : kCbx;
  return {{own[0] + ob, own[1] + ob, own[2] + ob},
          {other[0] + tb, other[1] + tb, other[2] + tb},
          c.set.data() + eb,
          {c.coefs(slot), c.coefs(slot + 1), c.coefs(slot + 2)}};
}

// The components that the derivative along A corrects, (plus, minus) in
// the order of pml_kernels.h: of H along x (y, z), along y (z, x), along z
// (x, y); of E the same pairs the other way round. The difference that goes
// with plus is that of the other field's component `minus`, and the
// reverse.
template <int A, bool H>
constexpr int kPlus = H ? (A == 0 ? 1 : (A == 1 ? 2 : 0)) : (A == 0 ? 2 : (A == 1 ? 0 : 1));
template <int A, bool H>
constexpr int kMinus = kPlus<A, !H>;

// n cells from cell z0 of the row; `step` is the element offset of the
// other field's neighbour along A: +stride for H (the next cell), -stride
// for E (the previous one).
template <int A, bool H>
inline void runScalar(const PmlRow& r, int64_t z0, int64_t n, int64_t step, const PmlCoef* coef,
                      PsiPair psi) {
  constexpr int P = kPlus<A, H>, M = kMinus<A, H>;
  for (int64_t i = 0; i < n; ++i) {
    const int64_t z = z0 + i;
    const float ch = r.coef[A][r.set[z]];
    const PmlCoef& p = coef[A == 2 ? i : 0];
    // H takes other[z + step] - other[z], E other[z] - other[z - stride].
    const float dPlus =
        H ? r.other[M][z + step] - r.other[M][z] : r.other[M][z] - r.other[M][z + step];
    const float dMinus =
        H ? r.other[P][z + step] - r.other[P][z] : r.other[P][z] - r.other[P][z + step];
    if constexpr (H)
      pmlHCorrect(r.own[P][z], r.own[M][z], ch, p, psi.first[i], psi.second[i], dPlus, dMinus);
    else
      pmlECorrect(r.own[P][z], r.own[M][z], ch, p, psi.first[i], psi.second[i], dPlus, dMinus);
  }
}

#if TAVRO_HAVE_AVX2_PATH
#pragma GCC push_options
#pragma GCC target("avx2")

template <int A, bool H>
inline __attribute__((flatten)) void runAvx2(const PmlRow& r, int64_t z0, int64_t n, int64_t step,
                                             const PmlCoef* coef, PsiPair psi) {
  constexpr int P = kPlus<A, H>, M = kMinus<A, H>;
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const int64_t z = z0 + i;
    const Lanes ch = coef8(r.coef[A], sets8(r.set + z));
    Lanes plus = _mm256_loadu_ps(r.own[P] + z), minus = _mm256_loadu_ps(r.own[M] + z);
    const Lanes m0 = _mm256_loadu_ps(r.other[M] + z), m1 = _mm256_loadu_ps(r.other[M] + z + step);
    const Lanes p0 = _mm256_loadu_ps(r.other[P] + z), p1 = _mm256_loadu_ps(r.other[P] + z + step);
    Lanes s1 = _mm256_loadu_ps(psi.first + i), s2 = _mm256_loadu_ps(psi.second + i);
    const CoefLanes p = coefLanes<A>(coef, i);
    if constexpr (H)
      pmlHCorrectValues(plus, minus, ch, p.b, p.c, p.k, s1, s2, m1 - m0, p1 - p0);
    else
      pmlECorrectValues(plus, minus, ch, p.b, p.c, p.k, s1, s2, m0 - m1, p0 - p1);
    _mm256_storeu_ps(r.own[P] + z, plus);
    _mm256_storeu_ps(r.own[M] + z, minus);
    _mm256_storeu_ps(psi.first + i, s1);
    _mm256_storeu_ps(psi.second + i, s2);
  }
  runScalar<A, H>(r, z0 + i, n - i, step, A == 2 ? coef + i : coef, psiFrom(psi, i));
}

#pragma GCC pop_options
#endif

template <bool H>
void correctRows(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1) {
  const GridDesc& d = eng.grid.desc;
  const Strides st = stridesOf(d);
  const bool wide = laneCount(eng) >= 8;
  const int64_t stride[3] = {static_cast<int64_t>(st.sx), static_cast<int64_t>(st.sy), 1};
  for (int64_t y = y0; y < y1; ++y) {
    const PmlRow r = pmlRow(eng.compact, d, x, y, H);
    forPmlRuns(eng.pml, d, H ? eng.pml.hCoef : eng.pml.eCoef, x, y, H,
               [&](auto axis, int64_t z0, int64_t n, const PmlCoef* c, PsiPair psi) {
                 constexpr int A = decltype(axis)::value;
                 const int64_t step = H ? stride[A] : -stride[A];
#if TAVRO_HAVE_AVX2_PATH
                 if (wide) return runAvx2<A, H>(r, z0, n, step, c, psi);
#endif
                 (void)wide;
                 runScalar<A, H>(r, z0, n, step, c, psi);
               });
  }
}

}  // namespace

void pmlHRowsCompact(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1) {
  correctRows<true>(eng, x, y0, y1);
}

void pmlERowsCompact(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1) {
  correctRows<false>(eng, x, y0, y1);
}

}  // namespace tavro
