// Spectrum of one probe's recorded samples: a direct discrete Fourier
// transform on a logarithmic grid of 2000 frequencies (ratio 1.004 between
// neighbours), each evaluated over the largest whole number of its periods
// that fits the recording:
//   X(f) = sum_j x(t_j) e^{-i 2 pi f t_j},  j < m = P / (f t1),  P = floor(f T),
// normalised by the number n of recorded samples.
#include "files/spectrum.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "engine/buffer.h"
#include "files/probe_impedance.h"

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

// Four floats as one vector value (split into as many registers as the
// target needs). Every operation on it is the same IEEE operation per lane as
// on a single float.
using Floats4 = float __attribute__((vector_size(4 * sizeof(float))));
using Ints4 = int32_t __attribute__((vector_size(4 * sizeof(int32_t))));

inline float select(bool m, float a, float b) { return m ? a : b; }
inline Floats4 select(Ints4 m, Floats4 a, Floats4 b) { return m ? a : b; }
inline float truncateToInt(float c) { return static_cast<float>(static_cast<int32_t>(c)); }
inline Floats4 truncateToInt(Floats4 c) {
  return __builtin_convertvector(__builtin_convertvector(c, Ints4), Floats4);
}

// Whole turns in t: t truncated toward zero as a 32-bit integer that
// saturates instead of overflowing (NaN gives 0), returned as a float. One
// definition for a float and for four lanes at once.
template <class T>
inline T wholeTurns(T t) {
  const T limit = T{} + 2147483520.0f;  // largest float below 2^31
  const T zero = T{};
  T c = select(t != t, zero, t);
  c = select(c > limit, limit, c);
  c = select(c < -limit, -limit, c);
  T r = truncateToInt(c);
  r = select(t >= limit, zero + 2147483648.0f, r);  // INT32_MAX as a float
  r = select(t <= -limit, zero - 2147483648.0f, r);
  return r;
}

// Slots of the twelve summed components: E, H, V and I along x, y, z. After
// them come the differences of V and I from each sample to the next (see
// probe_impedance.h). The sums are held in 24 lanes (the last six stay zero)
// so that the sum over the components compiles to whole vector operations.
constexpr int kSummed[12] = {kSlotEx, kSlotEy, kSlotEz, kSlotHx, kSlotHy, kSlotHz,
                             kSlotVx, kSlotVy, kSlotVz, kSlotIx, kSlotIy, kSlotIz};
constexpr int kLanes = 24;
constexpr int kVectors = kLanes / 4;
enum { kE = 0, kH = 3, kV = 6, kI = 9, kDV = 12, kDI = 15, kUsed = 18 };

// Samples m summed at frequency f: the largest whole number of periods of f
// in the recording of duration T, P = trunc(f T), spans m = trunc(P / (f t1))
// samples, at most n.
uint64_t summedSamples(float f, uint64_t n, float T, float t1) {
  const uint32_t periods = truncU32(f * T);
  const float perSample = f * t1;
  uint64_t m = perSample > 0.0f ? truncU32(static_cast<float>(periods) / perSample) : 0;
  return m < n ? m : n;
}

// Phase of the transform at sample time t: theta = omega t reduced by whole
// turns, so that the sine and cosine see at most one period.
template <class T>
inline T phase(T t, float omega) {
  const T theta = t * omega;
  return theta - kTwoPi * wholeTurns(theta / kTwoPi);
}

// Kernel of the transform at phase theta: c = cos theta, d = -sin theta.
inline void kernel(float theta, float& c, float& d) {
  c = std::cos(theta);
  d = -std::sin(theta);
}

// Adds the terms of one sample to the sums: re += x c, im += x d per lane.
inline void accumulate(const float* x, float c, float d, float* re, float* im) {
  for (int q = 0; q < kLanes; ++q) {
    re[q] += x[q] * c;
    im[q] += x[q] * d;
  }
}

