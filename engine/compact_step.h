// The time step on the compact stepping state (compact_state.h), behind the
// step functions of field_update.h while the state is active.
#pragma once

#include "engine/engine.h"

namespace tavro {

// One step, as stepBatch takes it on the records.
void stepCompact(SimulationEngine& eng);
// Two steps in one sweep, as stepPairCpu; false (and nothing done) when the
// box is too small for the thread team.
bool stepPairCompact(SimulationEngine& eng);

}  // namespace tavro
