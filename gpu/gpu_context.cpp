// The CUDA back end on the host: device start, the device copies of the
// engine arrays and their release. The steps and copies back are in
// gpu_steps.cpp.
#include "gpu/gpu_context.h"

#include <cstdlib>
#include <sstream>

#include "engine/console.h"
#include "gpu/gpu_calls.h"

namespace tavro {

const char* const kGpuKernelNames[kKernelCount] = {
    "h_field",       "e_field",        "h_mur",        "e_mur",         "source",
    "meas",          "mkcolor",        "compact_h",    "compact_e",     "compact_h_mur",
    "compact_e_mur", "compact_source", "compact_meas", "compact_h_pml", "compact_e_pml"};

const char* const kGpuBufferNames[kBufferCount] = {
    "descriptor",       "E array",          "H array",          "Mur coefficients",
    "Z-face Mur store", "X-face Mur store", "Y-face Mur store", "sampling record",
    "sources",          "probe cells",      "sample store",     "colour bytes"};

namespace {

// The cause of the last failed start-up or preparation, as "info: " lines
// that the set-up prints below its own error line.
std::string g_cause;

void addCause(const std::string& text) { g_cause += "info: " + text + ".\n"; }

// A start-up or preparation call: a failure becomes the cause.
bool startCall(CUresult result, const char* call, const std::string& what = "") {
  if (result == CUDA_SUCCESS) return true;
  addCause(DescribeFailure(call, what, result));
  return false;
}

unsigned blocksFor(uint64_t count) {
  return static_cast<unsigned>((count + kGpuBlock - 1) / kGpuBlock);
}

// The argument lists: for every kernel, the context fields whose addresses
// it takes, in its parameter order (nullptr ends a list).
void fillArgs(GpuContext& c) {
  CUdeviceptr* p = c.ptr;
  CUdeviceptr* q = c.cptr;
  CUdeviceptr* f = c.component;
  void* lists[kKernelCount][kMaxKernelArgs] = {
      {&p[kBufDesc], &p[kBufE], &p[kBufH]},
      {&p[kBufDesc], &p[kBufE], &p[kBufH]},
      {&p[kBufDesc], &p[kBufH], &p[kBufMurCoef], &p[kBufMurZ], &p[kBufMurX], &p[kBufMurY],
       &c.murFirst, &c.murEnd},
      {&p[kBufDesc], &p[kBufE], &p[kBufMurCoef], &p[kBufMurZ], &p[kBufMurX], &p[kBufMurY],
       &c.murFirst, &c.murEnd},
      {&p[kBufE], &p[kBufSam], &p[kBufSources]},
      {&p[kBufDesc], &p[kBufE], &p[kBufH], &p[kBufSam], &p[kBufProbeCells], &p[kBufSamples]},
      {&p[kBufDesc], &p[kBufE], &p[kBufH], &p[kBufColour]},
      {&c.launchDesc, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &q[kCompactSet], &q[kCompactCoef],
       &c.setStride, &q[kCompactFaceMag]},
      {&c.launchDesc, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &q[kCompactSet], &q[kCompactCoef],
       &c.setStride},
      {&c.launchDesc, &f[3], &f[4], &f[5], &p[kBufMurCoef], &p[kBufMurZ], &p[kBufMurX],
       &p[kBufMurY], &c.murFamily},
      {&c.launchDesc, &f[0], &f[1], &f[2], &p[kBufMurCoef], &p[kBufMurZ], &p[kBufMurX],
       &p[kBufMurY], &c.murFamily},
      {&c.launchSam, &p[kBufSources], &f[0], &f[1], &f[2], &q[kCompactCoef], &c.setStride,
       &q[kCompactSwitchSet], &q[kCompactFirstAtCell], &q[kCompactSourceInside],
       &q[kCompactSourceMag], &c.sourceCount, &c.sourcesSerial},
      {&c.launchDesc, &c.launchSam, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &p[kBufProbeCells],
       &q[kCompactProbeSource], &q[kCompactSourceMag], &q[kCompactFaceMag], &p[kBufSamples]},
      {&c.launchDesc, &c.pmlSlab, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &q[kCompactSet],
       &q[kCompactCoef], &c.setStride, &c.pmlTable, &c.pmlPsi},
      {&c.launchDesc, &c.pmlSlab, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &q[kCompactSet],
       &q[kCompactCoef], &c.setStride, &c.pmlTable, &c.pmlPsi},
  };
  for (int k = 0; k < kKernelCount; ++k)
    for (int a = 0; a < kMaxKernelArgs; ++a) c.args[k][a] = lists[k][a];
}

// Frees every buffer; the first failure is kept in `failed` and the other
// buffers are still freed.
void freeBuffers(GpuContext& c, std::string* failed) {
  for (int i = 0; i < kBufferCount; ++i) {
    if (c.ptr[i]) {
      const CUresult r = Driver()->memFree(c.ptr[i]);
      if (r != CUDA_SUCCESS && failed && failed->empty())
        *failed = DescribeFailure("cuMemFree_v2", kGpuBufferNames[i], r);
    }
    c.ptr[i] = 0;
    c.bytes[i] = 0;
  }
  GpuCompactFree(c, failed);
  c.recordsStale = false;
  c.recordsStepped = false;
  c.allocated = false;
  c.rowsOnHost = 0;
}

// Loads the module; a refusal adds the driver's JIT log to the cause.
bool loadModule(GpuContext& c, const CudaDriver* d) {
  char log[8192] = {};
  CUjit_option options[2] = {CU_JIT_ERROR_LOG_BUFFER, CU_JIT_ERROR_LOG_BUFFER_SIZE_BYTES};
  void* values[2] = {log, reinterpret_cast<void*>(static_cast<uintptr_t>(sizeof(log)))};
  if (startCall(d->moduleLoadDataEx(&c.module, kGpuModulePtx, 2, options, values),
                "cuModuleLoadDataEx"))
    return true;
  log[sizeof(log) - 1] = '\0';
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) g_cause += "info: JIT log: " + line + "\n";
  return false;
}

bool initialise(GpuContext& c, uint32_t gpu) {
  const CudaDriver* d = Driver();
  if (!d) {
    addCause(CudaDriverLoadError());
    return false;
  }
  if (!startCall(d->init(0), "cuInit")) return false;
  if (gpu > 0x7fffffffu) {
    addCause("GPU# " + std::to_string(gpu) + " is out of range");
    return false;
  }
  if (!startCall(d->deviceGet(&c.device, static_cast<int>(gpu)), "cuDeviceGet",
                 std::to_string(gpu)))
    return false;
  char name[40] = {};
  if (!startCall(d->deviceGetName(name, sizeof(name), c.device), "cuDeviceGetName")) return false;
  name[sizeof(name) - 1] = '\0';
  c.label = std::string(name) + " #" + std::to_string(gpu);
  if (!startCall(d->ctxCreate(&c.context, 0, c.device), "cuCtxCreate_v2")) {
    c.context = nullptr;
    return false;
  }
  bool ok = loadModule(c, d);
  for (int k = 0; ok && k < kKernelCount; ++k)
    ok = startCall(d->moduleGetFunction(&c.kernel[k], c.module, kGpuKernelNames[k]),
                   "cuModuleGetFunction", kGpuKernelNames[k]);
  if (!ok) {
    // Nothing half-made stays behind; a later set-up starts afresh.
    ReleaseAfterFailure(c);
    return false;
  }
  c.initialised = true;
  return true;
}

// The host array of each buffer.
const void* hostData(const SimulationEngine& eng, int i) {
  const GridHolder& g = eng.grid;
  switch (i) {
    case kBufDesc:
      return &g.desc;
    case kBufE:
      return g.e.data();
    case kBufH:
      return g.h.data();
    case kBufMurCoef:
      return g.murCoef.data();
    case kBufMurZ:
      return g.murZ.data();
    case kBufMurX:
      return g.murX.data();
    case kBufMurY:
      return g.murY.data();
    case kBufSam:
      return &eng.sam;
    case kBufSources:
      return eng.sources.data();
    case kBufProbeCells:
      return eng.probeCells.data();
    case kBufSamples:
      return eng.samples.data();
    default:
      return g.cellColor.data();
  }
}

// Allocates and uploads every buffer of this engine; false with the cause
// set at the first failure.
bool allocateAndUpload(GpuContext& c, const SimulationEngine& eng) {
  const CudaDriver* d = Driver();
  size_t sizes[kBufferCount];
  GpuBufferSizes(eng, sizes);
  for (int i = 0; i < kBufferCount; ++i) {
    if (sizes[i] == 0) continue;  // no sources, no probes or no samples to keep
    const std::string what =
        std::string(kGpuBufferNames[i]) + ", " + std::to_string(sizes[i]) + " bytes";
    if (!startCall(d->memAlloc(&c.ptr[i], sizes[i]), "cuMemAlloc_v2", what)) {
      c.ptr[i] = 0;
      return false;
    }
    c.bytes[i] = sizes[i];
  }
  // The device starts from the reset state of the host.
  for (int i = 0; i < kBufferCount; ++i)
    if (c.bytes[i] && !startCall(d->memcpyHtoD(c.ptr[i], hostData(eng, i), c.bytes[i]),
                                 "cuMemcpyHtoD_v2", kGpuBufferNames[i]))
      return false;
  size_t freeBytes = 0, totalBytes = 0;
  if (!startCall(d->memGetInfo(&freeBytes, &totalBytes), "cuMemGetInfo_v2")) return false;
  c.freeBytes = freeBytes;
  c.totalBytes = totalBytes;
  c.usedBytes = totalBytes - freeBytes;
  return true;
}

}  // namespace

