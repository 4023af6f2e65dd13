// Probes: the probe list, the sample store and the measurement pass.
#pragma once

#include "engine/engine.h"
#include "engine/model_record.h"

namespace tavro {

// Measure setting: prints "- measure setting...", sets probeCount, stepCount
// 0, probeCells in cell order with one line per probe, and a new spectrum
// store (names and points). Returns 1, or 0 after an allocation message.
int measureSetting(SimulationEngine& eng, const ModelRecord& model);

// Allocates and zeroes the sample store for probeCount x stepLimit samples.
// Returns 1, or 0 after an allocation message.
int allocateSamples(SimulationEngine& eng);

// Whether a step with counters s records a sample: one is due and the store
// holds record stepCount of every probe.
bool measureDue(const SimulationEngine& eng, const FDTD_SAM& s);

// Records sample stepCount of every probe when a sample is due.
void measure(SimulationEngine& eng);

}  // namespace tavro
