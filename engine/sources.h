// Sources: parsing the source texts of the model into FDTD_SRC records, and
// the source pass of a time step.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "engine/model_record.h"

namespace tavro {

// Source setting: prints "- source setting...", builds eng.sources and
// sam.sourceCount in cell order, prints one line per source. `switchUse`
// (kMaterialCount counters, cleared by the caller) counts the off-materials
// named by SWITCH sources. Returns 1, or 0 after an error message.
int sourceSetting(SimulationEngine& eng, ModelRecord& model, std::vector<int32_t>& switchUse);

// Applies every source in list order at the current time.
void applySources(SimulationEngine& eng);

}  // namespace tavro
