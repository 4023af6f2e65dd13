// Waveform result files: one text row per time sample or spectrum point, each
// value the float32 slot widened to double in "%.6e" form.
//
// A file is written under a temporary name in the same directory and renamed
// over the target once it is complete and closed, so that a failed write
// never leaves a half-written result in place of an earlier one.
#include "files/result_files.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/console.h"

namespace tavro {

namespace {

constexpr char kNotice[] = "(Tavro FDTD simulator)";

// Slots written per row, in column order.
constexpr int kTimeColumns[19] = {kSlotTime, kSlotVx, kSlotVy, kSlotVz, kSlotIx, kSlotIy, kSlotIz,
                                  kSlotZx,   kSlotZy, kSlotZz, kSlotEx, kSlotEy, kSlotEz, kSlotHx,
                                  kSlotHy,   kSlotHz, kSlotPx, kSlotPy, kSlotPz};
constexpr int kFreqColumns[19] = {kSlotTime, kSlotV,  kSlotVx, kSlotVy, kSlotI,  kSlotIx, kSlotIy,
                                  kSlotZ,    kSlotZx, kSlotZy, kSlotEx, kSlotEy, kSlotEz, kSlotHx,
                                  kSlotHy,   kSlotHz, kSlotP,  kSlotPx, kSlotPy};

constexpr char kTimeHeader[] =
    "#time[sec] Vx[V] Vy[V] Vz[V] Ix[A] Iy[A] Iz[A] Zx[ohm] Zy[ohm] Zz[ohm] Ex[V/m] Ey[V/m] "
    "Ez[V/m] Hx[A/m] Hy[A/m] Hz[A/m] Px[W] Py[W] Pz[W]\n";
constexpr char kFreqHeader[] =
    "#frequency[Hz] Vm[V] Vr[V] Vi[V] Im[A] Ir[A] Ii[A] Zm[ohm] Zr[ohm] Zi[ohm] Ex[V/m] Ey[V/m] "
    "Ez[V/m] Hx[A/m] Hy[A/m] Hz[A/m] Pm[W] Pr[W] Pi[W]\n";

// Longest formatted value: sign, digit, point, six digits, "e", sign, three
// exponent digits (or "-nan"/"-inf").
constexpr std::size_t kMaxValue = 16;
constexpr std::size_t kRowBytes = 19 * (kMaxValue + 1);
constexpr std::size_t kFlushAt = 1 << 20;

// A result file being written: rows are formatted into a buffer that is
// handed to the file in large blocks.
class ResultWriter {
 public:
  explicit ResultWriter(const std::string& name) : name_(name), temp_(name + ".tmp") {
    buffer_.resize(kFlushAt + kRowBytes + 256);
    file_ = std::fopen(temp_.c_str(), "wb");
    ok_ = file_ != nullptr;
  }
  ~ResultWriter() {
    if (file_) std::fclose(file_);
  }

  void text(const char* s) {
    const std::size_t n = std::strlen(s);
    if (used_ + n > buffer_.size()) flush();
    if (n > buffer_.size()) {
      ok_ = ok_ && std::fwrite(s, 1, n, file_) == n;
      return;
    }
    std::memcpy(buffer_.data() + used_, s, n);
    used_ += n;
  }

  void row(const ProbeSample& sample, const int (&columns)[19]) {
    char* out = buffer_.data() + used_;
    char* const end = buffer_.data() + buffer_.size();
    for (int c = 0; c < 19; ++c) {
      if (c) *out++ = ' ';
      const double value = static_cast<double>(sample.v[columns[c]]);
      out = std::to_chars(out, end, value, std::chars_format::scientific, 6).ptr;
    }
    *out++ = '\n';
    used_ = static_cast<std::size_t>(out - buffer_.data());
    if (used_ >= kFlushAt) flush();
  }

  // Closes the file and renames it over the target; returns false (and
  // removes the temporary) when anything failed.
  bool finish() {
    if (!file_) return false;
    flush();
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (ok_ && closed && std::rename(temp_.c_str(), name_.c_str()) == 0) return true;
    std::remove(temp_.c_str());
    return false;
  }

 private:
  void flush() {
    if (ok_ && used_ > 0) ok_ = std::fwrite(buffer_.data(), 1, used_, file_) == used_;
    used_ = 0;
  }

  std::string name_, temp_;
  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  bool ok_ = false;
};

bool fail(const std::string& fileName) {
  con() << "warning: can't write result file(" << fileName << ").\n";
  return false;
}

bool writeFile(const std::string& fileName, const std::string& firstLine, const char* header,
               const ProbeSample* rows, uint64_t count, uint64_t stride, const int (&columns)[19]) {
  ResultWriter w(fileName);
  w.text(firstLine.c_str());
  w.text(header);
  for (uint64_t r = 0; r < count; ++r) w.row(rows[r * stride], columns);
  return w.finish() ? true : fail(fileName);
}

}  // namespace

bool WriteTimeDomainFile(const SimulationEngine& eng, int p, const std::string& fileName) {
  const FDTD_SAM& s = eng.sam;
  if (p < 0 || p >= s.probeCount || static_cast<std::size_t>(p) >= eng.spectrum.names.size())
    return fail(fileName);
  const uint64_t stride = static_cast<uint64_t>(s.probeCount);
  // Only the recorded samples: an interrupted run has fewer than stepLimit,
  // and the rows it never reached would read as zeros at time 0.
  const int32_t recorded = s.stepCount < s.stepLimit ? s.stepCount : s.stepLimit;
  const uint64_t rows = recorded > 0 ? static_cast<uint64_t>(recorded) : 0;
  if (eng.samples.size() < rows * stride) return fail(fileName);
  const std::string first =
      "# " + eng.spectrum.names[p] + " : TAVRO time-domain waveform " + kNotice + "\n";
  // With no rows the store may be empty: no pointer into it is formed then.
  const ProbeSample* samples = rows > 0 ? eng.samples.data() + p : nullptr;
  return writeFile(fileName, first, kTimeHeader, samples, rows, stride, kTimeColumns);
}

bool WriteFrequencyDomainFile(const SimulationEngine& eng, int p, const std::string& fileName) {
  const uint64_t first = static_cast<uint64_t>(p) * kSpectrumPoints;
  if (p < 0 || static_cast<std::size_t>(p) >= eng.spectrum.names.size() ||
      eng.spectrum.points.size() < first + kSpectrumPoints)
    return fail(fileName);
  const std::string line =
      "# " + eng.spectrum.names[p] + " : TAVRO frequency-domain waveform " + kNotice + "\n";
  return writeFile(fileName, line, kFreqHeader, eng.spectrum.points.data() + first, kSpectrumPoints,
                   1, kFreqColumns);
}

}  // namespace tavro
