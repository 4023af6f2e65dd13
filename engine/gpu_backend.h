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

struct GpuBackend {
  // Initialises the device on first use, then allocates and uploads every
  // engine array. Called by the set-up right after the run reset.
  GpuPrepareResult (*prepare)(SimulationEngine& eng);
  // One batch step (all passes of a step, sampling included).
  void (*stepBatch)(SimulationEngine& eng);
  // One interactive step: the batch step, the samples of this step copied
  // back and, with `colour`, the colour bytes computed and copied back.
  void (*stepInteractive)(SimulationEngine& eng, bool colour);
  // The colouring alone, from the current device fields.
  void (*recolour)(SimulationEngine& eng);
  // End of a run: the sample store back to the host.
  void (*copyBack)(SimulationEngine& eng);
  // Device label and memory figures of the device report, in bytes.
  std::string (*deviceLabel)();
  uint64_t (*usedBytes)();
  uint64_t (*totalBytes)();
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