// The twelve summed components of one sample and the differences of its V
// and I to the next sample (0 for the last one, `next` null), gathered into
// the lanes.
inline void gather(const float* s, const float* next, float* x) {
  for (int q = 0; q < 12; ++q) x[q] = s[kSummed[q]];
  for (int q = 0; q < 3; ++q) {
    x[kDV + q] = next ? next[kSlotVx + q] - s[kSlotVx + q] : 0.0f;
    x[kDI + q] = next ? next[kSlotIx + q] - s[kSlotIx + q] : 0.0f;
  }
  for (int q = kUsed; q < kLanes; ++q) x[q] = 0.0f;
}

// Derived quantities of one point from its sums (normalised by the n
// recorded samples) into `out`, whose slot 0 holds the frequency. Slots 11,
// 15 and 23 are left as they are. With `differences` Z comes from the sums of
// the differences, with I taken half a time step (halfStep seconds) later.
void finishPoint(const float* re, const float* im, uint64_t n, bool differences, double halfStep,
                 ProbeSample& out) {
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
  if (differences) {
    const double omega = static_cast<double>(v[kSlotTime]) * 2.0 * 3.14159265358979323846;
    ImpedanceFromSums(re + kDV, im + kDV, re + kDI, im + kDI, omega * halfStep, v[kSlotZx],
                      v[kSlotZy]);
  }
  v[kSlotZ] = std::sqrt(v[kSlotZx] * v[kSlotZx] + v[kSlotZy] * v[kSlotZy]);
  v[kSlotPx] = real / N;
  v[kSlotPy] = imag / N;
  v[kSlotP] = std::sqrt(v[kSlotPx] * v[kSlotPx] + v[kSlotPy] * v[kSlotPy]);
}

// What both forms of the transform need of one probe.
struct Recording {
  const ProbeSample* samples = nullptr;  // sample j of the probe at samples[j * stride]
  uint64_t stride = 0;
  uint64_t n = 0;                 // recorded samples
  float T = 0.0f;                 // time of the last sample
  float t1 = 0.0f;                // time of the second sample
  bool differences = false;       // Z from the differences (the recording settles away)
  double halfStep = 0.0;          // half the time step [s]: I's lag behind V
  ProbeSample* points = nullptr;  // the probe's 2000 points
};

// The sample after sample j, or null for the last one.
inline const float* nextSample(const Recording& r, uint64_t j) {
  return j + 1 < r.n ? r.samples[(j + 1) * r.stride].v : nullptr;
}

// Whether the run is fed by a Gaussian or pulse source: only their charge
// remains as a step in a recording. A CW or DC source holds its level from the
// first step on, a constant that the whole-period sums remove, so the probes
// of such runs keep the plain ratio of the sums.
bool HasTransientSource(const SimulationEngine& eng) {
  const int count = eng.sam.sourceCount;
  for (int i = 0; i < count && static_cast<size_t>(i) < eng.sources.size(); ++i) {
    const int32_t type = eng.sources[i].type;
    if (type == kSrcGauss || type == kSrcPulse) return true;
  }
  return false;
}

