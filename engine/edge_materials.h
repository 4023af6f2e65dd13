// Update coefficients from materials averaged onto the Yee grid (-avgmat), so
// that a drawn body of N cells acts as a body of N cells.
//
// Without averaging every E component of a cell takes that cell's material,
// so the tangential E of a conductor cell's own node plane is zeroed and each
// wall sits on the conductor cells' lower node planes. With averaging:
// - E component a of cell (x, y, z) is the edge from node (x, y, z) along a;
//   it takes the arithmetic mean of the axis-a conductivity and permittivity
//   of the cells that share that edge (four inside the area, two or one on
//   its faces). A wall therefore sits on the face where it is drawn.
// - H component a of cell (x, y, z) lies on the face between that cell and
//   the one before it along a; it takes the harmonic mean of the axis-a
//   permeability of those two cells (one on the low face of the area), the
//   series rule for the flux through the face. A conductor cell counts only
//   when both cells are conductors: H normal to a conductor surface carries
//   no flux, so the conductor's permeability must not dilute the medium next
//   to it.
// - The update step shares each difference coefficient cb_a (ch_a) between
//   the two components whose update takes a difference along a, so the means
//   cannot all enter as they are. A component update whose two differences
//   carry different weights is not energy-conserving and can grow without
//   bound, so the components of a cell that do not conduct share one
//   denominator: the mean of those that straddle an interface, else their
//   common one. A conductor edge on a conductor face (the tangential E of a
//   wall) meets, along the face, only the H normal to the face, which that
//   face holds at zero; there it takes the open denominator and the open
//   component next to it stays exact. Where a conductor edge would read
//   moving H that way (rims of plates and strips, corners, single cells),
//   the cell's open components still keep their open denominator, and a
//   hold pass keeps its conductor edges at zero after every E update (as
//   for wires below). Holding them still through the conductor's
//   denominator instead would also freeze the open components of the cell:
//   a rim of edges that short the E across them but carry no current along
//   them, which loads a line with capacitance and slows its wave. A cell
//   without any interface keeps the plain rule (cb_a from the axis-a
//   material).
// - Likewise an H cell with a face on an interface takes the mean of those
//   faces for all three ch, and the plain axis rule otherwise.
// - A one-cell wire (a conductor cell with a conductor before or after it
//   along its axis and none beside it) is a thin conductor along its own
//   edge only, the edge from the cell's lower corner node along the wire, as
//   a wire of no thickness on the Yee grid: its cells take no part in the
//   means, so the E across the wire and around it moves as in the medium
//   around it, and a hold pass keeps the wire edges at zero. The shared
//   coefficients cannot hold one edge of a node while its two neighbours
//   move, so the hold is a source of 0 V on each wire edge, applied after
//   the E update like every hard source.
#pragma once

#include "engine/engine.h"

namespace tavro {

// Writes cax..cbz and chx..chz of every cell of the area from the material
// arrays, with eng.sam.dt and the cell sizes already set. Fields, boundary
// coefficients and guard layers are left alone.
void averagedCoefficients(SimulationEngine& eng);

// Appends to the source list, after the sources of the model, one hold (a DC
// source of 0 V) on the wire edge of every one-cell wire cell and on every
// conductor edge of a rim cell (see above), with eng.sam.dt set. Returns
// false after an error message when the list cannot grow.
bool appendEdgeHolds(SimulationEngine& eng);

}  // namespace tavro
