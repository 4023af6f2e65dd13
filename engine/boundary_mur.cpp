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

// The Z-face records of a plane touch two cells at the ends of every row,
// rows a whole row apart in memory: too far apart for the hardware to see a
// stream, so the records kZAhead rows ahead are requested early (the Mur
// coefficients of both ends, which lie together, and, when given, the field elements).
constexpr int64_t kZAhead = 6;

// The field element i of records, or its components in separate arrays.
template <class Cell>
void prefetchField(Cell* f, uint64_t i) {
  __builtin_prefetch(f + i, 1);
}
template <bool H>
void prefetchField(FieldArrays<H> f, uint64_t i) {
  __builtin_prefetch(f.c[0] + i, 1);
  __builtin_prefetch(f.c[1] + i, 1);
  __builtin_prefetch(f.c[2] + i, 1);
}

template <class F>
void prefetchZRecord(const GridDesc& d, const float* k, int64_t x, int64_t y, F f) {
  if (y >= d.ny) return;
  __builtin_prefetch(k + murCoefZ(d, x, y, 0));
  prefetchField(f, fieldIndex(d, f, x, y, 0));
  prefetchField(f, fieldIndex(d, f, x, y, d.nz - 1));
}

// The Y-face records of one plane lie X records apart (record z*X + x):
// those kYAhead steps ahead along z are requested early.
constexpr int64_t kYAhead = 8;

void prefetchYRecord(const MurStore* s, const GridDesc& d, int64_t x, int64_t z) {
  if (z < d.nz) __builtin_prefetch(s + z * d.nx + x, 1);
}

template <class F>
void murPasses(GridHolder& g, F f, bool nearX = true, bool farX = true) {
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
    for (int64_t y = 0; y < Y; ++y) {
      prefetchZRecord(d, k, x, y + kZAhead, f);
      murZRecord(d, f, k, sz[x * Y + y], x, y);
    }
    // X faces: record y*Z + z.
#pragma omp for collapse(2) schedule(static)
  for (int64_t y = 0; y < xRows; ++y)
    for (int64_t z = 0; z < Z; ++z) {
      if (nearX && farX) {
        murXRecord(d, f, k, sx[y * Z + z], y, z);
        continue;
      }
      if (nearX) murXNearRecord(d, f, k, sx[y * Z + z], y, z);
      if (farX) murXFarRecord(d, f, k, sx[y * Z + z], y, z);
    }
  // Y faces: record z*X + x. The records are independent, so they are
  // visited with z innermost, where the face cells lie next to each other.
  const int64_t yCols = Y >= 2 ? X : 0;
#pragma omp for collapse(2) schedule(static)
  for (int64_t x = 0; x < yCols; ++x)
    for (int64_t z = 0; z < Z; ++z) murYRecord(d, f, k, sy[z * X + x], x, z);
}

template <class F>
void zRows(GridHolder& g, F f, int64_t x, int64_t y0, int64_t y1) {
  const GridDesc& d = g.desc;
  if (d.nz < 2) return;
  const float* k = g.murCoef.data();
  for (int64_t y = y0; y < y1; ++y) {
    prefetchZRecord(d, k, x, y + kZAhead, f);
    murZRecord(d, f, k, g.murZ[x * d.ny + y], x, y);
  }
}

template <class F>
void yPlane(GridHolder& g, F f, int64_t x, bool nearHalf, bool farHalf) {
  const GridDesc& d = g.desc;
  if (d.ny < 2 || (!nearHalf && !farHalf)) return;
  const float* k = g.murCoef.data();
  MurStore* s = g.murY.data();
  // Both halves of a record in the order of murYRecord: near, then far.
  for (int64_t z = 0; z < d.nz; ++z) {
    prefetchYRecord(s, d, x, z + kYAhead);
    if (nearHalf) murYNearRecord(d, f, k, s[z * d.nx + x], x, z);
    if (farHalf) murYFarRecord(d, f, k, s[z * d.nx + x], x, z);
  }
}

template <class F>
void xNearRows(GridHolder& g, F f, int64_t y0, int64_t y1) {
  const GridDesc& d = g.desc;
  for (int64_t y = y0; y < y1; ++y)
    for (int64_t z = 0; z < d.nz; ++z)
      murXNearRecord(d, f, g.murCoef.data(), g.murX[y * d.nz + z], y, z);
}

