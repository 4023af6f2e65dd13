// The editor's Run converts the project into a record of its own first and
// looks at the materials the cells use, so that a model the set-up would
// refuse is refused before the running model is replaced.
#pragma once

#include <string>

#include "engine/model_record.h"
#include "files/project.h"

namespace tavro {

enum class RunCheck { kReady, kConversionFailed, kMaterialRefused };

// Converts `project` into `out` (a fresh record with `tables`' materials
// and units) and checks the materials its cells use. On a refusal `why`
// holds the message, which the conversion or this check printed.
RunCheck ConvertForRun(Project& project, const ModelRecord& tables, int farField, ModelRecord& out,
                       std::string& why);

}  // namespace tavro
