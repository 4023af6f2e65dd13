// The 3-D views of the window: the coloured field points (E and H modes), the
// model cubes (model mode), both visited back to front for the camera, and
// the text header with the colour legend.
#pragma once

#include <cstdint>

#include "gui/view_state.h"

namespace tavro {

// Red, green, blue and opacity of colour bands 0 to 7.
extern const float kBandColour[8][4];
// Red, green, blue of the material colours (the editor uses all ten; the
// model view indexes them by material ID modulo 8).
extern const float kMaterialColour[10][3];

struct GridCell {
  int x, y, z;
  bool operator==(const GridCell&) const = default;
};

// Cell number i (0 to nx*ny*nz - 1) of the back-to-front visit for a camera
// at this azimuth and elevation: z rises when the camera looks from above
// (elevation > 0) and falls otherwise; the columns (x, y) are visited from
// the far side of the azimuth's 45-degree sector to the near side.
GridCell TraversalCell(int nx, int ny, int nz, float azimuth, float elevation, uint64_t i);

// Lower bound of colour band k in field units for the legend of mode 0
// (V/m) or mode 1 (A/m): 0.1 * 2^k divided by the colouring scale, and by
// the colouring's factor 200 for H.
float LegendBound(int band, int viewMode, float colourGain, float colourBase);

// With the 3-D camera in place.
void DrawFieldPoints(const GuiState& gui);
void DrawModelCubes(const GuiState& gui);
// With the overlay camera in place, in modes 0 to 4.
void DrawViewHeader(const GuiState& gui);

}  // namespace tavro
