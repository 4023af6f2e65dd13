// Placeholder until the spectrum lands.
#include "files/spectrum.h"

namespace tavro {
void ComputeSpectrum(SimulationEngine&, int) {}
}  // namespace tavro
