// Two batch steps in one sweep over the box on the records (stepPairCpu).
#include <omp.h>

#include <algorithm>
#include <vector>

#include "engine/boundary_mur.h"
#include "engine/field_kernels.h"
#include "engine/field_lanes.h"
#include "engine/field_pair_team.h"
#include "engine/field_passes.h"
#include "engine/field_sweep.h"
#include "engine/grid_index.h"
#include "engine/pml.h"
#include "engine/ports.h"
#include "engine/probe_kernels.h"
#include "engine/probes.h"
#include "engine/sources.h"

namespace tavro {

namespace {

// After E of rows r of plane x in step k: the step's ports and sources of
// those cells in list order, its samples of their probes and, after the
// first step, the second step's E boundary of the rows (Mur only).
void finishEPlane(SimulationEngine& eng, const PairPlan& plan, int k, int64_t x, Rows r) {
  const FDTD_SAM& sam = plan.sam[k];
  ECell* e = eng.grid.e.data();
  const FDTD_SRC* src = eng.sources.data();
  const int64_t portStep = eng.ports.step + k;
  forCellsIn(plan.ports, x, r,
             [&](int64_t p) { applyPortAt(eng, sam, static_cast<size_t>(p), portStep); });
  forCellsIn(plan.sources, x, r, [&](int64_t i) { applySource(e, sam, src[i]); });
  if (plan.measureStep[k])
    forCellsIn(plan.probes, x, r, [&](int64_t p) {
      measureProbe(eng.grid.desc, e, eng.grid.h.data(), sam, eng.probeCells.data(),
                   eng.samples.data(), p);
    });
  if (k == 0 && eng.pmlCells == 0) murEAfterPlane(eng, x, r.y0, r.y1);
}

// The update of rows r of plane x outside the sweep (the hand-overs), with
// the layer's corrections or the Mur H boundary.
void handOverH(SimulationEngine& eng, int64_t x, Rows r, int lanes) {
  hPlane(eng.grid, x, r, lanes);
  if (eng.pmlCells > 0)
    pmlHRows(eng, x, r.y0, r.y1);
  else
    murHAfterPlane(eng, x, r.y0, r.y1);
}

void handOverE(SimulationEngine& eng, const PairPlan& plan, int k, int64_t x, Rows r, int lanes) {
  ePlane(eng.grid, x, r, lanes);
  if (eng.pmlCells > 0) pmlERows(eng, x, r.y0, r.y1);
  finishEPlane(eng, plan, k, x, r);
}

// Blocks of rows of the two-step sweep: the records of about four planes of
// E and H and the copies of both steps stay in the core's cache; three rows
// at least, so that the second step's blocks, one row lower, hold two.
int64_t pairBlockCount(const GridDesc& d, int64_t blockBytes) {
  const int64_t cells = d.nz + 1;
  const int64_t rowBytes =
      cells * int64_t{4 * (sizeof(ECell) + sizeof(HCell)) + 2 * 18 * sizeof(float)};
  const int64_t rows = blockBytes / rowBytes;
  const int64_t byCache = rows < 3 ? d.ny / 3 : (d.ny + rows - 1) / rows;
  const int64_t n = byCache < d.ny / 3 ? byCache : d.ny / 3;
  return n < 1 ? 1 : n;
}

// The records' side of the two-step sweep.
struct RecordOps {
  using Sweep = PlaneSweep;
  static void murERange(SimulationEngine& eng, int64_t a, int64_t b) {
    if (eng.pmlCells == 0) tavro::murERange(eng, a, b);
  }
  static int64_t blockCount(const GridDesc& d, int64_t bytes) { return pairBlockCount(d, bytes); }
  static void finishEPlane(SimulationEngine& eng, const PairPlan& plan, int k, int64_t x, Rows r) {
    tavro::finishEPlane(eng, plan, k, x, r);
  }
  static void handOverH(SimulationEngine& eng, int64_t x, Rows r, int lanes) {
    tavro::handOverH(eng, x, r, lanes);
  }
  static void handOverE(SimulationEngine& eng, const PairPlan& plan, int k, int64_t x, Rows r,
                        int lanes) {
    tavro::handOverE(eng, plan, k, x, r, lanes);
  }
};

}  // namespace

bool stepPairCpu(SimulationEngine& eng) {
  // The lists keep their memory between calls. Inside the parallel region
  // the name of a thread_local would mean each thread's own copy, so the
  // team gets this thread's by reference.
  thread_local PairPlan plans;
  PairPlan& plan = plans;
  if (!planPair(eng, omp_get_max_threads(), plan)) return false;
  const int lanes = laneCount(eng);
  reservePortSteps(eng, 2);
#pragma omp parallel
  pairTeam<RecordOps>(eng, lanes, plan);
  if (!eng.ports.list.empty()) eng.ports.step += 2;
  eng.sam = plan.sam[1];
  advanceCounters(eng.sam);
  return true;
}
}  // namespace tavro