// Checks the probe and its recording and writes the frequency grid into the
// probe's points of the store, or into `out` when given. Returns false when
// there is nothing to transform (the points are then untouched or zero, as
// the recording requires).
bool prepare(SimulationEngine& eng, int p, Recording& r, ProbeSample* out = nullptr) {
  const FDTD_SAM& s = eng.sam;
  if (p < 0 || p >= s.probeCount) return false;
  const uint64_t first = static_cast<uint64_t>(p) * kSpectrumPoints;
  if (out) {
    r.points = out;
  } else {
    if (eng.spectrum.points.size() < first + kSpectrumPoints) return false;
    r.points = eng.spectrum.points.data() + first;
  }

  r.stride = static_cast<uint64_t>(s.probeCount);
  uint64_t n = 0;
  if (s.stepCount > 0 && s.stepLimit > 0)
    n = static_cast<uint64_t>(s.stepCount < s.stepLimit ? s.stepCount : s.stepLimit);
  if (n > eng.samples.size() / r.stride) n = eng.samples.size() / r.stride;
  r.n = n;
  // An empty store forms no pointer into it.
  r.samples = n > 0 ? eng.samples.data() + p : nullptr;

  // The grid needs the recorded duration T and the sampling interval t1 (the
  // second sample's time, the first being taken at 0). Without two samples at
  // increasing positive times there is no spectrum: all points read as zero.
  r.T = n >= 2 ? r.samples[(n - 1) * r.stride].v[kSlotTime] : 0.0f;
  r.t1 = n >= 2 ? r.samples[r.stride].v[kSlotTime] : 0.0f;
  if (n < 2 || !(r.t1 > 0.0f) || !(r.T > 0.0f) || !std::isfinite(1.0f / r.t1) ||
      !std::isfinite(1.0f / r.T)) {
    std::memset(static_cast<void*>(r.points), 0, kSpectrumPoints * sizeof(ProbeSample));
    return false;
  }
  r.differences = HasTransientSource(eng) && SettlesAway(r.samples, r.stride, n);
  r.halfStep = 0.5 * static_cast<double>(eng.sam.dt);
  const float invT = 1.0f / r.T;
  const float invT1 = 1.0f / r.t1;

  // Long recordings start at 1/T and rise; shorter ones end at the sampling
  // rate 1/t1 and fall towards lower frequencies.
  const bool rising = static_cast<double>(n) > std::pow(kRatio, kSpectrumPoints);
  ProbeSample* points = r.points;
#pragma omp parallel for schedule(static)
  for (int k = 0; k < kSpectrumPoints; ++k) {
    const double f =
        rising ? static_cast<double>(invT) * std::pow(kRatio, k)
               : static_cast<double>(invT1) * std::pow(1.0 / kRatio, kSpectrumPoints - 1 - k);
    points[k].v[kSlotTime] = static_cast<float>(f);
  }
  return true;
}

// Adds samples 0 to end-1 of a gathered tile (components x, times) to the
// sums of one point at angular frequency omega (sums at acc: kLanes real, then
// kLanes imaginary lanes): first the phases, four at a time, then the kernel
// values, then the sums, four lanes per vector, so that the sums stay in
// registers instead of being saved around every library call. cs and ds are
// scratch rows of the tile's length (a multiple of four, like the times,
// whose unused tail only feeds discarded lanes).
void sumTile(const float* x, const float* times, float* cs, float* ds, uint64_t end, float omega,
             float* acc) {
  for (uint64_t j = 0; j < end; j += 4) {
    Floats4 t;
    std::memcpy(&t, times + j, sizeof t);
    const Floats4 th = phase(t, omega);
    std::memcpy(cs + j, &th, sizeof th);
  }
  for (uint64_t j = 0; j < end; ++j) kernel(cs[j], cs[j], ds[j]);
  for (const float* w : {cs, ds}) {
    Floats4 a[kVectors];
    std::memcpy(&a, acc, sizeof a);
    for (uint64_t j = 0; j < end; ++j) {
      const float* v = x + j * kLanes;
#pragma GCC unroll 8
      for (int q = 0; q < kVectors; ++q) {
        Floats4 vq;
        std::memcpy(&vq, v + 4 * q, sizeof vq);
        a[q] += vq * w[j];
      }
    }
    std::memcpy(acc, &a, sizeof a);
    acc += kLanes;
  }
}

// Samples per tile of the blocked transform: the gathered tile (100 bytes per
// sample) stays in the core's cache while every point of the thread sums it.
constexpr uint64_t kTile = 2048;

}  // namespace

void ComputeSpectrumDirect(SimulationEngine& eng, int p) {
  Recording r;
  if (!prepare(eng, p, r)) return;
  const Recording rc = r;
#pragma omp parallel for schedule(static)
  for (int k = 0; k < kSpectrumPoints; ++k) {
    ProbeSample& out = rc.points[k];
    const float f = out.v[kSlotTime];
    const uint64_t m = summedSamples(f, rc.n, rc.T, rc.t1);
    const float omega = f * kTwoPi;
    float re[kLanes] = {}, im[kLanes] = {}, x[kLanes];
    for (uint64_t j = 0; j < m; ++j) {
      const float* s = rc.samples[j * rc.stride].v;
      float c, d;
      kernel(phase(s[kSlotTime], omega), c, d);
      gather(s, nextSample(rc, j), x);
      accumulate(x, c, d, re, im);
    }
    finishPoint(re, im, rc.n, rc.differences, rc.halfStep, out);
  }
}

