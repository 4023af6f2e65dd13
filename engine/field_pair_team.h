// The two-step sweep's plan and the team's order of work, shared by the
// records (field_pair.cpp) and the compact stepping state
// (compact_step.cpp). Private to those pass files.
#pragma once

#include <omp.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "engine/field_kernels.h"
#include "engine/field_lanes.h"
#include "engine/grid_index.h"
#include "engine/probes.h"
#include "engine/sources.h"

namespace tavro {

namespace {

// ---------------------------------------------------------------------------
// Two steps per sweep
//
// A box larger than the caches is bound by memory: one step reads and writes
// every record once. The two-step sweep lets the second step follow the
// first one plane behind, so that the records of a block come from memory
// once for both steps. Every per-step operation then runs per plane and
// block of rows, at the point where its inputs are final and before anything
// overwrites what it reads: the sources and the measurement of the first
// step and the E boundary of the second one right after E of each plane of
// the first step, those of the second step after its own E of each plane.
// All of them touch only their own cell (a source, the E boundary records of
// the plane) or read the cell's own E and H of planes x and x-1 (a probe),
// so the values are those of two single steps.
//
// With the absorbing layer (-pml) there is no Mur boundary: the layer's H
// (E) corrections of a plane's rows follow the H (E) update of those rows,
// as in the single step. They read the same neighbours as the updates (E of
// planes x, x+1 and rows y, y+1; H of planes x-1, x and rows y-1, y) and
// write only their own cells, so the lag between the steps that holds for
// the updates holds for them as well.

// A source cell or probe cell by plane and row, with its list index.
struct CellRef {
  int64_t x, y, i;
};

bool byPlaneAndRow(const CellRef& a, const CellRef& b) {
  return a.x != b.x ? a.x < b.x : a.y < b.y;
}

struct PairPlan {
  FDTD_SAM sam[2];      // counters of the first and the second step
  bool measureStep[2];  // whether each step records a sample
  std::vector<CellRef> sources, probes, ports;
};

// The references of rows r of plane x, in list order within a cell.
template <class F>
void forCellsIn(const std::vector<CellRef>& refs, int64_t x, Rows r, F&& f) {
  auto it = std::lower_bound(refs.begin(), refs.end(), CellRef{x, r.y0, 0}, byPlaneAndRow);
  for (; it != refs.end() && it->x == x && it->y < r.y1; ++it) f(it->i);
}

// Each thread needs a range of at least kPairPlanes planes: the hand-overs at
// the two ends of a range (planes a-1..a+1) stay apart, and away from the X
// faces, which a range sets from its own planes.
constexpr int64_t kPairPlanes = 6;

// Whether two steps can run as one sweep with a team of `team` threads
// (or fewer): enough planes and rows, and every source inside the box (a source in a guard cell has
// no plane to ride on).
bool planPair(const SimulationEngine& eng, int team, PairPlan& plan) {
  const GridDesc& d = eng.grid.desc;
  const int64_t X = d.nx, Y = d.ny;
  if (X < kPairPlanes * team || Y < 3 || d.nz < 1) return false;
  plan.sam[0] = eng.sam;
  plan.sam[1] = eng.sam;
  advanceCounters(plan.sam[1]);

  const int64_t n = sourcesInUse(eng);
  const int64_t sy = d.nz + 1, sx = (d.ny + 1) * sy;
  plan.sources.clear();
  for (int64_t i = 0; i < n; ++i) {
    const int64_t cell = eng.sources[i].cell;
    const int64_t x = cell / sx, y = cell % sx / sy;
    if (cell < 0 || x >= X || y >= Y) return false;
    plan.sources.push_back({x, y, static_cast<int64_t>(i)});
  }
  std::stable_sort(plan.sources.begin(), plan.sources.end(), byPlaneAndRow);

  plan.ports.clear();
  for (size_t i = 0; i < eng.ports.list.size(); ++i) {
    const int64_t cell = eng.ports.list[i].cell;
    plan.ports.push_back({cell / sx, cell % sx / sy, static_cast<int64_t>(i)});
  }
  std::stable_sort(plan.ports.begin(), plan.ports.end(), byPlaneAndRow);

  plan.probes.clear();
  for (int k = 0; k < 2; ++k) plan.measureStep[k] = measureDue(eng, plan.sam[k]);
  if (plan.measureStep[0] || plan.measureStep[1]) {
    for (int64_t p = 0; p < eng.sam.probeCount; ++p) {
      int64_t x, y, z;
      cellCoords(d, static_cast<uint64_t>(eng.probeCells[p]), x, y, z);
      plan.probes.push_back({x, y, p});
    }
    std::stable_sort(plan.probes.begin(), plan.probes.end(), byPlaneAndRow);
  }
  return true;
}

// Two steps in one parallel region. Thread t owns planes [a, b).
// 1. The first step's E boundary of its own planes, then a barrier.
// 2. Block after block of rows: the first step sweeps planes a..b-1 (E of
//    plane a waits, as in the single step, except on thread 0); the second
//    step follows one plane behind, one row lower (its block k holds rows
//    y_k - 1 .. y_{k+1} - 2, so that the rows it reads of the next block are
//    final), over H of planes a+1..b-2 and E of a+2..b-2: those read only
//    the first step's values of this thread's planes. Thread 0 starts both
//    steps at plane 0, the last thread ends the second step at X-1.
// 3. After a barrier, the hand-over at plane a of every thread but the first:
//    the first step's E of plane a; after a barrier the second step's H of
//    planes a-1 and a; after a barrier its E of a-1, a, a+1. The threads
//    have left exactly these. Split by rows between the thread and the one
//    below: E of a row reads no E, H of row y reads E of rows y and y+1 and
//    E of row y reads H of rows y and y-1, final after each barrier; the
//    boundary records of a row (and a Y face, two rows) stay in one part.
//
// Ops supplies what differs between the records and the compact state:
// Ops::murERange(eng, a, b), Ops::Sweep (a PlaneSweep), Ops::blockCount,
// Ops::finishEPlane, Ops::handOverH and Ops::handOverE.
template <class Ops>
void pairTeam(SimulationEngine& eng, int lanes, const PairPlan& plan) {
  GridHolder& g = eng.grid;
  const GridDesc& d = g.desc;
  const int64_t X = d.nx, Y = d.ny;
  const int64_t team = omp_get_num_threads(), t = omp_get_thread_num();
  const int64_t a = X * t / team, b = X * (t + 1) / team;
  const bool bottom = a == 0, top = b == X;
  Ops::murERange(eng, a, b);
#pragma omp barrier
  const int64_t first1 = bottom ? 0 : a + 1, last1 = top ? X - 1 : b - 2;
  const int64_t blocks = Ops::blockCount(d, eng.sweepBlockBytes);
  const int64_t maxRows = (Y + blocks - 1) / blocks + 1;
  typename Ops::Sweep step0(eng, lanes, 0, maxRows), step1(eng, lanes, 1, maxRows);
  for (int64_t k = 0; k < blocks; ++k) {
    const Rows r0{Y * k / blocks, Y * (k + 1) / blocks};
    const Rows r1{k == 0 ? 0 : r0.y0 - 1, k == blocks - 1 ? Y : r0.y1 - 1};
    step0.begin(r0, a, b - 1, bottom);
    step1.begin(r1, first1, last1, bottom);
    int64_t q = first1;
    for (int64_t x = a; x < b; ++x) {
      step0.plane(x, [&](int64_t p) { Ops::finishEPlane(eng, plan, 0, p, r0); });
      // The first step's E (with the second step's E boundary) is now final
      // up to plane c; the second step's H of plane q reads E of q and q+1
      // (the guard plane beyond X-1).
      const int64_t c = x == 0 ? -1 : (x == X - 2 ? X - 3 : x);
      while (q <= last1 && (q + 1 <= c || q == X - 1))
        step1.plane(q++, [&](int64_t p) { Ops::finishEPlane(eng, plan, 1, p, r1); });
    }
  }
#pragma omp barrier
  // The hand-overs, in three parts with a barrier between them: the thread
  // takes the upper rows of the one at its own plane a and the lower rows of
  // the one at plane b of the thread above, so that the threads share them.
  struct HandOver {
    int64_t a;
    Rows r;
  };
  const int64_t half = Y >= 4 ? Y / 2 : 0;  // each part two rows at least
  HandOver mine[2];
  int n = 0;
  if (!bottom) mine[n++] = {a, {half, Y}};
  if (!top && half > 0) mine[n++] = {b, {0, half}};
  for (int i = 0; i < n; ++i) Ops::handOverE(eng, plan, 0, mine[i].a, mine[i].r, lanes);
#pragma omp barrier
  for (int i = 0; i < n; ++i)
    for (int64_t x : {mine[i].a - 1, mine[i].a}) Ops::handOverH(eng, x, mine[i].r, lanes);
#pragma omp barrier
  for (int i = 0; i < n; ++i)
    for (int64_t x : {mine[i].a - 1, mine[i].a, mine[i].a + 1})
      Ops::handOverE(eng, plan, 1, x, mine[i].r, lanes);
}

}  // namespace

}  // namespace tavro
