// The plain form of the field passes and of the batch step: one scalar cell
// update after the other in simple nested loops, the reference the fast
// loops of field_update.cpp are checked against.
#include "engine/boundary_mur.h"
#include "engine/field_kernels.h"
#include "engine/field_update.h"
#include "engine/grid_index.h"
#include "engine/ports.h"
#include "engine/probes.h"
#include "engine/sources.h"

namespace tavro {

namespace {}  // namespace

void updateHPlain(SimulationEngine& eng) {
  GridHolder& g = eng.grid;
  const GridDesc d = g.desc;
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  const Strides s = stridesOf(d);
  const ECell* e = g.e.data();
  HCell* h = g.h.data();
#pragma omp parallel for collapse(2) schedule(static)
  for (int64_t x = 0; x < X; ++x) {
    for (int64_t y = 0; y < Y; ++y) {
      const ECell* ec = e + eIndex(d, x, y, 0);
      HCell* hc = h + hIndex(d, x, y, 0);
      for (int64_t z = 0; z < Z; ++z) updateHCell(hc[z], ec + z, s.sy, s.sx);
    }
  }
}

void updateEPlain(SimulationEngine& eng) {
  GridHolder& g = eng.grid;
  const GridDesc d = g.desc;
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  const Strides s = stridesOf(d);
  ECell* e = g.e.data();
  const HCell* h = g.h.data();
#pragma omp parallel for collapse(2) schedule(static)
  for (int64_t x = 0; x < X; ++x) {
    for (int64_t y = 0; y < Y; ++y) {
      ECell* ec = e + eIndex(d, x, y, 0);
      const HCell* hc = h + hIndex(d, x, y, 0);
      for (int64_t z = 0; z < Z; ++z) updateECell(ec[z], hc + z, s.sy, s.sx);
    }
  }
}

void stepBatchReference(SimulationEngine& eng) {
  endCompactRun(eng);  // the reference steps the records
  murE(eng);
  updateHPlain(eng);
  murH(eng);
  updateEPlain(eng);
  applyPorts(eng);
  applySources(eng);
  measure(eng);
  advanceCounters(eng.sam);
}

}  // namespace tavro