// The same sums, blocked: every thread walks the recording tile by tile,
// gathers the tile's times and components into a compact buffer of its own,
// and adds the tile to the running sums of each of its points. Each point
// still adds its samples one by one in increasing order with the same float
// operations, so the results equal the direct sum bit for bit; the blocking
// only replaces 2000 strided passes over the whole store by one pass per
// thread over the store and 2000 passes over a tile held in cache.
void ComputeSpectrum(SimulationEngine& eng, int p) {
  Recording r;
  if (!prepare(eng, p, r)) return;
  const Recording rc = r;

  // Running sums of all points, and per thread one gathered tile.
  Buffer<float> sums;
  const int threads = omp_get_max_threads();
  Buffer<float> tiles;
  if (!sums.allocate(static_cast<size_t>(kSpectrumPoints) * 2 * kLanes) ||
      !tiles.allocate(static_cast<size_t>(threads) * kTile * (kLanes + 3))) {
    ComputeSpectrumDirect(eng, p);  // no room for the buffers: the unblocked sum
    return;
  }
  std::memset(static_cast<void*>(sums.data()), 0, sums.bytes());
  float* sumsAll = sums.data();
  float* tilesAll = tiles.data();

#pragma omp parallel num_threads(threads)
  {
    float* x = tilesAll + static_cast<size_t>(omp_get_thread_num()) * kTile * (kLanes + 3);
    float* times = x + kTile * kLanes;
    float* cs = times + kTile;
    float* ds = cs + kTile;
    std::memset(times, 0, kTile * sizeof(float));
    // The same static split of the points as a plain parallel loop.
    const int team = omp_get_num_threads(), id = omp_get_thread_num();
    const int per = kSpectrumPoints / team, extra = kSpectrumPoints % team;
    const int k0 = id * per + (id < extra ? id : extra);
    const int k1 = k0 + per + (id < extra ? 1 : 0);
    uint64_t mMax = 0;
    for (int k = k0; k < k1; ++k) {
      const uint64_t m = summedSamples(rc.points[k].v[kSlotTime], rc.n, rc.T, rc.t1);
      if (m > mMax) mMax = m;
    }
    for (uint64_t j0 = 0; j0 < mMax; j0 += kTile) {
      const uint64_t j1 = j0 + kTile < mMax ? j0 + kTile : mMax;
      for (uint64_t j = j0; j < j1; ++j) {
        const float* s = rc.samples[j * rc.stride].v;
        times[j - j0] = s[kSlotTime];
        gather(s, nextSample(rc, j), x + (j - j0) * kLanes);
      }
      for (int k = k0; k < k1; ++k) {
        const float f = rc.points[k].v[kSlotTime];
        const uint64_t m = summedSamples(f, rc.n, rc.T, rc.t1);
        if (m <= j0) continue;
        const uint64_t end = (m < j1 ? m : j1) - j0;
        const float omega = f * kTwoPi;
        sumTile(x, times, cs, ds, end, omega, sumsAll + static_cast<size_t>(k) * 2 * kLanes);
      }
    }
    for (int k = k0; k < k1; ++k) {
      const float* acc = sumsAll + static_cast<size_t>(k) * 2 * kLanes;
      finishPoint(acc, acc + kLanes, rc.n, rc.differences, rc.halfStep, rc.points[k]);
    }
  }
}

// The piecewise form keeps the running sums of all points between calls and
// adds one gathered tile of samples per Advance, in sample order, with the
// blocked form's operations: the points end bit for bit as ComputeSpectrum
// leaves them.
struct SpectrumJob::State {
  Recording r;
  Buffer<ProbeSample> points;  // the grid, then the results
  Buffer<float> sums;          // per point kLanes real, then kLanes imaginary lanes
  Buffer<float> tile;          // kTile samples: components, then times
  Buffer<float> scratch;       // per thread the kernel rows cs and ds
  uint64_t next = 0;           // first sample not yet added
  uint64_t end = 0;            // samples the longest sum takes
  bool done = true;
};

