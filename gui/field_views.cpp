// Field points, model cubes and the view header.
#include "gui/field_views.h"

#include <GL/freeglut.h>

#include <sstream>
#include <vector>

#include "engine/pml.h"
#include "gui/overlay_text.h"

namespace tavro {

const float kBandColour[8][4] = {
    {0.0f, 0.0f, 1.0f, 0.1f}, {0.5f, 0.0f, 1.0f, 0.1f}, {0.0f, 1.0f, 1.0f, 0.1f},
    {0.0f, 1.0f, 0.0f, 0.1f}, {1.0f, 1.0f, 0.0f, 0.2f}, {1.0f, 0.0f, 0.0f, 0.2f},
    {1.0f, 0.0f, 1.0f, 0.2f}, {1.0f, 1.0f, 1.0f, 0.3f},
};

const float kMaterialColour[10][3] = {
    {0.3f, 0.3f, 0.3f}, {1.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 0.0f},
    {0.0f, 1.0f, 1.0f}, {0.0f, 0.0f, 1.0f}, {1.0f, 0.5f, 0.0f}, {0.5f, 0.0f, 1.0f},
    {1.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f},
};

namespace {

// Column g of the visit as (x, y), by 45-degree sector of the azimuth.
inline void column(int nx, int ny, float azimuth, int64_t g, int& x, int& y) {
  const int sector = azimuth < 45    ? 0
                     : azimuth < 90  ? 1
                     : azimuth < 135 ? 2
                     : azimuth < 180 ? 3
                     : azimuth < 225 ? 4
                     : azimuth < 270 ? 5
                     : azimuth < 315 ? 6
                                     : 7;
  switch (sector) {
    case 0:
      x = g % nx;
      y = ny - 1 - g / nx;
      break;
    case 1:
      x = g / ny;
      y = ny - 1 - g % ny;
      break;
    case 2:
      x = g / ny;
      y = g % ny;
      break;
    case 3:
      x = g % nx;
      y = g / nx;
      break;
    case 4:
      x = nx - 1 - g % nx;
      y = g / nx;
      break;
    case 5:
      x = nx - 1 - g / ny;
      y = g % ny;
      break;
    case 6:
      x = nx - 1 - g / ny;
      y = ny - 1 - g % ny;
      break;
    default:
      x = nx - 1 - g % nx;
      y = ny - 1 - g / nx;
      break;
  }
}

// Calls visit(x, y, z, plain index) for every cell in back-to-front order.
template <class Visit>
void visitBackToFront(const GridDesc& d, const ViewState& v, Visit visit) {
  const int nx = d.nx, ny = d.ny, nz = d.nz;
  if (nx <= 0 || ny <= 0 || nz <= 0) return;
  const int64_t columns = static_cast<int64_t>(nx) * ny;
  const bool rising = v.elevation > 0;
  for (int64_t g = 0; g < columns; ++g) {
    int x = 0, y = 0;
    column(nx, ny, v.azimuth, g, x, y);
    const uint64_t base = (static_cast<uint64_t>(x) * ny + y) * nz;
    for (int i = 0; i < nz; ++i) {
      const int z = rising ? i : nz - 1 - i;
      visit(x, y, z, base + z);
    }
  }
}

}  // namespace

GridCell TraversalCell(int nx, int ny, int nz, float azimuth, float elevation, uint64_t i) {
  const int64_t g = static_cast<int64_t>(i / nz);
  const int zi = static_cast<int>(i % nz);
  GridCell c{0, 0, elevation > 0 ? zi : nz - 1 - zi};
  column(nx, ny, azimuth, g, c.x, c.y);
  return c;
}

float LegendBound(int band, int viewMode, float colourGain, float colourBase) {
  float bound = 0.1f;
  for (int k = 0; k < band; ++k) bound = bound * 2.0f;
  if (viewMode == kViewH) bound = bound / 200.0f;
  return bound / colourGain / colourBase;
}

void DrawFieldPoints(const GuiState& gui) {
  const ViewState& v = gui.view;
  const GridHolder& grid = gui.app.engine.grid;
  const GridDesc d = drawnDesc(gui.app.engine);  // the absorbing layer is not drawn
  if (grid.cellColor.size() < grid.desc.cellCount) return;
  const uint8_t* colour = grid.cellColor.data();
  const Buffer<int32_t>& hideBuf = gui.app.model.hide;
  const int32_t* hide = hideBuf.size() >= d.cellCount ? hideBuf.data() : nullptr;
  const float cx = v.modelCentre[0], cy = v.modelCentre[1], cz = v.modelCentre[2];
  // The points go to OpenGL as one client vertex array in visiting order: on
  // Mesa's software renderer that paints a cloud of 200 000 points in about
  // 0.7 of the time that one glVertex call per point takes.
  static std::vector<float> positions, colours;
  positions.clear();
  colours.clear();
  visitBackToFront(d, v, [&](int x, int y, int z, uint64_t k) {
    if (hide && hide[k] == 1) return;
    const int b = static_cast<int8_t>(colour[gridCellIndex(gui.app.engine, x, y, z)]);
    if (b < 0) return;
    const float* c = kBandColour[b & 7];
    colours.insert(colours.end(), {c[0], c[1], c[2], c[3] / v.pointSize});
    positions.insert(positions.end(), {x - cx, y - cy, z - cz});
  });
  if (positions.empty()) return;
  glPointSize(v.pointSize);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, positions.data());
  glColorPointer(4, GL_FLOAT, 0, colours.data());
  glDrawArrays(GL_POINTS, 0, static_cast<GLsizei>(positions.size() / 3));
  glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
}

