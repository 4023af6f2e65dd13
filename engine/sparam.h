// S-parameters of the lumped ports: one run per excited port, ended by the
// decay of the energy in the box, and the transform of the ports' power
// waves at fmax k / 1000, k = 1 to 1000.
#pragma once

#include <complex>
#include <csignal>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/engine.h"

namespace tavro {

constexpr int kSparamPoints = 1000;
// A run ends when the energy in the box has fallen this far below its peak.
constexpr double kSparamDecayDb = -50.0;

struct SparamResult {
  double fmax = 0.0;
  int ports = 0;
  std::vector<float> R;                 // reference resistance of port n at n - 1
  std::vector<bool> excited;            // the columns computed so far
  std::vector<std::complex<double>> s;  // S[k][i][j] at (k * ports + i) * ports + j

  // Frequency of point k (0 to kSparamPoints - 1).
  double frequency(int k) const { return fmax * (k + 1) / kSparamPoints; }
  std::complex<double>& at(int k, int i, int j) {
    return s[(static_cast<size_t>(k) * ports + i) * ports + j];
  }
  const std::complex<double>& at(int k, int i, int j) const {
    return s[(static_cast<size_t>(k) * ports + i) * ports + j];
  }
  bool complete() const {
    for (bool e : excited)
      if (!e) return false;
    return ports > 0;
  }
};

// How one port's run ended.
struct PortRunEnd {
  int64_t steps = 0;      // time steps run
  double time = 0.0;      // simulated time at the end [s]
  double decayDb = 0.0;   // energy at the end relative to its peak [dB]
  bool decayed = false;   // ended by the energy decay (not by the step limit)
  bool stopped = false;   // ended by the stop flag
  bool unstable = false;  // ended because the fields overflowed (no result)
};

// Empty result for the engine's ports (all columns missing).
SparamResult NewSparamResult(const SimulationEngine& eng, double fmax);

// Runs the prepared model from time 0 with port index j excited up to fmax
// and every other port terminated, until the energy in the box has decayed
// below kSparamDecayDb of its peak (once the pulse is over), the sample
// limit is reached or *stop becomes non-zero. `progress` gets the time and
// the energy relative to its peak whenever the energy is taken. When
// `afterStep` is given, the run takes single steps and calls it after each.
PortRunEnd RunPortExcitation(SimulationEngine& eng, int j, double fmax,
                             const volatile std::sig_atomic_t* stop,
                             const std::function<void(double time, double db)>& progress,
                             const std::function<void()>& afterStep = {});

// Column j of S from the recording that the run of port j left, with
// a = (V + R I) / (2 sqrt R), b = (V - R I) / (2 sqrt R) and S_ij = b_i / a_j.
void AddSparamColumn(const SimulationEngine& eng, int j, SparamResult& r);

// Power accepted at port index j at each of `freqs` [Hz], 1/2 Re(V conj(I)),
// from the recording of its run: V and I transformed at those frequencies
// over the recorded steps and scaled by 2 / `steps`, as the far-field
// recorder scales its amplitudes, so that a spectrum common to both cancels
// in their ratio.
std::vector<double> AcceptedPower(const SimulationEngine& eng, int j,
                                  const std::vector<double>& freqs, int64_t steps);

}  // namespace tavro
