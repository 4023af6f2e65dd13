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
  const int64_t zRows = Z >= 2 ? X : 0, xRows = X >= 2 ? Y : 0, yRows = Y >= 2 ? Z : 0;
#pragma omp parallel
  {
    // Z faces: record x*Y + y.
#pragma omp for collapse(2) schedule(static)
    for (int64_t x = 0; x < zRows; ++x)
      for (int64_t y = 0; y < Y; ++y) murZRecord(d, f, k, sz[x * Y + y], x, y);
        // X faces: record y*Z + z.
#pragma omp for collapse(2) schedule(static)
    for (int64_t y = 0; y < xRows; ++y)
      for (int64_t z = 0; z < Z; ++z) murXRecord(d, f, k, sx[y * Z + z], y, z);
        // Y faces: record z*X + x.
#pragma omp for collapse(2) schedule(static)
    for (int64_t z = 0; z < yRows; ++z)
      for (int64_t x = 0; x < X; ++x) murYRecord(d, f, k, sy[z * X + x], x, z);
  }
}

}  // namespace

void murE(SimulationEngine& eng) { murPasses(eng.grid, eng.grid.e.data()); }
void murH(SimulationEngine& eng) { murPasses(eng.grid, eng.grid.h.data()); }

}  // namespace tavro