SpectrumJob::SpectrumJob() : s_(new State) {}
SpectrumJob::~SpectrumJob() { delete s_; }

bool SpectrumJob::Start(SimulationEngine& eng, int p) {
  State& s = *s_;
  s.done = true;
  s.next = s.end = 0;
  const int threads = omp_get_max_threads();
  if ((s.points.size() < kSpectrumPoints && !s.points.allocate(kSpectrumPoints)) ||
      (s.sums.size() == 0 && !s.sums.allocate(static_cast<size_t>(kSpectrumPoints) * 2 * kLanes)) ||
      (s.tile.size() == 0 && !s.tile.allocate(kTile * (kLanes + 1))) ||
      (s.scratch.size() < static_cast<size_t>(threads) * 2 * kTile &&
       !s.scratch.allocate(static_cast<size_t>(threads) * 2 * kTile)))
    return false;
  std::memset(static_cast<void*>(s.sums.data()), 0, s.sums.bytes());
  std::memset(static_cast<void*>(s.tile.data()), 0, s.tile.bytes());
  if (!prepare(eng, p, s.r, s.points.data())) {
    // Nothing to sum: the points are zero, or untouched when the probe has
    // no points at all.
    if (p < 0 || p >= eng.sam.probeCount) return false;
    s.done = true;
    return true;
  }
  for (int k = 0; k < kSpectrumPoints; ++k) {
    const uint64_t m = summedSamples(s.points[k].v[kSlotTime], s.r.n, s.r.T, s.r.t1);
    if (m > s.end) s.end = m;
  }
  s.done = false;
  if (s.end == 0) Advance(0);
  return true;
}

void SpectrumJob::Advance(uint64_t samples) {
  State& s = *s_;
  if (s.done) return;
  const Recording& rc = s.r;
  const uint64_t j0 = s.next;
  const uint64_t j1 = j0 + std::min<uint64_t>(samples, kTile) < s.end
                          ? j0 + std::min<uint64_t>(samples, kTile)
                          : s.end;
  float* x = s.tile.data();
  float* times = x + kTile * kLanes;
  for (uint64_t j = j0; j < j1; ++j) {
    const float* v = rc.samples[j * rc.stride].v;
    times[j - j0] = v[kSlotTime];
    gather(v, nextSample(rc, j), x + (j - j0) * kLanes);
  }
  float* sumsAll = s.sums.data();
  float* scratch = s.scratch.data();
  ProbeSample* points = s.points.data();
  if (j1 > j0) {
#pragma omp parallel for schedule(static)
    for (int k = 0; k < kSpectrumPoints; ++k) {
      const float f = points[k].v[kSlotTime];
      const uint64_t m = summedSamples(f, rc.n, rc.T, rc.t1);
      if (m <= j0) continue;
      float* cs = scratch + static_cast<size_t>(omp_get_thread_num()) * 2 * kTile;
      const uint64_t end = (m < j1 ? m : j1) - j0;
      sumTile(x, times, cs, cs + kTile, end, f * kTwoPi,
              sumsAll + static_cast<size_t>(k) * 2 * kLanes);
    }
  }
  s.next = j1;
  if (j1 < s.end) return;
  for (int k = 0; k < kSpectrumPoints; ++k) {
    const float* acc = sumsAll + static_cast<size_t>(k) * 2 * kLanes;
    finishPoint(acc, acc + kLanes, rc.n, rc.differences, rc.halfStep, points[k]);
  }
  s.done = true;
}

bool SpectrumJob::Done() const { return s_->done; }

double SpectrumJob::Progress() const {
  return s_->done || s_->end == 0 ? 1.0 : static_cast<double>(s_->next) / s_->end;
}

const ProbeSample* SpectrumJob::Points() const { return s_->points.data(); }

}  // namespace tavro
