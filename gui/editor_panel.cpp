// The editor panel of mode 5: the slice grid beside the material table,
// source settings, grid sizes, file and clipboard buttons and read-outs; its
// mouse and key handling; and Run and Cancel, which leave the editor.
#include <GL/freeglut.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "app/conversion.h"
#include "engine/console.h"
#include "engine/setup.h"
#include "gui/console_capture.h"
#include "gui/editor_model.h"
#include "gui/field_views.h"
#include "gui/graphs.h"
#include "gui/overlay_text.h"
#include "gui/panels.h"
#include "gui/run_check.h"
#include "gui/text_entry.h"

namespace tavro {

namespace {

constexpr int kWheelUp = 3;
constexpr int kWheelDown = 4;

// On/off switches of the header strip (y 67..71). Each shows one of its two
// labels at text point (textX, 50) at depth -50, which is seen at
// x = 2 textX - 50, and flips its ViewState field when the header is pressed
// within [hitFrom, hitTo).
struct HeaderToggle {
  const char* on;
  const char* off;
  float textX;
  float hitFrom, hitTo;
  int32_t ViewState::*field;
};
constexpr HeaderToggle kHeaderToggles[] = {
    {"Far field", "Near field", 25, 0, 10, &ViewState::farField},
    {"Avg mat", "Cell mat", 31, 12, 22, &ViewState::averageMaterials},
};

bool inHeader(PanelPoint p) { return p.y > 67 && p.y < 71; }

uint8_t& sliceCell(GuiState& gui, int u, int v) {
  return gui.app.project.cells[SliceIndex(gui.view.sliceAxis, gui.view.layer, u, v)];
}

void text(const ViewState& v, std::ostringstream& t, double x, double y, double depth = 0,
          double grey = 1.0) {
  DrawPanelText(v, t, x, y, depth, grey, grey, grey);
}

// A flat square of edge `size` centred on panel point (x, y).
void square(double x, double y, float size, const float* rgb) {
  glColor3f(rgb[0], rgb[1], rgb[2]);
  glPushMatrix();
  glTranslated(x - 50, 0, y - 32);
  glScalef(1, 0.1f, 1);
  glutSolidCube(size);
  glPopMatrix();
}

// The quad routine takes world coordinates: panel point (x, y) is world
// (x - 50, depth, y - 32).
void panelQuad(double x1, double y1, double x2, double y2, double depth) {
  EmitQuad(x1 - 50, y1 - 32, x2 - 50, y2 - 32, depth);
}

void lineLoop(float width, double x1, double y1, double x2, double y2) {
  glLineWidth(width);
  glBegin(GL_LINE_LOOP);
  panelQuad(x1, y1, x2, y2, 0);
  glEnd();
}

// An opaque box at depth -1 for the entry line and the questions, so that
// the value or text it covers does not show through what is typed.
void entryBox(double x1, double y1, double x2, double y2, bool frame) {
  glColor4f(0.1f, 0.1f, 0.1f, 1.0f);
  glBegin(GL_QUADS);
  panelQuad(x1, y1, x2, y2, -1);
  glEnd();
  if (frame) {
    glColor4f(1, 1, 1, 0.7f);
    glLineWidth(1);
    glBegin(GL_LINE_LOOP);
    panelQuad(x1, y1, x2, y2, -1);
    glEnd();
  }
}

// A cell size ("dxy:1.00m") followed by its unit in grey, so that it reads
// "1.00mm" (millimetres) and not one metre; the unit is left out where it
// would run into the text at `end`.
void withMetres(const ViewState& v, std::ostringstream& t, double x, double y, double end) {
  const double width = PanelTextWidth(v, t.str(), 0);
  text(v, t, x, y);
  if (x + width + PanelTextWidth(v, "m", 0) > end) return;
  t << "m";
  text(v, t, x + width, y, 0, 0.6);
}

void drawGrid(GuiState& gui) {
  static const float white[3] = {1, 1, 1};
  for (int u = 0; u < kCubeSize; ++u) {
    for (int v = 0; v < kCubeSize; ++v) {
      const uint8_t c = sliceCell(gui, u, v);
      if (c & kCellProbe) {
        glColor3fv(white);
        lineLoop(2, u - 0.5, v - 0.5, u + 0.5, v + 0.5);
      }
      if ((u - 1) % 10 == 0 && (v - 1) % 10 == 0) {
        glColor3f(0.8f, 0.8f, 0.8f);
        glPointSize(2);
        glBegin(GL_POINTS);
        glVertex3d(u + 0.55 - 50, 0, v + 0.55 - 32);
        glEnd();
      }
      // Slots 10 to 15 (old files) have no colour of their own; they take the
      // colour the model view gives them.
      const int colour = DisplayIndex(c) & 0x0F;
      square(u, v, 0.6f, kMaterialColour[colour < 10 ? colour : colour % 8]);
    }
  }
  square(gui.view.layer, -1, 0.6f, white);
}

void drawTable(GuiState& gui, std::ostringstream& t) {
  const ViewState& v = gui.view;
  const Project& p = gui.app.project;
  static const char* const kAxisLabel[3] = {"Y\n+   X", "Z\n+   Y", "X\n+   Z"};
  static const char* const kPosition[3] = {"z=", "x=", "y="};
  static const char* const kType[4] = {"CW", "GAUSS", "PULSE", "SWITCH"};
  static const char* const kDirection[3] = {"X", "Y", "Z"};
  const int axis = v.sliceAxis >= 0 && v.sliceAxis < 3 ? v.sliceAxis : 0;

  t << kAxisLabel[axis];
  text(v, t, 70, 67);
  t << "Grid";
  text(v, t, 65, 60);
  t << "dxy:" << FormatEngineering(p.dxy);
  withMetres(v, t, 71, 58, 84.5);
  t << "dz:" << FormatEngineering(p.dz);
  withMetres(v, t, 85, 58, PanelRightEdge(v, 0));
  t << "Material";
  text(v, t, 65, 54);
  t << "S/m";
  text(v, t, 76, 52);
  t << "er";
  text(v, t, 83, 52);
  t << "ur";
  text(v, t, 90, 52);
  for (int k = 0; k < kStoredSlots; ++k) {
    square(70, 50 - 4 * k, 3, kMaterialColour[k]);
    t << FormatEngineering(p.sg[k]);
    text(v, t, 73, 49 - 4 * k);
    t << FormatEngineering(p.er[k]);
    text(v, t, 83, 49 - 4 * k);
    t << FormatEngineering(p.ur[k]);
    text(v, t, 90, 49 - 4 * k);
  }

  t << "Source";
  text(v, t, 65, 24);
  t << (p.sourceType >= 0 && p.sourceType < 4 ? kType[p.sourceType] : "?");
  text(v, t, 70, 21);
  t << FormatEngineering(p.frequency) << "Hz";
  text(v, t, 85, 21);
  t << (p.sourceDirection >= 0 && p.sourceDirection < 3 ? kDirection[p.sourceDirection] : "?");
  text(v, t, 81, 21);
  const int sm = p.sourceMaterial >= 0 && p.sourceMaterial < 10 ? p.sourceMaterial : 9;
  square(70, 18, 3, kMaterialColour[sm]);
  t << "material of source";
  text(v, t, 73, 17);
  square(70, 14, 3, kMaterialColour[6]);
  t << FormatEngineering(p.sourceValue1) << "V/grid";
  text(v, t, 73, 13);
  square(70, 10, 3, kMaterialColour[7]);
  t << FormatEngineering(p.sourceValue2) << "V/grid";
  text(v, t, 73, 9);
  square(70, 6, 3, kMaterialColour[8]);
  t << "DC (" << FormatEngineering(p.sourceValue1) << "V/grid)";
  text(v, t, 73, 5);

  // The frame around the selected brush's swatch.
  const float w = v.brush < 6 ? v.brush : v.brush + 3;
  glColor3f(1, 1, 1);
  lineLoop(2, 68, 48 - 4 * w, 72, 52 - 4 * w);

  t << kPosition[axis] << v.layer;
  text(v, t, 0, -6);
}

// Resistance, capacitance and microstrip impedance of one cell, which help
// to choose the grid sizes.
void drawReadouts(GuiState& gui, std::ostringstream& t) {
  const ViewState& v = gui.view;
  const Project& p = gui.app.project;
  const float dxy = p.dxy, dz = p.dz;
  t << "Rx= " << FormatEngineering(1.0f / dz) << "\nRz= " << FormatEngineering(dz / (dxy * dxy))
    << " @s=1";
  text(v, t, 10, -4, 0, 0.5);
  t << "Cx= " << FormatEngineering(kEps0 * dz)
    << "\nCz= " << FormatEngineering(kEps0 * dxy * dxy / dz) << " @e=1";
  text(v, t, 30, -4, 0, 0.5);
  t << "Zo= " << FormatEngineering(MicrostripImpedance(p.er[2], dxy, dz))
    << " @w=1\nZo= " << FormatEngineering(MicrostripImpedance(p.er[2], 2 * dxy, dz)) << " @w=2";
  text(v, t, 50, -4, 0, 0.5);
}

void drawEntry(GuiState& gui, std::ostringstream& t) {
  const ViewState& v = gui.view;
  if (v.editState == kEditLoad || v.editState == kEditSave) {
    entryBox(6, -5, 70, 1, false);
    t << "file> " << gui.inputLine;
    text(v, t, 8, -3, -2);
  } else if (v.editState != kEditNone && v.editState != kEditConfirmNew) {
    const PanelPoint a = v.entryAnchor;
    entryBox(a.x - 4, a.y - 2, a.x + 8, a.y + 4, true);
    t << gui.inputLine;
    text(v, t, a.x - 2, a.y, -2);
  }
  if (v.overwritePending == 1) {
    entryBox(6, -8, 70, -2, false);
    t << "file(" << gui.inputLine << ") already exists. over write?";
    text(v, t, 8, -6, -2);
  }
  if (v.editState == kEditConfirmNew) {
    entryBox(6, -8, 70, -2, false);
    t << "unsaved changes. discard them for a new project? (y/n)";
    text(v, t, 8, -6, -2);
  }
}

}  // namespace

void DrawNotice(GuiState& gui, const std::string& message) {
  if (message.empty()) return;
  const ViewState& v = gui.view;
  std::ostringstream t;
  entryBox(0, 60.5, 100, 64.5, true);
  t << message;
  DrawPanelText(v, t, 1, 61.8, -2, 1.0, 0.55, 0.45);
}

namespace {

// After a refused conversion or set-up the engine's arrays and the model
// record may belong to different models; the run is emptied (no sources, no
// probes, no samples, zero fields) so that nothing steps or draws from the
// mismatch, and a later r runs nothing of the old model.
void emptyRun(SimulationEngine& eng) {
  eng.sam.sourceCount = 0;
  eng.sam.probeCount = 0;
  eng.sam.stepCount = 0;
  eng.sam.time = 0.0f;
  std::memset(static_cast<void*>(eng.grid.e.data()), 0, eng.grid.e.bytes());
  std::memset(static_cast<void*>(eng.grid.h.data()), 0, eng.grid.h.bytes());
}

// The reason a Run was refused, as the conversion or set-up printed it,
// goes to the window; the run is emptied.
void refuse(GuiState& gui, ConsoleCapture& capture, const char* generic) {
  const std::string why = capture.lastProblem();
  con() << generic << "\n";
  gui.notice = (why.empty() ? std::string(generic) : why) + " Run refused.";
  emptyRun(gui.app.engine);
  gui.runRefused = true;
}

// Run: the project becomes the model record and a new run is set up as the
// command line sets one up; the window returns to the E field with it
// running. A refused model stays in the editor with the project as it was
// and the reason shown; nothing runs (a set-up that fails after the check
// leaves no run at all). Returns false when it was refused.
bool startRun(GuiState& gui) {
  ViewState& v = gui.view;
  App& app = gui.app;
  v.dragStart = v.dragCurrent = {-1, -1};
  v.dragMode = 0;
  v.running = 0;
  // A model the conversion or the material check refuses leaves the running
  // model as it was: Cancel returns to it.
  ModelRecord fresh;
  std::string why;
  const RunCheck check = ConvertForRun(app.project, app.model, v.farField, fresh, why);
  if (check != RunCheck::kReady) {
    const char* generic = check == RunCheck::kConversionFailed
                              ? "error: unknown error while set_data()."
                              : "error: unknown error while set().";
    con() << generic << "\n";
    gui.notice = (why.empty() ? std::string(generic) : why) + " Run refused.";
    return false;
  }
  app.model = std::move(fresh);
  ConsoleCapture capture;
  app.engine.averageMaterials = v.averageMaterials != 0;
  if (!set(app.engine, app.model)) {
    refuse(gui, capture, "error: unknown error while set().");
    return false;
  }
  v.viewMode = kViewE;
  gui.notice.clear();
  gui.runRefused = false;
  ResetView(gui);
  ResetGraphs();
  gui.writtenAt = -1;
  gui.coloursStale = true;
  v.running = 1;
  return true;
}

void cancel(ViewState& v) {
  v.viewMode = kViewE;
  v.running = 0;
  v.dragStart = v.dragCurrent = {-1, -1};
  v.dragMode = 0;
}

void openFileEntry(GuiState& gui, int32_t state) {
  gui.view.editState = state;
  gui.inputLine = gui.app.project.baseName;
  ListProjectFiles(gui.app.project);
}

// A left or right button pressed. Returns false when the press is ignored
// or the run it started was refused.
bool press(GuiState& gui, int button, PanelPoint p) {
  ViewState& v = gui.view;
  if (button == GLUT_LEFT_BUTTON) {
    if (v.dragMode != 0) return false;
    v.dragMode = 1;
    v.dragStart = v.dragCurrent = p;
    if (inHeader(p)) {
      for (const HeaderToggle& h : kHeaderToggles)
        if (p.x >= h.hitFrom && p.x < h.hitTo) v.*h.field = 1 - v.*h.field;
      if (p.x > 80 && p.x < 85 && !startRun(gui)) return false;
      if (p.x > 90 && p.x < 95) cancel(v);
    }
  } else if (button == GLUT_RIGHT_BUTTON) {
    if (v.dragMode != 0) return false;
    v.dragMode = 2;
    v.dragStart = v.dragCurrent = p;
    v.savedBrush = v.brush;
    v.brush = 0;  // a right drag erases to material 0
  } else if (button == GLUT_MIDDLE_BUTTON) {
    if (OnEditorGrid(p)) sliceCell(gui, static_cast<int>(p.x), static_cast<int>(p.y)) ^= kCellProbe;
  } else if (button == kWheelUp) {
    v.layer = std::min(v.layer + 1, kCubeSize - 1);
  } else if (button == kWheelDown) {
    v.layer = std::max(v.layer - 1, 0);
  }
  return true;
}

void applyRow(GuiState& gui, PanelRowAction a) {
  ViewState& v = gui.view;
  Project& p = gui.app.project;
  switch (a.kind) {
    case PanelRowAction::kBrush:
      v.brush = static_cast<float>(a.value);
      break;
    case PanelRowAction::kEdit:
      v.editState = a.value;
      break;
    case PanelRowAction::kNextSourceType:
      p.sourceType = (p.sourceType + 1) % 4;
      break;
    case PanelRowAction::kNextDirection:
      p.sourceDirection = (p.sourceDirection + 1) % 3;
      break;
    case PanelRowAction::kNextSourceMaterial:
      p.sourceMaterial = (p.sourceMaterial + 1) % 6;
      break;
    case PanelRowAction::kNone:
      break;
  }
}

void leftRelease(GuiState& gui) {
  ViewState& v = gui.view;
  Project& project = gui.app.project;
  if (OnEditorGrid(v.dragStart) || OnEditorGrid(v.dragCurrent)) {
    PaintRectangle(project, v.sliceAxis, v.layer, v.brush, v.dragStart, v.dragCurrent);
  } else {
    const float sx = v.dragStart.x, sy = v.dragStart.y;
    if (sy > -1 && sy < 3) {
      if (sx > 70 && sx < 75) {
        if (ProjectModified(gui)) {
          v.editState = kEditConfirmNew;  // y discards the changes
        } else {
          ResetProjectParameters(project);
          ClearProjectCells(project);
          gui.baseline = project;
        }
      } else if (sx > 80 && sx < 85) {
        CopySlice(project, v.sliceAxis, v.layer, gui.clipboard.data());
      } else if (sx > 90 && sx < 95) {
        PasteSlice(project, v.sliceAxis, v.layer, gui.clipboard.data());
      }
    } else if (sy > -6 && sy < -2) {
      if (sx > 80 && sx < 85) openFileEntry(gui, kEditLoad);
      if (sx > 90 && sx < 95) openFileEntry(gui, kEditSave);
    } else if (sx > 69 && sx < 75 && sy > 64 && sy < 70) {
      v.sliceAxis = (v.sliceAxis + 1) % 3;
    }
  }
  const PanelPoint s = v.dragStart;
  applyRow(gui, PanelRowAt(s.x, s.y));
  v.entryAnchor = s;
}

}  // namespace

void DrawEditor(GuiState& gui) {
  ViewState& v = gui.view;
  std::ostringstream t;
  for (const HeaderToggle& h : kHeaderToggles) {
    t << (v.*h.field ? h.on : h.off);
    text(v, t, h.textX, 50, -50);
  }
  t << "Run";
  text(v, t, 65, 50, -50);
  t << "Cancel";
  text(v, t, 70, 50, -50);
  const struct {
    const char* label;
    float x, y;
  } buttons[] = {
      {"New", 70, -1}, {"Copy", 80, -1}, {"Paste", 90, -1}, {"Load", 80, -6}, {"Save", 90, -6}};
  for (const auto& b : buttons) {
    t << b.label;
    text(v, t, b.x, b.y);
  }

  drawGrid(gui);
  if (!(v.dragStart == v.dragCurrent)) {
    glColor3f(1, 1, 1);
    lineLoop(3, v.dragStart.x, v.dragStart.y, v.dragCurrent.x, v.dragCurrent.y);
  }
  drawTable(gui, t);
  drawReadouts(gui, t);
  drawEntry(gui, t);
  DrawNotice(gui, gui.notice);
  glLineWidth(1);
}

Effects EditorMouse(GuiState& gui, int button, int state, PanelPoint p) {
  ViewState& v = gui.view;
  if (state == GLUT_DOWN) {
    gui.notice.clear();
    if (!press(gui, button, p)) return {.redisplay = v.running == 0};
    // A press anywhere abandons an unfinished entry or overwrite question.
    v.editState = kEditNone;
    v.overwritePending = 0;
    gui.inputLine.clear();
    return {.redisplay = v.running == 0};
  }
  // Releases end the drag of their own button only.
  if (button == GLUT_LEFT_BUTTON && v.dragMode == 1) {
    leftRelease(gui);
  } else if (button == GLUT_RIGHT_BUTTON && v.dragMode == 2) {
    if (OnEditorGrid(v.dragStart) || OnEditorGrid(v.dragCurrent))
      PaintRectangle(gui.app.project, v.sliceAxis, v.layer, v.brush, v.dragStart, v.dragCurrent);
    v.brush = v.savedBrush;
  } else {
    return {.redisplay = v.running == 0};
  }
  v.dragStart = v.dragCurrent = {-1, -1};
  v.dragMode = 0;
  return {.redisplay = v.running == 0};
}

Effects EditorKey(GuiState& gui, unsigned char key) {
  ViewState& v = gui.view;
  Project& p = gui.app.project;
  gui.notice.clear();
  switch (key) {
    case 'c':
      CopySlice(p, v.sliceAxis, v.layer, gui.clipboard.data());
      break;
    case 'p':
      PasteSlice(p, v.sliceAxis, v.layer, gui.clipboard.data());
      break;
    case 'd':
      p.sourceDirection = (p.sourceDirection + 1) % 3;
      break;
    case 't':
      p.sourceType = (p.sourceType + 1) % 4;
      break;
    case 'o':
      p.sourceMaterial = (p.sourceMaterial + 1) % 6;
      break;
    case 'g':
      v.sliceAxis = (v.sliceAxis + 1) % 3;
      break;
    case 'f':
      v.farField = 1 - v.farField;
      break;
    case 'v':
      v.averageMaterials = 1 - v.averageMaterials;
      break;
    case 'l':
      v.editState = kEditLoad;  // the line keeps what it holds; no listing
      break;
    case 's':
      v.editState = kEditSave;
      break;
    default:
      break;
  }
  return {.redisplay = v.running == 0};
}

}  // namespace tavro
