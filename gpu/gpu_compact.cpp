// The compact stepping state on the device: the host builds it
// (beginCompactRun), the back end uploads it, steps it with the kernels of
// engine/compact_kernels.h and brings it back, and the records are written
// from it by the CPU's own syncRecords. One state, stepped by both back ends.
#include <string>

#include "engine/compact_kernels.h"
#include "engine/compact_state.h"
#include "engine/console.h"
#include "engine/probes.h"
#include "gpu/gpu_calls.h"
#include "gpu/gpu_context.h"

namespace tavro {

static_assert(int{kCoefAx} == int{kCax} && int{kCoefBz} == int{kCbz} && int{kCoefHx} == int{kChx} &&
                  int{kCoefHz} == int{kChz} && int{kCompactCoefCount} == int{kCoefSlots},
              "the kernels read the coefficient table in the host's slot order");

namespace {

const char* const kCompactNames[kCompactBufferCount] = {
    "compact fields", "set indices",       "coefficient table", "SWITCH sets",    "first sources",
    "sources inside", "source magnitudes", "probe sources",     "face magnitudes"};

void compactSizes(const CompactState& s, size_t out[kCompactBufferCount]) {
  out[kCompactFields] = s.fields.bytes();
  out[kCompactSet] = s.set.bytes();
  out[kCompactCoef] = s.coef.bytes();
  out[kCompactSwitchSet] = s.switchSet.bytes();
  out[kCompactFirstAtCell] = s.firstAtCell.bytes();
  out[kCompactSourceInside] = s.sourceInside.bytes();
  out[kCompactSourceMag] = s.sourceMag.bytes();
  out[kCompactProbeSource] = s.probeSource.bytes();
  out[kCompactFaceMag] = s.faceMag.bytes();
}

const void* compactHost(const CompactState& s, int i) {
  switch (i) {
    case kCompactFields:
      return s.fields.data();
    case kCompactSet:
      return s.set.data();
    case kCompactCoef:
      return s.coef.data();
    case kCompactSwitchSet:
      return s.switchSet.data();
    case kCompactFirstAtCell:
      return s.firstAtCell.data();
    case kCompactSourceInside:
      return s.sourceInside.data();
    case kCompactSourceMag:
      return s.sourceMag.data();
    case kCompactProbeSource:
      return s.probeSource.data();
    default:
      return s.faceMag.data();
  }
}

unsigned blocksOf(uint64_t count, unsigned per) {
  return static_cast<unsigned>((count + per - 1) / per);
}

bool launch(GpuContext& c, GpuKernel k, unsigned gx, unsigned gy, unsigned gz, unsigned bx,
            unsigned by) {
  if (gx == 0 || gy == 0 || gz == 0) return true;
  return RunCall(
      c, Driver()->launchKernel(c.kernel[k], gx, gy, gz, bx, by, 1, 0, nullptr, c.args[k], nullptr),
      "cuLaunchKernel", kGpuKernelNames[k]);
}

bool cellLaunch(GpuContext& c, GpuKernel k, const GridDesc& g) {
  return launch(c, k, cellBlocksZ(g), blocksOf(static_cast<uint64_t>(g.ny), kCellBlockY),
                static_cast<unsigned>(g.nx), kCellBlockZ, kCellBlockY);
}

// The three face families, Z, X, then Y, as the CPU passes run: the values
// of the edges that two families share come out the same.
bool murLaunches(GpuContext& c, GpuKernel k, const GridDesc& g) {
  const int64_t along[3] = {g.ny, g.nz, g.nx}, across[3] = {g.nx, g.ny, g.nz};
  for (uint32_t f = 0; f < 3; ++f) {
    c.murFamily = f;  // the launch takes the argument values now
    if (!launch(c, k, blocksOf(static_cast<uint64_t>(along[f]), kLineBlock),
                static_cast<unsigned>(across[f]), 1, kLineBlock, 1))
      return false;
  }
  return true;
}

bool download(GpuContext& c, void* host, CUdeviceptr from, size_t bytes, const char* what) {
  if (bytes == 0) return true;
  return RunCall(c, Driver()->memcpyDtoH(host, from, bytes), "cuMemcpyDtoH_v2", what);
}

}  // namespace

void GpuCompactFree(GpuContext& c, std::string* failed) {
  for (int i = 0; i < kCompactBufferCount; ++i) {
    if (c.cptr[i]) {
      const CUresult r = Driver()->memFree(c.cptr[i]);
      if (r != CUDA_SUCCESS && failed && failed->empty())
        *failed = DescribeFailure("cuMemFree_v2", kCompactNames[i], r);
    }
    c.cptr[i] = 0;
    c.cbytes[i] = 0;
  }
  for (CUdeviceptr& p : c.component) p = 0;
  c.compactHeld = false;
}

bool GpuCompactUpload(GpuContext& c, const SimulationEngine& eng) {
  const CompactState& s = eng.compact;
  size_t sizes[kCompactBufferCount];
  compactSizes(s, sizes);
  size_t total = 0;
  for (size_t b : sizes) total += b;
  size_t freeBytes = 0, totalBytes = 0;
  if (!RunCall(c, Driver()->memGetInfo(&freeBytes, &totalBytes), "cuMemGetInfo_v2", ""))
    return false;
  // The records stay on the device (the window and the colouring step
  // them); where the state does not fit beside them, with a sixteenth of the
  // device left to the driver, the records kernels step the run.
  if (total > freeBytes || freeBytes - total < totalBytes / 16) return true;
  for (int i = 0; i < kCompactBufferCount; ++i) {
    if (sizes[i] == 0) continue;
    const std::string what =
        std::string(kCompactNames[i]) + ", " + std::to_string(sizes[i]) + " bytes";
    if (!RunCall(c, Driver()->memAlloc(&c.cptr[i], sizes[i]), "cuMemAlloc_v2", what)) return false;
    c.cbytes[i] = sizes[i];
  }
  for (int i = 0; i < kCompactBufferCount; ++i)
    if (c.cbytes[i] && !RunCall(c, Driver()->memcpyHtoD(c.cptr[i], compactHost(s, i), c.cbytes[i]),
                                "cuMemcpyHtoD_v2", kCompactNames[i]))
      return false;
  for (int a = 0; a < 6; ++a)
    c.component[a] = c.cptr[kCompactFields] + a * s.stride * sizeof(float);
  c.launchDesc = eng.grid.desc;
  c.setStride = s.setStride;
  c.sourceCount = static_cast<uint32_t>(s.switchSet.size());
  // Sources that share a cell are applied in list order by one thread.
  c.sourcesSerial = 0;
  for (size_t i = 0; i < s.firstAtCell.size(); ++i)
    if (!s.firstAtCell[i]) c.sourcesSerial = 1;
  c.compactHeld = true;
  return true;
}

bool GpuCompactStep(GpuContext& c, const SimulationEngine& eng) {
  const GridDesc& g = c.launchDesc;
  c.launchSam = eng.sam;
  c.recordsStale = true;
  const bool measure = c.cbytes[kCompactProbeSource] && measureDue(eng, eng.sam);
  return murLaunches(c, kCompactEMur, g) && cellLaunch(c, kCompactH, g) &&
         murLaunches(c, kCompactHMur, g) && cellLaunch(c, kCompactE, g) &&
         (c.sourceCount == 0 ||
          launch(c, kCompactSource, c.sourcesSerial ? 1 : blocksOf(c.sourceCount, kLineBlock), 1, 1,
                 kLineBlock, 1)) &&
         (!measure ||
          launch(c, kCompactMeas, blocksOf(static_cast<uint64_t>(eng.sam.probeCount), kLineBlock),
                 1, 1, kLineBlock, 1));
}

bool GpuFetchState(SimulationEngine& eng) {
  GpuContext& c = TheGpuContext();
  if (!c.compactHeld || !eng.compact.active) return true;
  CompactState& s = eng.compact;
  GridHolder& g = eng.grid;
  // The copies wait for the launches before them; a kernel fault is
  // reported by the first.
  if (!download(c, s.fields.data(), c.cptr[kCompactFields], c.cbytes[kCompactFields],
                kCompactNames[kCompactFields]) ||
      !download(c, s.coef.data(), c.cptr[kCompactCoef], c.cbytes[kCompactCoef],
                kCompactNames[kCompactCoef]) ||
      !download(c, s.sourceMag.data(), c.cptr[kCompactSourceMag], c.cbytes[kCompactSourceMag],
                kCompactNames[kCompactSourceMag]) ||
      !download(c, s.faceMag.data(), c.cptr[kCompactFaceMag], c.cbytes[kCompactFaceMag],
                kCompactNames[kCompactFaceMag]) ||
      !download(c, g.murZ.data(), c.ptr[kBufMurZ], c.bytes[kBufMurZ], kGpuBufferNames[kBufMurZ]) ||
      !download(c, g.murX.data(), c.ptr[kBufMurX], c.bytes[kBufMurX], kGpuBufferNames[kBufMurX]) ||
      !download(c, g.murY.data(), c.ptr[kBufMurY], c.bytes[kBufMurY], kGpuBufferNames[kBufMurY]))
    return false;
  s.recordsCurrent = false;
  return true;
}

bool GpuRefreshRecords(GpuContext& c, SimulationEngine& eng) {
  if (!c.recordsStale) return true;
  if (c.compactHeld) {
    if (!GpuFetchState(eng)) return false;
    syncRecords(eng);
  }
  const GridHolder& g = eng.grid;
  if (!RunCall(c, Driver()->memcpyHtoD(c.ptr[kBufE], g.e.data(), c.bytes[kBufE]), "cuMemcpyHtoD_v2",
               kGpuBufferNames[kBufE]) ||
      !RunCall(c, Driver()->memcpyHtoD(c.ptr[kBufH], g.h.data(), c.bytes[kBufH]), "cuMemcpyHtoD_v2",
               kGpuBufferNames[kBufH]))
    return false;
  std::string failed;
  GpuCompactFree(c, &failed);
  if (!failed.empty()) {
    con() << "error: " << failed << ".\n";
    ReleaseAfterFailure(c);
    return false;
  }
  c.recordsStale = false;
  return true;
}

}  // namespace tavro
