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

// The sources in use: the list holds sam.sourceCount records once a set-up
// ran; the engine's initial record claims one source but has none.
inline int64_t sourcesInUse(const SimulationEngine& eng) {
  size_t n = eng.sources.size();
  if (eng.sam.sourceCount >= 0 && static_cast<size_t>(eng.sam.sourceCount) < n)
    n = static_cast<size_t>(eng.sam.sourceCount);
  return static_cast<int64_t>(n);
}

// Applies every source in list order at the current time.
void applySources(SimulationEngine& eng);

}  // namespace tavro
