// The CUDA back end: device copies of every engine array with the same byte
// layout, the seven kernels of the PTX module run in the order of the CPU
// step, and the copies back to the host where the host needs the data.
#pragma once

#include <cuda.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/engine.h"
#include "engine/gpu_backend.h"

namespace tavro {

// Kernels of the module, in this order.
enum GpuKernel { kHField, kEField, kHMur, kEMur, kSource, kMeas, kMkcolor, kKernelCount };
extern const char* const kGpuKernelNames[kKernelCount];

// Device buffers, in this order.
enum GpuBuffer {
  kBufDesc,
  kBufE,
  kBufH,
  kBufMurCoef,
  kBufMurZ,
  kBufMurX,
  kBufMurY,
  kBufSam,
  kBufSources,
  kBufProbeCells,
  kBufSamples,
  kBufColour,
  kBufferCount
};

constexpr unsigned kGpuBlock = 512;  // threads per block of every launch
constexpr int kMaxKernelArgs = 8;

// The one GPU object of the process.
struct GpuContext {
  CUdevice device = 0;
  CUcontext context = nullptr;
  CUmodule module = nullptr;
  CUfunction kernel[kKernelCount] = {};
  // Argument lists as cuLaunchKernel takes them: pointers to the fields below.
  void* args[kKernelCount][kMaxKernelArgs] = {};
  CUdeviceptr ptr[kBufferCount] = {};
  size_t bytes[kBufferCount] = {};
  // The face range [murFirst, murEnd) of the next boundary launch.
  uint64_t murFirst = 0, murEnd = 0;
  // Blocks of the launches over cells, all faces, the Z, X and Y face
  // families, sources and probes.
  unsigned cellBlocks = 0, faceBlocks = 0, zFaceBlocks = 0, xFaceBlocks = 0, yFaceBlocks = 0,
           sourceBlocks = 0, probeBlocks = 0;
  // Sample rows (of probeCount records) already copied to the host store.
  int64_t rowsOnHost = 0;
  bool initialised = false;
  bool allocated = false;
  std::string label;  // device name, " #", GPU number
  uint64_t freeBytes = 0, totalBytes = 0, usedBytes = 0;
};

// The process's context (created empty on first use).
GpuContext& TheGpuContext();

// The buffer sizes of the device copies of this engine's arrays (0 for a
// buffer that is not allocated).
void GpuBufferSizes(const SimulationEngine& eng, size_t out[kBufferCount]);

// Argument byte sizes of each kernel as the host passes them, for checks
// against the module.
int GpuKernelArgSizes(int kernel, size_t out[kMaxKernelArgs]);

// Every operation below checks each driver result: a failure prints its
// "error: " line, releases the device and gives false (or, for the
// preparation, a failed result with the cause kept for GpuFailureCause).
GpuPrepareResult PrepareGpu(SimulationEngine& eng);
bool GpuStepBatch(SimulationEngine& eng);
bool GpuStepInteractive(SimulationEngine& eng, bool colour);
// The colouring alone; it also brings the host's sample store up to date, so
// that a window that colours only before it paints has current graphs too.
bool GpuRecolour(SimulationEngine& eng);
bool GpuCopyBack(SimulationEngine& eng);
// The "info: " lines that say why the last preparation failed.
std::string GpuFailureCause();
// Frees the device buffers (before the host grid is rebuilt).
void GpuDiscard();
void GpuRelease();
// The device's fields and boundary stores into the host arrays (for checks
// of the device against the CPU; runs never need them).
bool GpuCopyFields(SimulationEngine& eng);

// The module's PTX text, carried by the program.
extern const char kGpuModulePtx[];

// Installs the back end into the engine and arranges GpuRelease at exit.
void InstallCudaBackend();

}  // namespace tavro
