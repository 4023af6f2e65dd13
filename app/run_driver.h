// Batch run loop with its progress line, and the end-of-run output.
#pragma once

#include "engine/engine.h"

namespace tavro {

bool RunBatch(SimulationEngine& eng);
void FinishRun(SimulationEngine& eng);

}  // namespace tavro
