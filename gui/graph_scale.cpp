#include "gui/graph_scale.h"

#include <cmath>
#include <limits>

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

bool SpectrumPacer::Due(uint32_t samples, bool running, double now) const {
  if (!computed_) return true;
  if (samples == samples_) return false;
  if (!running) return true;
  return now - end_ >= 9.0 * cost_;
}

void SpectrumPacer::Done(uint32_t samples, double start, double end) {
  computed_ = true;
  samples_ = samples;
  cost_ = end - start;
  end_ = end;
}

}  // namespace tavro
