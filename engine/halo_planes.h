// Whole x planes of the E and H field values, packed into plain float rows
// and back, for handing the planes next to a slab boundary to the process
// that owns the neighbouring slab.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/engine.h"

namespace tavro {

// Floats of one packed plane of either field: x, y and z of every element of
// the plane, guard rows included, (Y+1)(Z+1) elements.
std::size_t haloPlaneFloats(const GridDesc& d);

// The E (H) components of plane x (0 <= x < X) into `out`, and back from
// `in`. The magnitudes are left alone: no update reads another cell's.
void packEPlane(const GridHolder& g, int64_t x, float* out);
void unpackEPlane(GridHolder& g, int64_t x, const float* in);
void packHPlane(const GridHolder& g, int64_t x, float* out);
void unpackHPlane(GridHolder& g, int64_t x, const float* in);

}  // namespace tavro
