// Fuzz target: the spectrum and the two result-file writers on an engine whose
// sampling counters, probe count and recorded samples come from the input
// (any float, NaN and infinities included).
//
// Input: 8 header bytes, then the sample values as 4-byte floats, repeated
// as often as the store needs.
//   0     probe count - 1 (-1 .. 3)
//   1, 2  step limit; 3, 4 step count (see below)
//   5     flags: 1 store one record short, 2 one probe name missing,
//         4 no spectrum store, 8 sample times s * (first float),
//         16 step limit near the 2933-sample switch of the frequency grid,
//         32 step count near the step limit, 64 also write the
//         frequency-domain file (2000 rows: slow, so not every time)
//   6     probe to compute and write (-1 .. probe count)
//   7     1: write into a directory that does not exist
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/console.h"
#include "engine/engine.h"
#include "files/result_files.h"
#include "files/spectrum.h"
#include "fuzz/fuzz_common.h"

namespace {

using namespace tavro;
namespace fs = std::filesystem;

int16_t get16(const uint8_t* p) { return static_cast<int16_t>(p[0] | p[1] << 8); }

// Data rows of a result file, and whether every row holds 19 values.
int64_t countRows(const std::string& path, bool& wellFormed) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  int64_t rows = 0, lineNo = 0;
  wellFormed = true;
  while (std::getline(in, line)) {
    if (++lineNo <= 2) {
      wellFormed = wellFormed && line.size() > 1 && line[0] == '#';
      continue;
    }
    ++rows;
    int blanks = 0;
    for (char c : line) blanks += c == ' ';
    wellFormed = wellFormed && blanks == 18 && line.back() != ' ';
  }
  return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SimulationEngine* engine = [] {
    setConsole(&fuzz::nullConsole());
    return new SimulationEngine;
  }();
  if (size < 8) return 0;
  SimulationEngine& eng = *engine;
  FDTD_SAM& s = eng.sam;
  const int flags = data[5];

  s.probeCount = data[0] % 5 - 1;
  s.stepLimit = (flags & 16) ? 2930 + (get16(data + 1) & 7) : get16(data + 1) % 64 - 2;
  s.stepCount = (flags & 32) ? s.stepLimit + get16(data + 3) % 3 : get16(data + 3) % 70 - 2;
  const int probes = s.probeCount > 0 ? s.probeCount : 0;
  const uint64_t limit = s.stepLimit > 0 ? static_cast<uint64_t>(s.stepLimit) : 0;

  uint64_t records = static_cast<uint64_t>(probes) * limit;
  if ((flags & 1) && records > 0) --records;
  FUZZ_CHECK(eng.samples.allocate(records));
  const uint8_t* values = data + 8;
  const size_t floatCount = (size - 8) / 4;
  float* slots = eng.samples.empty() ? nullptr : eng.samples.data()->v;
  for (uint64_t i = 0; i < records * 25; ++i) {
    float v = 0.0f;
    if (floatCount > 0) std::memcpy(&v, values + 4 * (i % floatCount), 4);
    slots[i] = v;
  }
  if (flags & 8) {
    float dt = 0.0f;
    if (floatCount > 0) std::memcpy(&dt, values, 4);
    for (uint64_t r = 0; r < records; ++r)
      eng.samples[r].v[kSlotTime] = static_cast<float>(r / (probes ? probes : 1)) * dt;
  }

  eng.spectrum.names.clear();
  for (int p = 0; p < probes; ++p) eng.spectrum.names.push_back("P" + std::to_string(p));
  if ((flags & 2) && !eng.spectrum.names.empty()) eng.spectrum.names.pop_back();
  FUZZ_CHECK(eng.spectrum.points.allocate((flags & 4) ? 0 : probes * kSpectrumPoints));
  if (!eng.spectrum.points.empty())
    std::memset(eng.spectrum.points.data(), 0, eng.spectrum.points.bytes());

  const int p = data[6] % (probes + 2) - 1;
  ComputeSpectrum(eng, p);

  const fs::path dir = data[7] == 1 ? fuzz::scratchDir() / "missing" : fuzz::scratchDir();
  const std::string timeFile = (dir / "probe.time").string();
  const std::string freqFile = (dir / "probe.freq").string();
  std::error_code ec;
  fs::remove(timeFile, ec);
  fs::remove(freqFile, ec);

  // A file is either complete (two header lines and one row per recorded
  // sample or per frequency point, 19 values each) or absent.
  const bool timeOk = WriteTimeDomainFile(eng, p, timeFile);
  FUZZ_CHECK(timeOk == fs::exists(timeFile));
  FUZZ_CHECK(!fs::exists(timeFile + ".tmp"));
  if (timeOk) {
    bool wellFormed = false;
    const int32_t recorded = s.stepCount < s.stepLimit ? s.stepCount : s.stepLimit;
    FUZZ_CHECK(countRows(timeFile, wellFormed) == (recorded > 0 ? recorded : 0));
    FUZZ_CHECK(wellFormed);
  }
  if (!(flags & 64)) return 0;
  const bool freqOk = WriteFrequencyDomainFile(eng, p, freqFile);
  FUZZ_CHECK(freqOk == fs::exists(freqFile));
  if (freqOk) {
    bool wellFormed = false;
    FUZZ_CHECK(countRows(freqFile, wellFormed) == kSpectrumPoints);
    FUZZ_CHECK(wellFormed);
  }
  FUZZ_CHECK(!fs::exists(freqFile + ".tmp"));
  return 0;
}
