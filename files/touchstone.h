// Touchstone files of S-parameters: version 1.1 when every port has the same
// reference resistance, version 2.0 with [Reference] when they differ.
#pragma once

#include <string>

#include "engine/sparam.h"

namespace tavro {

// "<prefix>.s<N>p" for N ports.
std::string TouchstoneName(const std::string& prefix, int ports);

// Writes the complete result to `path` (through a temporary file renamed at
// the end, so that a failed write leaves no partial file under that name).
// Returns false after an error message.
bool WriteTouchstone(const SparamResult& r, const std::string& path);

// Writes the columns of the ports excited so far to `path` as a text that no
// Touchstone reader takes for a whole file: every line is a comment. Returns
// false after an error message.
bool WritePartialSparameters(const SparamResult& r, const std::string& path);

}  // namespace tavro
