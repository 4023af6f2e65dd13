// The order of one time step and the one place where it is decided whether a
// step runs on the CPU or on the GPU back end (gpu_backend.h).
#include "engine/colouring.h"
#include "engine/compact_step.h"
#include "engine/field_kernels.h"
#include "engine/field_passes.h"
#include "engine/field_update.h"
#include "engine/gpu_backend.h"
#include "engine/ports.h"
#include "engine/probes.h"
#include "engine/sources.h"

namespace tavro {

namespace {

void stepBatchCpu(SimulationEngine& eng) {
  fieldPassesCpu(eng);
  applyPorts(eng);    // corrects the E update of the port cells
  applySources(eng);  // on this thread, in list order
  measure(eng);       // records a sample only when one is due
  advanceCounters(eng.sam);
}

}  // namespace

void stepBatch(SimulationEngine& eng) {
  if (RunsOnGpu(eng)) {
    // After a failed device step nothing more runs: the counters stop where
    // the device stopped.
    if (eng.gpuFailed) return;
    if (!InstalledGpuBackend()->stepBatch(eng)) {
      eng.gpuFailed = true;
      return;
    }
    advanceCounters(eng.sam);
    return;
  }
  if (eng.compact.active) {
    stepCompact(eng);
    return;
  }
  stepBatchCpu(eng);
}

int stepBatchSteps(SimulationEngine& eng, int steps) {
  // The GPU takes one step per call; its kernels have no two-step form.
  if (steps >= 2 && !RunsOnGpu(eng) &&
      (eng.compact.active ? stepPairCompact(eng) : stepPairCpu(eng)))
    return 2;
  stepBatch(eng);
  return 1;
}

void stepInteractive(SimulationEngine& eng, bool colour) {
  if (RunsOnGpu(eng)) {
    if (eng.gpuFailed) return;
    if (!InstalledGpuBackend()->stepInteractive(eng, colour)) {
      eng.gpuFailed = true;
      return;
    }
    advanceCounters(eng.sam);
    return;
  }
  endCompactRun(eng);  // the window steps and colours the records
  fieldPassesCpu(eng);
  applyPorts(eng);
  applySources(eng);
  measure(eng);
  if (colour) ColourCells(eng);
  advanceCounters(eng.sam);
}

}  // namespace tavro
