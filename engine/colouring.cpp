// Field colouring: one colour band byte per cell for the field views.
#include "engine/colouring.h"

#include "engine/gpu_backend.h"
#include "engine/probe_kernels.h"

namespace tavro {

void ColourCells(SimulationEngine& eng) {
  // On the GPU the fields live on the device: colour there, copy the bytes.
  if (RunsOnGpu(eng)) {
    if (!eng.gpuFailed && !InstalledGpuBackend()->recolour(eng)) eng.gpuFailed = true;
    return;
  }
  GridHolder& grid = eng.grid;
  const GridDesc g = grid.desc;
  if (grid.cellColor.size() < g.cellCount) return;
  const ECell* e = grid.e.data();
  const HCell* h = grid.h.data();
  uint8_t* colour = grid.cellColor.data();
  const int64_t n = static_cast<int64_t>(g.cellCount);
#pragma omp parallel for schedule(static)
  for (int64_t k = 0; k < n; ++k) colourCell(g, e, h, static_cast<uint64_t>(k), colour);
}

}  // namespace tavro