std::string DescribeFailure(const char* call, const std::string& what, CUresult result) {
  std::string s = call;
  if (!what.empty()) s += "(" + what + ")";
  return s + " failed: " + CudaErrorName(result);
}

bool RunCall(GpuContext& c, CUresult result, const char* call, const std::string& what) {
  if (result == CUDA_SUCCESS) return true;
  con() << "error: " << DescribeFailure(call, what, result) << ".\n";
  ReleaseAfterFailure(c);
  return false;
}

void ReleaseAfterFailure(GpuContext& c) {
  const CudaDriver* d = Driver();
  if (d) {
    freeBuffers(c, nullptr);
    if (c.context) d->ctxDestroy(c.context);  // may fail on a lost context
  }
  c.context = nullptr;
  c.module = nullptr;
  c.allocated = false;
  c.initialised = false;
}

bool DeviceHoldsGrid(const GpuContext& c, const SimulationEngine& eng) {
  if (!c.allocated) return false;
  size_t sizes[kBufferCount];
  GpuBufferSizes(eng, sizes);
  for (int i = 0; i < kBufferCount; ++i)
    if (sizes[i] != c.bytes[i]) return false;
  return true;
}

GpuContext& TheGpuContext() {
  static GpuContext context;
  return context;
}

void GpuBufferSizes(const SimulationEngine& eng, size_t out[kBufferCount]) {
  const GridHolder& g = eng.grid;
  out[kBufDesc] = sizeof(GridDesc);
  out[kBufE] = g.e.bytes();
  out[kBufH] = g.h.bytes();
  out[kBufMurCoef] = g.murCoef.bytes();
  out[kBufMurZ] = g.murZ.bytes();
  out[kBufMurX] = g.murX.bytes();
  out[kBufMurY] = g.murY.bytes();
  out[kBufSam] = sizeof(FDTD_SAM);
  out[kBufSources] = eng.sources.bytes();
  out[kBufProbeCells] = eng.sam.probeCount > 0 ? eng.probeCells.bytes() : 0;
  out[kBufSamples] = eng.sam.probeCount > 0 ? eng.samples.bytes() : 0;
  out[kBufColour] = g.cellColor.bytes();
}

