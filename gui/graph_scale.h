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

// The spectra that the frequency graphs draw. A direct transform over
// hundreds of thousands of samples takes seconds, so it is computed a piece
// at a time, at most a tenth of the wall time while a run goes on, and the
// graphs draw the last finished spectra meanwhile. A computation starts when
// the last one is finished and new samples exist; it covers every probe's
// samples as they stood at its start, and its results equal ComputeSpectrum's.
class GraphSpectra {
 public:
  GraphSpectra();
  ~GraphSpectra();
  GraphSpectra(const GraphSpectra&) = delete;
  GraphSpectra& operator=(const GraphSpectra&) = delete;

  // Called at every paint of a frequency graph at time `now` (seconds), with
  // the first n samples recorded. Works on the spectra for the paint's share
  // of time and copies finished ones into the engine's spectrum store.
  // Returns true while a computation is unfinished (a stopped run then asks
  // for another paint to go on with it).
  bool Update(SimulationEngine& eng, uint32_t n, bool running, double now);
  // True when the store holds spectra of the current run.
  bool Ready() const { return ready_; }
  // Share of the unfinished computation done, 0..1 (1 when there is none).
  double Progress() const;
  // Forgets everything (a new run was set up).
  void Reset();

  // Seconds of work at a paint `sincePaint` seconds after the one before: a
  // tenth of it while running (2 to 20 ms, so that a slow paint does not
  // lengthen the next), 0.1 s when stopped.
  static double Budget(bool running, double sincePaint);

 private:
  struct Jobs;
  Jobs* jobs_;
  bool ready_ = false;
  bool busy_ = false;
  uint32_t startedAt_ = 0;  // samples of the running or last computation
  double lastPaint_ = -1.0;
};

}  // namespace tavro
