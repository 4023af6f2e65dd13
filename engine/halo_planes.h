// Whole x planes of the stepping state, packed into plain float rows and
// back, for handing the planes next to a slab boundary to the process that
// holds them as its halo.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine.h"

namespace tavro {

// Floats of one packed plane: x, y and z of E and of H for every element of
// the plane, guard rows included ((Y+1)(Z+1) elements each), then the plane's
// Mur records of the Z faces (Y records) and of the Y faces (Z records),
// which a run with the absorbing layer (`layer`) leaves out: no step reads
// them. The magnitudes are left out too: no update reads another cell's.
std::size_t haloPlaneFloats(const GridDesc& d, bool layer = false);

// Plane x (0 <= x < X) into `out`, and back from `in`, from the records or,
// while it is active, from the compact stepping state. Grids of different
// X but the same Y and Z exchange planes this way.
void packPlane(const SimulationEngine& eng, int64_t x, float* out);
void unpackPlane(SimulationEngine& eng, int64_t x, const float* in);

// The absorbing layer's auxiliary fields of plane x: of every slab that
// covers the plane (slab order, then its records in cell order), the halves
// of the records that `halves` names. A halo plane needs the H halves where
// its H update must come out as its owner's, the E halves for its E update.
// Grids that hold the same plane of a box, with the layer's slabs of the box,
// exchange them this way.
enum PsiHalves { kPsiNone = 0, kPsiH = 1, kPsiE = 2, kPsiBoth = 3 };
std::size_t haloPsiFloats(const SimulationEngine& eng, int64_t x, int halves);
void packPsi(const SimulationEngine& eng, int64_t x, int halves, float* out);
void unpackPsi(SimulationEngine& eng, int64_t x, int halves, const float* in);

// The message across a slab boundary: `planes` consecutive planes from x,
// their fields (packPlane) and then their psi, halves[k] of plane x + k.
std::size_t haloMessageFloats(const SimulationEngine& eng, int64_t x, int planes,
                              const int* halves);
void packHalo(const SimulationEngine& eng, int64_t x, int planes, const int* halves, float* out);
void unpackHalo(SimulationEngine& eng, int64_t x, int planes, const int* halves, const float* in);

// The psi halves of the two halo planes a slab sends to its left neighbour
// (its first two owned planes, the neighbour's halo planes end and end+1)
// and to its right one (its last two, the neighbour's first-2 and first-1):
// what a sweep of two steps needs of them that the neighbour's own stepping
// has not kept exact (HaloExchange in app/mpi says why).
constexpr int kHaloPsiToLeft[2] = {kPsiH, kPsiNone};
constexpr int kHaloPsiToRight[2] = {kPsiH, kPsiNone};

}  // namespace tavro
