#include "gui/graph_scale.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "files/spectrum.h"

namespace tavro {

const GraphQuantity kGraphQuantity[kGraphQuantities] = {
    {"(voltage)", kSlotV, "V", "V (dec/div)"},
    {"(current)", kSlotI, "A", "A (dec/div)"},
    {"(electric field)", kSlotE, "V/m", "V/m (dec/div)"},
    {"(magnetic field)", kSlotH, "A/m", "A/m (dec/div)"},
    {"(impedance)", kSlotZ, "ohm", "ohm (dec/div)"},
    {"(power)", kSlotP, "W", "W (dec/div)"},
};

const float kProbeColour[kProbeColours][3] = {
    {1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}, {0.0f, 1.0f, 1.0f},
    {1.0f, 0.0f, 1.0f}, {1.0f, 1.0f, 0.0f}, {1.0f, 0.5f, 0.5f}, {0.5f, 1.0f, 0.5f},
    {0.5f, 0.5f, 1.0f}, {0.5f, 1.0f, 1.0f}, {1.0f, 0.5f, 1.0f}, {0.5f, 1.0f, 1.0f},
    {0.5f, 0.0f, 0.0f}, {0.0f, 0.5f, 0.0f}, {0.0f, 0.0f, 0.5f}, {0.0f, 0.5f, 0.5f},
    {0.5f, 0.0f, 0.5f}, {0.5f, 0.5f, 0.0f},
};

namespace {

constexpr int kLowestExponent = -50;
constexpr int kHighestExponent = 49;

// The smallest power of ten 10^a, a from -50 upwards, above x (10^49 when
// none is; a NaN compares above none).
double powerOfTenAbove(float x) {
  for (int a = kLowestExponent; a <= kHighestExponent; ++a) {
    const double b = std::pow(10.0, a);
    if (static_cast<double>(x) < b) return b;
  }
  return std::pow(10.0, kHighestExponent);
}

constexpr float kMinusInfinity = -std::numeric_limits<float>::infinity();

}  // namespace

float NiceStepAbove(float x) {
  const double b = powerOfTenAbove(x);
  const double r = x / b;
  if (r < 0.2) return static_cast<float>(0.2 * b);
  if (r < 0.5) return static_cast<float>(0.5 * b);
  return static_cast<float>(b);
}

float DecadeAbove(float x) { return static_cast<float>(powerOfTenAbove(x)); }

void ScaleTimeGraphs(const SimulationEngine& eng, uint32_t n, float* maxima) {
  for (int q = 0; q < kGraphQuantities; ++q) maxima[q] = kMinusInfinity;
  const int probes = eng.sam.probeCount;
  for (int p = 0; p < probes; ++p) {
    for (uint32_t j = 0; j < n; ++j) {
      const ProbeSample& s = eng.samples[static_cast<size_t>(j) * probes + p];
      for (int q = 0; q < kGraphQuantities; ++q) {
        const float a = std::fabs(s.v[kGraphQuantity[q].slot]);
        if (a > maxima[q]) maxima[q] = NiceStepAbove(a);
      }
    }
  }
}

void ScaleStoredSpectra(const SimulationEngine& eng, float* maxima) {
  float* top = maxima + kGraphQuantities;
  for (int q = 0; q < kGraphQuantities; ++q) top[q] = kMinusInfinity;
  const int probes = eng.sam.probeCount;
  for (int p = 0; p < probes; ++p) {
    for (int k = 0; k < kSpectrumPoints; ++k) {
      const ProbeSample& s = eng.spectrum.points[static_cast<size_t>(p) * kSpectrumPoints + k];
      for (int q = 0; q < kGraphQuantities; ++q) {
        const float a = std::fabs(s.v[kGraphQuantity[q].slot]);
        if (a > top[q]) top[q] = DecadeAbove(a);
      }
    }
  }
}

void ScaleFrequencyGraphs(SimulationEngine& eng, float* maxima) {
  for (int p = 0; p < eng.sam.probeCount; ++p) ComputeSpectrum(eng, p);
  ScaleStoredSpectra(eng, maxima);
}

struct GraphSpectra::Jobs {
  std::vector<std::unique_ptr<SpectrumJob>> probe;
  size_t next = 0;  // the probe being summed
};

GraphSpectra::GraphSpectra() : jobs_(new Jobs) {}
GraphSpectra::~GraphSpectra() { delete jobs_; }

void GraphSpectra::Reset() {
  jobs_->probe.clear();
  jobs_->next = 0;
  ready_ = busy_ = false;
  startedAt_ = 0;
  lastPaint_ = -1.0;
}

double GraphSpectra::Budget(bool running, double sincePaint) {
  if (!running) return 0.1;
  return std::clamp(0.1 * sincePaint, 0.002, 0.02);
}

double GraphSpectra::Progress() const {
  const auto& jobs = jobs_->probe;
  if (!busy_ || jobs.empty()) return 1.0;
  double done = 0.0;
  for (const auto& job : jobs) done += job->Progress();
  return done / static_cast<double>(jobs.size());
}

bool GraphSpectra::Update(SimulationEngine& eng, uint32_t n, bool running, double now) {
  const double since = lastPaint_ < 0 ? 0.05 : now - lastPaint_;
  lastPaint_ = now;
  const int probes = eng.sam.probeCount;
  if (!busy_ && n > 0 && probes > 0 && (!ready_ || n != startedAt_)) {
    Jobs& j = *jobs_;
    j.probe.resize(static_cast<size_t>(probes));
    for (auto& job : j.probe) {
      if (!job) job = std::make_unique<SpectrumJob>();
    }
    bool started = true;
    for (int p = 0; p < probes; ++p) started = started && j.probe[p]->Start(eng, p);
    if (!started) return false;
    j.next = 0;
    busy_ = true;
    startedAt_ = n;
  }
  if (!busy_) return false;

  // Pieces of 256 samples until the paint's share of time is used.
  const double budget = Budget(running, since);
  const auto begin = std::chrono::steady_clock::now();
  Jobs& j = *jobs_;
  while (j.next < j.probe.size()) {
    SpectrumJob& job = *j.probe[j.next];
    if (job.Done()) {
      ++j.next;
      continue;
    }
    job.Advance(256);
    if (std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count() >= budget)
      break;
  }
  while (j.next < j.probe.size() && j.probe[j.next]->Done()) ++j.next;
  if (j.next < j.probe.size()) return true;

  busy_ = false;
  if (eng.spectrum.points.size() < j.probe.size() * kSpectrumPoints) return false;
  for (size_t p = 0; p < j.probe.size(); ++p)
    std::memcpy(static_cast<void*>(eng.spectrum.points.data() + p * kSpectrumPoints),
                j.probe[p]->Points(), kSpectrumPoints * sizeof(ProbeSample));
  ready_ = true;
  return false;
}

}  // namespace tavro
