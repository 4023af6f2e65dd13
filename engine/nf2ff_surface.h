// Far-field recording: running discrete Fourier transforms of the tangential
// E and H on the faces of a closed box, taken after every time step. Each
// field component is recorded at its own Yee position and at its own time (H
// is half a step behind E), so that the transform to the far field
// (nf2ff_transform.h) handles the staggering exactly.
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"

namespace tavro {

// The box in node coordinates of the drawn area: its faces lie on the planes
// x = x0 and x = x1 (and so on), through the cell corners.
struct SurfaceBox {
  int x0 = 0, y0 = 0, z0 = 0;
  int x1 = 0, y1 = 0, z1 = 0;
};

// The box whose faces lie 3 cells inside the faces of an X x Y x Z area.
SurfaceBox DefaultSurfaceBox(int X, int Y, int Z);

// Whether the box is a proper box inside an X x Y x Z area: H is taken half a
// cell on either side of each face, so a face must lie 1 to X-1 (1 to Y-1, 1
// to Z-1) and x0 < x1, y0 < y1, z0 < z1. Prints the error and returns false.
bool CheckSurfaceBox(const SurfaceBox& box, int X, int Y, int Z);

// Element of the field arrays for drawn cell (x, y, z) in grid `g` with an
// absorbing layer of `layer` cells around the drawn area. The E element of a
// cell is drawnElement(x, y, z), its H element drawnElement(x+1, y+1, z+1).
// The far-field recording reads every field value through this one mapping.
uint64_t drawnElement(const GridDesc& g, int32_t layer, int64_t x, int64_t y, int64_t z);
// The drawn area in cells, which the box's coordinates refer to.
void drawnArea(const GridDesc& g, int32_t layer, int& X, int& Y, int& Z);

// One field component on the surface and the equivalent current it stands
// for: E gives the magnetic current M = -n x E, H the electric current
// J = n x H, with n the outward normal of its face.
struct SurfaceSample {
  uint64_t element = 0;        // E or H element
  uint8_t component = 0;       // field component: 0 = x, 1 = y, 2 = z
  uint8_t axis = 0;            // direction of the equivalent current
  bool magnetic = false;       // an H sample (electric current)
  int32_t pos[3] = {0, 0, 0};  // position in half cells from node (x0, y0, z0)
  double weight = 0.0;         // signed surface element [m^2]
};

class FarFieldRecorder {
 public:
  // Lays out the samples of `box` on the engine's grid for the frequencies
  // `freqs` (Hz), with no step recorded yet. Returns false (and prints why)
  // when the box does not fit the grid or the accumulators cannot be
  // allocated.
  bool prepare(const SimulationEngine& eng, const std::vector<double>& freqs,
               const SurfaceBox& box);
  bool ready() const { return !freqs_.empty(); }
  // Back to no step recorded, the samples kept (for a fresh run of the model).
  void restart();

  // Adds the fields left by the time step just done: E at time s*dt, H at
  // (s - 1/2)*dt, where s counts the recorded steps from 1.
  void record(const SimulationEngine& eng);

  const std::vector<double>& frequencies() const { return freqs_; }
  const std::vector<SurfaceSample>& samples() const { return samples_; }
  const SurfaceBox& box() const { return box_; }
  int64_t steps() const { return steps_; }
  double cell(int axis) const { return cell_[axis]; }

  // The amplitude of sample i at frequency f: 2/steps times the running sum
  // of its values times exp(-j w t), which for a time-harmonic field over
  // whole periods is its complex amplitude (engineering convention
  // exp(+j w t)). Zero before the first step.
  std::complex<double> amplitude(std::size_t i, std::size_t f) const;

 private:
  std::vector<double> freqs_;
  std::vector<SurfaceSample> samples_;  // E samples first, then H samples
  std::size_t firstH_ = 0;
  std::vector<std::complex<double>> acc_;  // sample-major: i * F + f
  SurfaceBox box_;
  double cell_[3] = {0.0, 0.0, 0.0};
  double dt_ = 0.0;
  int64_t steps_ = 0;
};

}  // namespace tavro
