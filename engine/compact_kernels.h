// The bodies of the GPU kernels that step the compact stepping state
// (compact_state.h), as plain functions of the grid descriptor, the arrays
// and the thread's coordinates. kernels.cu wraps each in a kernel; a CPU test
// runs them over the whole launch grid and compares them with the CPU step.
// They call the per-cell functions of field_kernels.h and probe_kernels.h,
// so both back ends compute one set of float32 expressions.
//
// Launch shapes (the host's, gpu_compact.cpp): the cell kernels use blocks of
// kCellBlockZ x kCellBlockY threads, threadIdx.x along z, threadIdx.y and
// blockIdx.y along y, blockIdx.z the plane x, so that a warp reads and
// writes consecutive elements of each array and no thread divides. A row
// starts kSectorFloats-aligned in the array that the kernel writes: the
// threads before its first cell idle, and every warp stores whole 32-byte
// sectors (the six arrays lie a whole number of sectors apart). The face
// kernels run one family (Z, X or Y faces) per launch, a row of kLineBlock
// face positions per block and blockIdx.y the other coordinate.
#pragma once

#include <stdint.h>

#include "engine/field_kernels.h"
#include "engine/grid_index.h"
#include "engine/hd.h"
#include "engine/probe_kernels.h"
#include "engine/records.h"

