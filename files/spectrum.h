// Spectrum of the recorded probe samples on a 2000-point logarithmic grid.
#pragma once

#include "engine/engine.h"

namespace tavro {

// Fills the 2000 points of probe p in the spectrum store.
void ComputeSpectrum(SimulationEngine& eng, int p);

// The same transform summed directly, one point after the other over the
// strided sample store. It gives the same values bit for bit and is kept as
// the plain statement of the sum against which the blocked form is checked.
void ComputeSpectrumDirect(SimulationEngine& eng, int p);

}  // namespace tavro
