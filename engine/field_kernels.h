// Per-cell arithmetic of one time step: the Yee cell updates, the first-order
// Mur face update, the source waveforms and the sampling counters. Every
// formula exists here once; the OpenMP loops of the engine and the GPU
// kernels call these same functions, so both back ends compute identical
// float32 expressions in the same order. Nothing in this header allocates or
// uses library containers, so that it compiles for the device as well.
//
// Staggering. E element (x, y, z) holds Ex, Ey, Ez of cell (x, y, z); H
// element (x, y, z) holds Hx, Hy, Hz half a cell further on, so the H update
// takes forward differences of E (neighbours x+1, y+1, z+1) and the E update
// takes backward differences of H (neighbours x-1, y-1, z-1). The guard layers
// of the two index rules make all these neighbours exist and read as zero
// outside the box. The coefficients already contain dt and the cell size of
// their axis, so the updates hold no other constant.
#pragma once

#include <math.h>
#include <stdint.h>

#include "engine/field_arrays.h"
#include "engine/grid_index.h"
#include "engine/hd.h"
#include "engine/records.h"

namespace tavro {

// ---------------------------------------------------------------------------
// Field updates

// The formulas below are templates on the value type T and on the maths M
// that supplies the one operation beyond + - *: M::signedRoot(out, q, s)
// sets out = sqrt(q) * sign(s), with sign(s) = +1 for s > 0, -1 for s < 0
// and 0 otherwise (NaN included). With T = float and ScalarMath they are the
// per-cell functions of the GPU kernels and of the plain loops; the CPU loops
// also instantiate them with T a vector of cells (one cell per lane), where
// every lane performs the same float32 operations in the same order, so both
// forms give identical bits. Operands are passed by reference so that no
// vector value crosses a call whose vector ABI would depend on the target.
struct ScalarMath {
  FDTD_HD static void signedRoot(float& out, const float& q, const float& s) {
    const float sign = s > 0.0f ? 1.0f : (s < 0.0f ? -1.0f : 0.0f);
    out = sqrtf(q) * sign;
  }
};

// sqrt(a^2 + b^2 + c^2) carrying the sign of a + b + c (0 when the sum is 0):
// a signed magnitude that lets a colour scale tell the polarity of a cell.
template <class M, class T>
FDTD_HD void setSignedMagnitude(T& out, const T& a, const T& b, const T& c) {
  M::signedRoot(out, a * a + b * b + c * c, a + b + c);
}

FDTD_HD float signedMagnitude(float a, float b, float c) {
  float m;
  setSignedMagnitude<ScalarMath>(m, a, b, c);
  return m;
}

// H update, Faraday's law dH/dt = -(1/mu) curl E on the Yee grid:
//   Hx += chz (Ey[z+1] - Ey) - chy (Ez[y+1] - Ez)
//   Hy += chx (Ez[x+1] - Ez) - chz (Ex[z+1] - Ex)
//   Hz += chy (Ex[y+1] - Ex) - chx (Ey[x+1] - Ey)
// with ch_a = dt / (mu d_a); then the signed magnitude. Neighbour values are
// named by the axis along which they lie one cell ahead (eyZ = Ey[z+1]).
// updateHComponents updates the three components alone; the compact
// stepping state computes the magnitude only where it is read.
template <class T>
FDTD_HD void updateHComponents(T& hx, T& hy, T& hz, const T& chx, const T& chy, const T& chz,
                               const T& ex, const T& ey, const T& ez, const T& exZ, const T& eyZ,
                               const T& exY, const T& ezY, const T& eyX, const T& ezX) {
  hx = hx + chz * (eyZ - ey) - chy * (ezY - ez);
  hy = hy + chx * (ezX - ez) - chz * (exZ - ex);
  hz = hz + chy * (exY - ex) - chx * (eyX - ey);
}

template <class M, class T>
FDTD_HD void updateHValues(T& hx, T& hy, T& hz, T& hmag, const T& chx, const T& chy, const T& chz,
                           const T& ex, const T& ey, const T& ez, const T& exZ, const T& eyZ,
                           const T& exY, const T& ezY, const T& eyX, const T& ezX) {
  updateHComponents(hx, hy, hz, chx, chy, chz, ex, ey, ez, exZ, eyZ, exY, ezY, eyX, ezX);
  setSignedMagnitude<M>(hmag, hx, hy, hz);
}

// E update, Ampere's law eps dE/dt + sigma E = curl H, with the loss term
// averaged over the half steps (ca = 1 - dt sigma / D, cb_a = dt / (D d_a),
// D = eps + sigma dt / 2):
//   Ex = cax Ex + cby (Hz - Hz[y-1]) - cbz (Hy - Hy[z-1])
//   Ey = cay Ey + cbz (Hx - Hx[z-1]) - cbx (Hz - Hz[x-1])
//   Ez = caz Ez + cbx (Hy - Hy[x-1]) - cby (Hx - Hx[y-1])
// then the signed magnitude. Neighbour values lie one cell back along the
// named axis (hyZ = Hy[z-1]).
template <class T>
FDTD_HD void updateEComponents(T& ex, T& ey, T& ez, const T& cax, const T& cay, const T& caz,
                               const T& cbx, const T& cby, const T& cbz, const T& hx, const T& hy,
                               const T& hz, const T& hxZ, const T& hyZ, const T& hxY, const T& hzY,
                               const T& hyX, const T& hzX) {
  ex = cax * ex + cby * (hz - hzY) - cbz * (hy - hyZ);
  ey = cay * ey + cbz * (hx - hxZ) - cbx * (hz - hzX);
  ez = caz * ez + cbx * (hy - hyX) - cby * (hx - hxY);
}

template <class M, class T>
FDTD_HD void updateEValues(T& ex, T& ey, T& ez, T& emag, const T& cax, const T& cay, const T& caz,
                           const T& cbx, const T& cby, const T& cbz, const T& hx, const T& hy,
                           const T& hz, const T& hxZ, const T& hyZ, const T& hxY, const T& hzY,
                           const T& hyX, const T& hzX) {
  updateEComponents(ex, ey, ez, cax, cay, caz, cbx, cby, cbz, hx, hy, hz, hxZ, hyZ, hxY, hzY, hyX,
                    hzX);
  setSignedMagnitude<M>(emag, ex, ey, ez);
}

// H update of one cell. `e` is the E element of the same cell; sy and sx are
// the E-array strides of one step along y and x (the z stride is 1).
FDTD_HD void updateHCell(HCell& h, const ECell* e, uint64_t sy, uint64_t sx) {
  const ECell& c = e[0];
  const ECell& zn = e[1];
  const ECell& yn = e[sy];
  const ECell& xn = e[sx];
  updateHValues<ScalarMath>(h.hx, h.hy, h.hz, h.hmag, h.chx, h.chy, h.chz, c.ex, c.ey, c.ez, zn.ex,
                            zn.ey, yn.ex, yn.ez, xn.ey, xn.ez);
}

// E update of one cell. `h` is the H element of the same cell; sy, sx as for
// updateHCell (the two arrays share their strides).
FDTD_HD void updateECell(ECell& e, const HCell* h, uint64_t sy, uint64_t sx) {
  const HCell& c = h[0];
  const HCell& zp = *(h - 1);
  const HCell& yp = *(h - sy);
  const HCell& xp = *(h - sx);
  updateEValues<ScalarMath>(e.ex, e.ey, e.ez, e.emag, e.cax, e.cay, e.caz, e.cbx, e.cby, e.cbz,
                            c.hx, c.hy, c.hz, zp.hx, zp.hy, yp.hx, yp.hz, xp.hy, xp.hz);
}

// ---------------------------------------------------------------------------
// First-order Mur absorbing boundary

// One tangential component B on a face, I the same component one cell inside.
// The one-way wave equation discretised between the two layers gives
//   B(n+1) = I(n) + k (I(n+1) - B(n)),   k = (c dt - d) / (c dt + d),
// with I(n) and B(n) kept in the store slots sI and sB from the last call.
FDTD_HD void murComponent(float& boundary, float inner, float k, float& sB, float& sI) {
  const float v = sI + k * (inner - sB);
  boundary = v;
  sB = v;
  sI = inner;
}

// Component 0, 1, 2 (x, y, z) of an E or H element.
template <int C>
FDTD_HD float& component(ECell& c) {
  if constexpr (C == 0)
    return c.ex;
  else if constexpr (C == 1)
    return c.ey;
  else
    return c.ez;
}
template <int C>
FDTD_HD float& component(HCell& c) {
  if constexpr (C == 0)
    return c.hx;
  else if constexpr (C == 1)
    return c.hy;
  else
    return c.hz;
}

// Element of cell (x, y, z) in the E or the H array.
FDTD_HD uint64_t fieldIndex(const GridDesc& g, const ECell*, int64_t x, int64_t y, int64_t z) {
  return eIndex(g, x, y, z);
}
FDTD_HD uint64_t fieldIndex(const GridDesc& g, const HCell*, int64_t x, int64_t y, int64_t z) {
  return hIndex(g, x, y, z);
}

// Store slots of one field within a MurStore record: H uses 0..7, E 8..15.
FDTD_HD int murSlotBase(const ECell*) { return 8; }
FDTD_HD int murSlotBase(const HCell*) { return 0; }

// Both faces of one record: tangential components C1, C2 on the near face
// (boundary nb, inner ni) and on the far face (boundary fb, inner fi), in the
// order c1 near, c2 near, c1 far, c2 far. Slots relative to the field's base:
// near (boundary, inner) = (0, 1) and (4, 5); far (inner, boundary) = (2, 3)
// and (6, 7).
template <int C1, int C2, class F>
FDTD_HD void murNearFace(F f, uint64_t nb, uint64_t ni, float kNear, float* s) {
  murComponent(component<C1>(f[nb]), component<C1>(f[ni]), kNear, s[0], s[1]);
  murComponent(component<C2>(f[nb]), component<C2>(f[ni]), kNear, s[4], s[5]);
}
template <int C1, int C2, class F>
FDTD_HD void murFarFace(F f, uint64_t fb, uint64_t fi, float kFar, float* s) {
  murComponent(component<C1>(f[fb]), component<C1>(f[fi]), kFar, s[3], s[2]);
  murComponent(component<C2>(f[fb]), component<C2>(f[fi]), kFar, s[7], s[6]);
}
template <int C1, int C2, class F>
FDTD_HD void murRecord(F f, uint64_t nb, uint64_t ni, uint64_t fb, uint64_t fi, float kNear,
                       float kFar, float* s) {
  murNearFace<C1, C2>(f, nb, ni, kNear, s);
  murFarFace<C1, C2>(f, fb, fi, kFar, s);
}

// Z faces at position (x, y): record x*Y + y, tangential x then y; k is the
// z coefficient of each boundary cell.
template <class F>
FDTD_HD void murZRecord(const GridDesc& g, F f, const float* murCoef, MurStore& rec, int64_t x,
                        int64_t y) {
  const int64_t z1 = g.nz - 1;
  murRecord<0, 1>(f, fieldIndex(g, f, x, y, 0), fieldIndex(g, f, x, y, 1),
                  fieldIndex(g, f, x, y, z1), fieldIndex(g, f, x, y, z1 - 1),
                  murCoef[murCoefZ(g, x, y, 0)], murCoef[murCoefZ(g, x, y, 1)],
                  rec.s + murSlotBase(f));
}

// X faces at position (y, z): record y*Z + z, tangential y then z.
template <class F>
FDTD_HD void murXRecord(const GridDesc& g, F f, const float* murCoef, MurStore& rec, int64_t y,
                        int64_t z) {
  const int64_t x1 = g.nx - 1;
  murRecord<1, 2>(f, fieldIndex(g, f, 0, y, z), fieldIndex(g, f, 1, y, z),
                  fieldIndex(g, f, x1, y, z), fieldIndex(g, f, x1 - 1, y, z),
                  murCoef[murCoefX(g, y, z, 0)], murCoef[murCoefX(g, y, z, 1)],
                  rec.s + murSlotBase(f));
}

// The near (x = 0) and the far (x = X-1) half of murXRecord alone. With at
// least four cells along x the two halves touch disjoint cells and slots, so
// running them at different times gives the same values.
template <class F>
FDTD_HD void murXNearRecord(const GridDesc& g, F f, const float* murCoef, MurStore& rec, int64_t y,
                            int64_t z) {
  murNearFace<1, 2>(f, fieldIndex(g, f, 0, y, z), fieldIndex(g, f, 1, y, z),
                    murCoef[murCoefX(g, y, z, 0)], rec.s + murSlotBase(f));
}
template <class F>
FDTD_HD void murXFarRecord(const GridDesc& g, F f, const float* murCoef, MurStore& rec, int64_t y,
                           int64_t z) {
  const int64_t x1 = g.nx - 1;
  murFarFace<1, 2>(f, fieldIndex(g, f, x1, y, z), fieldIndex(g, f, x1 - 1, y, z),
                   murCoef[murCoefX(g, y, z, 1)], rec.s + murSlotBase(f));
}

// Y faces at position (x, z): record z*X + x, tangential z then x.
template <class F>
FDTD_HD void murYRecord(const GridDesc& g, F f, const float* murCoef, MurStore& rec, int64_t x,
                        int64_t z) {
  const int64_t y1 = g.ny - 1;
  murRecord<2, 0>(f, fieldIndex(g, f, x, 0, z), fieldIndex(g, f, x, 1, z),
                  fieldIndex(g, f, x, y1, z), fieldIndex(g, f, x, y1 - 1, z),
                  murCoef[murCoefY(g, x, z, 0)], murCoef[murCoefY(g, x, z, 1)],
                  rec.s + murSlotBase(f));
}

// The near (y = 0) and the far (y = Y-1) half of murYRecord alone; with at
// least three cells along y they touch disjoint cells and slots.
template <class F>
FDTD_HD void murYNearRecord(const GridDesc& g, F f, const float* murCoef, MurStore& rec, int64_t x,
                            int64_t z) {
  murNearFace<2, 0>(f, fieldIndex(g, f, x, 0, z), fieldIndex(g, f, x, 1, z),
                    murCoef[murCoefY(g, x, z, 0)], rec.s + murSlotBase(f));
}
template <class F>
FDTD_HD void murYFarRecord(const GridDesc& g, F f, const float* murCoef, MurStore& rec, int64_t x,
                           int64_t z) {
  const int64_t y1 = g.ny - 1;
  murFarFace<2, 0>(f, fieldIndex(g, f, x, y1, z), fieldIndex(g, f, x, y1 - 1, z),
                   murCoef[murCoefY(g, x, z, 1)], rec.s + murSlotBase(f));
}

// ---------------------------------------------------------------------------
// Sources. A source drives the E component `dir` of its cell; the cell
// voltage is V = -E d, so every waveform enters with a minus sign and a source
// of positive amplitude makes the cell voltage positive.

constexpr float kTwoPi = 6.2831855f;
constexpr float kSwitchFloor = 1e-10f;  // least conductivity of a SWITCH state [S/m]

// Cell size along the driven axis.
FDTD_HD float sourceCellSize(const FDTD_SAM& sam, const FDTD_SRC& src) {
  return src.dir == 0 ? sam.dx : (src.dir == 1 ? sam.dy : sam.dz);
}

// CW: decrement sin(2 pi F t) 2V/d. The phase is reduced to one period in
// float32 before the sine.
FDTD_HD float cwWave(float d, const FDTD_SAM& sam, const FDTD_SRC& src) {
  float phi = (src.freq * kTwoPi) * sam.time;
  phi = phi - truncf(phi / kTwoPi) * kTwoPi;
  return sinf(phi) * (2.0f * src.volt) / d;
}

// GAUSS: decrement exp(-((t - t0) / (0.29 t0))^2) 2V/d with t0 = 0.646 / w,
// w = 0.02 / dt, that is a peak at 32.3 dt and an e-folding half-width of
// 0.29 t0 (about 9.4 dt), so the pulse starts from nearly zero at t = 0.
FDTD_HD float gaussWave(float d, const FDTD_SAM& sam, const FDTD_SRC& src) {
  const float w = static_cast<float>(0.02 / static_cast<double>(sam.dt));
  const float t0 = static_cast<float>(0.646 / static_cast<double>(w));
  const float u = (sam.time - t0) / (0.29f * t0);
  return expf(-(u * u)) * (2.0f * src.volt) / d;
}

// Position within the period of a PULSE or SWITCH source, all in steps:
// T = 1 / (dt F) the period, n = t / dt the elapsed steps, h = T / 2, r the
// rise length 0.2 T capped at 20 steps, p = n mod T.
struct PulsePhase {
  float n, h, r, p;
};

FDTD_HD PulsePhase pulsePhase(const FDTD_SAM& sam, const FDTD_SRC& src) {
  PulsePhase q;
  const float T = 1.0f / (sam.dt * src.freq);
  q.n = sam.time / sam.dt;
  q.h = 0.5f * T;
  q.r = 0.2f * T;
  if (q.r > 20.0f) q.r = 20.0f;
  q.p = q.n - truncf(q.n / T) * T;
  return q;
}

// Logistic step S(u) = e^u / (e^u + 1).
FDTD_HD float logistic(float u) {
  const float eu = expf(u);
  return eu / (eu + 1.0f);
}

// PULSE decrement 2 s V / d: s rises along S over r steps from the start of
// each period, stays at 0.995 until the half period, falls over r steps and
// stays at 0.005. A negative amplitude shifts s down by one, so the train
// runs from about 0 to about -2V/d in the opposite sense, and starts with a
// small -0.01 V/d during its first rise.
FDTD_HD float Pulse(float d, const FDTD_SAM& sam, const FDTD_SRC& src) {
  const float V = src.volt;
  const PulsePhase q = pulsePhase(sam, src);
  if (V < 0.0f && q.n < q.r) return -0.01f * V / d;
  float s;
  if (q.p < q.r) {
    s = logistic(10.0f * q.p / q.r - 5.0f);
    if (V < 0.0f) s = s - 1.0f;
  } else if (q.p < q.h) {
    s = V >= 0.0f ? 0.995f : -0.005f;
  } else if (q.p < q.h + q.r) {
    s = 1.0f - logistic(10.0f * (q.p - q.h) / q.r - 5.0f);
    if (V < 0.0f) s = s - 1.0f;
  } else {
    s = V >= 0.0f ? 0.005f : -0.995f;
  }
  return 2.0f * s * V / d;
}

// SWITCH conductivity at the current time: sgOn, then over r steps to sgOff,
// sgOff until the half period, back over r steps to sgOn. The transitions
// interpolate the resistivity 1/sigma linearly, so the conductivity moves
// smoothly across orders of magnitude.
FDTD_HD float Switch(const FDTD_SAM& sam, const FDTD_SRC& src) {
  const PulsePhase q = pulsePhase(sam, src);
  if (q.p < q.r) {
    const float a = q.p / q.r;
    return 1.0f / (a / src.sgOff + (1.0f - a) / src.sgOn);
  }
  if (q.p < q.h) return src.sgOff;
  if (q.p < q.h + q.r) {
    const float a = (q.p - q.h) / q.r;
    return 1.0f / ((1.0f - a) / src.sgOff + a / src.sgOn);
  }
  return src.sgOn;
}

// The SWITCH cell becomes a material of relative permittivity 1 and
// conductivity sigma on all three axes: the E coefficients of a lossy vacuum
// cell, D = eps0 + sigma dt / 2.
FDTD_HD void switchCoefficients(ECell& e, float sigma, const FDTD_SAM& sam) {
  const float D = sam.dt * sigma * 0.5f + kEps0;
  const float ca = 1.0f - sam.dt * sigma / D;
  e.cax = ca;
  e.cay = ca;
  e.caz = ca;
  e.cbx = sam.dt / D / sam.dx;
  e.cby = sam.dt / D / sam.dy;
  e.cbz = sam.dt / D / sam.dz;
}

// One source at the current time (before this step's time increment). DC
// assigns E = -V/d; the waveforms are subtracted from the driven component.
// The driven component f of a waveform or DC source after the source.
FDTD_HD void drive(float& f, const FDTD_SAM& sam, const FDTD_SRC& src) {
  const float d = sourceCellSize(sam, src);
  switch (src.type) {
    case kSrcCW:
      f = f - cwWave(d, sam, src);
      break;
    case kSrcGauss:
      f = f - gaussWave(d, sam, src);
      break;
    case kSrcPulse:
      f = f - Pulse(d, sam, src);
      break;
    case kSrcDC:
      f = -src.volt / d;
      break;
    default:
      break;
  }
}

FDTD_HD void applySource(ECell* e, const FDTD_SAM& sam, const FDTD_SRC& src) {
  ECell& c = e[src.cell];
  if (src.type == kSrcSwitch) {
    switchCoefficients(c, Switch(sam, src), sam);
    return;
  }
  drive(src.dir == 0 ? c.ex : (src.dir == 1 ? c.ey : c.ez), sam, src);
}

// ---------------------------------------------------------------------------
// Sampling counters

// A sample is due while fewer than stepLimit were recorded and, with a
// decimation factor cull > 0, on every cull-th step.
FDTD_HD bool sampleDue(const FDTD_SAM& sam) {
  return sam.stepCount < sam.stepLimit && (sam.cull == 0 || sam.cullCounter % sam.cull == 0);
}

// End of a step: time advances by dt (float32 accumulation); the step and
// decimation counters advance only until stepLimit samples were recorded,
// and with cull > 0 stepCount counts the steps that took a sample.
FDTD_HD void advanceCounters(FDTD_SAM& sam) {
  sam.time = sam.time + sam.dt;
  if (sam.stepCount >= sam.stepLimit) return;
  if (sam.cull != 0) {
    const int32_t n = sam.cullCounter;
    sam.cullCounter = n + 1;
    if (n % sam.cull != 0) return;
  }
  sam.stepCount = sam.stepCount + 1;
}

}  // namespace tavro
