// The GPU kernels of one time step. Each kernel maps one thread to one cell,
// face position, source or probe and calls the engine's shared per-cell
// arithmetic (field_kernels.h, probe_kernels.h), so the device computes the
// same float32 expressions in the same order as the CPU loops. Built into a
// PTX text module with --fmad=false and IEEE division and square root.
//
// Every launch is one-dimensional with blocks of kBlock threads. The grid
// descriptor (and, where used, the sampling record) is read once per block
// into shared memory.
#include "engine/compact_kernels.h"
#include "engine/field_kernels.h"
#include "engine/pml_compact_kernels.h"
#include "engine/probe_kernels.h"

using namespace tavro;

namespace {

constexpr unsigned kBlock = 512;

// Thread 0 copies a record (a multiple of 4 bytes) into shared memory; the
// caller then waits for it at a block barrier.
template <class T>
__device__ __forceinline__ void copyRecord(T* dst, const T* src) {
  if (threadIdx.x == 0) {
    const unsigned* s = reinterpret_cast<const unsigned*>(src);
    unsigned* d = reinterpret_cast<unsigned*>(dst);
    for (unsigned i = 0; i < sizeof(T) / 4; ++i) d[i] = s[i];
  }
}

template <class T>
__device__ __forceinline__ void loadShared(T* dst, const T* src) {
  copyRecord(dst, src);
  __syncthreads();
}

__device__ __forceinline__ uint64_t threadIndex() {
  return static_cast<uint64_t>(blockIdx.x) * kBlock + threadIdx.x;
}

// Face families of the combined face index: Z faces [0, countXY), X faces
// [countXY, countZXFaces), Y faces [countZXFaces, countFaces).
template <class Cell>
__device__ __forceinline__ void murFace(const GridDesc& g, Cell* f, const float* murCoef,
                                        MurStore* murZ, MurStore* murX, MurStore* murY,
                                        uint64_t t) {
  if (t < g.countXY) {
    if (g.nz < 2) return;
    const int64_t x = static_cast<int64_t>(t / static_cast<uint64_t>(g.ny));
    const int64_t y = static_cast<int64_t>(t % static_cast<uint64_t>(g.ny));
    murZRecord(g, f, murCoef, murZ[t], x, y);
  } else if (t < g.countZXFaces) {
    if (g.nx < 2) return;
    const uint64_t r = t - g.countXY;
    const int64_t y = static_cast<int64_t>(r / static_cast<uint64_t>(g.nz));
    const int64_t z = static_cast<int64_t>(r % static_cast<uint64_t>(g.nz));
    murXRecord(g, f, murCoef, murX[r], y, z);
  } else {
    if (g.ny < 2) return;
    const uint64_t r = t - g.countZXFaces;
    const int64_t z = static_cast<int64_t>(r / static_cast<uint64_t>(g.nx));
    const int64_t x = static_cast<int64_t>(r % static_cast<uint64_t>(g.nx));
    murYRecord(g, f, murCoef, murY[r], x, z);
  }
}

}  // namespace

// H update of plain cell t, signed magnitude included.
extern "C" __global__ void __launch_bounds__(kBlock)
    h_field(const GridDesc* desc, const ECell* e, HCell* h) {
  __shared__ GridDesc g;
  loadShared(&g, desc);
  const uint64_t t = threadIndex();
  if (t >= g.cellCount) return;
  int64_t x, y, z;
  cellCoords(g, t, x, y, z);
  const Strides s = stridesOf(g);
  updateHCell(h[hIndex(g, x, y, z)], e + eIndex(g, x, y, z), s.sy, s.sx);
}

// E update of plain cell t, signed magnitude included.
extern "C" __global__ void __launch_bounds__(kBlock)
    e_field(const GridDesc* desc, ECell* e, const HCell* h) {
  __shared__ GridDesc g;
  loadShared(&g, desc);
  const uint64_t t = threadIndex();
  if (t >= g.cellCount) return;
  int64_t x, y, z;
  cellCoords(g, t, x, y, z);
  const Strides s = stridesOf(g);
  updateECell(e[eIndex(g, x, y, z)], h + hIndex(g, x, y, z), s.sy, s.sx);
}

// Mur boundary of H (E) at combined face indices first + t below end. The
// host launches the three face families one after the other (Z, X, Y), the
// order of the CPU passes: the edge cells that two families share get the
// later family's value, and a later family reads what an earlier one stored.
// Within a family every record touches only its own cells and slots.
extern "C" __global__ void __launch_bounds__(kBlock)
    h_mur(const GridDesc* desc, HCell* h, const float* murCoef, MurStore* murZ, MurStore* murX,
          MurStore* murY, uint64_t first, uint64_t end) {
  __shared__ GridDesc g;
  loadShared(&g, desc);
  const uint64_t t = first + threadIndex();
  if (t >= end) return;
  murFace(g, h, murCoef, murZ, murX, murY, t);
}

