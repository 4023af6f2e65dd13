// Keyboard, mouse, wheel and drag bindings of the window as plain functions
// of the window state: the freeglut callbacks hand them the event (and the
// panel point under the mouse) and carry out the Effects they return.
#pragma once

#include "gui/view_state.h"

namespace tavro {

// A typed character, in every mode.
Effects KeyPressed(GuiState& gui, unsigned char key);
// An arrow key (GLUT_KEY_*), in every mode.
Effects SpecialKeyPressed(GuiState& gui, int key);
// The mouse wheel, direction +1 or -1.
Effects WheelTurned(GuiState& gui, int direction);
// A button (GLUT button 0 left, 2 right, 3 and 4 the wheel) pressed or
// released at window pixel (x, y), panel point p.
Effects MouseButton(GuiState& gui, int button, int state, int x, int y, PanelPoint p);
// Motion with a button held.
Effects MouseMotion(GuiState& gui, int x, int y, PanelPoint p);
// The window's new size; the point size follows the height.
void Reshaped(ViewState& v, int width, int height);

}  // namespace tavro
