// Placeholder until the stepping lands.
#include "engine/field_update.h"

namespace tavro {
void updateH(SimulationEngine&) {}
void updateE(SimulationEngine&) {}
void stepBatch(SimulationEngine& eng) { eng.sam.time += eng.sam.dt; }
void stepInteractive(SimulationEngine& eng) { stepBatch(eng); }
}  // namespace tavro
