#include "app/mpi/slab.h"

#include <algorithm>
#include <cstring>

namespace tavro {

bool SplitSlabs(int X, int ranks, int rank, Slab& slab, std::string& why) {
  slab = Slab{};
  slab.ranks = ranks;
  slab.rank = rank;
  slab.areaX = X;
  if (ranks < 1 || rank < 0 || rank >= ranks) {
    why = "bad rank " + std::to_string(rank) + " of " + std::to_string(ranks);
    return false;
  }
  if (ranks > 1 && X < 2 * ranks) {
    why = std::to_string(ranks) + " processes need at least " + std::to_string(2 * ranks) +
          " x planes (2 each); the area has " + std::to_string(X) + ", so run at most " +
          std::to_string(std::max(1, X / 2)) + " processes";
    return false;
  }
  const int base = X / ranks, extra = X % ranks;
  slab.x0 = rank * base + std::min(rank, extra);
  slab.x1 = slab.x0 + base + (rank < extra ? 1 : 0);
  slab.lo = std::max(0, slab.x0 - kModelHalo);
  slab.hi = std::min(X, slab.x1 + kModelHalo);
  return true;
}

bool SlabModel(const ModelRecord& whole, const Slab& slab, ModelRecord& part) {
  part.areaX = slab.hi - slab.lo;
  part.areaY = whole.areaY;
  part.areaZ = whole.areaZ;
  part.copyTablesAndUnits(whole);
  if (!part.allocateCells()) return false;
  // Planes are contiguous runs of Y*Z cells in both records.
  const uint64_t plane = static_cast<uint64_t>(whole.areaY) * static_cast<uint64_t>(whole.areaZ);
  const uint64_t first = static_cast<uint64_t>(slab.lo) * plane;
  const uint64_t count = part.cellCount();
  if (whole.data.size() >= first + count) {
    std::memcpy(part.data.data(), whole.data.data() + first, count * sizeof(int32_t));
    std::memcpy(part.hide.data(), whole.hide.data() + first, count * sizeof(int32_t));
  }
  const uint64_t begin = static_cast<uint64_t>(slab.x0) * plane;
  const uint64_t end = static_cast<uint64_t>(slab.x1) * plane;
  for (const auto& [k, text] : whole.pins())
    if (k >= first && k < first + count) part.setPin(k - first, text);
  for (const auto& [k, name] : whole.probes())
    if (k >= begin && k < end) part.setProbe(k - first, name);
  return true;
}

}  // namespace tavro
