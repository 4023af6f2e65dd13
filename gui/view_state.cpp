// The view constants of a run, the hand-over to the colouring, and the
// switch to the editor.
#include "gui/view_state.h"

#include <GL/glu.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/pml.h"
#include "gui/engine_link.h"
#include "gui/model_view.h"

namespace tavro {

PanelPoint PickPanelPoint(const ViewState& v, int x, int y) {
  GLint viewport[4];
  GLdouble modelview[16], projection[16];
  glGetIntegerv(GL_VIEWPORT, viewport);
  glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
  glGetDoublev(GL_PROJECTION_MATRIX, projection);
  GLdouble ox = 0, oy = 0, oz = 0;
  gluUnProject(x, v.windowHeight - y, 0.0, modelview, projection, viewport, &ox, &oy, &oz);
  // The near-plane point lies at distance 1 from the eye; the overlay plane
  // through the origin lies at distance 100.
  return {std::trunc(static_cast<float>(ox * 100 + 50 + 200 / v.windowHeight)),
          std::trunc(static_cast<float>(oz * 100 + 1 + 33 - 800 / v.windowHeight))};
}

void ResetView(GuiState& gui) {
  ViewState& v = gui.view;
  const GridDesc g = drawnDesc(gui.app.engine);
  const FDTD_SAM& s = gui.app.engine.sam;
  v.modelCentre = {static_cast<float>(g.nx / 2), static_cast<float>(g.ny / 2),
                   static_cast<float>(g.nz / 2)};
  v.cellAspectY = s.dy / s.dx;
  v.cellAspectZ = s.dz / s.dx;
  v.viewExtent = static_cast<float>(std::max({0, g.nx, g.ny, g.nz}));
  v.graphMaxima.fill(-std::numeric_limits<float>::infinity());
  gui.clipboard.fill(0);
  gui.usedMaterials = UsedMaterials(gui.app.model);
}

void Recolour(GuiState& gui) {
  GridDesc& g = gui.app.engine.grid.desc;
  g.viewField = gui.view.viewMode;
  g.viewComponent = gui.view.component;
  g.viewScale = gui.view.colourBase * gui.view.colourGain;
  WindowColour(gui.app);
  gui.coloursStale = false;
}

void EnterEditor(ViewState& v) {
  v.viewMode = kViewEditor;
  v.running = 0;
  v.dragStart = v.dragCurrent = {-1.0f, -1.0f};
}

bool ProjectModified(const GuiState& gui) {
  const Project& a = gui.app.project;
  const Project& b = gui.baseline;
  return a.cells != b.cells || a.sg != b.sg || a.er != b.er || a.ur != b.ur ||
         a.frequency != b.frequency || a.sourceValue1 != b.sourceValue1 ||
         a.sourceValue2 != b.sourceValue2 || a.dxy != b.dxy || a.dz != b.dz ||
         a.sourceType != b.sourceType || a.sourceMaterial != b.sourceMaterial ||
         a.sourceDirection != b.sourceDirection;
}

}  // namespace tavro
