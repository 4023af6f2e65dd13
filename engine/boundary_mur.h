// First-order Mur absorbing boundary on the six faces of the box.
#pragma once

#include "engine/engine.h"
#include "engine/field_kernels.h"

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

// murH's (murE's) records for a step that updates H (E) in blocks of rows
// y0 <= y < y1, plane by plane along x, called once the field of rows
// [y0, y1) of planes 0..x is updated (and, for E, the sources of those cells
// applied): the Z faces of rows [y0, y1) of plane x; at x = 1 the X face
// x = 0 of those rows and then the Y faces of planes 0 and 1; at x = X-1 the
// X face x = X-1 and the Y faces of planes; otherwise the Y faces
// of plane x (planes 0 and X-2 wait for their X face). The near Y face
// (rows 0, 1) is set by the block with y0 = 0, the far one (rows Y-2, Y-1) by
// the block with y1 = Y, so blocks hold two rows at least. Called for every
// plane and block in this order, they give the values of the whole-face
// passes: every record sees exactly what the passes Z, X, Y let it see. They
// need at least four cells along x and three along y, and run on the calling
// thread.
void murHAfterPlane(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1);
void murEAfterPlane(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1);

// The same passes on the fields of the compact stepping state (the Mur
// stores and coefficients are the grid's, as for the records).
void murHAfterPlane(SimulationEngine& eng, const CompactFields& c, int64_t x, int64_t y0,
                    int64_t y1);
void murEAfterPlane(SimulationEngine& eng, const CompactFields& c, int64_t x, int64_t y0,
                    int64_t y1);
void murETeam(SimulationEngine& eng, const CompactFields& c);
void murHTeam(SimulationEngine& eng, const CompactFields& c);
void murERange(SimulationEngine& eng, const CompactFields& c, int64_t a, int64_t b);

}  // namespace tavro
