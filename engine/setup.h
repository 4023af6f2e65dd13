// Set-up of a run: model record -> material arrays, sources, probes,
// coefficients, time step and the calculation report.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "engine/model_record.h"

namespace tavro {

// Prepares a run from the model. Returns 1 when ready to run, 0 on failure
// (after printing the message, where there is one).
int set(SimulationEngine& eng, ModelRecord& model);

// The material lines of the report: each ID that `used` counts (cells per
// ID, kMaterialCount entries) with its values and its count.
void reportMaterials(const ModelRecord& model, const std::vector<int32_t>& used);
// The off-materials of SWITCH sources (counts per ID from sourceSetting);
// nothing when there are none.
void specialMaterialReport(const ModelRecord& model, const std::vector<int32_t>& switchUse);

// Back to time 0: counters, time step, decimation, zero fields, update and
// boundary coefficients from the material arrays.
void resetRun(SimulationEngine& eng);

// The memory estimate of the calculation report, in bytes and in Mbytes.
uint64_t memoryEstimateBytes(const SimulationEngine& eng);
float memoryEstimateMbytes(const SimulationEngine& eng);
// The same estimate for a box of X x Y x Z cells with these counts (a box
// that no one process holds), and bytes in the report's Mbytes.
uint64_t memoryEstimateFor(uint64_t X, uint64_t Y, uint64_t Z, uint64_t sources, uint64_t probes,
                           int32_t stepLimit);
float reportMbytes(uint64_t bytes);

}  // namespace tavro