namespace tavro {

constexpr unsigned kCellBlockZ = 32, kCellBlockY = 8;
constexpr unsigned kSectorFloats = 8;
constexpr unsigned kLineBlock = 128;

// Slots of the coefficient table (compact_state.h: slot s of set k at
// s * setStride + k).
enum CompactCoef : int {
  kCoefAx,
  kCoefAy,
  kCoefAz,
  kCoefBx,
  kCoefBy,
  kCoefBz,
  kCoefHx,
  kCoefHy,
  kCoefHz,
  kCompactCoefCount
};

// A load of data that no thread of the launch writes: the read-only data
// path on the device.
FDTD_HD float readOnly(const float* p) {
#if defined(__CUDA_ARCH__)
  return __ldg(p);
#else
  return *p;
#endif
}

// Blocks along z of a cell launch: the row and its leading idle threads.
FDTD_HD uint32_t cellBlocksZ(const GridDesc& g) {
  return (static_cast<uint32_t>(g.nz) + kSectorFloats - 1 + kCellBlockZ - 1) / kCellBlockZ;
}

// Cell of thread (tx, ty) of block (bx, by, bz) of a cell launch that writes
// H (writesH) or E; z < 0 for the threads before the row's first cell.
struct CellCoord {
  uint32_t x, y;
  int32_t z;
};
FDTD_HD CellCoord cellOfThread(const GridDesc& g, bool writesH, uint32_t bx, uint32_t by,
                               uint32_t bz, uint32_t tx, uint32_t ty) {
  const uint32_t x = bz, y = by * kCellBlockY + ty;
  const uint64_t row = writesH ? hIndex(g, x, y, 0) : eIndex(g, x, y, 0);
  const int32_t lead = static_cast<int32_t>(row % kSectorFloats);
  return {x, y, static_cast<int32_t>(bx * kCellBlockZ + tx) - lead};
}

// Face position of thread t of block (bx, by) of a face launch: the along
// coordinate (y of the Z faces, z of the X faces, x of the Y faces) and the
// across one (x, y, z).
struct FaceCoord {
  uint32_t along, across;
};
FDTD_HD FaceCoord faceOfThread(uint32_t bx, uint32_t by, uint32_t t) {
  return {bx * kLineBlock + t, by};
}

// The position of H cell (x, y, z) in the kept face magnitudes (the combined
// face index of the Mur coefficients), -1 inside the box. A cell on an edge
// takes the position of the first face in the order Z, X, Y.
FDTD_HD int64_t faceMagAt(const GridDesc& d, int64_t x, int64_t y, int64_t z) {
  if (z == 0 || z == d.nz - 1) return static_cast<int64_t>(murCoefZ(d, x, y, z == 0 ? 0 : 1));
  if (x == 0 || x == d.nx - 1) return static_cast<int64_t>(murCoefX(d, y, z, x == 0 ? 0 : 1));
  if (y == 0 || y == d.ny - 1) return static_cast<int64_t>(murCoefY(d, x, z, y == 0 ? 0 : 1));
  return -1;
}

// H update of cell (x, y, z); a face cell keeps its magnitude at every face
// position it stands for, before the boundary changes its components
// (faceMag null: none kept).
FDTD_HD void compactHBody(const GridDesc& g, const float* __restrict__ ex,
                          const float* __restrict__ ey, const float* __restrict__ ez,
                          float* __restrict__ hx, float* __restrict__ hy, float* __restrict__ hz,
                          const uint16_t* __restrict__ set, const float* __restrict__ coef,
                          uint64_t setStride, float* __restrict__ faceMag, CellCoord c) {
  const int64_t X = g.nx, Y = g.ny, Z = g.nz;
  const int64_t x = c.x, y = c.y, z = c.z;
  if (x >= X || y >= Y || z < 0 || z >= Z) return;
  const Strides s = stridesOf(g);
  const uint64_t e = eIndex(g, x, y, z), h = e + s.sx + s.sy + 1;  // hIndex(g, x, y, z)
  const uint64_t k = set[e];
  const float chx = readOnly(coef + kCoefHx * setStride + k);
  const float chy = readOnly(coef + kCoefHy * setStride + k);
  const float chz = readOnly(coef + kCoefHz * setStride + k);
  float vx = hx[h], vy = hy[h], vz = hz[h];
  const float cx = ex[e], cy = ey[e], cz = ez[e];
  const float xZ = ex[e + 1], yZ = ey[e + 1];
  const float xY = ex[e + s.sy], zY = ez[e + s.sy];
  const float yX = ey[e + s.sx], zX = ez[e + s.sx];
  updateHComponents(vx, vy, vz, chx, chy, chz, cx, cy, cz, xZ, yZ, xY, zY, yX, zX);
  hx[h] = vx;
  hy[h] = vy;
  hz[h] = vz;
  const bool zFace = z == 0 || z == Z - 1, xFace = x == 0 || x == X - 1,
             yFace = y == 0 || y == Y - 1;
  // With the absorbing layer there are no Mur faces and no magnitudes kept.
  if (!faceMag || (!zFace && !xFace && !yFace)) return;
  const float m = signedMagnitude(vx, vy, vz);
  if (z == 0) faceMag[murCoefZ(g, x, y, 0)] = m;
  if (z == Z - 1) faceMag[murCoefZ(g, x, y, 1)] = m;
  if (x == 0) faceMag[murCoefX(g, y, z, 0)] = m;
  if (x == X - 1) faceMag[murCoefX(g, y, z, 1)] = m;
  if (y == 0) faceMag[murCoefY(g, x, z, 0)] = m;
  if (y == Y - 1) faceMag[murCoefY(g, x, z, 1)] = m;
}

// E update of cell (x, y, z).
FDTD_HD void compactEBody(const GridDesc& g, float* __restrict__ ex, float* __restrict__ ey,
                          float* __restrict__ ez, const float* __restrict__ hx,
                          const float* __restrict__ hy, const float* __restrict__ hz,
                          const uint16_t* __restrict__ set, const float* __restrict__ coef,
                          uint64_t setStride, CellCoord c) {
  const int64_t x = c.x, y = c.y, z = c.z;
  if (x >= g.nx || y >= g.ny || z < 0 || z >= g.nz) return;
  const Strides s = stridesOf(g);
  const uint64_t e = eIndex(g, x, y, z), h = e + s.sx + s.sy + 1;
  const uint64_t k = set[e];
  const float cax = readOnly(coef + kCoefAx * setStride + k);
  const float cay = readOnly(coef + kCoefAy * setStride + k);
  const float caz = readOnly(coef + kCoefAz * setStride + k);
  const float cbx = readOnly(coef + kCoefBx * setStride + k);
  const float cby = readOnly(coef + kCoefBy * setStride + k);
  const float cbz = readOnly(coef + kCoefBz * setStride + k);
  float vx = ex[e], vy = ey[e], vz = ez[e];
  const float ux = hx[h], uy = hy[h], uz = hz[h];
  const float xZ = hx[h - 1], yZ = hy[h - 1];
  const float xY = hx[h - s.sy], zY = hz[h - s.sy];
  const float yX = hy[h - s.sx], zX = hz[h - s.sx];
  updateEComponents(vx, vy, vz, cax, cay, caz, cbx, cby, cbz, ux, uy, uz, xZ, yZ, xY, zY, yX, zX);
  ex[e] = vx;
  ey[e] = vy;
  ez[e] = vz;
}

// Mur boundary of one face position of family `family` (0 Z, 1 X, 2 Y) on
// the field F (FieldArrays<false> for E, <true> for H). Within a family
// every position touches its own cells and store slots only; the host
// launches the families one after the other, as the CPU passes run.
template <class F>
FDTD_HD void compactMurBody(const GridDesc& g, F f, const float* __restrict__ murCoef,
                            MurStore* __restrict__ murZ, MurStore* __restrict__ murX,
                            MurStore* __restrict__ murY, uint32_t family, FaceCoord p) {
  const int64_t a = p.along, b = p.across;
  if (family == 0) {
    if (g.nz < 2 || a >= g.ny || b >= g.nx) return;
    murZRecord(g, f, murCoef, murZ[static_cast<uint64_t>(b) * g.ny + a], b, a);
  } else if (family == 1) {
    if (g.nx < 2 || a >= g.nz || b >= g.ny) return;
    murXRecord(g, f, murCoef, murX[static_cast<uint64_t>(b) * g.nz + a], b, a);
  } else {
    if (g.ny < 2 || a >= g.nx || b >= g.nz) return;
    murYRecord(g, f, murCoef, murY[static_cast<uint64_t>(b) * g.nx + a], a, b);
  }
}

// Per-source records of the compact state (compact_state.h).
struct CompactSourceArrays {
  const int32_t* switchSet;
  const uint8_t* firstAtCell;
  const uint8_t* sourceInside;
  float* sourceMag;
};

// Source i at the sampling record's time: the first source of a cell keeps
// the magnitude that the update left there; a SWITCH rewrites the E
// coefficients of its cell's own set, the others drive their component.
FDTD_HD void compactSourceBody(const FDTD_SAM& sam, const FDTD_SRC* sources, float* ex, float* ey,
                               float* ez, float* coef, uint64_t setStride,
                               const CompactSourceArrays& a, int64_t i) {
  const FDTD_SRC& src = sources[i];
  const uint64_t cell = static_cast<uint64_t>(src.cell);
  if (a.firstAtCell[i] && a.sourceInside[i])
    a.sourceMag[i] = signedMagnitude(ex[cell], ey[cell], ez[cell]);
  if (src.type == kSrcSwitch) {
    ECell t{};
    switchCoefficients(t, Switch(sam, src), sam);
    const uint64_t k = static_cast<uint64_t>(a.switchSet[i]);
    coef[kCoefAx * setStride + k] = t.cax;
    coef[kCoefAy * setStride + k] = t.cay;
    coef[kCoefAz * setStride + k] = t.caz;
    coef[kCoefBx * setStride + k] = t.cbx;
    coef[kCoefBy * setStride + k] = t.cby;
    coef[kCoefBz * setStride + k] = t.cbz;
    return;
  }
  drive(src.dir == 0 ? ex[cell] : (src.dir == 1 ? ey[cell] : ez[cell]), sam, src);
}

// The compact state as the measurement's view: magnitudes computed where
// read, except at the probe's own cell, which takes a kept one where one is
// kept (its source's, its face's).
struct CompactProbeView {
  const float* e[3];
  const float* h[3];
  uint64_t keptE, keptH;
  float eMag, hMag;
  FDTD_HD FieldValues eAt(uint64_t i) const {
    const float x = e[0][i], y = e[1][i], z = e[2][i];
    return {x, y, z, i == keptE ? eMag : signedMagnitude(x, y, z)};
  }
  FDTD_HD FieldValues hAt(uint64_t i) const {
    const float x = h[0][i], y = h[1][i], z = h[2][i];
    return {x, y, z, i == keptH ? hMag : signedMagnitude(x, y, z)};
  }
};

// The six component arrays and the kept magnitudes that a probe reads.
struct CompactProbeArrays {
  const float* e[3];
  const float* h[3];
  const int32_t* probeSource;  // per probe: the first source of its cell, -1 when none
  const float* sourceMag;
  const float* faceMag;      // null with the absorbing layer (no Mur faces)
  const int32_t* probePort;  // per probe: the first port of its cell, -1 when none; or null
  const float* portMag;
};

// Sample of probe p into its record of the sample store; the caller has
// checked that a sample is due and that the store holds it.
FDTD_HD void compactProbeBody(const GridDesc& g, const FDTD_SAM& sam, const CompactProbeArrays& a,
                              const int64_t* probeCells, ProbeSample* samples, int64_t p) {
  const uint64_t cell = static_cast<uint64_t>(probeCells[p]);
  int64_t x, y, z;
  cellCoords(g, cell, x, y, z);
  CompactProbeView v{
      {a.e[0], a.e[1], a.e[2]}, {a.h[0], a.h[1], a.h[2]}, UINT64_MAX, UINT64_MAX, 0.0f, 0.0f};
  // Ports act before the sources: the first port of a cell keeps its
  // magnitude, else the first source.
  const int32_t src = a.probeSource[p], port = a.probePort ? a.probePort[p] : -1;
  if (port >= 0 || src >= 0) {
    v.keptE = eIndex(g, x, y, z);
    v.eMag = port >= 0 ? a.portMag[port] : a.sourceMag[src];
  }
  const int64_t face = a.faceMag ? faceMagAt(g, x, y, z) : -1;
  if (face >= 0) {
    v.keptH = hIndex(g, x, y, z);
    v.hMag = a.faceMag[face];
  }
  probeSampleOf(g, v, sam, cell, sampleRecord(sam, samples, p));
}

}  // namespace tavro
