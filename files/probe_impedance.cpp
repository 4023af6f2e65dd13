#include "files/probe_impedance.h"

#include <cmath>

namespace tavro {

namespace {

// Whether one quantity (components at slots first..first+2) settles away from
// rest and from its first sample.
bool settles(const ProbeSample* samples, uint64_t stride, uint64_t n, int first) {
  double swing = 0.0;
  for (uint64_t j = 0; j < n; ++j)
    for (int a = 0; a < 3; ++a)
      swing = std::fmax(swing, std::fabs(static_cast<double>(samples[j * stride].v[first + a])));
  if (!(swing > 0.0) || !std::isfinite(swing)) return false;
  const double limit = kSettledShare * swing;
  const uint64_t half = n / 2, length = n - half;
  const double pi = 3.14159265358979323846;
  for (int a = 0; a < 3; ++a) {
    double sum = 0.0, weights = 0.0;
    for (uint64_t j = half; j < n; ++j) {
      const double s = std::sin(pi * (static_cast<double>(j - half) + 0.5) / length);
      sum += s * s * static_cast<double>(samples[j * stride].v[first + a]);
      weights += s * s;
    }
    const double level = sum / weights;
    if (std::fabs(level) > limit && std::fabs(level - samples[0].v[first + a]) > limit) return true;
  }
  return false;
}

}  // namespace

bool SettlesAway(const ProbeSample* samples, uint64_t stride, uint64_t n) {
  if (n < 4 || samples == nullptr) return false;
  return settles(samples, stride, n, kSlotVx) || settles(samples, stride, n, kSlotIx);
}

void ImpedanceFromSums(const float* reV, const float* imV, const float* reI, const float* imI,
                       double phase, float& zr, float& zi) {
  double D = 0.0, real = 0.0, imag = 0.0;
  for (int q = 0; q < 3; ++q) {
    D += static_cast<double>(reI[q]) * reI[q] + static_cast<double>(imI[q]) * imI[q];
    real += static_cast<double>(reV[q]) * reI[q] + static_cast<double>(imV[q]) * imI[q];
    imag += static_cast<double>(imV[q]) * reI[q] - static_cast<double>(reV[q]) * imI[q];
  }
  zr = 0.0f;
  zi = 0.0f;
  if (D == 0.0) return;
  const double c = std::cos(phase), s = std::sin(phase);
  zr = static_cast<float>((real * c + imag * s) / D);
  zi = static_cast<float>((imag * c - real * s) / D);
}

}  // namespace tavro
