// Fuzz target: the command line. The input is split at NUL bytes into the
// words after the program name. The process works in a scratch directory
// holding a small CSV layer (a.csv) and a model file (m.fdtd), so that file
// words can name real files as well as missing ones. A command line that is
// accepted on a small area is followed by the set-up and a few time steps.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/cli.h"
#include "engine/console.h"
#include "engine/field_update.h"
#include "engine/setup.h"
#include "files/project.h"
#include "files/spectrum.h"
#include "fuzz/fuzz_common.h"

namespace {

using namespace tavro;

constexpr size_t kMaxWords = 64;
constexpr uint64_t kMaxSetUpCells = 4096;
constexpr int32_t kMaxSteps = 8;

void prepare() {
  setConsole(&fuzz::nullConsole());
  // Areas beyond this are refused by the program's own memory check.
  setMemoryLimit(16ull << 20);
  const auto& dir = fuzz::scratchDir();
  if (::chdir(dir.c_str()) != 0) std::abort();
  std::ofstream("a.csv") << "1,1 P1,0 CW:Y:20:3e9,1\n"
                            "2 GAUSS:Z:5,0,\"1 Q\",0 SWITCH:P:2:1e9\n"
                            "0 PULSE:X:1:1e9,1 DC:Z:1,3,1\n";
  Project project;
  project.cells[CubeIndex(30, 30, 30)] = kCellProbe | 1;
  project.cells[CubeIndex(31, 30, 30)] = kCellSource1 | 1;
  if (!WriteProject(project, "m.fdtd")) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (prepare(), true);
  (void)ready;

  std::vector<std::string> words{"tavro"};
  const char* text = reinterpret_cast<const char*>(data);
  size_t start = 0;
  for (size_t i = 0; i <= size && words.size() < kMaxWords; ++i) {
    if (i == size || data[i] == 0) {
      words.emplace_back(text + start, i - start);
      start = i + 1;
    }
  }
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  auto app = std::make_unique<App>();
  const int status = ParseCommandLine(*app, static_cast<int>(words.size()), argv.data());
  FUZZ_CHECK(status == kContinue || status == 0 || status == -1 || status == -2);
  if (status != kContinue) return 0;

  ModelRecord& model = app->model;
  if (model.cellCount() == 0 || model.cellCount() > kMaxSetUpCells) return 0;
  SimulationEngine& eng = app->engine;
  eng.requestedStepLimit = std::min(eng.requestedStepLimit, kMaxSteps);
  if (!set(eng, model)) return 0;
  for (int step = 0; step < kMaxSteps && eng.sam.stepCount < eng.sam.stepLimit; ++step)
    stepBatch(eng);
  for (int p = 0; p < eng.sam.probeCount; ++p) ComputeSpectrum(eng, p);
  return 0;
}
