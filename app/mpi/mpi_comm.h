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

// The halo of one slab: E of the plane next to each slab boundary, from the
// neighbour that owns it, exchanged before every step.
//
// Why E alone, once per step: a step reads, beyond the owned planes, E of the
// plane after them (the H update of the last owned plane) and H of the plane
// before them (the E update and the probes of the first owned plane). That H
// the slab computes itself, exactly, from E of the planes on both sides of it
// (E of the plane before comes in here) with its own coefficients and Mur
// records, which equal the owner's: the set-up sees the same cells around it
// (kModelHalo) and the records only ever see exact values of their plane.
// Whatever else the halo planes hold is never read by an owned cell before
// the next exchange replaces it.
class HaloExchange {
 public:
  HaloExchange(const Slab& slab, const GridDesc& d);
  // The first owned plane to the left neighbour and the last to the right
  // one; the planes next to the owned ones from them.
  void exchangeE(GridHolder& g);
  // Bytes that cross one slab boundary per step (an E plane each way).
  uint64_t bytesPerBoundary() const { return 2 * send_.size() * sizeof(float); }

 private:
  int left_ = MPI_PROC_NULL, right_ = MPI_PROC_NULL;
  int64_t first_ = 0, end_ = 0;  // owned local planes [first_, end_)
  std::vector<float> send_, recv_;
};

// One batch time step of a slab: the halo, then stepBatch.
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
