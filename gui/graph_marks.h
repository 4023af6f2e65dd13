// Marks that help to read the waveform graphs: where the spectrum passes the
// Nyquist frequency of the sampling, and where a label must start so that it
// stays inside the window.
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace tavro {

// Half the sampling rate of the first n samples, from probe 0's first two
// time stamps; 0 when there are fewer than two samples or no probe.
float NyquistFrequency(const SimulationEngine& eng, uint32_t n);

// Index of the first of the `count` points whose frequency (slot 0) is
// above f; `count` when none is.
int FirstPointAbove(const ProbeSample* points, int count, float f);

// Left edge of a label of `width` wanted at `x`, moved left as far as needed
// to end before `right` (but not left of `left`).
double LabelLeft(double x, double width, double right, double left = 0.0);

}  // namespace tavro
