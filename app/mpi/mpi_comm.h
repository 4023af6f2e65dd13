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

// The halo of one slab: the plane next to each slab boundary, exchanged at the
// two moments of a step where the other slab's values are read.
class HaloExchange {
 public:
  HaloExchange(const Slab& slab, const GridDesc& d);
  // E flows to the left: the first owned plane goes to the left neighbour,
  // whose H update of its last plane reads it; the plane after the last
  // owned one comes from the right neighbour.
  void exchangeE(GridHolder& g);
  // H flows to the right: the last owned plane goes to the right neighbour,
  // whose E update and probes of its first plane read it.
  void exchangeH(GridHolder& g);
  // Bytes that cross one slab boundary per step (an E plane one way, an H
  // plane the other).
  uint64_t bytesPerBoundary() const { return 2 * send_.size() * sizeof(float); }

 private:
  int left_ = MPI_PROC_NULL, right_ = MPI_PROC_NULL;
  int64_t first_ = 0, end_ = 0;  // owned local planes [first_, end_)
  std::vector<float> send_, recv_;
};

// One batch time step of a slab, in the order of stepBatch: E boundary, H
// update, H boundary, E update, sources, measurement, counters; with the
// halo planes exchanged after each boundary pass.
void SlabStep(SimulationEngine& eng, HaloExchange& halo);

// The largest stop signal noted by any process (0 = go on).
int AgreeOnStop(int signal);

// Gathers the first `records` samples of every process's probes on rank 0
// into `all` (record s * total + p, probes in slab order, which is cell
// order). `total` is the probe count of the whole box. Returns false when
// rank 0 cannot hold them.
bool GatherSamples(const World& w, const SimulationEngine& eng, int64_t records, int32_t total,
                   Buffer<ProbeSample>& all, int32_t stepLimit);

}  // namespace tavro
