#include "gui/model_view.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "gui/field_views.h"
#include "gui/overlay_text.h"

namespace tavro {

namespace {

constexpr double kHalfFovY = 22.5 * 3.14159265358979323846 / 180.0;
constexpr float kZoomStep = 1.25f;
constexpr float kZoomLimit = 20.0f;
constexpr int kColours = 8;  // the model view colours material ID modulo 8

}  // namespace

double FittingDistance(int nx, int ny, int nz, float ay, float az, double aspect) {
  // The sphere around the box fits when its radius subtends at most the
  // smaller half-angle of the view; 5 % more leaves a margin.
  const double x = nx, y = ny * static_cast<double>(ay), z = nz * static_cast<double>(az);
  const double radius = 0.5 * std::sqrt(x * x + y * y + z * z);
  const double halfX = std::atan(std::tan(kHalfFovY) * (aspect > 0 ? aspect : 1.0));
  return 1.05 * radius / std::sin(std::min(kHalfFovY, halfX));
}

double CameraDistance(const GuiState& gui) {
  const ViewState& v = gui.view;
  double d = 1.3 * v.viewExtent;
  if (v.viewMode == kViewModel) {
    const GridDesc& g = gui.app.engine.grid.desc;
    d = std::max(d, FittingDistance(g.nx, g.ny, g.nz, v.cellAspectY, v.cellAspectZ,
                                    v.windowWidth / v.windowHeight));
  }
  return d / (v.zoom > 0 ? v.zoom : 1.0f);
}

float ZoomedIn(float zoom) { return std::min(zoom * kZoomStep, kZoomLimit); }
float ZoomedOut(float zoom) { return std::max(zoom / kZoomStep, 1.0f / kZoomLimit); }

std::vector<int32_t> UsedMaterials(const ModelRecord& model) {
  std::vector<bool> used(kMaterialCount, false);
  const int32_t* id = model.data.data();
  for (uint64_t k = 0; k < model.data.size(); ++k)
    if (id[k] >= 0 && id[k] < kMaterialCount) used[static_cast<size_t>(id[k])] = true;
  std::vector<int32_t> ids;
  for (int32_t i = 0; i < kMaterialCount; ++i)
    if (used[static_cast<size_t>(i)]) ids.push_back(i);
  return ids;
}

void DrawMaterialKey(const GuiState& gui) {
  const ViewState& v = gui.view;
  const ModelRecord& model = gui.app.model;
  std::ostringstream t;
  int line = 0;
  for (int c = 1; c < kColours; ++c) {
    std::vector<int32_t> ids;
    for (int32_t id : gui.usedMaterials)
      if (id % kColours == c) ids.push_back(id);
    if (ids.empty()) continue;
    t << "[" << ids[0];
    for (size_t j = 1; j < ids.size() && j < 3; ++j) t << "," << ids[j];
    if (ids.size() > 3) t << ",...";
    const Material& m = model.materialX[static_cast<size_t>(ids[0])];
    t << "] " << FormatEngineering(m.sg) << " S/m  er " << FormatEngineering(m.er) << "  ur "
      << FormatEngineering(m.ur);
    const float* rgb = kMaterialColour[c];
    DrawPanelText(v, t, 25, 47 - line, -50, rgb[0] + 0.3, rgb[1] + 0.3, rgb[2] + 0.3);
    ++line;
  }
  if (line == 0) {
    t << "no cell to draw: material 0 (and IDs that are multiples of 8) are not shown";
    DrawPanelText(v, t, 25, 47, -50, 0.6, 0.6, 0.6);
  }
}

}  // namespace tavro
