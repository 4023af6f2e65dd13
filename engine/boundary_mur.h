// First-order Mur absorbing boundary on the six faces of the box.
#pragma once

#include "engine/engine.h"

namespace tavro {

// Tangential E (H) components of the Z faces, then the X faces, then the Y
// faces; each pass finishes before the next begins.
void murE(SimulationEngine& eng);
void murH(SimulationEngine& eng);

// The same passes for a caller already inside a parallel region: every thread
// of the team calls them, the passes split among the team with a barrier
// after each (outside a region they run on the calling thread alone).
void murETeam(SimulationEngine& eng);
void murHTeam(SimulationEngine& eng);

// Pieces of murH for a step that updates H plane by plane along x: the Z-face
// records of plane x, the Y-face records of plane x, and the X-face records
// of the face x = 0 (inner plane 1) or of the face x = X-1 (inner X-2) alone.
// They give murH's values when the H boundary of every plane runs Z faces
// first, then the X faces that touch it, then Y faces, the X half of a face
// after the Z faces of both its planes and before the Y faces of either;
// the split X faces need at least four cells along x. Each runs on the
// calling thread.
void murHZPlane(SimulationEngine& eng, int64_t x);
void murHYPlane(SimulationEngine& eng, int64_t x);
void murHXNearFace(SimulationEngine& eng);
void murHXFarFace(SimulationEngine& eng);

}  // namespace tavro