void DrawModelCubes(const GuiState& gui) {
  const ViewState& v = gui.view;
  const GridDesc d = drawnDesc(gui.app.engine);
  const Buffer<int32_t>& data = gui.app.model.data;
  if (data.size() < d.cellCount) return;
  const int32_t* id = data.data();
  const float cx = v.modelCentre[0], cy = v.modelCentre[1], cz = v.modelCentre[2];
  visitBackToFront(d, v, [&](int x, int y, int z, uint64_t k) {
    const uint32_t m = static_cast<uint32_t>(id[k]) % 8;
    if (m == 0) return;
    const float* c = kMaterialColour[m];
    glColor4f(c[0], c[1], c[2], 0.5f / v.pointSize);
    glPushMatrix();
    glTranslatef(x - cx, y - cy, z - cz);
    glutSolidCube(1.0);
    glPopMatrix();
  });
}

void DrawViewHeader(const GuiState& gui) {
  static const char* const kModeNames[] = {"E field", "H field", "Model", "Time", "Frequency"};
  static const char* const kComponents[] = {"(absolute)", "(x component)", "(y component)",
                                            "(z component)"};
  const ViewState& v = gui.view;
  const int mode = v.viewMode;
  if (mode < 0 || mode >= kViewingModes) return;
  std::ostringstream text;
  text << "Editor";
  DrawPanelText(v, text, 68, 50, -50, 1, 1, 1);
  text << kModeNames[mode];
  DrawPanelText(v, text, 25, 50, -50, 1, 1, 1);
  const bool field = mode == kViewE || mode == kViewH;
  if (field) {
    text << kComponents[v.component & 3];
    DrawPanelText(v, text, 32, 50, -50, 1, 1, 1);
    text << (v.running == 1 ? "|>" : "||");
    DrawPanelText(v, text, 25, 48, -50, 1, 1, 1);
  }
  if (mode <= kViewModel) {
    text << "( " << v.elevation << ", " << v.azimuth << " )";
    DrawPanelText(v, text, 25, 13.5, -50, 1, 1, 1);
  }
  if (field) {
    for (int k = 0; k < 8; ++k) {
      text << FormatEngineering(LegendBound(k, mode, v.colourGain, v.colourBase))
           << (mode == kViewE ? " V/m" : " A/m");
      const float* c = kBandColour[k];
      DrawPanelText(v, text, 25, 15 + k, -50, c[0] + 0.3, c[1] + 0.3, c[2] + 0.3);
    }
  }
  text << gui.app.engine.sam.time << " sec";
  DrawPanelText(v, text, 25, 12, -50, 1, 1, 1);
}

}  // namespace tavro
