// Spectrum of one probe's recorded samples: a direct discrete Fourier
// transform on a logarithmic grid of 2000 frequencies (ratio 1.004 between
// neighbours), each evaluated over the largest whole number of its periods
// that fits the recording:
//   X(f) = sum_j x(t_j) e^{-i 2 pi f t_j},  j < m = P / (f t1),  P = floor(f T),
// normalised by the number n of recorded samples.
#include "files/spectrum.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace tavro {

namespace {

constexpr float kTwoPi = 6.2831855f;
constexpr double kRatio = 1.004;

float sgn(float s) { return s > 0.0f ? 1.0f : (s < 0.0f ? -1.0f : 0.0f); }

// Truncation toward zero into uint32 that saturates instead of overflowing
// (negative and NaN give 0).
uint32_t truncU32(float v) {
  if (!(v > 0.0f)) return 0;
  if (v >= 4294967040.0f) return UINT32_MAX;
  return static_cast<uint32_t>(v);
}

// Truncation toward zero into int32, saturating.
int32_t truncI32(float v) {
  if (v != v) return 0;
  if (v >= 2147483520.0f) return INT32_MAX;
  if (v <= -2147483520.0f) return INT32_MIN;
  return static_cast<int32_t>(v);
}

// Slots of the twelve summed components: E, H, V and I along x, y, z.
constexpr int kSummed[12] = {kSlotEx, kSlotEy, kSlotEz, kSlotHx, kSlotHy, kSlotHz,
                             kSlotVx, kSlotVy, kSlotVz, kSlotIx, kSlotIy, kSlotIz};
enum { kE = 0, kH = 3, kV = 6, kI = 9 };

// One frequency point: transform and derived quantities into `out` (whose
// slot 0 holds the frequency). Slots 11, 15 and 23 are left as they are.
void transformPoint(const ProbeSample* samples, uint64_t stride, uint64_t n, float T, float t1,
                    ProbeSample& out) {
  const float f = out.v[kSlotTime];
  const uint32_t periods = truncU32(f * T);
  const float perSample = f * t1;
  uint64_t m = perSample > 0.0f ? truncU32(static_cast<float>(periods) / perSample) : 0;
  if (m > n) m = n;
  const float omega = f * kTwoPi;

  float re[12] = {}, im[12] = {};
  for (uint64_t j = 0; j < m; ++j) {
    const float* s = samples[j * stride].v;
    float theta = s[kSlotTime] * omega;
    theta = theta - kTwoPi * static_cast<float>(truncI32(theta / kTwoPi));
    const float c = std::cos(theta);
    const float d = -std::sin(theta);
    for (int q = 0; q < 12; ++q) {
      re[q] += s[kSummed[q]] * c;
      im[q] += s[kSummed[q]] * d;
    }
  }

  const float N = static_cast<float>(n);
  float* v = out.v;
  auto amplitude = [&](int q) { return std::sqrt(re[q] * re[q] + im[q] * im[q]) / N; };
  auto squared = [&](int q) { return re[q] * re[q] + im[q] * im[q]; };
  for (int q = 0; q < 3; ++q) {
    v[kSlotEx + q] = amplitude(kE + q);
    v[kSlotHx + q] = amplitude(kH + q);
  }
  v[kSlotE] = std::sqrt(squared(kE) + squared(kE + 1) + squared(kE + 2)) / N;
  v[kSlotH] = std::sqrt(squared(kH) + squared(kH + 1) + squared(kH + 2)) / N;

  // Signed real and imaginary totals of V and I, and their magnitude.
  auto signedTotal = [&](const float* a, int q) {
    return sgn(a[q] + a[q + 1] + a[q + 2]) *
           std::sqrt(a[q] * a[q] + a[q + 1] * a[q + 1] + a[q + 2] * a[q + 2]) / N;
  };
  auto magnitude = [&](int q) {
    return std::sqrt(re[q] * re[q] + re[q + 1] * re[q + 1] + re[q + 2] * re[q + 2] + im[q] * im[q] +
                     im[q + 1] * im[q + 1] + im[q + 2] * im[q + 2]) /
           N;
  };
  v[kSlotVx] = signedTotal(re, kV);
  v[kSlotVy] = signedTotal(im, kV);
  v[kSlotV] = magnitude(kV);
  v[kSlotIx] = signedTotal(re, kI);
  v[kSlotIy] = signedTotal(im, kI);
  v[kSlotI] = magnitude(kI);

  // Z = V I* / |I|^2 and P = V I* / N, per component and summed.
  float D = 0.0f, real = 0.0f, imag = 0.0f;
  for (int q = 0; q < 3; ++q) {
    D += re[kI + q] * re[kI + q] + im[kI + q] * im[kI + q];
    real += re[kV + q] * re[kI + q] + im[kV + q] * im[kI + q];
    imag += im[kV + q] * re[kI + q] - re[kV + q] * im[kI + q];
  }
  v[kSlotZx] = 0.0f;
  v[kSlotZy] = 0.0f;
  v[kSlotZz] = 0.0f;
  v[kSlotZ] = 0.0f;
  if (D != 0.0f) {
    v[kSlotZx] = real / D;
    v[kSlotZy] = imag / D;
  }
  v[kSlotZ] = std::sqrt(v[kSlotZx] * v[kSlotZx] + v[kSlotZy] * v[kSlotZy]);
  v[kSlotPx] = real / N;
  v[kSlotPy] = imag / N;
  v[kSlotP] = std::sqrt(v[kSlotPx] * v[kSlotPx] + v[kSlotPy] * v[kSlotPy]);
}

}  // namespace

