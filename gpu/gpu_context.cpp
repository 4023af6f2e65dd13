// The CUDA back end on the host: device start, the device copies of the
// engine arrays, the launches of one step and the copies back.
#include "gpu/gpu_context.h"

#include <cstdlib>

#include "engine/field_kernels.h"
#include "gpu/cuda_driver.h"

namespace tavro {

const char* const kGpuKernelNames[kKernelCount] = {"h_field", "e_field", "h_mur",  "e_mur",
                                                   "source",  "meas",    "mkcolor"};

namespace {

const CudaDriver* driver() { return LoadCudaDriver(); }

unsigned blocksFor(uint64_t count) {
  return static_cast<unsigned>((count + kGpuBlock - 1) / kGpuBlock);
}

// The argument lists: for every kernel, the context fields whose addresses
// it takes, in its parameter order (nullptr ends a list).
void fillArgs(GpuContext& c) {
  CUdeviceptr* p = c.ptr;
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
  };
  for (int k = 0; k < kKernelCount; ++k)
    for (int a = 0; a < kMaxKernelArgs; ++a) c.args[k][a] = lists[k][a];
}

void launch(GpuContext& c, GpuKernel k, unsigned blocks) {
  if (blocks == 0) return;
  driver()->launchKernel(c.kernel[k], blocks, 1, 1, kGpuBlock, 1, 1, 0, nullptr, c.args[k],
                         nullptr);
}

// One boundary kernel per face family, Z, X, then Y: the order of the CPU
// passes, so that the edge values shared by two families come out the same.
void launchMur(GpuContext& c, GpuKernel k, const GridDesc& g) {
  const uint64_t bounds[4] = {0, g.countXY, g.countZXFaces, g.countFaces};
  const unsigned blocks[3] = {c.zFaceBlocks, c.xFaceBlocks, c.yFaceBlocks};
  for (int f = 0; f < 3; ++f) {
    c.murFirst = bounds[f];
    c.murEnd = bounds[f + 1];
    launch(c, k, blocks[f]);  // the launch takes the argument values now
  }
}

void freeBuffers(GpuContext& c) {
  for (int i = 0; i < kBufferCount; ++i) {
    if (c.ptr[i]) driver()->memFree(c.ptr[i]);
    c.ptr[i] = 0;
    c.bytes[i] = 0;
  }
  c.allocated = false;
}

bool initialise(GpuContext& c, uint32_t gpu) {
  const CudaDriver* d = driver();
  if (!d || d->init(0) != CUDA_SUCCESS) return false;
  if (gpu > 0x7fffffffu || d->deviceGet(&c.device, static_cast<int>(gpu)) != CUDA_SUCCESS)
    return false;
  char name[40] = {};
  if (d->deviceGetName(name, sizeof(name), c.device) != CUDA_SUCCESS) name[0] = '\0';
  name[sizeof(name) - 1] = '\0';
  c.label = std::string(name) + " #" + std::to_string(gpu);
  if (d->ctxCreate(&c.context, 0, c.device) != CUDA_SUCCESS) return false;
  bool ok = d->moduleLoadData(&c.module, kGpuModulePtx) == CUDA_SUCCESS;
  for (int k = 0; ok && k < kKernelCount; ++k)
    ok = d->moduleGetFunction(&c.kernel[k], c.module, kGpuKernelNames[k]) == CUDA_SUCCESS;
  if (!ok) {
    // Nothing half-made stays behind; a later set-up starts afresh.
    d->ctxDestroy(c.context);
    c.context = nullptr;
    c.module = nullptr;
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

}  // namespace

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
    // Every argument is a device pointer or one of the two face indices.
    const void* at = probe.args[kernel][n];
    out[n] =
        at == &probe.murFirst || at == &probe.murEnd ? sizeof(probe.murFirst) : sizeof(CUdeviceptr);
  }
  return n;
}

GpuPrepareResult PrepareGpu(SimulationEngine& eng) {
  GpuContext& c = TheGpuContext();
  if (!c.initialised && !initialise(c, eng.gpuNumber)) return GpuPrepareResult::kInitFailed;
  const CudaDriver* d = driver();
  if (c.allocated) freeBuffers(c);

  size_t sizes[kBufferCount];
  GpuBufferSizes(eng, sizes);
  for (int i = 0; i < kBufferCount; ++i) {
    if (sizes[i] == 0) continue;  // no sources, no probes or no samples to keep
    if (d->memAlloc(&c.ptr[i], sizes[i]) != CUDA_SUCCESS) {
      c.ptr[i] = 0;
      freeBuffers(c);
      return GpuPrepareResult::kAllocFailed;
    }
    c.bytes[i] = sizes[i];
  }
  // The device starts from the reset state of the host.
  for (int i = 0; i < kBufferCount; ++i)
    if (c.bytes[i]) d->memcpyHtoD(c.ptr[i], hostData(eng, i), c.bytes[i]);

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

  size_t freeBytes = 0, totalBytes = 0;
  d->memGetInfo(&freeBytes, &totalBytes);
  c.freeBytes = freeBytes;
  c.totalBytes = totalBytes;
  c.usedBytes = totalBytes - freeBytes;
  return GpuPrepareResult::kReady;
}

