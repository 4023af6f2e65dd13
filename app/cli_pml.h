// The -pml option of the command line.
#pragma once

#include "engine/engine.h"

namespace tavro {

// Reads the layer thickness of `-pml CELLS` into eng.pmlCells: a whole
// number from 1 to 64, given once. Prints an error naming the option and
// returns false otherwise.
bool ReadPmlCells(SimulationEngine& eng, const char* text);

}  // namespace tavro