int GpuKernelArgSizes(int kernel, size_t out[kMaxKernelArgs]) {
  GpuContext probe;
  fillArgs(probe);
  int n = 0;
  for (; n < kMaxKernelArgs && probe.args[kernel][n]; ++n) {
    // Every argument is a device pointer, a face index or count, or a
    // record passed by value.
    const void* at = probe.args[kernel][n];
    if (at == &probe.launchDesc)
      out[n] = sizeof(GridDesc);
    else if (at == &probe.launchSam)
      out[n] = sizeof(FDTD_SAM);
    else if (at == &probe.pmlSlab)
      out[n] = sizeof(PmlSlabLaunch);
    else if (at == &probe.murFamily || at == &probe.sourceCount || at == &probe.sourcesSerial)
      out[n] = sizeof(uint32_t);
    else if (at == &probe.murFirst || at == &probe.murEnd || at == &probe.setStride)
      out[n] = sizeof(uint64_t);
    else
      out[n] = sizeof(CUdeviceptr);
  }
  return n;
}

GpuPrepareResult PrepareGpu(SimulationEngine& eng) {
  GpuContext& c = TheGpuContext();
  g_cause.clear();
  if (!c.initialised && !initialise(c, eng.gpuNumber)) return GpuPrepareResult::kInitFailed;
  if (c.allocated) {
    std::string failed;
    freeBuffers(c, &failed);
    if (!failed.empty()) {
      addCause(failed);
      ReleaseAfterFailure(c);
      return GpuPrepareResult::kAllocFailed;
    }
  }
  if (!allocateAndUpload(c, eng)) {
    // What was made is released; the next set-up starts the device afresh.
    ReleaseAfterFailure(c);
    return GpuPrepareResult::kAllocFailed;
  }
  fillArgs(c);
  const GridDesc& g = eng.grid.desc;
  c.cellBlocks = blocksFor(g.cellCount);
  c.faceBlocks = blocksFor(g.countFaces);
  c.zFaceBlocks = blocksFor(g.countXY);
  c.xFaceBlocks = blocksFor(g.countYZ);
  c.yFaceBlocks = blocksFor(g.countXZ);
  c.sourceBlocks = c.bytes[kBufSources] ? blocksFor(eng.sources.size()) : 0;
  c.probeBlocks = c.bytes[kBufSamples] ? blocksFor(static_cast<uint64_t>(eng.sam.probeCount)) : 0;
  c.rowsOnHost = 0;
  c.allocated = true;
  return GpuPrepareResult::kReady;
}

