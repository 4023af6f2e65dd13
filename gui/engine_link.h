// The window's calls into the engine: one time step and the colouring of the
// cells. A step in the window is the batch step; the cells are coloured only
// when a paint needs them (together the two make the engine's interactive
// step). The GPU back end takes over both here.
#pragma once

#include "app/cli.h"

namespace tavro {

void WindowStep(App& app);
void WindowColour(App& app);

}  // namespace tavro
