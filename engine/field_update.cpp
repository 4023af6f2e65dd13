// The time-stepping core on the CPU: one OpenMP pass per field update and the
// fixed order of one time step. The per-cell arithmetic is in field_kernels.h.
#include "engine/field_update.h"

#include <omp.h>

#include "engine/boundary_mur.h"
#include "engine/colouring.h"
#include "engine/field_kernels.h"
#include "engine/grid_index.h"
#include "engine/probes.h"
#include "engine/sources.h"

namespace tavro {

// Both passes run over the (x, y) columns of the box, split statically among
// the threads; each column updates its z run of cells, whose elements lie next
// to each other. An iteration writes only the elements of its own cells, and
// reads only the other field, so the passes need no locks.

void updateH(SimulationEngine& eng) {
  GridHolder& g = eng.grid;
  const GridDesc d = g.desc;
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  const uint64_t sy = static_cast<uint64_t>(Z) + 1;
  const uint64_t sx = (static_cast<uint64_t>(Y) + 1) * sy;
  const ECell* e = g.e.data();
  HCell* h = g.h.data();
#pragma omp parallel for collapse(2) schedule(static)
  for (int64_t x = 0; x < X; ++x) {
    for (int64_t y = 0; y < Y; ++y) {
      const ECell* ec = e + eIndex(d, x, y, 0);
      HCell* hc = h + hIndex(d, x, y, 0);
      for (int64_t z = 0; z < Z; ++z) updateHCell(hc[z], ec + z, sy, sx);
    }
  }
}

void updateE(SimulationEngine& eng) {
  GridHolder& g = eng.grid;
  const GridDesc d = g.desc;
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  const uint64_t sy = static_cast<uint64_t>(Z) + 1;
  const uint64_t sx = (static_cast<uint64_t>(Y) + 1) * sy;
  ECell* e = g.e.data();
  const HCell* h = g.h.data();
#pragma omp parallel for collapse(2) schedule(static)
  for (int64_t x = 0; x < X; ++x) {
    for (int64_t y = 0; y < Y; ++y) {
      ECell* ec = e + eIndex(d, x, y, 0);
      const HCell* hc = h + hIndex(d, x, y, 0);
      for (int64_t z = 0; z < Z; ++z) updateECell(ec[z], hc + z, sy, sx);
    }
  }
}

namespace {

// Items common to both step operations: boundary and field updates in
// leap-frog order, then the sources (on the main thread, in list order).
void fieldStep(SimulationEngine& eng) {
  murE(eng);  // corrects the faces left by the previous E update
  updateH(eng);
  murH(eng);
  updateE(eng);
  applySources(eng);
}

}  // namespace

void stepBatch(SimulationEngine& eng) {
  fieldStep(eng);
  measure(eng);  // records a sample only when one is due
  advanceCounters(eng.sam);
}

void stepInteractive(SimulationEngine& eng) {
  fieldStep(eng);
  measure(eng);
  ColourCells(eng);
  advanceCounters(eng.sam);
}

}  // namespace tavro