template <class F>
void xFarRows(GridHolder& g, F f, int64_t y0, int64_t y1) {
  const GridDesc& d = g.desc;
  for (int64_t y = y0; y < y1; ++y)
    for (int64_t z = 0; z < d.nz; ++z)
      murXFarRecord(d, f, g.murCoef.data(), g.murX[y * d.nz + z], y, z);
}

// The pieces of one field that a plane x and rows [y0, y1) need once the
// field of rows [y0, y1) of planes 0..x is final (see boundary_mur.h).
template <class F>
void afterPlane(GridHolder& g, F f, int64_t x, int64_t y0, int64_t y1, bool nearX, bool farX) {
  const int64_t X = g.desc.nx, Y = g.desc.ny;
  const bool nearY = y0 == 0, farY = y1 == Y;
  zRows(g, f, x, y0, y1);
  if (x == 1) {
    if (nearX) xNearRows(g, f, y0, y1);
    yPlane(g, f, 0, nearY, farY);
    yPlane(g, f, 1, nearY, farY);
  } else if (x == X - 1) {
    if (farX) xFarRows(g, f, y0, y1);
    yPlane(g, f, X - 2, nearY, farY);
    yPlane(g, f, X - 1, nearY, farY);
  } else if (x != 0 && x != X - 2) {
    yPlane(g, f, x, nearY, farY);
  }
}

}  // namespace

void murHAfterPlane(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1) {
  afterPlane(eng.grid, eng.grid.h.data(), x, y0, y1, eng.murNearX, eng.murFarX);
}

void murEAfterPlane(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1) {
  afterPlane(eng.grid, eng.grid.e.data(), x, y0, y1, eng.murNearX, eng.murFarX);
}

void murETeam(SimulationEngine& eng) {
  murPasses(eng.grid, eng.grid.e.data(), eng.murNearX, eng.murFarX);
}

template <class F>
void murERangeOf(SimulationEngine& eng, F f, int64_t a, int64_t b) {
  GridHolder& g = eng.grid;
  const GridDesc& d = g.desc;
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  const float* k = g.murCoef.data();
  if (Z >= 2)
    for (int64_t x = a; x < b; ++x)
      for (int64_t y = 0; y < Y; ++y) {
        prefetchZRecord(d, k, x, y + kZAhead, f);
        murZRecord(d, f, k, g.murZ[x * Y + y], x, y);
      }
  if (a == 0 && eng.murNearX)
    for (int64_t y = 0; y < Y; ++y)
      for (int64_t z = 0; z < Z; ++z) murXNearRecord(d, f, k, g.murX[y * Z + z], y, z);
  if (b == X && eng.murFarX)
    for (int64_t y = 0; y < Y; ++y)
      for (int64_t z = 0; z < Z; ++z) murXFarRecord(d, f, k, g.murX[y * Z + z], y, z);
  if (Y >= 2)
    for (int64_t x = a; x < b; ++x)
      for (int64_t z = 0; z < Z; ++z) {
        prefetchYRecord(g.murY.data(), d, x, z + kYAhead);
        murYRecord(d, f, k, g.murY[z * X + x], x, z);
      }
}

void murERange(SimulationEngine& eng, int64_t a, int64_t b) {
  murERangeOf(eng, eng.grid.e.data(), a, b);
}

void murHTeam(SimulationEngine& eng) {
  murPasses(eng.grid, eng.grid.h.data(), eng.murNearX, eng.murFarX);
}

// The same passes on the fields of the compact stepping state.
void murHAfterPlane(SimulationEngine& eng, const CompactFields& c, int64_t x, int64_t y0,
                    int64_t y1) {
  afterPlane(eng.grid, c.h, x, y0, y1, eng.murNearX, eng.murFarX);
}
void murEAfterPlane(SimulationEngine& eng, const CompactFields& c, int64_t x, int64_t y0,
                    int64_t y1) {
  afterPlane(eng.grid, c.e, x, y0, y1, eng.murNearX, eng.murFarX);
}
void murETeam(SimulationEngine& eng, const CompactFields& c) {
  murPasses(eng.grid, c.e, eng.murNearX, eng.murFarX);
}
void murHTeam(SimulationEngine& eng, const CompactFields& c) {
  murPasses(eng.grid, c.h, eng.murNearX, eng.murFarX);
}
void murERange(SimulationEngine& eng, const CompactFields& c, int64_t a, int64_t b) {
  murERangeOf(eng, c.e, a, b);
}

void murE(SimulationEngine& eng) {
#pragma omp parallel
  murETeam(eng);
}
void murH(SimulationEngine& eng) {
#pragma omp parallel
  murHTeam(eng);
}

}  // namespace tavro
