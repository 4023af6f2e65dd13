// The CUDA back end during a run: the launches of one step, the colouring
// and the copies back to the host. Every driver result is checked; the first
// failure ends the run on the device (gpu_calls.h).
#include "engine/compact_state.h"
#include "engine/console.h"
#include "engine/field_kernels.h"
#include "gpu/gpu_calls.h"
#include "gpu/gpu_context.h"

namespace tavro {

namespace {

bool launch(GpuContext& c, GpuKernel k, unsigned blocks) {
  if (blocks == 0) return true;
  return RunCall(c,
                 Driver()->launchKernel(c.kernel[k], blocks, 1, 1, kGpuBlock, 1, 1, 0, nullptr,
                                        c.args[k], nullptr),
                 "cuLaunchKernel", kGpuKernelNames[k]);
}

bool upload(GpuContext& c, GpuBuffer b, const void* host, size_t bytes) {
  return RunCall(c, Driver()->memcpyHtoD(c.ptr[b], host, bytes), "cuMemcpyHtoD_v2",
                 kGpuBufferNames[b]);
}

bool download(GpuContext& c, void* host, GpuBuffer b, size_t offset, size_t bytes) {
  return RunCall(c, Driver()->memcpyDtoH(host, c.ptr[b] + offset, bytes), "cuMemcpyDtoH_v2",
                 kGpuBufferNames[b]);
}

// The closing wait of an operation: a kernel that faulted is reported here.
bool synchronise(GpuContext& c) {
  return RunCall(c, Driver()->ctxSynchronize(), "cuCtxSynchronize", "");
}

// One boundary kernel per face family, Z, X, then Y: the order of the CPU
// passes, so that the edge values shared by two families come out the same.
bool launchMur(GpuContext& c, GpuKernel k, const GridDesc& g) {
  const uint64_t bounds[4] = {0, g.countXY, g.countZXFaces, g.countFaces};
  const unsigned blocks[3] = {c.zFaceBlocks, c.xFaceBlocks, c.yFaceBlocks};
  for (int f = 0; f < 3; ++f) {
    c.murFirst = bounds[f];
    c.murEnd = bounds[f + 1];
    if (!launch(c, k, blocks[f])) return false;  // the launch takes the argument values now
  }
  return true;
}

// Items 1 to 5 of a step: E boundary, H update, H boundary, E update, sources.
bool fieldLaunches(GpuContext& c, const SimulationEngine& eng) {
  const GridDesc& g = eng.grid.desc;
  return launchMur(c, kEMur, g) && launch(c, kHField, c.cellBlocks) && launchMur(c, kHMur, g) &&
         launch(c, kEField, c.cellBlocks) && launch(c, kSource, c.sourceBlocks);
}

bool colourLaunch(GpuContext& c, SimulationEngine& eng) {
  return launch(c, kMkcolor, c.cellBlocks) &&
         download(c, eng.grid.cellColor.data(), kBufColour, 0, c.bytes[kBufColour]);
}

// Copies the sample rows [rowsOnHost, rows) to the host store. Every row is
// written once on the device, so the rows copied before stay valid and the
// host never needs the whole history again.
bool syncSamples(GpuContext& c, SimulationEngine& eng, int64_t rows) {
  if (!c.bytes[kBufSamples] || rows <= c.rowsOnHost) return true;
  const size_t rowBytes = static_cast<size_t>(eng.sam.probeCount) * sizeof(ProbeSample);
  const size_t first = static_cast<size_t>(c.rowsOnHost) * rowBytes;
  if (!download(c, reinterpret_cast<char*>(eng.samples.data()) + first, kBufSamples, first,
                static_cast<size_t>(rows - c.rowsOnHost) * rowBytes))
    return false;
  c.rowsOnHost = rows;
  return true;
}

// Rows recorded so far by the host's counters.
int64_t rowsTaken(const FDTD_SAM& s) {
  const int32_t taken = s.stepCount < s.stepLimit ? s.stepCount : s.stepLimit;
  return taken > 0 ? taken : 0;
}

// Whether the device holds this run; says why not when it does not.
bool holdsRun(GpuContext& c, const SimulationEngine& eng) {
  if (DeviceHoldsGrid(c, eng)) return true;
  con() << "error: the GPU holds no buffers of this run.\n";
  return false;
}

// The records kernels have no absorbing layer: a run with one that they
// would step stops with a message instead of running a different model.
bool recordsServe(const SimulationEngine& eng) {
  if (eng.pmlCells == 0) return true;
  con() << "error: the absorbing layer (-pml) runs on the GPU only in batch runs that step the "
           "compact state (not in the window); run it without -cuda.\n";
  return false;
}

}  // namespace

bool GpuStepBatch(SimulationEngine& eng) {
  GpuContext& c = TheGpuContext();
  if (!holdsRun(c, eng)) return false;
  // A batch run that loaded the compact stepping state steps it on the
  // device, from its first step on; the records kernels step the others.
  if (eng.compact.active && !c.compactHeld && !c.recordsStepped && !GpuCompactUpload(c, eng))
    return false;
  if (eng.compact.active && c.compactHeld) return GpuCompactStep(c, eng) && synchronise(c);
  if (!recordsServe(eng) || !GpuRefreshRecords(c, eng)) return false;
  c.recordsStepped = true;
  // The host's sampling record is the master: time and counters reach the
  // device only through this upload.
  return upload(c, kBufSam, &eng.sam, sizeof(FDTD_SAM)) && fieldLaunches(c, eng) &&
         launch(c, kMeas, c.probeBlocks) && synchronise(c);
}

bool GpuStepInteractive(SimulationEngine& eng, bool colour) {
  GpuContext& c = TheGpuContext();
  if (!holdsRun(c, eng) || !recordsServe(eng) || !GpuRefreshRecords(c, eng)) return false;
  c.recordsStepped = true;
  if (!upload(c, kBufDesc, &eng.grid.desc, sizeof(GridDesc)) ||
      !upload(c, kBufSam, &eng.sam, sizeof(FDTD_SAM)) || !fieldLaunches(c, eng))
    return false;
  if (c.probeBlocks) {
    // The rows up to the one taken in this step (usually that one alone):
    // the host store holds every sample so far without copying the history
    // after every step.
    if (!launch(c, kMeas, c.probeBlocks)) return false;
    if (sampleDue(eng.sam) && !syncSamples(c, eng, int64_t{eng.sam.stepCount} + 1)) return false;
  }
  if (colour && !colourLaunch(c, eng)) return false;
  return synchronise(c);
}

bool GpuRecolour(SimulationEngine& eng) {
  GpuContext& c = TheGpuContext();
  // A refused set-up leaves the device empty: nothing to colour there.
  if (!c.allocated) return true;
  if (!holdsRun(c, eng) || !GpuRefreshRecords(c, eng)) return false;
  return upload(c, kBufDesc, &eng.grid.desc, sizeof(GridDesc)) && colourLaunch(c, eng) &&
         syncSamples(c, eng, rowsTaken(eng.sam)) && synchronise(c);
}

bool GpuCopyBack(SimulationEngine& eng) {
  GpuContext& c = TheGpuContext();
  if (!c.allocated && eng.sam.probeCount == 0) return true;  // nothing to bring back
  if (!holdsRun(c, eng)) return false;
  // The rows taken since the last copy; rows after them are zero on both
  // sides.
  return syncSamples(c, eng, rowsTaken(eng.sam)) && synchronise(c);
}

bool GpuCopyFields(SimulationEngine& eng) {
  GpuContext& c = TheGpuContext();
  if (!holdsRun(c, eng)) return false;
  // The compact state comes back through the host's state into the records.
  if (c.compactHeld && eng.compact.active) {
    if (!GpuFetchState(eng) || !synchronise(c)) return false;
    syncRecords(eng);
    return true;
  }
  GridHolder& g = eng.grid;
  return download(c, g.e.data(), kBufE, 0, c.bytes[kBufE]) &&
         download(c, g.h.data(), kBufH, 0, c.bytes[kBufH]) &&
         download(c, g.murZ.data(), kBufMurZ, 0, c.bytes[kBufMurZ]) &&
         download(c, g.murX.data(), kBufMurX, 0, c.bytes[kBufMurX]) &&
         download(c, g.murY.data(), kBufMurY, 0, c.bytes[kBufMurY]) && synchronise(c);
}

}  // namespace tavro
