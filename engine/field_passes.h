// The CPU forms of the field passes behind the step operations of
// field_update.h (for the engine's own step code).
#pragma once

#include "engine/engine.h"

namespace tavro {

// Items 1 to 4 of a step in one parallel region: E boundary (correcting the
// faces left by the previous E update), then H update, H boundary and E
// update, swept together where the box allows it. With the absorbing layer
// (-pml) the layer's corrections follow each update in place of Mur.
void fieldPassesCpu(SimulationEngine& eng);

// The H (E) update of all rows of plane x, without boundary, on the
// calling thread.
void updateHPlane(SimulationEngine& eng, int64_t x);
void updateEPlane(SimulationEngine& eng, int64_t x);

// Two whole batch steps in one sweep over the box, counters included; false
// (and nothing done) when the box is too small for the thread team.
bool stepPairCpu(SimulationEngine& eng);

}  // namespace tavro
