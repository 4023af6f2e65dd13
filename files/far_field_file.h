// The far-field result file: one per frequency, '#' comment lines with the
// frequency, the radiated power and the maximum directivity, then one line
// per direction of the 2-degree grid.
#pragma once

#include <string>

#include "engine/nf2ff_transform.h"

namespace tavro {

// Writes `pattern` at frequency `freq` [Hz] to `path`: columns theta[deg]
// phi[deg] rEtheta_re rEtheta_im rEphi_re rEphi_im D[dBi]. Returns true when
// the whole file was written; otherwise prints a warning naming it, removes
// what was written and returns false.
bool WriteFarFieldFile(const std::string& path, double freq, const FarFieldPattern& pattern,
                       const FarFieldRecorder& rec);

}  // namespace tavro