extern "C" __global__ void __launch_bounds__(kBlock)
    e_mur(const GridDesc* desc, ECell* e, const float* murCoef, MurStore* murZ, MurStore* murX,
          MurStore* murY, uint64_t first, uint64_t end) {
  __shared__ GridDesc g;
  loadShared(&g, desc);
  const uint64_t t = first + threadIndex();
  if (t >= end) return;
  murFace(g, e, murCoef, murZ, murX, murY, t);
}

// Source record t applied to its cell. Every source has a cell of its own,
// so the records are independent.
extern "C" __global__ void __launch_bounds__(kBlock)
    source(ECell* e, const FDTD_SAM* samIn, const FDTD_SRC* sources) {
  // Raw storage: shared memory takes no constructors.
  __shared__ alignas(8) unsigned char samBytes[sizeof(FDTD_SAM)];
  FDTD_SAM& sam = *reinterpret_cast<FDTD_SAM*>(samBytes);
  loadShared(&sam, samIn);
  const uint64_t t = threadIndex();
  if (t >= static_cast<uint64_t>(sam.sourceCount)) return;
  applySource(e, sam, sources[t]);
}

// Sample of probe t when one is due.
extern "C" __global__ void __launch_bounds__(kBlock)
    meas(const GridDesc* desc, const ECell* e, const HCell* h, const FDTD_SAM* samIn,
         const int64_t* probeCells, ProbeSample* samples) {
  __shared__ GridDesc g;
  __shared__ alignas(8) unsigned char samBytes[sizeof(FDTD_SAM)];
  FDTD_SAM& sam = *reinterpret_cast<FDTD_SAM*>(samBytes);
  copyRecord(&g, desc);
  copyRecord(&sam, samIn);
  __syncthreads();
  const uint64_t t = threadIndex();
  if (t >= static_cast<uint64_t>(sam.probeCount) || !sampleDue(sam)) return;
  measureProbe(g, e, h, sam, probeCells, samples, static_cast<int64_t>(t));
}

// Colour byte of plain cell t.
extern "C" __global__ void __launch_bounds__(kBlock)
    mkcolor(const GridDesc* desc, const ECell* e, const HCell* h, uint8_t* colour) {
  __shared__ GridDesc g;
  loadShared(&g, desc);
  const uint64_t t = threadIndex();
  if (t >= g.cellCount) return;
  colourCell(g, e, h, t, colour);
}

// ---------------------------------------------------------------------------
// The kernels of the compact stepping state (engine/compact_kernels.h holds
// their bodies). The descriptor and the sampling record come by value, as
// kernel parameters: no shared-memory copy and no barrier. Cell launches are
// z-contiguous two-dimensional blocks, so the coordinates need no division.

extern "C" __global__ void __launch_bounds__(kCellBlockZ* kCellBlockY)
    compact_h(const GridDesc g, const float* __restrict__ ex, const float* __restrict__ ey,
              const float* __restrict__ ez, float* __restrict__ hx, float* __restrict__ hy,
              float* __restrict__ hz, const uint16_t* __restrict__ set,
              const float* __restrict__ coef, uint64_t setStride, float* __restrict__ faceMag) {
  compactHBody(g, ex, ey, ez, hx, hy, hz, set, coef, setStride, faceMag,
               cellOfThread(g, true, blockIdx.x, blockIdx.y, blockIdx.z, threadIdx.x, threadIdx.y));
}

extern "C" __global__ void __launch_bounds__(kCellBlockZ* kCellBlockY)
    compact_e(const GridDesc g, float* __restrict__ ex, float* __restrict__ ey,
              float* __restrict__ ez, const float* __restrict__ hx, const float* __restrict__ hy,
              const float* __restrict__ hz, const uint16_t* __restrict__ set,
              const float* __restrict__ coef, uint64_t setStride) {
  compactEBody(
      g, ex, ey, ez, hx, hy, hz, set, coef, setStride,
      cellOfThread(g, false, blockIdx.x, blockIdx.y, blockIdx.z, threadIdx.x, threadIdx.y));
}

