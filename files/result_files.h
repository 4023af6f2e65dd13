// Waveform result files: time-domain samples and frequency-domain points of
// one probe as text.
#pragma once

#include <string>

#include "engine/engine.h"

namespace tavro {

// Both return true when the file was written completely; on failure they
// print a warning naming the file and return false.
bool WriteTimeDomainFile(const SimulationEngine& eng, int p, const std::string& fileName);
bool WriteFrequencyDomainFile(const SimulationEngine& eng, int p, const std::string& fileName);

}  // namespace tavro
