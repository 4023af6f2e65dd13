// Data of the absorbing layer (-pml): the stretching coefficients per axis
// and the auxiliary fields, which exist only in the slabs of layer cells.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/buffer.h"
#include "engine/pml_kernels.h"

namespace tavro {

// One slab: the cells of the grid whose updates take a derivative along
// `axis` inside the layer on one side, [lo, hi) in grid coordinates.
struct PmlSlab {
  int axis = 0;
  int64_t lo[3] = {0, 0, 0};
  int64_t hi[3] = {0, 0, 0};
  // The auxiliary fields: four blocks of cells() floats, the two H
  // components and then the two E ones, each in the cell order of the plain
  // index (x-major). An H half-step touches only the first two blocks, an E
  // half-step only the last two.
  Buffer<float> psi;

  uint64_t cells() const {
    return static_cast<uint64_t>((hi[0] - lo[0]) * (hi[1] - lo[1]) * (hi[2] - lo[2]));
  }
  float* psiBlock(int block) { return psi.data() + static_cast<uint64_t>(block) * cells(); }
};

// Grading of the layer along its depth rho (0 inner face, 1 outer face):
// sigma = sigmaFactor * sigmaOpt * rho^order with sigmaOpt = 0.8 (order + 1)
// / (eta0 d), the optimum for a polynomial grading; kappa rises from 1 to
// kappaMax with the same polynomial; alpha falls linearly from alphaMax to 0.
// kappa shortens the wavelength inside the layer by kappa, so a large
// kappaMax leaves the upper part of a pulse's spectrum with too few cells per
// wavelength there, and the layer reflects it: with 1 mm cells and the
// Gaussian source, kappaMax 5 reflects 12 to 18 dB more than 2 (8 cells), and
// 1 is at most 2 dB better than 2, which keeps some damping of the
// evanescent near fields of sources close to the layer.
struct PmlGrading {
  double order = 3.0;
  double sigmaFactor = 1.0;
  double kappaMax = 2.0;
  double alphaMax = 0.05;  // S/m
};

struct PmlLayer {
  PmlGrading grading;
  // Per axis, per grid position along it: the coefficients of the derivative
  // of E taken by the H update (half a cell ahead) and of H taken by the E
  // update (at the position itself).
  std::vector<PmlCoef> hCoef[3], eCoef[3];
  PmlSlab slabs[6];  // axis x low, x high, y low, y high, z low, z high
  int slabCount = 0;
};

}  // namespace tavro
