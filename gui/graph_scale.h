// Scales of the waveform graphs: the rounded limits of the time graphs, the
// decade tops of the frequency graphs, the quantity table and the probe
// colours, and the pacing of the spectrum computation behind the frequency
// graphs.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace tavro {

constexpr int kGraphQuantities = 6;
constexpr int kGraphMaxima = 2 * kGraphQuantities;  // time limits, then frequency tops
constexpr int kProbeColours = 18;

struct GraphQuantity {
  const char* title;
  int slot;  // ProbeSample slot, the same in time and frequency records
  const char* timeUnit;
  const char* frequencyUnit;
};
extern const GraphQuantity kGraphQuantity[kGraphQuantities];
extern const float kProbeColour[kProbeColours][3];

// Smallest of 2, 5 or 10 times a power of ten (10^-50 .. 10^49) above x.
float NiceStepAbove(float x);
// Smallest power of ten (10^-50 .. 10^49) above x.
float DecadeAbove(float x);

// Limits 0..5 of `maxima` from the first n samples of every probe.
void ScaleTimeGraphs(const SimulationEngine& eng, uint32_t n, float* maxima);
// Spectra of every probe (ComputeSpectrum), then tops 6..11 of `maxima`.
void ScaleFrequencyGraphs(SimulationEngine& eng, float* maxima);
// Tops 6..11 of `maxima` from the spectra as they stand.
void ScaleStoredSpectra(const SimulationEngine& eng, float* maxima);

// Decides when the frequency graphs recompute their spectra. A direct
// transform over hundreds of thousands of samples takes long, so while a run
// is going a recomputation waits until the time since the last one is at
// least nine times what that one cost (spectra then take at most a tenth of
// the time), and only when new samples exist. A stopped run recomputes
// whenever new samples exist, so its picture is never stale.
class SpectrumPacer {
 public:
  // Whether the spectra should be computed now for `samples` recorded
  // samples, at time `now` in seconds.
  bool Due(uint32_t samples, bool running, double now) const;
  // Records a computation for `samples` samples that ran from start to end.
  void Done(uint32_t samples, double start, double end);
  // Forgets the last computation (a new run was set up).
  void Reset() { computed_ = false; }

 private:
  bool computed_ = false;
  uint32_t samples_ = 0;
  double cost_ = 0.0;
  double end_ = 0.0;
};

}  // namespace tavro
