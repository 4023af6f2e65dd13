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

// murE's records of planes [a, b) alone, on the calling thread, in the order
// Z faces, the X faces of a range that holds plane 0 or X-1, Y faces. The
// threads of a team that call it with ranges covering 0..X-1, each range of
// two planes at least and X >= 4, give murE's values without waiting for
// each other: every record reads only its own planes, and the X faces read
// the planes next to them (0 and 1, X-2 and X-1), which lie in the same
// range. The team must meet at a barrier before the fields are read.
void murERange(SimulationEngine& eng, int64_t a, int64_t b);

// Pieces of murH for a step that updates H in blocks of rows y0 <= y < y1,
// plane by plane along x: the Z-face records of rows [y0, y1) of plane x;
// the X-face records of rows [y0, y1) of the face x = 0 (inner plane 1) or of
// the face x = X-1 (inner X-2); the Y-face records of plane x, the near half
// (y = 0, inner 1), the far half (y = Y-1, inner Y-2) or both. They give
// murH's values when, for every plane and row, the Z faces come first, then
// the X faces that touch them, then the Y faces; an X half runs after the
// Z faces of both its planes and before the Y faces of either, a Y half after
// the Z and X faces of both its rows. The split X faces need at least four
// cells along x, the split Y faces three along y. Each runs on the calling
// thread.
void murHZRows(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1);
void murHXNearRows(SimulationEngine& eng, int64_t y0, int64_t y1);
void murHXFarRows(SimulationEngine& eng, int64_t y0, int64_t y1);
void murHYPlane(SimulationEngine& eng, int64_t x, bool nearHalf, bool farHalf);

}  // namespace tavro