namespace {

// Items 1 to 5 of a step: E boundary, H update, H boundary, E update, sources.
void fieldLaunches(GpuContext& c, const SimulationEngine& eng) {
  const GridDesc& g = eng.grid.desc;
  launchMur(c, kEMur, g);
  launch(c, kHField, c.cellBlocks);
  launchMur(c, kHMur, g);
  launch(c, kEField, c.cellBlocks);
  launch(c, kSource, c.sourceBlocks);
}

void colourLaunch(GpuContext& c, SimulationEngine& eng) {
  launch(c, kMkcolor, c.cellBlocks);
  driver()->memcpyDtoH(eng.grid.cellColor.data(), c.ptr[kBufColour], c.bytes[kBufColour]);
}

// Copies the sample rows [rowsOnHost, rows) to the host store. Every row is
// written once on the device, so the rows copied before stay valid and the
// host never needs the whole history again.
void syncSamples(GpuContext& c, SimulationEngine& eng, int64_t rows) {
  if (!c.bytes[kBufSamples] || rows <= c.rowsOnHost) return;
  const size_t rowBytes = static_cast<size_t>(eng.sam.probeCount) * sizeof(ProbeSample);
  const size_t first = static_cast<size_t>(c.rowsOnHost) * rowBytes;
  driver()->memcpyDtoH(reinterpret_cast<char*>(eng.samples.data()) + first,
                       c.ptr[kBufSamples] + first,
                       static_cast<size_t>(rows - c.rowsOnHost) * rowBytes);
  c.rowsOnHost = rows;
}

// Rows recorded so far by the host's counters.
int64_t rowsTaken(const FDTD_SAM& s) {
  const int32_t taken = s.stepCount < s.stepLimit ? s.stepCount : s.stepLimit;
  return taken > 0 ? taken : 0;
}

}  // namespace

void GpuStepBatch(SimulationEngine& eng) {
  GpuContext& c = TheGpuContext();
  if (!c.allocated) return;
  // The host's sampling record is the master: time and counters reach the
  // device only through this upload.
  driver()->memcpyHtoD(c.ptr[kBufSam], &eng.sam, sizeof(FDTD_SAM));
  fieldLaunches(c, eng);
  launch(c, kMeas, c.probeBlocks);
  driver()->ctxSynchronize();
}

void GpuStepInteractive(SimulationEngine& eng, bool colour) {
  GpuContext& c = TheGpuContext();
  if (!c.allocated) return;
  const CudaDriver* d = driver();
  d->memcpyHtoD(c.ptr[kBufDesc], &eng.grid.desc, sizeof(GridDesc));
  d->memcpyHtoD(c.ptr[kBufSam], &eng.sam, sizeof(FDTD_SAM));
  fieldLaunches(c, eng);
  if (c.probeBlocks) {
    launch(c, kMeas, c.probeBlocks);
    // The rows up to the one taken in this step (usually that one alone):
    // the host store holds every sample so far without copying the history
    // after every step.
    if (sampleDue(eng.sam)) syncSamples(c, eng, int64_t{eng.sam.stepCount} + 1);
  }
  if (colour) colourLaunch(c, eng);
  d->ctxSynchronize();
}

void GpuRecolour(SimulationEngine& eng) {
  GpuContext& c = TheGpuContext();
  if (!c.allocated) return;
  driver()->memcpyHtoD(c.ptr[kBufDesc], &eng.grid.desc, sizeof(GridDesc));
  colourLaunch(c, eng);
  syncSamples(c, eng, rowsTaken(eng.sam));
  driver()->ctxSynchronize();
}

void GpuCopyBack(SimulationEngine& eng) {
  GpuContext& c = TheGpuContext();
  if (!c.allocated) return;
  // The rows taken since the last copy; rows after them are zero on both
  // sides.
  syncSamples(c, eng, rowsTaken(eng.sam));
  driver()->ctxSynchronize();
}

void GpuCopyFields(SimulationEngine& eng) {
  GpuContext& c = TheGpuContext();
  if (!c.allocated) return;
  for (int i : {kBufE, kBufH, kBufMurZ, kBufMurX, kBufMurY})
    driver()->memcpyDtoH(const_cast<void*>(hostData(eng, i)), c.ptr[i], c.bytes[i]);
  driver()->ctxSynchronize();
}

void GpuRelease() {
  GpuContext& c = TheGpuContext();
  if (!c.initialised) return;
  if (c.allocated) freeBuffers(c);
  driver()->ctxDestroy(c.context);
  c.context = nullptr;
  c.module = nullptr;
  c.initialised = false;
}

namespace {

std::string deviceLabel() { return TheGpuContext().label; }
uint64_t usedBytes() { return TheGpuContext().usedBytes; }
uint64_t totalBytes() { return TheGpuContext().totalBytes; }

const GpuBackend kCudaBackend = {PrepareGpu,  GpuStepBatch, GpuStepInteractive, GpuRecolour,
                                 GpuCopyBack, deviceLabel,  usedBytes,          totalBytes};

}  // namespace

void InstallCudaBackend() {
  InstallGpuBackend(&kCudaBackend);
  // The context exists before GpuRelease is registered, so it is destroyed
  // only after GpuRelease has run at exit.
  TheGpuContext();
  std::atexit(GpuRelease);
}

}  // namespace tavro
