// Field colouring: one colour band byte per cell for the field views.
#pragma once

#include "engine/engine.h"

namespace tavro {

void ColourCells(SimulationEngine& eng);

}  // namespace tavro
