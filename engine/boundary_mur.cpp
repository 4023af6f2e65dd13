// Placeholder until the boundary lands.
#include "engine/boundary_mur.h"

namespace tavro {
void murE(SimulationEngine&) {}
void murH(SimulationEngine&) {}
}  // namespace tavro
