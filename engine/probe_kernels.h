// Per-probe and per-cell arithmetic of the measurement and colouring passes,
// shared by the OpenMP loops and the GPU kernels (`meas`, `mkcolor`, `col_c`).
// Plain records and pointers only: this header must compile under nvcc.
// The signed magnitude and the sample-due rule are those of field_kernels.h.
#pragma once

#include <math.h>
#include <stdint.h>

#include "engine/field_kernels.h"
#include "engine/grid_index.h"
#include "engine/hd.h"
#include "engine/records.h"

namespace tavro {

// The 25 slots of one probe sample at plain cell `cell`, in float32 in the
// order written. Circuit quantities on the Yee grid:
//   V = -E.d per axis (the source sign convention),
//   I = loop integral of H around the E edge of the cell (Ampere's law), e.g.
//       Ix = (Hz - Hz(y-1)) dz - (Hy - Hy(z-1)) dy,
//   Z = V / I per voltage component over the signed total current (0 when I
//       is exactly 0), P = I V per axis and in total.
// Neighbours at -1 come from the zero guard layer of the H array.
//
// The view V reads the fields: V::eAt(i) and V::hAt(i) give element i of E and
// of H as a FieldValues, whose magnitude is that of the probe's own cell
// (the records' stored one, or the compact state's, computed where read).
struct FieldValues {
  float x, y, z, mag;
};

// The records as a view.
struct RecordView {
  const ECell* e;
  const HCell* h;
  FDTD_HD FieldValues eAt(uint64_t i) const { return {e[i].ex, e[i].ey, e[i].ez, e[i].emag}; }
  FDTD_HD FieldValues hAt(uint64_t i) const { return {h[i].hx, h[i].hy, h[i].hz, h[i].hmag}; }
};

template <class V>
FDTD_HD void probeSampleOf(const GridDesc& g, const V& f, const FDTD_SAM& s, uint64_t cell,
                           ProbeSample& out) {
  int64_t x, y, z;
  cellCoords(g, cell, x, y, z);
  const FieldValues ec = f.eAt(eIndex(g, x, y, z));
  const FieldValues hc = f.hAt(hIndex(g, x, y, z));
  const FieldValues hxm = f.hAt(hIndex(g, x - 1, y, z));
  const FieldValues hym = f.hAt(hIndex(g, x, y - 1, z));
  const FieldValues hzm = f.hAt(hIndex(g, x, y, z - 1));
  const float dx = s.dx, dy = s.dy, dz = s.dz;
  float* v = out.v;

  v[kSlotTime] = s.time;
  v[kSlotEx] = ec.x;
  v[kSlotEy] = ec.y;
  v[kSlotEz] = ec.z;
  v[kSlotE] = ec.mag;
  v[kSlotHx] = hc.x;
  v[kSlotHy] = hc.y;
  v[kSlotHz] = hc.z;
  v[kSlotH] = hc.mag;

  const float vx = -ec.x * dx;
  const float vy = -ec.y * dy;
  const float vz = -ec.z * dz;
  const float vt = signedMagnitude(vx, vy, vz);
  v[kSlotVx] = vx;
  v[kSlotVy] = vy;
  v[kSlotVz] = vz;
  v[kSlotV] = vt;

  const float ix = (hc.z - hym.z) * dz - (hc.y - hzm.y) * dy;
  const float iy = (hc.x - hzm.x) * dx - (hc.z - hxm.z) * dz;
  const float iz = (hc.y - hxm.y) * dy - (hc.x - hym.x) * dx;
  const float it = signedMagnitude(ix, iy, iz);
  v[kSlotIx] = ix;
  v[kSlotIy] = iy;
  v[kSlotIz] = iz;
  v[kSlotI] = it;

  if (it == 0.0f) {
    v[kSlotZx] = 0.0f;
    v[kSlotZy] = 0.0f;
    v[kSlotZz] = 0.0f;
    v[kSlotZ] = 0.0f;
  } else {
    v[kSlotZx] = vx / it;
    v[kSlotZy] = vy / it;
    v[kSlotZz] = vz / it;
    v[kSlotZ] = vt / it;
  }

  v[kSlotPx] = ix * vx;
  v[kSlotPy] = iy * vy;
  v[kSlotPz] = iz * vz;
  v[kSlotP] = it * vt;
}

FDTD_HD void probeSample(const GridDesc& g, const ECell* e, const HCell* h, const FDTD_SAM& s,
                         uint64_t cell, ProbeSample& out) {
  probeSampleOf(g, RecordView{e, h}, s, cell, out);
}

// Record stepCount * probeCount + p of the sample store.
FDTD_HD ProbeSample& sampleRecord(const FDTD_SAM& s, ProbeSample* samples, int64_t p) {
  return samples[static_cast<uint64_t>(s.stepCount) * static_cast<uint64_t>(s.probeCount) +
                 static_cast<uint64_t>(p)];
}

// Measurement of probe p into record stepCount * probeCount + p. The caller
// has checked sampleDue and that the store holds that record.
FDTD_HD void measureProbe(const GridDesc& g, const ECell* e, const HCell* h, const FDTD_SAM& s,
                          const int64_t* probeCells, ProbeSample* samples, int64_t p) {
  const uint64_t record = static_cast<uint64_t>(s.stepCount) * static_cast<uint64_t>(s.probeCount) +
                          static_cast<uint64_t>(p);
  probeSample(g, e, h, s, static_cast<uint64_t>(probeCells[p]), samples[record]);
}

// Colour band of a scaled field value on a scale of octaves: |v| (float32,
// widened to double) below 0.1 gives 255 (no colour, -1 as a signed byte);
// [0.1, 0.2) gives 0, [0.2, 0.4) gives 1, ... [6.4, 12.8) gives 6, above 7.
FDTD_HD uint8_t col_c(float v) {
  const double a = static_cast<double>(fabsf(v));
  if (a < 0.1) return 255;
  if (a < 0.2) return 0;
  if (a < 0.4) return 1;
  if (a < 0.8) return 2;
  if (a < 1.6) return 3;
  if (a < 3.2) return 4;
  if (a < 6.4) return 5;
  if (a < 12.8) return 6;
  return 7;
}

// Colour byte of plain cell k from the field and component selected in the
// descriptor: v = viewScale * s for E, viewScale * 200 * s for H (s the signed
// magnitude or the x, y, z component; an unknown component takes s = 1). An
// unknown field leaves the byte as it is.
FDTD_HD void colourCell(const GridDesc& g, const ECell* e, const HCell* h, uint64_t k,
                        uint8_t* colour) {
  int64_t x, y, z;
  cellCoords(g, k, x, y, z);
  float v;
  if (g.viewField == 0) {
    const ECell& c = e[eIndex(g, x, y, z)];
    switch (g.viewComponent) {
      case 0:
        v = g.viewScale * c.emag;
        break;
      case 1:
        v = g.viewScale * c.ex;
        break;
      case 2:
        v = g.viewScale * c.ey;
        break;
      case 3:
        v = g.viewScale * c.ez;
        break;
      default:
        v = g.viewScale;
        break;
    }
  } else if (g.viewField == 1) {
    const HCell& c = h[hIndex(g, x, y, z)];
    const float scale = g.viewScale * 200.0f;
    switch (g.viewComponent) {
      case 0:
        v = scale * c.hmag;
        break;
      case 1:
        v = scale * c.hx;
        break;
      case 2:
        v = scale * c.hy;
        break;
      case 3:
        v = scale * c.hz;
        break;
      default:
        v = scale;
        break;
    }
  } else {
    return;
  }
  colour[k] = col_c(v);
}

}  // namespace tavro
