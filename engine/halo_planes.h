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
// Mur records of the Z faces (Y records) and of the Y faces (Z records). The
// magnitudes are left out: no update reads another cell's.
std::size_t haloPlaneFloats(const GridDesc& d);

// Plane x (0 <= x < X) into `out`, and back from `in`, from the records or,
// while it is active, from the compact stepping state. Grids of different
// X but the same Y and Z exchange planes this way.
void packPlane(const SimulationEngine& eng, int64_t x, float* out);
void unpackPlane(SimulationEngine& eng, int64_t x, const float* in);

}  // namespace tavro
