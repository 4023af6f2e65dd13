// The bodies of the GPU kernels that apply the absorbing layer's corrections
// on the compact stepping state: one launch per slab, one thread per cell of
// the slab, after the H (E) update launch, the slabs in the order x low,
// x high, y low, y high, z low, z high, which is the order in which a cell
// in several slabs takes its corrections on the CPU (pml_rows.h). Each cell
// performs the float operations of engine/pml_compact.cpp's scalar run, with
// the arithmetic of pml_kernels.h, so both back ends give the same bits.
//
// Launch shape: blocks of kCellBlockZ x kCellBlockY threads, threadIdx.x
// along z, threadIdx.y and blockIdx.y along y, blockIdx.z the plane x, all
// counted from the slab's first cell; the psi of a cell is found with
// multiplications only.
#pragma once

#include <stdint.h>

#include "engine/compact_kernels.h"
#include "engine/grid_index.h"
#include "engine/hd.h"
#include "engine/pml_kernels.h"
#if !defined(__CUDACC__)
#include "engine/pml_layer.h"
#endif

namespace tavro {

// One slab as a launch sees it: its axis, first cell and extent.
struct PmlSlabLaunch {
  int32_t axis;
  int32_t lo[3];
  int32_t n[3];
};

#if !defined(__CUDACC__)
// The launch record of a slab of the host's layer.
inline PmlSlabLaunch slabLaunchOf(const PmlSlab& slab) {
  PmlSlabLaunch l{};
  l.axis = slab.axis;
  for (int a = 0; a < 3; ++a) {
    l.lo[a] = static_cast<int32_t>(slab.lo[a]);
    l.n[a] = static_cast<int32_t>(slab.hi[a] - slab.lo[a]);
  }
  return l;
}
#endif

// Blocks of the launch over slab s: along z, along y, planes x.
FDTD_HD void pmlSlabBlocks(const PmlSlabLaunch& s, uint32_t out[3]) {
  out[0] = (static_cast<uint32_t>(s.n[2]) + kCellBlockZ - 1) / kCellBlockZ;
  out[1] = (static_cast<uint32_t>(s.n[1]) + kCellBlockY - 1) / kCellBlockY;
  out[2] = static_cast<uint32_t>(s.n[0]);
}

// The six component arrays and the cells' coefficients of the compact
// state: `coef` the table, setStride its slot stride.
struct PmlCompactArrays {
  float* e[3];
  float* h[3];
  const uint16_t* set;
  const float* coef;
  uint64_t setStride;
};

// The component pair that the derivative along A corrects, (plus, minus)
// in the order of pml_kernels.h: of H along x (y, z), along y (z, x), along
// z (x, y); of E the same pairs the other way round.
template <int A, bool H>
constexpr int kPmlPlus = H ? (A == 0 ? 1 : (A == 1 ? 2 : 0)) : (A == 0 ? 2 : (A == 1 ? 0 : 1));
template <int A, bool H>
constexpr int kPmlMinus = kPmlPlus<A, !H>;

// The correction of H (E) of cell (x, y, z) for the derivative along A,
// with the coefficients `p` of the cell's position along A and its psi.
template <int A, bool H>
FDTD_HD void pmlCellCorrect(const GridDesc& g, const PmlCompactArrays& a, const PmlCoef& p,
                            float& psi1, float& psi2, int64_t x, int64_t y, int64_t z) {
  constexpr int P = kPmlPlus<A, H>, M = kPmlMinus<A, H>;
  const Strides s = stridesOf(g);
  const uint64_t e = eIndex(g, x, y, z), h = e + s.sx + s.sy + 1;  // hIndex(g, x, y, z)
  const uint64_t stride = A == 0 ? s.sx : (A == 1 ? s.sy : 1);
  float* const own[3] = {H ? a.h[0] : a.e[0], H ? a.h[1] : a.e[1], H ? a.h[2] : a.e[2]};
  const float* const other[3] = {H ? a.e[0] : a.h[0], H ? a.e[1] : a.h[1], H ? a.e[2] : a.h[2]};
  const uint64_t i = H ? h : e;
  const float ch = readOnly(a.coef + (H ? kCoefHx + A : kCoefBx + A) * a.setStride + a.set[e]);
  // H takes the next E along A minus the cell's, E the cell's H minus the
  // previous one.
  const uint64_t hi = H ? e + stride : h, lo = H ? e : h - stride;
  const float dPlus = other[M][hi] - other[M][lo];
  const float dMinus = other[P][hi] - other[P][lo];
  float plus = own[P][i], minus = own[M][i];
  float q1 = psi1, q2 = psi2;
  if constexpr (H)
    pmlHCorrect(plus, minus, ch, p, q1, q2, dPlus, dMinus);
  else
    pmlECorrect(plus, minus, ch, p, q1, q2, dPlus, dMinus);
  own[P][i] = plus;
  own[M][i] = minus;
  psi1 = q1;
  psi2 = q2;
}

// Thread (tx, ty) of block (bx, by, bz) of the launch over slab s: the
// correction of its cell, with `table` the coefficients of the slab's axis
// (one record per grid position along it) and `psi` the slab's psi, its
// four blocks of one float per cell as the host's slab holds them.
template <bool H>
FDTD_HD void compactPmlBody(const GridDesc& g, const PmlSlabLaunch& s, const PmlCompactArrays& a,
                            const PmlCoef* table, float* psi, uint32_t bx, uint32_t by, uint32_t bz,
                            uint32_t tx, uint32_t ty) {
  const int64_t rx = bz, ry = int64_t{by} * kCellBlockY + ty, rz = int64_t{bx} * kCellBlockZ + tx;
  if (rx >= s.n[0] || ry >= s.n[1] || rz >= s.n[2]) return;
  const int64_t x = s.lo[0] + rx, y = s.lo[1] + ry, z = s.lo[2] + rz;
  const int64_t cells = int64_t{s.n[0]} * s.n[1] * s.n[2];
  const int64_t k = (rx * s.n[1] + ry) * s.n[2] + rz + (H ? kPsiH1 : kPsiE1) * cells;
  float& q1 = psi[k];
  float& q2 = psi[k + cells];
  const int64_t pos = s.axis == 0 ? x : (s.axis == 1 ? y : z);
  const PmlCoef p{readOnly(&table[pos].b), readOnly(&table[pos].c), readOnly(&table[pos].k)};
  if (s.axis == 0)
    pmlCellCorrect<0, H>(g, a, p, q1, q2, x, y, z);
  else if (s.axis == 1)
    pmlCellCorrect<1, H>(g, a, p, q1, q2, x, y, z);
  else
    pmlCellCorrect<2, H>(g, a, p, q1, q2, x, y, z);
}

}  // namespace tavro
