// Far field from the recorded surface: the radiation integrals of the
// equivalent currents J = n x H and M = -n x E with the free-space Green's
// function at r -> infinity, the radiated power and the directivity.
#pragma once

#include <complex>
#include <vector>

#include "engine/nf2ff_surface.h"

namespace tavro {

// Free-space constants of the transform (those of the set-up, in double).
constexpr double kFarEps0 = 8.854188e-12;
constexpr double kFarMu0 = 1.2566371e-6;

// r E at r -> infinity [V], with the phase of the box's centre taken out:
// E = rE exp(-j k r) / r with exp(+j w t) time dependence.
struct FarFieldPoint {
  std::complex<double> eTheta, ePhi;
};

// The far field at frequency index f in the directions (theta[i], phi[i])
// (radians). theta and phi have the same length.
std::vector<FarFieldPoint> FarField(const FarFieldRecorder& rec, std::size_t f,
                                    const std::vector<double>& theta,
                                    const std::vector<double>& phi);

// Radiation intensity of rE [W/sr]: (|rE_theta|^2 + |rE_phi|^2) / (2 eta).
double RadiationIntensity(const FarFieldPoint& p);

// The pattern on the grid of the result file: theta = 0, 2, ..., 180 degrees
// (91 values) by phi = 0, 2, ..., 358 (180 values), theta-major.
struct FarFieldPattern {
  static constexpr int kThetaCount = 91;
  static constexpr int kPhiCount = 180;
  static constexpr double kStepDeg = 2.0;
  std::vector<FarFieldPoint> points;
  // Radiated power [W]: the intensity integrated over the sphere of
  // directions on this grid (trapezoidal rule in theta, sum in phi).
  double power = 0.0;
  std::vector<double> directivity;      // D = 4 pi U / power per point (linear)
  double maxDirectivity = 0.0;          // the largest, first in grid order
  double maxTheta = 0.0, maxPhi = 0.0;  // its direction [deg]
};

FarFieldPattern ComputePattern(const FarFieldRecorder& rec, std::size_t f);

// Directivity in dBi of a linear value (zero gives -300).
double ToDbi(double d);

}  // namespace tavro
