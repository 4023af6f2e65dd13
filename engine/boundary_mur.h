// First-order Mur absorbing boundary on the six faces of the box.
#pragma once

#include "engine/engine.h"

namespace tavro {

// Tangential E (H) components of the Z faces, then the X faces, then the Y
// faces; each pass finishes before the next begins.
void murE(SimulationEngine& eng);
void murH(SimulationEngine& eng);

}  // namespace tavro
