// The absorbing layer (-pml <CELLS>): a convolutional perfectly matched layer
// of CELLS cells around the drawn area on all six faces. The set-up extends
// the grid by the layer and continues the materials of the area's faces
// through it; every step adds the layer's corrections to the plain H and E
// updates (pml_kernels.h holds the per-cell arithmetic).
#pragma once

#include <cstdint>

#include "engine/engine.h"

namespace tavro {

constexpr int kPmlMaxCells = 64;

// The drawn area in cells: the grid without the layer.
struct DrawnArea {
  int nx, ny, nz;
  uint64_t cellCount() const {
    return static_cast<uint64_t>(nx) * static_cast<uint64_t>(ny) * static_cast<uint64_t>(nz);
  }
};
DrawnArea drawnArea(const SimulationEngine& eng);
// The grid descriptor with the drawn area's cell counts (nx, ny, nz and
// cellCount), for code that walks the drawn cells, such as the views.
GridDesc drawnDesc(const SimulationEngine& eng);

// Layer planes of the grid before its drawn plane 0 along x and after its
// last drawn plane: the layer's cells, or none on a side where the grid, a
// slab of a larger box, does not reach the box's face (pmlNearX, pmlFarX).
int layerBeforeX(const SimulationEngine& eng);
int layerAfterX(const SimulationEngine& eng);

// Plain grid index of drawn cell (x, y, z) (drawnCellIndex with the engine's
// layer), and back: the drawn coordinates of plain grid index k (negative or
// beyond the area inside the layer).
uint64_t gridCellIndex(const SimulationEngine& eng, int64_t x, int64_t y, int64_t z);
// The same in grid `g`, which gridDescFor gave for the engine.
uint64_t gridCellIndex(const SimulationEngine& eng, const GridDesc& g, int64_t x, int64_t y,
                       int64_t z);
// The descriptor of the grid that the set-up builds for the model's area
// with the engine's layer; the source and probe settings place their cells
// by it.
GridDesc gridDescFor(const SimulationEngine& eng, int X, int Y, int Z);

// The E element of drawn cell (x, y, z) in grid `g` with a layer of `layer`
// cells.
uint64_t drawnEIndex(const GridDesc& g, int32_t layer, int64_t x, int64_t y, int64_t z);

// The E element of drawn cell (x, y, z) in grid `g`, which gridDescFor gave
// for the engine.
uint64_t drawnEIndex(const SimulationEngine& eng, const GridDesc& g, int64_t x, int64_t y,
                     int64_t z);

// E and H array elements of drawn cell (x, y, z).
uint64_t drawnEIndex(const SimulationEngine& eng, int64_t x, int64_t y, int64_t z);
uint64_t drawnHIndex(const SimulationEngine& eng, int64_t x, int64_t y, int64_t z);
void drawnCoords(const SimulationEngine& eng, uint64_t k, int64_t& x, int64_t& y, int64_t& z);

// Bytes the layer's own arrays take for a drawn area of X x Y x Z cells.
uint64_t pmlBytes(int cells, uint64_t X, uint64_t Y, uint64_t Z);
// The same for the engine's grid around X x Y x Z drawn cells, which holds
// the layer along x where the engine says (a slab: the parts of the box's
// layer within its planes).
uint64_t pmlBytes(const SimulationEngine& eng, uint64_t X, uint64_t Y, uint64_t Z);

// After the drawn cells' materials are in the grid's material arrays: every
// layer cell takes the material of the nearest drawn cell, so that whatever
// touches a face runs on into the layer. Then allocates the auxiliary
// fields: of a slab of a larger box the cells of the box's layer slabs
// within its planes (an x slab it does not reach is empty). Returns 1, or 0
// after a message when the memory is not there.
int buildPml(SimulationEngine& eng);

// Back to time 0: the coefficients for the current time step (along x those
// of the planes' places in the box), zero psi.
void resetPml(SimulationEngine& eng);

// The report line of the layer; `extraBytes` is what the layer adds to the
// run's memory (its own arrays and the grid cells it adds).
void reportPml(const SimulationEngine& eng, uint64_t extraBytes);

// The layer's corrections of H (E) of rows y0 <= y < y1 of plane x, after
// the H (E) update of those rows, on the calling thread. The H corrections
// read E of planes x and x+1 (and rows y, y+1); the E corrections read H of
// planes x-1 and x (and rows y-1, y), which must be final.
void pmlHRows(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1);
void pmlERows(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1);
// The same on the compact stepping state while it is active.
void pmlHRowsCompact(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1);
void pmlERowsCompact(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1);

// Items 1 to 4 of a step with the layer on, plane by plane: H update and its
// corrections, then E update and its corrections (no Mur boundary). The
// swept step of field_passes.h gives the same values; this plain form serves
// boxes too small for the sweep and is the reference it is checked against.
// The Team form is for a caller inside a parallel region.
void fieldPassesPml(SimulationEngine& eng);
void fieldPassesPmlTeam(SimulationEngine& eng);

}  // namespace tavro
