// The compact stepping state on the device: the host builds it
// (beginCompactRun), the back end uploads it, steps it with the kernels of
// engine/compact_kernels.h and brings it back, and the records are written
// from it by the CPU's own syncRecords. One state, stepped by both back ends.
#include <string>
#include <vector>

#include "engine/compact_kernels.h"
#include "engine/compact_state.h"
#include "engine/console.h"
#include "engine/pml_compact_kernels.h"
#include "engine/probes.h"
#include "gpu/gpu_calls.h"
#include "gpu/gpu_context.h"

namespace tavro {

static_assert(int{kCoefAx} == int{kCax} && int{kCoefBz} == int{kCbz} && int{kCoefHx} == int{kChx} &&
                  int{kCoefHz} == int{kChz} && int{kCompactCoefCount} == int{kCoefSlots},
              "the kernels read the coefficient table in the host's slot order");

namespace {

const char* const kCompactNames[kCompactBufferCount] = {
    "compact fields",  "set indices",        "coefficient table", "SWITCH sets",
    "first sources",   "sources inside",     "source magnitudes", "probe sources",
    "face magnitudes", "layer coefficients", "layer psi"};

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
  out[kCompactPmlCoef] = 0;
  out[kCompactPmlPsi] = 0;
}

// The absorbing layer's tables (H x y z, E x y z) and slabs, with where each
// starts in its device buffer; the sizes of both buffers, 0 without a layer.
const std::vector<PmlCoef>& pmlTable(const SimulationEngine& eng, int t) {
  return t < 3 ? eng.pml.hCoef[t] : eng.pml.eCoef[t - 3];
}

void pmlLayout(const SimulationEngine& eng, GpuContext& c, size_t out[kCompactBufferCount]) {
  uint64_t tables = 0, psi = 0;
  for (int t = 0; t < 6; ++t) {
    c.pmlTableAt[t] = tables;
    c.pmlPsiAt[t] = psi;
    if (eng.pmlCells == 0) continue;
    tables += pmlTable(eng, t).size();
    psi += eng.pml.slabs[t].psi.size();
  }
  out[kCompactPmlCoef] = tables * sizeof(PmlCoef);
  out[kCompactPmlPsi] = psi * sizeof(float);
}

// The layer's pieces into (from) their places in the device buffers.
bool pmlUpload(GpuContext& c, const SimulationEngine& eng) {
  if (!c.cbytes[kCompactPmlCoef]) return true;
  for (int t = 0; t < 6; ++t) {
    const std::vector<PmlCoef>& table = pmlTable(eng, t);
    const PmlSlab& slab = eng.pml.slabs[t];
    if (!table.empty() &&
        !RunCall(c,
                 Driver()->memcpyHtoD(c.cptr[kCompactPmlCoef] + c.pmlTableAt[t] * sizeof(PmlCoef),
                                      table.data(), table.size() * sizeof(PmlCoef)),
                 "cuMemcpyHtoD_v2", kCompactNames[kCompactPmlCoef]))
      return false;
    if (slab.psi.bytes() &&
        !RunCall(c,
                 Driver()->memcpyHtoD(c.cptr[kCompactPmlPsi] + c.pmlPsiAt[t] * sizeof(float),
                                      slab.psi.data(), slab.psi.bytes()),
                 "cuMemcpyHtoD_v2", kCompactNames[kCompactPmlPsi]))
      return false;
  }
  return true;
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
    case kCompactFaceMag:
      return s.faceMag.data();
    default:
      return nullptr;  // the layer's buffers go up piece by piece
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

// The six slab launches of the layer's H (E) corrections, in slab order: a
// cell in several slabs takes their corrections in the CPU's order.
bool pmlLaunches(GpuContext& c, GpuKernel k, const SimulationEngine& eng) {
  const bool h = k == kCompactHPml;
  for (int t = 0; t < 6; ++t) {
    const PmlSlab& slab = eng.pml.slabs[t];
    PmlSlabLaunch& l = c.pmlSlab;  // the launch takes the argument values now
    l = slabLaunchOf(slab);
    c.pmlTable = c.cptr[kCompactPmlCoef] + c.pmlTableAt[(h ? 0 : 3) + slab.axis] * sizeof(PmlCoef);
    c.pmlPsi = c.cptr[kCompactPmlPsi] + c.pmlPsiAt[t] * sizeof(float);
    uint32_t blocks[3];
    pmlSlabBlocks(l, blocks);
    if (!launch(c, k, blocks[0], blocks[1], blocks[2], kCellBlockZ, kCellBlockY)) return false;
  }
  return true;
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
  c.pmlHeld = false;
}

bool GpuCompactUpload(GpuContext& c, const SimulationEngine& eng) {
  const CompactState& s = eng.compact;
  size_t sizes[kCompactBufferCount];
  compactSizes(s, sizes);
  pmlLayout(eng, c, sizes);
  size_t total = 0;
  for (size_t b : sizes) total += b;
  size_t freeBytes = 0, totalBytes = 0;
  if (!RunCall(c, Driver()->memGetInfo(&freeBytes, &totalBytes), "cuMemGetInfo_v2", ""))
    return false;
  // The records stay on the device (the window and the colouring step
  // them); where the state does not fit beside them, with a sixteenth of the
  // device left to the driver, the records kernels step the run.
  if (total > freeBytes || freeBytes - total < totalBytes / 16) {
    if (eng.pmlCells == 0) return true;
    // The records kernels have no absorbing layer: a run without it would
    // be a different model.
    con() << "error: the absorbing layer (-pml) runs on the GPU only in the compact stepping "
             "state, which needs "
          << total << " bytes beside the records (" << freeBytes
          << " bytes free); run -pml without -cuda.\n";
    return false;
  }
  for (int i = 0; i < kCompactBufferCount; ++i) {
    if (sizes[i] == 0) continue;
    const std::string what =
        std::string(kCompactNames[i]) + ", " + std::to_string(sizes[i]) + " bytes";
    if (!RunCall(c, Driver()->memAlloc(&c.cptr[i], sizes[i]), "cuMemAlloc_v2", what)) return false;
    c.cbytes[i] = sizes[i];
  }
  for (int i = 0; i < kCompactBufferCount; ++i)
    if (c.cbytes[i] && compactHost(s, i) &&
        !RunCall(c, Driver()->memcpyHtoD(c.cptr[i], compactHost(s, i), c.cbytes[i]),
                 "cuMemcpyHtoD_v2", kCompactNames[i]))
      return false;
  if (!pmlUpload(c, eng)) return false;
  c.pmlHeld = eng.pmlCells > 0;
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
  // With the absorbing layer its corrections follow each update, and there
  // is no Mur boundary.
  const bool mur = !c.pmlHeld;
  return (!mur || murLaunches(c, kCompactEMur, g)) && cellLaunch(c, kCompactH, g) &&
         (mur ? murLaunches(c, kCompactHMur, g) : pmlLaunches(c, kCompactHPml, eng)) &&
         cellLaunch(c, kCompactE, g) && (mur || pmlLaunches(c, kCompactEPml, eng)) &&
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
  if (c.pmlHeld)
    for (int t = 0; t < 6; ++t) {
      PmlSlab& slab = eng.pml.slabs[t];
      if (!download(c, slab.psi.data(), c.cptr[kCompactPmlPsi] + c.pmlPsiAt[t] * sizeof(float),
                    slab.psi.bytes(), kCompactNames[kCompactPmlPsi]))
        return false;
    }
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
