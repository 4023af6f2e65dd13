// Time stepping: the leap-frog H and E updates and the fixed order of one step.
#pragma once

#include "engine/engine.h"

namespace tavro {

void updateH(SimulationEngine& eng);
void updateE(SimulationEngine& eng);

// One time step: E boundary, H update, H boundary, E update, sources,
// measurement when due, then the time and sample counters.
void stepBatch(SimulationEngine& eng);
// The same step followed by the colouring of the cells for display.
void stepInteractive(SimulationEngine& eng);

}  // namespace tavro
