#include "app/mpi/mpi_comm.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "engine/console.h"
#include "engine/field_update.h"
#include "engine/halo_planes.h"
#include "engine/pml.h"

namespace tavro {

namespace {

constexpr int kTagText = 1, kTagLeft = 2, kTagRight = 3, kTagSamples = 4;

std::string messagesOf(const std::string& text) {
  std::istringstream in(text);
  std::string out, line;
  while (std::getline(in, line))
    if (line.rfind("error: ", 0) == 0 || line.rfind("warning: ", 0) == 0 ||
        line.rfind("info: ", 0) == 0)
      out += line + "\n";
  return out;
}

}  // namespace

int AgreeOnPhase(const World& w, int status, int ok, const std::string& text, bool printOwn) {
  const int mine = status != ok ? w.rank : w.size;
  int first = w.size;
  MPI_Allreduce(&mine, &first, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);
  if (first == w.size) {
    if (w.rank == 0 && printOwn) con() << text;
    return ok;
  }
  int agreed = status;
  MPI_Bcast(&agreed, 1, MPI_INT, first, MPI_COMM_WORLD);
  if (first == 0) {
    if (w.rank == 0) con() << (printOwn ? text : messagesOf(text));
    return agreed;
  }
  if (w.rank == first) {
    const std::string said = printOwn ? text : messagesOf(text);
    const int n = static_cast<int>(said.size());
    MPI_Send(&n, 1, MPI_INT, 0, kTagText, MPI_COMM_WORLD);
    MPI_Send(said.data(), n, MPI_CHAR, 0, kTagText, MPI_COMM_WORLD);
  } else if (w.rank == 0) {
    int n = 0;
    MPI_Recv(&n, 1, MPI_INT, first, kTagText, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    std::string said(static_cast<std::size_t>(n), '\0');
    MPI_Recv(said.data(), n, MPI_CHAR, first, kTagText, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    con() << said;
  }
  return agreed;
}

static_assert(kHaloPlanes == 2, "the psi halves of halo_planes.h are those of two planes");

HaloExchange::HaloExchange(const Slab& slab, const SimulationEngine& eng) {
  if (slab.hasLeft()) left_ = slab.rank - 1;
  if (slab.hasRight()) right_ = slab.rank + 1;
  // Grid planes: the absorbing layer on the box's near face comes first.
  first_ = slab.local(slab.x0) + layerBeforeX(eng);
  end_ = slab.local(slab.x1) + layerBeforeX(eng);
  auto floats = [&](int64_t from, const int* halves) {
    return static_cast<int>(haloMessageFloats(eng, from, kHaloPlanes, halves));
  };
  if (left_ != MPI_PROC_NULL) {
    toLeft_ = floats(first_, kHaloPsiToLeft);
    fromLeft_ = floats(first_ - kHaloPlanes, kHaloPsiToRight);
  }
  if (right_ != MPI_PROC_NULL) {
    toRight_ = floats(end_ - kHaloPlanes, kHaloPsiToRight);
    fromRight_ = floats(end_, kHaloPsiToLeft);
  }
  bytes_ =
      static_cast<uint64_t>(right_ != MPI_PROC_NULL ? toRight_ + fromRight_ : toLeft_ + fromLeft_) *
      sizeof(float);
  send_.resize(static_cast<std::size_t>(std::max(toLeft_, toRight_)));
  recv_.resize(static_cast<std::size_t>(std::max(fromLeft_, fromRight_)));
}

void HaloExchange::exchange(SimulationEngine& g) {
  if (left_ == MPI_PROC_NULL && right_ == MPI_PROC_NULL) return;
  if (left_ != MPI_PROC_NULL) packHalo(g, first_, kHaloPlanes, kHaloPsiToLeft, send_.data());
  MPI_Sendrecv(send_.data(), toLeft_, MPI_FLOAT, left_, kTagLeft, recv_.data(), fromRight_,
               MPI_FLOAT, right_, kTagLeft, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
  if (right_ != MPI_PROC_NULL) {
    unpackHalo(g, end_, kHaloPlanes, kHaloPsiToLeft, recv_.data());
    packHalo(g, end_ - kHaloPlanes, kHaloPlanes, kHaloPsiToRight, send_.data());
  }
  MPI_Sendrecv(send_.data(), toRight_, MPI_FLOAT, right_, kTagRight, recv_.data(), fromLeft_,
               MPI_FLOAT, left_, kTagRight, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
  if (left_ != MPI_PROC_NULL)
    unpackHalo(g, first_ - kHaloPlanes, kHaloPlanes, kHaloPsiToRight, recv_.data());
}

int SlabSteps(SimulationEngine& eng, HaloExchange& halo, int steps) {
  halo.exchange(eng);
  return stepBatchSteps(eng, steps);
}

int AgreeOnStop(int signal) {
  int any = 0;
  MPI_Allreduce(&signal, &any, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  return any;
}

bool GatherSamples(const World& w, const SimulationEngine& eng, int64_t records, int32_t total,
                   Buffer<ProbeSample>& all, int32_t stepLimit) {
  MPI_Datatype sample;
  MPI_Type_contiguous(static_cast<int>(sizeof(ProbeSample) / sizeof(float)), MPI_FLOAT, &sample);
  MPI_Type_commit(&sample);
  const int32_t mine = eng.sam.probeCount > 0 && records > 0 ? eng.sam.probeCount : 0;
  std::vector<int32_t> counts(static_cast<std::size_t>(w.size), 0);
  MPI_Gather(&mine, 1, MPI_INT32_T, counts.data(), 1, MPI_INT32_T, 0, MPI_COMM_WORLD);
  int ok = 1;
  if (w.rank == 0) {
    const uint64_t n = static_cast<uint64_t>(total) * static_cast<uint64_t>(stepLimit);
    if (n > 0 && (!memoryFits(n * sizeof(ProbeSample)) || !all.allocate(n))) {
      con() << "error: can't allocate memory for samples[" << n << "].\n";
      ok = 0;
    } else if (n > 0) {
      std::memset(all.data(), 0, all.bytes());
    }
  }
  MPI_Bcast(&ok, 1, MPI_INT, 0, MPI_COMM_WORLD);
  if (!ok) {
    MPI_Type_free(&sample);
    return false;
  }
  // Each process sends its records one sample record (all its probes) at a
  // time into rank 0's rows; rank 0 copies its own.
  const int64_t own = static_cast<int64_t>(mine);
  if (w.rank != 0 && own > 0) {
    for (int64_t s = 0; s < records; ++s)
      MPI_Send(eng.samples.data() + s * own, static_cast<int>(own), sample, 0, kTagSamples,
               MPI_COMM_WORLD);
  }
  if (w.rank == 0) {
    int64_t offset = 0;
    for (int r = 0; r < w.size; ++r) {
      const int64_t c = counts[static_cast<std::size_t>(r)];
      for (int64_t s = 0; s < records && c > 0; ++s) {
        ProbeSample* row = all.data() + s * total + offset;
        if (r == 0)
          std::memcpy(row, eng.samples.data() + s * c, static_cast<std::size_t>(c) * sizeof(*row));
        else
          MPI_Recv(row, static_cast<int>(c), sample, r, kTagSamples, MPI_COMM_WORLD,
                   MPI_STATUS_IGNORE);
      }
      offset += c;
    }
  }
  MPI_Type_free(&sample);
  return true;
}

}  // namespace tavro
