// Index rules of the field arrays, shared by the CPU loops and the GPU kernels.
#pragma once

#include <cstdint>

#include "engine/hd.h"
#include "engine/records.h"

namespace tavro {

// E element of cell (x, y, z); valid for 0 <= x <= X (and so on): the layer
// at X, Y, Z is the zero guard layer.
FDTD_HD uint64_t eIndex(const GridDesc& g, int64_t x, int64_t y, int64_t z) {
  return (static_cast<uint64_t>(x) * static_cast<uint64_t>(g.ny + 1) + static_cast<uint64_t>(y)) *
             static_cast<uint64_t>(g.nz + 1) +
         static_cast<uint64_t>(z);
}

// H element of cell (x, y, z); valid for -1 <= x < X: the layer at -1 is the
// zero guard layer. hIndex(x, y, z) == eIndex(x + 1, y + 1, z + 1).
FDTD_HD uint64_t hIndex(const GridDesc& g, int64_t x, int64_t y, int64_t z) {
  return eIndex(g, x + 1, y + 1, z + 1);
}

// Strides of the field arrays in elements: one step along y and along x (the
// z stride is 1). E and H share them.
struct Strides {
  uint64_t sy, sx;
};

FDTD_HD Strides stridesOf(const GridDesc& g) {
  const uint64_t sy = static_cast<uint64_t>(g.nz) + 1;
  return {sy, (static_cast<uint64_t>(g.ny) + 1) * sy};
}

// Plain index of cell (x, y, z) in the per-cell arrays.
FDTD_HD uint64_t plainIndex(const GridDesc& g, int64_t x, int64_t y, int64_t z) {
  return (static_cast<uint64_t>(x) * static_cast<uint64_t>(g.ny) + static_cast<uint64_t>(y)) *
             static_cast<uint64_t>(g.nz) +
         static_cast<uint64_t>(z);
}

// Coordinates of plain index k. Boxes of fewer than 2^32 cells divide in 32
// bits: the same quotients, and far cheaper where division is emulated (the
// GPU kernels decode one index per thread).
FDTD_HD void cellCoords(const GridDesc& g, uint64_t k, int64_t& x, int64_t& y, int64_t& z) {
  if (g.cellCount <= 0xffffffffull) {
    const uint32_t kk = static_cast<uint32_t>(k);
    const uint32_t ny = static_cast<uint32_t>(g.ny), nz = static_cast<uint32_t>(g.nz);
    x = kk / static_cast<uint32_t>(g.countYZ);
    y = (kk / nz) % ny;
    z = kk % nz;
    return;
  }
  x = static_cast<int64_t>(k / g.countYZ);
  y = static_cast<int64_t>((k / static_cast<uint64_t>(g.nz)) % static_cast<uint64_t>(g.ny));
  z = static_cast<int64_t>(k % static_cast<uint64_t>(g.nz));
}

// Mur coefficients of the face cells: two per position of the combined face
// index (Z faces from 0 at x*Y + y, X faces from countXY at y*Z + z, Y faces
// from countZXFaces at z*X + x, the positions of the Mur store records),
// the near face (coordinate 0) first, then the far one. Each holds the
// coefficient of its face's normal axis; a cell on an edge or a corner has
// one entry per face it lies on.
FDTD_HD uint64_t murCoefZ(const GridDesc& g, int64_t x, int64_t y, int side) {
  return 2 * (static_cast<uint64_t>(x) * static_cast<uint64_t>(g.ny) + static_cast<uint64_t>(y)) +
         static_cast<uint64_t>(side);
}
FDTD_HD uint64_t murCoefX(const GridDesc& g, int64_t y, int64_t z, int side) {
  return 2 * (g.countXY + static_cast<uint64_t>(y) * static_cast<uint64_t>(g.nz) +
              static_cast<uint64_t>(z)) +
         static_cast<uint64_t>(side);
}
FDTD_HD uint64_t murCoefY(const GridDesc& g, int64_t x, int64_t z, int side) {
  return 2 * (g.countZXFaces + static_cast<uint64_t>(z) * static_cast<uint64_t>(g.nx) +
              static_cast<uint64_t>(x)) +
         static_cast<uint64_t>(side);
}

// Plain grid index of drawn cell (x, y, z). An absorbing layer of `layer`
// cells (0 = none) lies around the drawn area on every side, so drawn cell
// (0, 0, 0) is grid cell (layer, layer, layer). Every conversion of a drawn
// coordinate into an array index goes through this function.
FDTD_HD uint64_t drawnCellIndex(const GridDesc& g, int32_t layer, int64_t x, int64_t y, int64_t z) {
  return plainIndex(g, x + layer, y + layer, z + layer);
}

}  // namespace tavro
