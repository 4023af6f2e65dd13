// Spectrum of the recorded probe samples on a 2000-point logarithmic grid.
#pragma once

#include "engine/engine.h"

namespace tavro {

// Fills the 2000 points of probe p in the spectrum store.
void ComputeSpectrum(SimulationEngine& eng, int p);

}  // namespace tavro