// Boundary of H (E): one face family per launch.
extern "C" __global__ void __launch_bounds__(kLineBlock)
    compact_h_mur(const GridDesc g, float* hx, float* hy, float* hz,
                  const float* __restrict__ murCoef, MurStore* murZ, MurStore* murX, MurStore* murY,
                  uint32_t family) {
  compactMurBody(g, FieldArrays<true>{{hx, hy, hz}}, murCoef, murZ, murX, murY, family,
                 faceOfThread(blockIdx.x, blockIdx.y, threadIdx.x));
}

extern "C" __global__ void __launch_bounds__(kLineBlock)
    compact_e_mur(const GridDesc g, float* ex, float* ey, float* ez,
                  const float* __restrict__ murCoef, MurStore* murZ, MurStore* murX, MurStore* murY,
                  uint32_t family) {
  compactMurBody(g, FieldArrays<false>{{ex, ey, ez}}, murCoef, murZ, murX, murY, family,
                 faceOfThread(blockIdx.x, blockIdx.y, threadIdx.x));
}

// Sources: one thread per source, or, when two sources share a cell
// (`serial`), thread 0 alone in list order, as the CPU applies them.
extern "C" __global__ void __launch_bounds__(kLineBlock)
    compact_source(const FDTD_SAM sam, const FDTD_SRC* __restrict__ sources, float* ex, float* ey,
                   float* ez, float* coef, uint64_t setStride,
                   const int32_t* __restrict__ switchSet, const uint8_t* __restrict__ firstAtCell,
                   const uint8_t* __restrict__ sourceInside, float* sourceMag, uint32_t count,
                   uint32_t serial) {
  const CompactSourceArrays a{switchSet, firstAtCell, sourceInside, sourceMag};
  const uint32_t t = blockIdx.x * kLineBlock + threadIdx.x;
  if (serial) {
    if (t == 0)
      for (uint32_t i = 0; i < count; ++i)
        compactSourceBody(sam, sources, ex, ey, ez, coef, setStride, a, i);
  } else if (t < count) {
    compactSourceBody(sam, sources, ex, ey, ez, coef, setStride, a, t);
  }
}

// Sample of probe t; the host launches it only on steps that take one.
extern "C" __global__ void __launch_bounds__(kLineBlock)
    compact_meas(const GridDesc g, const FDTD_SAM sam, const float* __restrict__ ex,
                 const float* __restrict__ ey, const float* __restrict__ ez,
                 const float* __restrict__ hx, const float* __restrict__ hy,
                 const float* __restrict__ hz, const int64_t* __restrict__ probeCells,
                 const int32_t* __restrict__ probeSource, const float* __restrict__ sourceMag,
                 const float* __restrict__ faceMag, ProbeSample* __restrict__ samples) {
  const uint32_t t = blockIdx.x * kLineBlock + threadIdx.x;
  if (t >= static_cast<uint32_t>(sam.probeCount)) return;
  const CompactProbeArrays a{{ex, ey, ez}, {hx, hy, hz}, probeSource, sourceMag,
                             faceMag,      nullptr,      nullptr};
  compactProbeBody(g, sam, a, probeCells, samples, t);
}

// The absorbing layer's corrections of H (E) in one slab (the host launches
// the six slabs in order after the H (E) update): one thread per cell,
// blocks laid out as those of the cell kernels from the slab's first cell.
extern "C" __global__ void __launch_bounds__(kCellBlockZ* kCellBlockY)
    compact_h_pml(const GridDesc g, const PmlSlabLaunch slab, float* ex, float* ey, float* ez,
                  float* hx, float* hy, float* hz, const uint16_t* __restrict__ set,
                  const float* __restrict__ coef, uint64_t setStride,
                  const PmlCoef* __restrict__ table, float* __restrict__ psi) {
  const PmlCompactArrays a{{ex, ey, ez}, {hx, hy, hz}, set, coef, setStride};
  compactPmlBody<true>(g, slab, a, table, psi, blockIdx.x, blockIdx.y, blockIdx.z, threadIdx.x,
                       threadIdx.y);
}

extern "C" __global__ void __launch_bounds__(kCellBlockZ* kCellBlockY)
    compact_e_pml(const GridDesc g, const PmlSlabLaunch slab, float* ex, float* ey, float* ez,
                  float* hx, float* hy, float* hz, const uint16_t* __restrict__ set,
                  const float* __restrict__ coef, uint64_t setStride,
                  const PmlCoef* __restrict__ table, float* __restrict__ psi) {
  const PmlCompactArrays a{{ex, ey, ez}, {hx, hy, hz}, set, coef, setStride};
  compactPmlBody<false>(g, slab, a, table, psi, blockIdx.x, blockIdx.y, blockIdx.z, threadIdx.x,
                        threadIdx.y);
}
