// The field passes on the CPU: how the H and E updates visit the cells and
// how their values reach the per-cell arithmetic of field_kernels.h. The
// order of a whole step is in time_step.cpp.
//
// Two forms of the passes exist and give identical bits:
// - the plain loops (field_update_plain.cpp): one scalar cell update after
//   the other over the (x, y) rows, kept as the reference;
// - the fast loops here (updateH, updateE, fieldPassesCpu, stepPairCpu): the
//   same formulas on sixteen (AVX-512) or eight (AVX2) cells at a time, one
//   cell per vector lane (field_lanes.h), chosen at run time; the four passes
//   of a step in one parallel region, and the H update, H boundary and E
//   update swept together along x in blocks of rows (PlaneSweep,
//   field_sweep.h); for the batch run two steps in one sweep (pairTeam,
//   field_pair.cpp).
// The threads take contiguous ranges of x planes (static schedule); every row
// updates its z run of cells, whose elements lie next to each other. An
// update writes only the elements of its own cells and reads only the other
// field, so the passes need no locks; the order in which planes are visited
// only has to respect which values each cell reads (see PlaneSweep).
#include "engine/field_update.h"

#include <omp.h>

#include <algorithm>

#include "engine/boundary_mur.h"
#include "engine/field_lanes.h"
#include "engine/field_passes.h"
#include "engine/field_sweep.h"
#include "engine/grid_index.h"
#include "engine/pml.h"

namespace tavro {

namespace {

// The H and E passes for a caller inside a parallel region: the planes split
// statically among the team, a barrier at the end.
void hPassTeam(GridHolder& g, int lanes) {
#pragma omp for schedule(static)
  for (int64_t x = 0; x < g.desc.nx; ++x) hPlane(g, x, {0, g.desc.ny}, lanes);
}

void ePassTeam(GridHolder& g, int lanes) {
#pragma omp for schedule(static)
  for (int64_t x = 0; x < g.desc.nx; ++x) ePlane(g, x, {0, g.desc.ny}, lanes);
}

// Whether the team can run the sweep: four planes at least (so that the two
// X faces lie apart) and two per thread.
bool canSweep(const GridDesc& d, int team) { return d.nx >= 4 && d.nx >= 2 * int64_t{team}; }

void noPlaneDone(int64_t) {}

// One step's H update, H boundary and E update in one sweep: each thread
// sweeps its own range [a, b) of planes, block of rows after block of rows.
// E of the first plane a waits for the barrier, because the thread below
// reads it for its last H plane and provides the H plane a-1 it needs.
void sweepTeam(SimulationEngine& eng, int lanes) {
  GridHolder& g = eng.grid;
  const int64_t X = g.desc.nx, Y = g.desc.ny;
  const int64_t team = omp_get_num_threads(), t = omp_get_thread_num();
  const int64_t a = X * t / team, b = X * (t + 1) / team;
  const int64_t blocks = blockCount(g.desc, eng.sweepBlockBytes);
  PlaneSweep sweep(eng, lanes, 0, (Y + blocks - 1) / blocks);
  for (int64_t k = 0; k < blocks; ++k) {
    sweep.begin({Y * k / blocks, Y * (k + 1) / blocks}, a, b - 1, false);
    for (int64_t x = a; x < b; ++x) sweep.plane(x, noPlaneDone);
  }
#pragma omp barrier
  ePlane(g, a, {0, Y}, lanes);
  if (eng.pmlCells > 0) pmlERows(eng, a, 0, Y);
}

}  // namespace

float* sweepScratch(int slot, int64_t floats, int64_t blockRows, int64_t Z) {
  thread_local Buffer<float> scratch[2];
  thread_local int64_t shapeRows[2] = {-1, -1}, shapeZ[2] = {-1, -1};
  if (shapeRows[slot] != blockRows || shapeZ[slot] != Z) {
    shapeRows[slot] = shapeZ[slot] = -1;
    if (!scratch[slot].allocate(static_cast<size_t>(floats))) return nullptr;
    std::fill(scratch[slot].begin(), scratch[slot].end(), 0.0f);
    shapeRows[slot] = blockRows;
    shapeZ[slot] = Z;
  }
  return scratch[slot].data();
}

void fieldPassesCpu(SimulationEngine& eng) {
  const int lanes = laneCount(eng);
#pragma omp parallel
  {
    const int64_t X = eng.grid.desc.nx;
    const int64_t team = omp_get_num_threads(), t = omp_get_thread_num();
    if (canSweep(eng.grid.desc, static_cast<int>(team))) {
      // The E boundary of the thread's own planes, those it sweeps next.
      if (eng.pmlCells == 0) murERange(eng, X * t / team, X * (t + 1) / team);
#pragma omp barrier
      sweepTeam(eng, lanes);
    } else if (eng.pmlCells > 0) {
      fieldPassesPmlTeam(eng);
    } else {
      murETeam(eng);  // ends with a barrier
      hPassTeam(eng.grid, lanes);
      murHTeam(eng);
      ePassTeam(eng.grid, lanes);
    }
  }
}

void updateHPlane(SimulationEngine& eng, int64_t x) {
  hPlane(eng.grid, x, {0, eng.grid.desc.ny}, laneCount(eng));
}

void updateEPlane(SimulationEngine& eng, int64_t x) {
  ePlane(eng.grid, x, {0, eng.grid.desc.ny}, laneCount(eng));
}

void updateH(SimulationEngine& eng) {
  const int lanes = laneCount(eng);
#pragma omp parallel
  hPassTeam(eng.grid, lanes);
}

void updateE(SimulationEngine& eng) {
  const int lanes = laneCount(eng);
#pragma omp parallel
  ePassTeam(eng.grid, lanes);
}

}  // namespace tavro
