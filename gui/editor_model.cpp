#include "gui/editor_model.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tavro {

namespace {

constexpr int kLast = kCubeSize - 1;

float clampToGrid(float x) { return std::clamp(x, 0.0f, static_cast<float>(kLast)); }

}  // namespace

int SliceIndex(int axis, int layer, int u, int v) {
  switch (axis) {
    case 1:
      return CubeIndex(layer, kLast - u, kLast - v);
    case 2:
      return CubeIndex(v, kLast - layer, kLast - u);
    default:
      return CubeIndex(u, kLast - v, kLast - layer);
  }
}

int DisplayIndex(uint8_t cell) {
  if (cell & kCellSource1) return 6;
  if (cell & kCellSource2) return 7;
  if (cell & kCellDC) return 8;
  return cell & kCellSlotMask;
}

uint8_t BrushCode(float brush) {
  if (brush == kBrushSource1) return kCellSource1;
  if (brush == kBrushSource2) return kCellSource2;
  if (brush == kBrushDC) return kCellDC;
  return static_cast<uint8_t>(static_cast<int>(brush));
}

void PaintRectangle(Project& project, int axis, int layer, float brush, PanelPoint& start,
                    PanelPoint& current) {
  for (auto c : {&PanelPoint::x, &PanelPoint::y}) {
    if (start.*c > current.*c) std::swap(start.*c, current.*c);
    start.*c = clampToGrid(start.*c);
    current.*c = clampToGrid(current.*c);
  }
  const uint8_t code = BrushCode(brush);
  for (int u = static_cast<int>(start.x); u <= current.x; ++u) {
    for (int v = static_cast<int>(start.y); v <= current.y; ++v) {
      uint8_t& cell = project.cells[SliceIndex(axis, layer, u, v)];
      cell = static_cast<uint8_t>((cell & kCellProbe) | code);
    }
  }
}

void CopySlice(const Project& project, int axis, int layer, int32_t* clipboard) {
  for (int u = 0; u < kCubeSize; ++u)
    for (int v = 0; v < kCubeSize; ++v)
      clipboard[u * kCubeSize + v] = project.cells[SliceIndex(axis, layer, u, v)];
}

void PasteSlice(Project& project, int axis, int layer, const int32_t* clipboard) {
  for (int u = 0; u < kCubeSize; ++u)
    for (int v = 0; v < kCubeSize; ++v)
      project.cells[SliceIndex(axis, layer, u, v)] =
          static_cast<uint8_t>(clipboard[u * kCubeSize + v] & 0xFF);
}

// Narrow strips (w < h):
//   Z = 60 ln(w/4h + 8h/w) / sqrt(e_eff),
//   e_eff = (er+1)/2 + (er-1)/2 (1/sqrt(1 + 12h/w) + 0.04 (1 - w/h)^2);
// wide strips (w >= h):
//   Z = 120 pi / (sqrt(e_eff) (w/h + 1.393 + 0.677 ln(w/h + 1.444))),
//   e_eff = (er+1)/2 + (er-1)/2 / sqrt(1 + 12h/w).
float MicrostripImpedance(float er, float w, float h) {
  const float q = std::sqrt(12.0f * h / w + 1.0f);
  if (w < h) {
    const double a = std::log(0.25 * w / h + 8.0 * h / w);
    const float d = 1.0f - w / h;
    const float e = (1.0f / q + 0.04f * d * d) * (er - 1.0f) * 0.5f + (er + 1.0f) * 0.5f;
    return static_cast<float>(60.0 * a / std::sqrt(e));
  }
  const float r = w / h;
  const float e = (er - 1.0f) * 0.5f / q + (er + 1.0f) * 0.5f;
  return static_cast<float>(376.9911f / (std::sqrt(e) * (r + 1.393 + 0.677 * std::log(r + 1.444))));
}

PanelRowAction PanelRowAt(float sx, float sy) {
  PanelRowAction act;
  // Far off the panel (and NaN) no row answers; the bound keeps the integer
  // conversion defined.
  if (!(std::fabs(sy) < 1e6f) || !(std::fabs(sx) < 1e6f)) return act;
  const int K = static_cast<int>(13.0f - sy / 4.0f);
  auto set = [&](PanelRowAction::Kind kind, int value) {
    act.kind = kind;
    act.value = value;
  };
  if (K == -2 || K == -1) {
    if (sx >= 71 && sx < 85)
      set(PanelRowAction::kEdit, 1);
    else if (sx >= 85 && sx < 99)
      set(PanelRowAction::kEdit, 2);
  } else if (K >= 0 && K <= 5) {
    if (sx >= 68 && sx < 73)
      set(PanelRowAction::kBrush, K);
    else if (sx >= 73 && sx < 83)
      set(PanelRowAction::kEdit, 0x80 + K);
    else if (sx >= 83 && sx < 90)
      set(PanelRowAction::kEdit, 0x100 + K);
    else if (sx >= 90 && sx < 97)
      set(PanelRowAction::kEdit, 0x200 + K);
  } else if (K == 7) {
    if (sx >= 70 && sx < 81)
      set(PanelRowAction::kNextSourceType, 0);
    else if (sx >= 81 && sx < 85)
      set(PanelRowAction::kNextDirection, 0);
    else if (sx >= 85 && sx < 95)
      set(PanelRowAction::kEdit, 7);
  } else if (K == 8) {
    if (sx >= 68 && sx < 73) set(PanelRowAction::kNextSourceMaterial, 0);
  } else if (K >= 9 && K <= 11) {
    if (sx >= 68 && sx < 73)
      set(PanelRowAction::kBrush, K - 3);
    else if (sx >= 73 && sx < 83)
      set(PanelRowAction::kEdit, K);
  }
  return act;
}

}  // namespace tavro