std::string GpuFailureCause() { return g_cause; }

void GpuDiscard() {
  GpuContext& c = TheGpuContext();
  if (!c.allocated) return;
  std::string failed;
  freeBuffers(c, &failed);
  if (failed.empty()) return;
  con() << "warning: " << failed << "; the GPU is started afresh.\n";
  ReleaseAfterFailure(c);
}

void GpuRelease() {
  GpuContext& c = TheGpuContext();
  if (!c.initialised) return;
  std::string failed;
  if (c.allocated) freeBuffers(c, &failed);
  const CUresult r = Driver()->ctxDestroy(c.context);
  if (failed.empty() && r != CUDA_SUCCESS) failed = DescribeFailure("cuCtxDestroy_v2", "", r);
  if (!failed.empty()) con() << "warning: " << failed << ".\n";
  c.context = nullptr;
  c.module = nullptr;
  c.initialised = false;
}

namespace {

std::string deviceLabel() { return TheGpuContext().label; }
uint64_t usedBytes() { return TheGpuContext().usedBytes; }
uint64_t totalBytes() { return TheGpuContext().totalBytes; }

const GpuBackend kCudaBackend = {PrepareGpu,      GpuStepBatch, GpuStepInteractive, GpuRecolour,
                                 GpuCopyBack,     deviceLabel,  usedBytes,          totalBytes,
                                 GpuFailureCause, GpuDiscard,   GpuFetchState,      GpuCopyFields};

}  // namespace

void InstallCudaBackend() {
  InstallGpuBackend(&kCudaBackend);
  // The context exists before GpuRelease is registered, so it is destroyed
  // only after GpuRelease has run at exit.
  TheGpuContext();
  std::atexit(GpuRelease);
}

}  // namespace tavro
