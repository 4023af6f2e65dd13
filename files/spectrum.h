// Spectrum of the recorded probe samples on a 2000-point logarithmic grid.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace tavro {

// Fills the 2000 points of probe p in the spectrum store.
void ComputeSpectrum(SimulationEngine& eng, int p);

// The same transform summed directly, one point after the other over the
// strided sample store. It gives the same values bit for bit and is kept as
// the plain statement of the sum against which the blocked form is checked.
void ComputeSpectrumDirect(SimulationEngine& eng, int p);

// One probe's spectrum computed a piece at a time, for a caller that must
// stay responsive while it is computed. Start fixes the recording as it
// stands (its first n samples) and writes the frequency grid; every Advance
// adds the next samples (at most 2048) to the sums of all points; once Done,
// Points holds exactly what ComputeSpectrum gives for that recording. The
// sample store must stay in place (no new set-up) until then; samples
// recorded meanwhile are not included.
class SpectrumJob {
 public:
  SpectrumJob();
  ~SpectrumJob();
  SpectrumJob(const SpectrumJob&) = delete;
  SpectrumJob& operator=(const SpectrumJob&) = delete;

  // Returns false when the probe does not exist or the buffers cannot be had.
  bool Start(SimulationEngine& eng, int p);
  void Advance(uint64_t samples);
  bool Done() const;
  double Progress() const;  // share of the sums done, 0..1
  const ProbeSample* Points() const;

 private:
  struct State;
  State* s_;
};

}  // namespace tavro
