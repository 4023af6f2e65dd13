// Input bindings outside the editor's own panel.
#include "gui/bindings.h"

#include <GL/freeglut.h>

#include <algorithm>

#include "gui/model_view.h"
#include "gui/panels.h"

namespace tavro {

namespace {

constexpr int kLastLayer = 63;

Effects ViewingKey(ViewState& v, unsigned char key) {
  switch (key) {
    case 'e':
      v.viewMode = kViewE;
      break;
    case 'h':
      v.viewMode = kViewH;
      break;
    case 'm':
      v.viewMode = kViewModel;
      break;
    case 'w':
      v.viewMode = kViewTime;
      break;
    case 'f':
      v.viewMode = kViewFrequency;
      break;
    case 'q':
      EnterEditor(v);
      break;
    case 'r':
      v.running = 1;
      break;
    case 's':
      v.running = 0;
      break;
    case 'a':
      v.component = 0;
      break;
    case 'x':
      v.component = 1;
      break;
    case 'y':
      v.component = 2;
      break;
    case 'z':
      v.component = 3;
      break;
    case '+':
    case '=':  // + without Shift
      v.zoom = ZoomedIn(v.zoom);
      break;
    case '-':
      v.zoom = ZoomedOut(v.zoom);
      break;
    default:
      break;
  }
  return {};
}

// The colour gain one wheel notch up (+1) or down (-1), in double precision.
void stepGain(ViewState& v, int direction) {
  const double gain = direction > 0 ? v.colourGain * 1.1 : v.colourGain / 1.1;
  v.colourGain = static_cast<float>(gain);
  if (v.colourGain < 0.0f) v.colourGain = 0.001f;
}

void stepLayer(ViewState& v, int direction) {
  v.layer = std::clamp(v.layer + (direction > 0 ? 1 : -1), 0, kLastLayer);
}

bool inHeader(PanelPoint p) { return p.y > 67 && p.y < 71; }

// Left press in the 3-D views: header buttons, run toggle, else a rotation.
// Returns true when the press is finished (no further redisplay rule).
bool viewLeftPress(ViewState& v, int x, int y, PanelPoint p, Effects& fx) {
  if (inHeader(p) && p.x >= 0 && p.x < 10) {
    v.viewMode = (v.viewMode + 1) % kViewingModes;
  } else if (inHeader(p) && p.x > 12 && p.x < 22) {
    v.component = (v.component + 1) % 4;
  } else if (inHeader(p) && p.x > 85 && p.x < 100) {
    EnterEditor(v);
    fx.redisplay = true;
    return true;
  } else if (p.y > 63 && p.y < 67 && p.x >= 0 && p.x < 4) {
    if (v.running == 1) {
      v.running = 0;
      fx.redisplay = true;
    } else {
      v.running = 1;
    }
    return true;
  } else if (v.dragMode == 0) {
    v.dragMode = 1;
    v.dragStart = {0.5f * static_cast<float>(x) + v.azimuth,
                   v.elevation - 0.5f * static_cast<float>(y)};
  }
  return false;
}

Effects viewButton(ViewState& v, int button, int state, int x, int y, PanelPoint p) {
  Effects fx;
  if (state != GLUT_DOWN) {
    v.dragMode = 0;
    return fx;
  }
  if (button == GLUT_LEFT_BUTTON) {
    if (viewLeftPress(v, x, y, p, fx)) return fx;
  } else if (button == GLUT_RIGHT_BUTTON) {
    if (v.dragMode == 0) {
      v.dragMode = 2;
      v.dragStartPointSize = static_cast<float>(y) / 10 + v.pointSize;
    }
  } else if (button == 3 || button == 4) {
    stepGain(v, button == 3 ? 1 : -1);
  }
  fx.redisplay = v.running == 0;
  return fx;
}

Effects graphButton(ViewState& v, int button, int state, PanelPoint p) {
  Effects fx;
  if (button != GLUT_LEFT_BUTTON || state != GLUT_DOWN || !inHeader(p)) return fx;
  if (p.x >= 0 && p.x < 10) {
    v.viewMode = (v.viewMode + 1) % kViewingModes;
    fx.redisplay = v.running == 0;
  } else if (p.x > 12 && p.x < 22) {
    v.graphQuantity = (v.graphQuantity + 1) % 6;
    fx.redisplay = v.running == 0;
  } else if (p.x > 85 && p.x < 100) {
    EnterEditor(v);
    fx.redisplay = true;
  }
  return fx;
}

}  // namespace

Effects KeyPressed(GuiState& gui, unsigned char key) {
  ViewState& v = gui.view;
  Effects fx;
  if (v.viewMode != kViewEditor)
    fx = ViewingKey(v, key);
  else if (v.editState == 0)
    fx = EditorKey(gui, key);
  else
    fx = EntryKey(gui, key);
  fx.recolour = true;
  fx.redisplay = fx.redisplay || v.running == 0;
  return fx;
}

Effects SpecialKeyPressed(GuiState& gui, int key) {
  ViewState& v = gui.view;
  switch (key) {
    case GLUT_KEY_LEFT:
      v.sliceAxis = v.sliceAxis == 0 ? 2 : v.sliceAxis - 1;
      break;
    case GLUT_KEY_RIGHT:
      v.sliceAxis = (v.sliceAxis + 1) % 3;
      break;
    case GLUT_KEY_UP:
      stepLayer(v, 1);
      break;
    case GLUT_KEY_DOWN:
      stepLayer(v, -1);
      break;
    default:
      break;
  }
  return {.redisplay = v.running == 0};
}

Effects WheelTurned(GuiState& gui, int direction) {
  ViewState& v = gui.view;
  Effects fx{.recolour = true};
  if (v.viewMode <= kViewModel) {
    stepGain(v, direction);
    fx.redisplay = v.running == 0;
  } else if (v.viewMode == kViewEditor) {
    stepLayer(v, direction);
    fx.redisplay = v.running == 0;
  }
  return fx;
}

Effects MouseButton(GuiState& gui, int button, int state, int x, int y, PanelPoint p) {
  ViewState& v = gui.view;
  Effects fx;
  if (v.viewMode <= kViewModel)
    fx = viewButton(v, button, state, x, y, p);
  else if (v.viewMode == kViewEditor)
    fx = EditorMouse(gui, button, state, p);
  else
    fx = graphButton(v, button, state, p);
  fx.recolour = true;
  return fx;
}

Effects MouseMotion(GuiState& gui, int x, int y, PanelPoint p) {
  ViewState& v = gui.view;
  if (v.viewMode <= kViewModel) {
    if (v.dragMode == 1) {
      v.azimuth = v.dragStart.x - 0.5f * static_cast<float>(x);
      v.elevation = v.dragStart.y + 0.5f * static_cast<float>(y);
      if (v.azimuth < 0)
        v.azimuth += 360;
      else if (v.azimuth > 360)
        v.azimuth -= 360;
      v.elevation = std::clamp(v.elevation, -90.0f, 90.0f);
    } else if (v.dragMode == 2) {
      v.pointSize = std::max(v.dragStartPointSize - static_cast<float>(y) / 10, 1.0f);
    }
    return {.redisplay = v.running == 0};
  }
  if (v.viewMode == kViewEditor && (v.dragMode == 1 || v.dragMode == 2)) {
    v.dragCurrent = p;
    return {.redisplay = v.running == 0};
  }
  return {};
}

void Reshaped(ViewState& v, int width, int height) {
  v.windowWidth = static_cast<float>(width);
  v.windowHeight = static_cast<float>(height);
  v.pointSize = std::max(static_cast<float>(height) * 0.015625f, 1.0f);
}

}  // namespace tavro
