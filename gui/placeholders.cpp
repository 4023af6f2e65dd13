// Stand-ins for the editor panel, text entry and graphs until they are built:
// the graph modes and the editor show a plain notice, the editor's header
// toggles the far-field mode and its Cancel button returns to the E field.
#include <GL/freeglut.h>

#include "gui/overlay_text.h"
#include "gui/panels.h"

namespace tavro {

void DrawGraphs(GuiState& gui) {
  std::ostringstream text;
  text << "The graphs are not built yet.";
  DrawPanelText(gui.view, text, 30, 30, -1, 1, 1, 1);
}

void DrawEditor(GuiState& gui) {
  std::ostringstream text;
  text << (gui.view.farField ? "Far field" : "Near field");
  DrawPanelText(gui.view, text, 25, 50, -50, 1, 1, 1);
  text << "Run";
  DrawPanelText(gui.view, text, 65, 50, -50, 1, 1, 1);
  text << "Cancel";
  DrawPanelText(gui.view, text, 70, 50, -50, 1, 1, 1);
  text << "The editor is not built yet.";
  DrawPanelText(gui.view, text, 30, 30, -1, 1, 1, 1);
}

Effects EditorMouse(GuiState& gui, int button, int state, PanelPoint p) {
  ViewState& v = gui.view;
  if (button == GLUT_LEFT_BUTTON && state == GLUT_DOWN && p.y > 67 && p.y < 71) {
    if (p.x >= 0 && p.x < 10) v.farField = 1 - v.farField;
    if (p.x > 90 && p.x < 95) {
      v.viewMode = kViewE;
      v.running = 0;
      v.dragStart = v.dragCurrent = {-1, -1};
      v.dragMode = 0;
    }
  }
  return {.redisplay = v.running == 0};
}

Effects EditorKey(GuiState&, unsigned char) { return {}; }

Effects EntryKey(GuiState&, unsigned char) { return {}; }

std::string WindowTitle(const GuiState& gui) {
  std::string title = "TAVRO version 2.15  3-D FDTD electromagnetic field simulator";
  if (!gui.app.project.baseName.empty()) title += " : " + gui.app.project.baseName;
  return title;
}

}  // namespace tavro
