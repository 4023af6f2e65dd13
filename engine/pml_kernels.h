// Per-cell arithmetic of the convolutional perfectly matched layer (CPML,
// the recursive-convolution form of Roden and Gedney). The OpenMP passes of
// engine/pml.cpp call these functions; they use nothing a GPU kernel could
// not, so the kernels can call the same arithmetic.
//
// Inside the layer every spatial derivative d/da of the curl equations is
// stretched to (1/kappa_a) d/da + psi_a, with the auxiliary field
//   psi_a(n) = b_a psi_a(n-1) + c_a d/da,
//   b = exp(-(sigma/kappa + alpha) dt / eps0),
//   c = sigma (b - 1) / (sigma kappa + kappa^2 alpha).
// The plain Yee update has already added coef * diff (kappa = 1); the
// correction below adds coef * ((1/kappa - 1) diff + psi), where diff is the
// difference of neighbouring field values (the cell size sits in coef).
#pragma once

#include <math.h>
#include <stdint.h>

#include "engine/hd.h"

namespace tavro {

// Stretching coefficients of one node position along one axis.
struct PmlCoef {
  float b;  // decay of psi per step
  float c;  // weight of the new difference in psi
  float k;  // 1/kappa - 1
};

// Auxiliary fields of a run of cells in the slab of one axis a, for one
// field: the arrays of the two H (or E) components whose update takes a
// derivative along a, in the order of the corrections below, each from the
// run's first cell. A slab keeps the four components in separate blocks, so
// that a half-step reads and writes only the two of its own field.
struct PsiPair {
  float* first;
  float* second;
};

// A slab's psi blocks: H's pair from block kPsiH1, E's from kPsiE1.
constexpr int kPsiBlocks = 4;
constexpr int kPsiH1 = 0, kPsiE1 = 2;

// The same run from its cell i on.
FDTD_HD PsiPair psiFrom(const PsiPair& p, int64_t i) { return {p.first + i, p.second + i}; }

// Coefficients for a graded layer at normalised depth rho (0 at the inner
// face of the layer, 1 at its outer face; rho <= 0 is outside the layer):
// sigma = sigmaMax rho^m, kappa = 1 + (kappaMax - 1) rho^m,
// alpha = alphaMax (1 - rho), all in SI units.
inline PmlCoef pmlCoefAt(double rho, double m, double sigmaMax, double kappaMax, double alphaMax,
                         double dt, double eps0) {
  if (!(rho > 0.0)) return {1.0f, 0.0f, 0.0f};
  const double g = pow(rho, m);
  const double sigma = sigmaMax * g;
  const double kappa = 1.0 + (kappaMax - 1.0) * g;
  const double alpha = alphaMax * (rho < 1.0 ? 1.0 - rho : 0.0);
  const double b = exp(-(sigma / kappa + alpha) * dt / eps0);
  const double den = sigma * kappa + kappa * kappa * alpha;
  const double c = den > 0.0 ? sigma * (b - 1.0) / den : 0.0;
  return {static_cast<float>(b), static_cast<float>(c), static_cast<float>(1.0 / kappa - 1.0)};
}

// The stretched-derivative correction for one difference: advances psi and
// sets `term` to the amount to add to the plain difference. T is float, or
// a vector of floats (one cell per lane) whose operators act lane by lane,
// so that every lane performs the float operations of one cell in the same
// order.
template <class T>
FDTD_HD void pmlTerm(T& term, T& psi, const T& b, const T& c, const T& k, const T& diff) {
  psi = b * psi + c * diff;
  term = k * diff + psi;
}

// H corrections after the plain H update, for the derivative along x, y or
// z of the H element `h` (E neighbours: e0 the cell, eA the next cell along
// the axis; `chA` the H coefficient of that axis):
//   along x: Hy += chx t(Ez[x+1]-Ez), Hz -= chx t(Ey[x+1]-Ey)
//   along y: Hz += chy t(Ex[y+1]-Ex), Hx -= chy t(Ez[y+1]-Ez)
//   along z: Hx += chz t(Ey[z+1]-Ey), Hy -= chz t(Ex[z+1]-Ex)
// The pair (plus, minus) names the components in that order; (b, c, k) are
// the coefficients of the cell's position along the axis, (psi1, psi2) its
// psi of the two H components there.
template <class T>
FDTD_HD void pmlHCorrectValues(T& plus, T& minus, const T& ch, const T& b, const T& c, const T& k,
                               T& psi1, T& psi2, const T& dPlus, const T& dMinus) {
  T t;
  pmlTerm(t, psi1, b, c, k, dPlus);
  plus = plus + ch * t;
  pmlTerm(t, psi2, b, c, k, dMinus);
  minus = minus - ch * t;
}

// E corrections after the plain E update (H neighbours one cell back):
//   along x: Ez += cbx t(Hy-Hy[x-1]), Ey -= cbx t(Hz-Hz[x-1])
//   along y: Ex += cby t(Hz-Hz[y-1]), Ez -= cby t(Hx-Hx[y-1])
//   along z: Ey += cbz t(Hx-Hx[z-1]), Ex -= cbz t(Hy-Hy[z-1])
// The same arithmetic as for H on the E psi of the cell.
template <class T>
FDTD_HD void pmlECorrectValues(T& plus, T& minus, const T& cb, const T& b, const T& c, const T& k,
                               T& psi1, T& psi2, const T& dPlus, const T& dMinus) {
  pmlHCorrectValues(plus, minus, cb, b, c, k, psi1, psi2, dPlus, dMinus);
}

// One cell with its coefficient record and its two psi of the field.
FDTD_HD void pmlHCorrect(float& plus, float& minus, float ch, const PmlCoef& p, float& psi1,
                         float& psi2, float dPlus, float dMinus) {
  pmlHCorrectValues(plus, minus, ch, p.b, p.c, p.k, psi1, psi2, dPlus, dMinus);
}

FDTD_HD void pmlECorrect(float& plus, float& minus, float cb, const PmlCoef& p, float& psi1,
                         float& psi2, float dPlus, float dMinus) {
  pmlECorrectValues(plus, minus, cb, p.b, p.c, p.k, psi1, psi2, dPlus, dMinus);
}

}  // namespace tavro
