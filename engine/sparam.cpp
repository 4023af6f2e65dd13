// S-parameter runs: one excited port per run, the energy decay that ends a
// run, and the direct transform of the power waves.
#include "engine/sparam.h"

#include <algorithm>
#include <cmath>

#include "engine/field_kernels.h"
#include "engine/field_update.h"
#include "engine/ports.h"
#include "engine/setup.h"

namespace tavro {

namespace {

// Steps between two looks at the energy in the box (each costs about one
// pass over the cells).
constexpr int64_t kEnergyEvery = 16;

}  // namespace

SparamResult NewSparamResult(const SimulationEngine& eng, double fmax) {
  SparamResult r;
  r.fmax = fmax;
  r.ports = static_cast<int>(eng.ports.list.size());
  for (const FDTD_PORT& p : eng.ports.list) r.R.push_back(p.R);
  r.excited.assign(static_cast<size_t>(r.ports), false);
  r.s.assign(static_cast<size_t>(kSparamPoints) * r.ports * r.ports,
             std::complex<double>(NAN, NAN));
  return r;
}

PortRunEnd RunPortExcitation(SimulationEngine& eng, int j, double fmax,
                             const volatile std::sig_atomic_t* stop,
                             const std::function<void(double time, double db)>& progress,
                             const std::function<void()>& afterStep) {
  endCompactRun(eng);
  resetRun(eng);
  eng.ports.record = true;
  excitePort(eng, j, fmax);
  // Steps on the compact state where it serves the model; the energy and the
  // far-field recorder read it directly.
  beginCompactRun(eng);
  const FDTD_PORT& port = eng.ports.list[static_cast<size_t>(j)];
  // The pulse is over (below e^-20 of its peak) at twice its delay.
  const double pulseEnd = 2.0 * static_cast<double>(port.t0);
  PortRunEnd end;
  double peak = 0.0;
  int64_t lastLook = 0;
  FDTD_SAM& s = eng.sam;
  while (s.stepCount < s.stepLimit) {
    if (stop && *stop) {
      end.stopped = true;
      break;
    }
    FDTD_SAM next = s;
    advanceCounters(next);
    end.steps += stepBatchSteps(eng, next.stepCount < next.stepLimit && !afterStep ? 2 : 1);
    if (afterStep) afterStep();
    if (end.steps - lastLook < kEnergyEvery) continue;
    lastLook = end.steps;
    const double energy = boxEnergy(eng);
    if (!std::isfinite(energy)) {
      end.unstable = true;
      break;
    }
    if (energy > peak) peak = energy;
    end.decayDb =
        peak > 0.0 && energy > 0.0 ? 10.0 * std::log10(energy / peak) : (peak > 0.0 ? -400.0 : 0.0);
    if (progress) progress(s.time, end.decayDb);
    if (static_cast<double>(s.time) > pulseEnd && (peak == 0.0 || end.decayDb <= kSparamDecayDb)) {
      end.decayed = true;
      break;
    }
  }
  end.time = s.time;
  endCompactRun(eng);
  // The recording stays for AddSparamColumn; later steps neither excite nor record.
  eng.ports.record = false;
  excitePort(eng, -1, fmax);
  return end;
}

void AddSparamColumn(const SimulationEngine& eng, int j, SparamResult& r) {
  const PortSet& ps = eng.ports;
  const int n = r.ports;
  const int64_t steps = ps.step;
  const double dt = eng.sam.dt;
  // The power waves of every port, per step.
  std::vector<std::vector<double>> a(static_cast<size_t>(n)), b(static_cast<size_t>(n));
  for (int p = 0; p < n; ++p) {
    const double R = ps.list[static_cast<size_t>(p)].R, root = 2.0 * std::sqrt(R);
    a[p].resize(static_cast<size_t>(steps));
    b[p].resize(static_cast<size_t>(steps));
    for (int64_t t = 0; t < steps; ++t) {
      const double v = ps.v[p][static_cast<size_t>(t)], i = ps.i[p][static_cast<size_t>(t)];
      a[p][t] = (v + R * i) / root;
      b[p][t] = (v - R * i) / root;
    }
  }
#pragma omp parallel for schedule(static)
  for (int k = 0; k < kSparamPoints; ++k) {
    const double w = 2.0 * M_PI * r.frequency(k);
    // Step t holds the half step (t - 1/2) dt; the phase factor advances by
    // one step at a time and is taken afresh every 1024 steps, so that the
    // rounding of the products cannot build up.
    const std::complex<double> turn = std::polar(1.0, -w * dt);
    std::complex<double> A(0.0, 0.0);
    std::vector<std::complex<double>> B(static_cast<size_t>(n), std::complex<double>(0.0, 0.0));
    std::complex<double> phase;
    for (int64_t t = 0; t < steps; ++t) {
      if (t % 1024 == 0) phase = std::polar(1.0, -w * (static_cast<double>(t) - 0.5) * dt);
      A += a[j][t] * phase;
      for (int p = 0; p < n; ++p) B[p] += b[p][t] * phase;
      phase *= turn;
    }
    for (int i = 0; i < n; ++i) r.at(k, i, j) = B[i] / A;
  }
  r.excited[static_cast<size_t>(j)] = true;
}

std::vector<double> AcceptedPower(const SimulationEngine& eng, int j,
                                  const std::vector<double>& freqs, int64_t steps) {
  const PortSet& ps = eng.ports;
  const std::vector<float>& v = ps.v[static_cast<size_t>(j)];
  const std::vector<float>& i = ps.i[static_cast<size_t>(j)];
  const int64_t n = std::min<int64_t>(ps.step, static_cast<int64_t>(v.size()));
  const double dt = eng.sam.dt;
  const double scale = steps > 0 ? 2.0 / static_cast<double>(steps) : 0.0;
  std::vector<double> power;
  for (double f : freqs) {
    const double w = 2.0 * M_PI * f;
    std::complex<double> V(0.0, 0.0), I(0.0, 0.0);
    // Step t holds V and I of the half step (t - 1/2) dt.
    for (int64_t t = 0; t < n; ++t) {
      const std::complex<double> phase = std::polar(1.0, -w * (static_cast<double>(t) - 0.5) * dt);
      V += static_cast<double>(v[static_cast<size_t>(t)]) * phase;
      I += static_cast<double>(i[static_cast<size_t>(t)]) * phase;
    }
    V *= scale;
    I *= scale;
    power.push_back(0.5 * (V * std::conj(I)).real());
  }
  return power;
}

}  // namespace tavro
