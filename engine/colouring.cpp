// Placeholder until the colouring lands.
#include "engine/colouring.h"

namespace tavro {
void ColourCells(SimulationEngine&) {}
}  // namespace tavro
