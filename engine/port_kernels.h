// Per-cell arithmetic of a lumped port: a voltage source Vs with internal
// resistance R across the E edge of its cell along `dir`, in parallel with
// the cell's own material. Shared by every CPU step form (and free of library
// containers, like field_kernels.h, so that a GPU kernel can call it).
//
// The port's branch carries the current I = (Vs - V) / R from its source
// into the structure, V = -E d being the edge voltage. As a current density
// over the cell face A it enters Ampere's law next to the material's own:
//   eps (E1 - E0)/dt + sigma (E1 + E0)/2 = curl H - (Vs + d (E1 + E0)/2) / (R A)
// with Vs and the mean of E0 and E1 taken at the half step. The plain E
// update has already produced E* = ca E0 + (dt/D) curl H with the cell's own
// D = eps + sigma dt / 2, so the port corrects E* rather than replacing the
// update:
//   E1 = keep E* - back E0 - drive Vs,
//   keep = D / D',  back = (G dt / 2) / D',  drive = dt / (R A D'),
// with G = d / (R A) the resistor as a conductivity and D' = D + G dt / 2.
// V and I are both taken at that half step, so they belong to one instant.
#pragma once

#include <math.h>
#include <stdint.h>

#include "engine/hd.h"
#include "engine/records.h"

namespace tavro {

// One port.
struct FDTD_PORT {
  int64_t cell;             // E-array element index of the port's cell
  int32_t dir;              // edge 0 = X, 1 = Y, 2 = Z
  int32_t number;           // port number, 1 and up
  float R;                  // reference (and internal) resistance [ohm]
  float d;                  // cell size along dir [m]
  float keep, back, drive;  // correction of the plain E update (see above)
  float prevE;              // the edge's E after the previous step
  float amp;                // excitation amplitude [V]; 0 = terminated in R only
  float t0, tau;            // excitation: amp exp(-((t - t0) / tau)^2)
};

// Source voltage at time t.
FDTD_HD float portWave(float t, const FDTD_PORT& p) {
  if (p.amp == 0.0f) return 0.0f;
  const float u = (t - p.t0) / p.tau;
  return p.amp * expf(-(u * u));
}

// The port correction right after the E update of its cell, at the step whose
// updated E belongs to time `time` (the step's time before its increment):
// the half step is time - dt/2. Writes the edge voltage and the branch
// current of that half step to v and i.
// `f` is the port's E component.
FDTD_HD void applyPortTo(float& f, const FDTD_SAM& sam, FDTD_PORT& p, float& v, float& i) {
  const float vs = portWave(sam.time - 0.5f * sam.dt, p);
  const float e0 = p.prevE;
  const float e1 = p.keep * f - p.back * e0 - p.drive * vs;
  f = e1;
  p.prevE = e1;
  v = -0.5f * p.d * (e0 + e1);
  i = (vs - v) / p.R;
}

FDTD_HD void applyPort(ECell* e, const FDTD_SAM& sam, FDTD_PORT& p, float& v, float& i) {
  ECell& c = e[p.cell];
  applyPortTo(p.dir == 0 ? c.ex : (p.dir == 1 ? c.ey : c.ez), sam, p, v, i);
}

}  // namespace tavro
