// First-order Mur boundary on the CPU: per field three OpenMP passes over the
// face records, Z faces, then X faces, then Y faces. The loop barrier between
// passes fixes the order in which the edge cells, tangential to two faces,
// are written: the later pass wins and reads what the earlier one stored.
// The per-record arithmetic is in field_kernels.h. An axis with fewer than two
// cells has no inner layer, so its faces are skipped (the set-up refuses such
// areas; the engine's initial 1 x 1 x 1 grid is one).
#include "engine/boundary_mur.h"

#include <omp.h>

#include "engine/field_kernels.h"

namespace tavro {

namespace {

template <class Cell>
void murPasses(GridHolder& g, Cell* f) {
  const GridDesc d = g.desc;
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  const float* k = g.murCoef.data();
  MurStore* sz = g.murZ.data();
  MurStore* sx = g.murX.data();
  MurStore* sy = g.murY.data();
  const int64_t zRows = Z >= 2 ? X : 0, xRows = X >= 2 ? Y : 0;
  // Z faces: record x*Y + y.
#pragma omp for collapse(2) schedule(static)
  for (int64_t x = 0; x < zRows; ++x)
    for (int64_t y = 0; y < Y; ++y) murZRecord(d, f, k, sz[x * Y + y], x, y);
      // X faces: record y*Z + z.
#pragma omp for collapse(2) schedule(static)
  for (int64_t y = 0; y < xRows; ++y)
    for (int64_t z = 0; z < Z; ++z) murXRecord(d, f, k, sx[y * Z + z], y, z);
  // Y faces: record z*X + x. The records are independent, so they are
  // visited with z innermost, where the face cells lie next to each other.
  const int64_t yCols = Y >= 2 ? X : 0;
#pragma omp for collapse(2) schedule(static)
  for (int64_t x = 0; x < yCols; ++x)
    for (int64_t z = 0; z < Z; ++z) murYRecord(d, f, k, sy[z * X + x], x, z);
}

}  // namespace

void murHZPlane(SimulationEngine& eng, int64_t x) {
  GridHolder& g = eng.grid;
  const GridDesc& d = g.desc;
  if (d.nz < 2) return;
  for (int64_t y = 0; y < d.ny; ++y)
    murZRecord(d, g.h.data(), g.murCoef.data(), g.murZ[x * d.ny + y], x, y);
}

void murHYPlane(SimulationEngine& eng, int64_t x) {
  GridHolder& g = eng.grid;
  const GridDesc& d = g.desc;
  if (d.ny < 2) return;
  for (int64_t z = 0; z < d.nz; ++z)
    murYRecord(d, g.h.data(), g.murCoef.data(), g.murY[z * d.nx + x], x, z);
}

void murHXNearFace(SimulationEngine& eng) {
  GridHolder& g = eng.grid;
  const GridDesc& d = g.desc;
  for (int64_t y = 0; y < d.ny; ++y)
    for (int64_t z = 0; z < d.nz; ++z)
      murXNearRecord(d, g.h.data(), g.murCoef.data(), g.murX[y * d.nz + z], y, z);
}

void murHXFarFace(SimulationEngine& eng) {
  GridHolder& g = eng.grid;
  const GridDesc& d = g.desc;
  for (int64_t y = 0; y < d.ny; ++y)
    for (int64_t z = 0; z < d.nz; ++z)
      murXFarRecord(d, g.h.data(), g.murCoef.data(), g.murX[y * d.nz + z], y, z);
}

void murETeam(SimulationEngine& eng) { murPasses(eng.grid, eng.grid.e.data()); }
void murHTeam(SimulationEngine& eng) { murPasses(eng.grid, eng.grid.h.data()); }

void murE(SimulationEngine& eng) {
#pragma omp parallel
  murETeam(eng);
}
void murH(SimulationEngine& eng) {
#pragma omp parallel
  murHTeam(eng);
}

}  // namespace tavro
