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
#include "engine/pml_compact_kernels.h"

namespace tavro {

// Kernels of the module, in this order: those of the records, then those of
// the compact stepping state (engine/compact_kernels.h).
enum GpuKernel {
  kHField,
  kEField,
  kHMur,
  kEMur,
  kSource,
  kMeas,
  kMkcolor,
  kCompactH,
  kCompactE,
  kCompactHMur,
  kCompactEMur,
  kCompactSource,
  kCompactMeas,
  kCompactHPml,
  kCompactEPml,
  kKernelCount
};
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
constexpr int kMaxKernelArgs = 16;

// Device buffers of the compact stepping state (engine/compact_state.h), in
// this order; the Mur stores and coefficients are the records' buffers.
enum GpuCompactBuffer {
  kCompactFields,
  kCompactSet,
  kCompactCoef,
  kCompactSwitchSet,
  kCompactFirstAtCell,
  kCompactSourceInside,
  kCompactSourceMag,
  kCompactProbeSource,
  kCompactFaceMag,
  kCompactPmlCoef,  // the absorbing layer's six coefficient tables, H then E, axes x y z
  kCompactPmlPsi,   // its six slabs' psi, in slab order
  kCompactBufferCount
};

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
  // The compact stepping state on the device: its buffers, the six component
  // arrays within kCompactFields, and the values that its kernels take by
  // value (descriptor, sampling record, face family, source count and
  // order). While it steps, the device's records are out of date
  // (recordsStale) until the host's are brought back up.
  CUdeviceptr cptr[kCompactBufferCount] = {};
  size_t cbytes[kCompactBufferCount] = {};
  CUdeviceptr component[6] = {};
  GridDesc launchDesc{};
  FDTD_SAM launchSam{};
  uint64_t setStride = 0;
  uint32_t murFamily = 0, sourceCount = 0, sourcesSerial = 0;
  bool compactHeld = false;
  // The absorbing layer within the compact state: where each coefficient
  // table (H x y z, E x y z) and each slab's psi start in their buffers,
  // in records and floats; the slab, table and psi of the next layer launch.
  bool pmlHeld = false;
  uint64_t pmlTableAt[6] = {}, pmlPsiAt[6] = {};
  PmlSlabLaunch pmlSlab{};
  CUdeviceptr pmlTable = 0, pmlPsi = 0;
  bool recordsStale = false;
  // The records kernels have stepped this run: the host's compact state,
  // built from the host's records, would be behind the device.
  bool recordsStepped = false;
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

// The compact stepping state on the device (gpu_compact.cpp). Upload gives
// true when the device holds it afterwards or when it does not fit beside
// the records (the records kernels step then); false after a failed call.
bool GpuCompactUpload(GpuContext& c, const SimulationEngine& eng);
// One step of the compact state: boundaries, updates, sources, samples.
bool GpuCompactStep(GpuContext& c, const SimulationEngine& eng);
// The device's compact state and Mur stores into the host's (the records
// wait for syncRecords); true with nothing to do when none is held.
bool GpuFetchState(SimulationEngine& eng);
// Frees the compact state's buffers; the first failure goes to `failed`.
void GpuCompactFree(GpuContext& c, std::string* failed);
// Brings the device's records up to date after compact steps: the state
// back to the host, the host's records up to date and uploaded, the
// device's compact state freed.
bool GpuRefreshRecords(GpuContext& c, SimulationEngine& eng);

// The module's PTX text, carried by the program.
extern const char kGpuModulePtx[];

// Installs the back end into the engine and arranges GpuRelease at exit.
void InstallCudaBackend();

}  // namespace tavro
