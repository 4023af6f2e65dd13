// What helps to read the 3-D model view: a camera distance that fits the
// whole model in the window, the user's zoom on it, and a key of the
// material colours the model uses.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/model_record.h"
#include "gui/view_state.h"

namespace tavro {

// Eye distance from the model's centre at which a box of nx x ny x nz cells
// (cell aspects ay = dy/dx, az = dz/dx) lies wholly inside a 45-degree view
// of this width/height aspect, whatever the camera's angles.
double FittingDistance(int nx, int ny, int nz, float ay, float az, double aspect);

// The 3-D camera's eye distance: 1.3 times the largest grid size, in the
// model view at least the fitting distance; divided by the zoom.
double CameraDistance(const GuiState& gui);

// Zoom steps of the keys + and - (1.25 each way, kept within 1/20 .. 20).
float ZoomedIn(float zoom);
float ZoomedOut(float zoom);

// The material IDs the model's cells use, in increasing order.
std::vector<int32_t> UsedMaterials(const ModelRecord& model);

// The model view's key, with the overlay camera: one line per colour shown
// (the IDs drawn in it and the first one's values), or a note when no cell
// is drawn at all.
void DrawMaterialKey(const GuiState& gui);

}  // namespace tavro
