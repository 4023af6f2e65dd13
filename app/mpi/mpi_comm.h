// What the processes of a tavro_mpi run say to each other: agreeing on the
// outcome of a phase that may fail on any of them, the halo planes of every
// time step, the stop request and the samples gathered at the end.
#pragma once

#include <mpi.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/mpi/slab.h"
#include "engine/engine.h"

namespace tavro {

struct World {
  int rank = 0, size = 1;
};

// After a phase in which every process kept its console text: the status of
// the lowest-numbered process that failed (status != ok), the same on every
// process, or `ok`. Rank 0 prints the failing process's messages (its lines
// that begin "error: ", "warning: " or "info: "), or, when all succeeded and
// `printOwn` is set, its own text in full.
int AgreeOnPhase(const World& w, int status, int ok, const std::string& text, bool printOwn);

// The halo of one slab: the state of the kHaloPlanes planes next to each slab
// boundary (E, H and their Mur records), from the neighbour that owns them,
// exchanged before every sweep of one or two steps.
//
// Why that is enough: a step reads, beyond the owned planes, E of the plane
// after them and H of the plane before them. The slab steps its halo planes
// too, with the same coefficients, sources and Mur records as their owner
// (the set-up sees the same cells around them), so a halo plane stays exact
// as long as the planes it reads are: the outermost one goes wrong in the
// first step (its outer neighbour is missing), the next one in the second.
// Two halo planes thus carry the owned planes exactly through the two steps
// of a sweep, and the exchange then makes the halo exact again.
//
// With the absorbing layer a plane's state includes the auxiliary fields
// (psi) of the layer's slabs that cover it, and the Mur records go. A psi
// record of a y or z slab follows differences within its own plane, so the
// argument above leaves only two halves of the halo's psi stale where they
// count: on the right, plane end's H update of the first step counts (its E
// update, which the last owned plane reads, takes it), and its H psi was
// last taken from an E of the plane made stale by the step before (through
// the E psi of Ex, which the owned planes never read within a sweep); on the
// left, plane first-2's first H update counts (first-1's E reads it) and its
// H psi is stale. Planes first-1 and end+1 need no psi: first-1's stays
// exact, end+1's updates do not count. So the H halves of those two planes
// travel (kHaloPsiToLeft, kHaloPsiToRight); PmlSlabs.SlabsStepAsTheBox
// checks the owned planes bit for bit, and fails without either half.
class HaloExchange {
 public:
  // `eng` holds the slab's grid, set up.
  HaloExchange(const Slab& slab, const SimulationEngine& eng);
  // The first owned planes to the left neighbour and the last to the right
  // one; the halo planes from them.
  void exchange(SimulationEngine& eng);
  // Bytes that cross one slab boundary per exchange (both ways): those of
  // this slab's right boundary, or of its left one when it has no right one.
  uint64_t bytesPerBoundary() const { return bytes_; }

 private:
  int left_ = MPI_PROC_NULL, right_ = MPI_PROC_NULL;
  int64_t first_ = 0, end_ = 0;  // owned local planes [first_, end_)
  // Floats sent to the left and to the right, and received from the right
  // and from the left.
  int toLeft_ = 0, toRight_ = 0, fromRight_ = 0, fromLeft_ = 0;
  uint64_t bytes_ = 0;
  std::vector<float> send_, recv_;
};

// One sweep of a slab: the halo, then stepBatchSteps with `steps` (1 or 2).
// Returns the number of steps taken.
int SlabSteps(SimulationEngine& eng, HaloExchange& halo, int steps);

// The largest stop signal noted by any process (0 = go on).
int AgreeOnStop(int signal);

// Gathers the first `records` samples of every process's probes on rank 0
// into `all` (record s * total + p, probes in slab order, which is cell
// order). `total` is the probe count of the whole box. Returns false when
// rank 0 cannot hold them.
bool GatherSamples(const World& w, const SimulationEngine& eng, int64_t records, int32_t total,
                   Buffer<ProbeSample>& all, int32_t stepLimit);

}  // namespace tavro
