// Fuzz target: the input bytes as a model file, read into a project and
// converted into a model record; an accepted file is written back and read
// again, and its source and probe texts go through the engine's source and
// probe setting.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "app/conversion.h"
#include "engine/console.h"
#include "engine/engine.h"
#include "engine/model_record.h"
#include "engine/probes.h"
#include "engine/sources.h"
#include "files/project.h"
#include "fuzz/fuzz_common.h"

namespace {

using namespace tavro;

struct State {
  ModelRecord model;
  SimulationEngine engine;
  std::vector<int32_t> switchUse;
  State() : switchUse(kMaterialCount, 0) {
    setConsole(&fuzz::nullConsole());
    setMemoryLimit(256ull << 20);
  }
};

// The decimal number form keeps six or seven digits; negative values lose up
// to one unit of the last one per write.
bool sameNumber(float a, float b) {
  if (std::isnan(a)) return b == 0.0f;  // a NaN is stored as 0
  if (std::isinf(a)) return a == b;
  return std::fabs(a - b) <= 2e-5f * std::fabs(a) + 1e-30f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static State* state = new State;
  const std::string path = fuzz::writeScratch("model.fdtd", data, size);

  auto project = std::make_unique<Project>();
  const bool ok = ReadProject(*project, path);
  if (size < static_cast<size_t>(kFileCellsEnd)) FUZZ_CHECK(!ok);
  if (!ok) return 0;
  FUZZ_CHECK(CheckSourceParameters(*project).empty());

  // Written back and read again, the file gives the same project.
  auto again = std::make_unique<Project>();
  project->directory = ".";
  FUZZ_CHECK(WriteProject(*project, (fuzz::scratchDir() / "copy.fdtd").string()));
  FUZZ_CHECK(ReadProject(*again, (fuzz::scratchDir() / "copy.fdtd").string()));
  FUZZ_CHECK(again->cells == project->cells);
  FUZZ_CHECK(again->sourceType == project->sourceType);
  FUZZ_CHECK(again->sourceMaterial == project->sourceMaterial);
  FUZZ_CHECK(again->sourceDirection == project->sourceDirection);
  for (int s = 0; s < kStoredSlots; ++s) {
    FUZZ_CHECK(sameNumber(project->sg[s], again->sg[s]));
    FUZZ_CHECK(sameNumber(project->er[s], again->er[s]));
    FUZZ_CHECK(sameNumber(project->ur[s], again->ur[s]));
  }
  FUZZ_CHECK(sameNumber(project->dxy, again->dxy) && sameNumber(project->dz, again->dz));
  FUZZ_CHECK(sameNumber(project->frequency, again->frequency));

  ModelRecord& model = state->model;
  if (!set_data(*project, model, 0)) return 0;
  FUZZ_CHECK(model.areaX == 80 && model.areaY == 80 && model.areaZ == 80);
  for (const auto& [k, text] : model.pins()) FUZZ_CHECK(k < model.cellCount() && !text.empty());

  // The texts the conversion made must be accepted by the source setting;
  // the probe setting may refuse only for want of memory.
  SimulationEngine& eng = state->engine;
  std::fill(state->switchUse.begin(), state->switchUse.end(), 0);
  FUZZ_CHECK(sourceSetting(eng, model, state->switchUse) == 1);
  if (model.probes().size() <= 1000) FUZZ_CHECK(measureSetting(eng, model) == 1);
  return 0;
}
