// The seam between the engine and the GPU back end. The engine library holds
// no GPU code: the program that carries a back end installs it here before
// the command line is read, and the engine's step, colouring, set-up and
// end-of-run operations hand over to it whenever the run asked for the GPU.
// Without an installed back end (tavro_cpu, the tests) everything runs on the
// CPU and the option -cuda does not exist.
#pragma once

#include <cstdint>
#include <string>

#include "engine/engine.h"

namespace tavro {

// What a preparation of the device gives back.
enum class GpuPrepareResult { kReady, kInitFailed, kAllocFailed };

// Every operation that runs on the device gives false when a driver call
// failed; the back end has then printed the "error: " line and released the
// device, and the engine stops the run (SimulationEngine::gpuFailed).
struct GpuBackend {
  // Initialises the device on first use, then allocates and uploads every
  // engine array. Called by the set-up right after the run reset.
  GpuPrepareResult (*prepare)(SimulationEngine& eng);
  // One batch step (all passes of a step, sampling included).
  bool (*stepBatch)(SimulationEngine& eng);
  // One interactive step: the batch step, the samples of this step copied
  // back and, with `colour`, the colour bytes computed and copied back.
  bool (*stepInteractive)(SimulationEngine& eng, bool colour);
  // The colouring alone, from the current device fields.
  bool (*recolour)(SimulationEngine& eng);
  // End of a run: the sample store back to the host.
  bool (*copyBack)(SimulationEngine& eng);
  // Device label and memory figures of the device report, in bytes.
  std::string (*deviceLabel)();
  uint64_t (*usedBytes)();
  uint64_t (*totalBytes)();
  // Why the last preparation failed: "info: " lines (driver error names, the
  // compiler's log of a refused module) printed below the set-up's error.
  std::string (*failureCause)();
  // Frees the device buffers. The set-up calls it before it changes the host
  // grid, so that the device never holds buffers of another grid: a refused
  // set-up leaves the device empty, a successful one prepares it anew.
  void (*discard)();
  // The end of a batch run that stepped the compact stepping state on the
  // device: the state back into the host's (compact_state.h), so that
  // syncRecords writes the records from it.
  bool (*fetchState)(SimulationEngine& eng);
  // The device's fields into the host's records during a batch run, for a
  // hook that reads them (field snapshots): through the host's compact state
  // when the device steps that, else from the device's records.
  bool (*copyFields)(SimulationEngine& eng);
};

// Installs the back end (nullptr removes it).
void InstallGpuBackend(const GpuBackend* backend);
const GpuBackend* InstalledGpuBackend();

// Whether the steps of this engine run on the GPU: the run asked for it and
// a back end is installed.
inline bool RunsOnGpu(const SimulationEngine& eng) {
  return eng.cudaFlag != 0 && InstalledGpuBackend() != nullptr;
}

// A byte count as the device report shows it: shifted right by 10 bits,
// converted to float and multiplied by 1/1024.
inline float GpuMbytes(uint64_t bytes) { return static_cast<float>(bytes >> 10) * 0.0009765625f; }

}  // namespace tavro
