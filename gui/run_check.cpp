#include "gui/run_check.h"

#include <cmath>
#include <vector>

#include "app/conversion.h"
#include "engine/console.h"
#include "engine/records.h"
#include "gui/console_capture.h"

namespace tavro {

namespace {

bool usable(const Material& m) {
  return std::isfinite(m.sg) && std::isfinite(m.er) && std::isfinite(m.ur) && m.er > 0.0f &&
         m.ur > 0.0f;
}

}  // namespace

RunCheck ConvertForRun(Project& project, const ModelRecord& tables, int farField, ModelRecord& out,
                       std::string& why) {
  out.copyTablesAndUnits(tables);
  {
    ConsoleCapture capture;
    if (!set_data(project, out, farField)) {
      why = capture.lastProblem();
      return RunCheck::kConversionFailed;
    }
  }
  // The set-up refuses a used material whose er or ur is not positive and
  // finite; its message is the set-up's own.
  std::vector<bool> used(kMaterialCount, false);
  for (uint64_t k = 0; k < out.data.size(); ++k) {
    const int32_t id = out.data[k];
    if (id >= 0 && id < kMaterialCount) used[static_cast<size_t>(id)] = true;
  }
  for (int id = 0; id < kMaterialCount; ++id) {
    const auto i = static_cast<size_t>(id);
    if (used[i] &&
        !(usable(out.materialX[i]) && usable(out.materialY[i]) && usable(out.materialZ[i]))) {
      why = "error: material (" + std::to_string(id) +
            ") needs finite values with positive er and ur.";
      con() << why << "\n";
      return RunCheck::kMaterialRefused;
    }
  }
  return RunCheck::kReady;
}

}  // namespace tavro