void ComputeSpectrum(SimulationEngine& eng, int p) {
  const FDTD_SAM& s = eng.sam;
  if (p < 0 || p >= s.probeCount) return;
  ProbeSample* points = eng.spectrum.points.data();
  const uint64_t first = static_cast<uint64_t>(p) * kSpectrumPoints;
  if (eng.spectrum.points.size() < first + kSpectrumPoints) return;
  points += first;

  const uint64_t stride = static_cast<uint64_t>(s.probeCount);
  uint64_t n = 0;
  if (s.stepCount > 0 && s.stepLimit > 0)
    n = static_cast<uint64_t>(s.stepCount < s.stepLimit ? s.stepCount : s.stepLimit);
  if (n > eng.samples.size() / stride) n = eng.samples.size() / stride;
  const ProbeSample* samples = eng.samples.data() + p;

  // The grid needs the recorded duration T and the sampling interval t1 (the
  // second sample's time, the first being taken at 0). Without two samples at
  // increasing positive times there is no spectrum: all points read as zero.
  const float T = n >= 2 ? samples[(n - 1) * stride].v[kSlotTime] : 0.0f;
  const float t1 = n >= 2 ? samples[stride].v[kSlotTime] : 0.0f;
  if (n < 2 || !(t1 > 0.0f) || !(T > 0.0f) || !std::isfinite(1.0f / t1) ||
      !std::isfinite(1.0f / T)) {
    std::memset(static_cast<void*>(points), 0, kSpectrumPoints * sizeof(ProbeSample));
    return;
  }
  const float invT = 1.0f / T;
  const float invT1 = 1.0f / t1;

  // Long recordings start at 1/T and rise; shorter ones end at the sampling
  // rate 1/t1 and fall towards lower frequencies.
  const bool rising = static_cast<double>(n) > std::pow(kRatio, kSpectrumPoints);
#pragma omp parallel for schedule(static)
  for (int k = 0; k < kSpectrumPoints; ++k) {
    const double f =
        rising ? static_cast<double>(invT) * std::pow(kRatio, k)
               : static_cast<double>(invT1) * std::pow(1.0 / kRatio, kSpectrumPoints - 1 - k);
    points[k].v[kSlotTime] = static_cast<float>(f);
  }

#pragma omp parallel for schedule(static)
  for (int k = 0; k < kSpectrumPoints; ++k) transformPoint(samples, stride, n, T, t1, points[k]);
}

}  // namespace tavro
