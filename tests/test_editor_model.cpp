// Model editing in the editor: the slice mapping of the three orientations,
// painting, the slice clipboard, the panel rows a click selects and the
// microstrip read-out.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "gui/editor_model.h"

using namespace tavro;

namespace {

TEST(SliceIndex, EachOrientationShowsTheProjectAxesWithYAndZReversedInTheCube) {
  // Project cell (X, Y, Z) is cube (X, 63 - Y, 63 - Z).
  const int X = 5, Y = 17, Z = 40;
  const int cube = CubeIndex(X, 63 - Y, 63 - Z);
  EXPECT_EQ(SliceIndex(0, Z, X, Y), cube);  // u = X, v = Y, layer Z
  EXPECT_EQ(SliceIndex(1, X, Y, Z), cube);  // u = Y, v = Z, layer X
  EXPECT_EQ(SliceIndex(2, Y, Z, X), cube);  // u = Z, v = X, layer Y
}

TEST(PaintRectangle, OrdersAndClampsCornersAndKeepsProbeMarks) {
  Project p;
  const int probe = SliceIndex(0, 3, 2, 2);
  p.cells[probe] = kCellProbe | 4;
  p.cells[SliceIndex(0, 3, 1, 1)] = kCellSource2 | 1;
  PanelPoint start{2.7f, 70.0f}, current{-5.0f, 1.2f};  // dragged up-left, off the grid
  PaintRectangle(p, 0, 3, kBrushSource1, start, current);
  EXPECT_EQ(start, (PanelPoint{0.0f, 1.2f}));
  EXPECT_EQ(current, (PanelPoint{2.7f, 63.0f}));
  int painted = 0;
  for (int u = 0; u < 64; ++u)
    for (int v = 0; v < 64; ++v) painted += (p.cells[SliceIndex(0, 3, u, v)] & kCellSource1) != 0;
  EXPECT_EQ(painted, 3 * 63);  // u 0..2, v 1..63
  EXPECT_EQ(p.cells[probe], kCellProbe | kCellSource1);
  EXPECT_EQ(p.cells[SliceIndex(0, 3, 1, 1)], kCellSource1);  // source 2 and slot replaced
  EXPECT_EQ(p.cells[SliceIndex(0, 3, 0, 0)], 0);
  EXPECT_EQ(p.cells[SliceIndex(0, 2, 1, 1)], 0);  // other layers untouched
}

TEST(Clipboard, CopiedInOneOrientationPastesAsSeenInAnother) {
  Project p;
  p.cells[SliceIndex(0, 10, 4, 60)] = kCellProbe | 2;  // u 4, v 60 of the Z slice
  p.cells[SliceIndex(0, 10, 63, 0)] = kCellDC | 13;
  std::array<int32_t, kSliceCells> clip{};
  CopySlice(p, 0, 10, clip.data());
  PasteSlice(p, 2, 50, clip.data());  // into a Y slice
  EXPECT_EQ(p.cells[SliceIndex(2, 50, 4, 60)], kCellProbe | 2);
  EXPECT_EQ(p.cells[SliceIndex(2, 50, 63, 0)], kCellDC | 13);
  // Pasting a cleared clipboard empties the slice.
  clip.fill(0);
  PasteSlice(p, 0, 10, clip.data());
  int nonzero = 0;
  for (int u = 0; u < 64; ++u)
    for (int v = 0; v < 64; ++v) nonzero += p.cells[SliceIndex(0, 10, u, v)] != 0;
  EXPECT_EQ(nonzero, 0);
  EXPECT_EQ(p.cells[SliceIndex(2, 50, 4, 60)], kCellProbe | 2);
}

TEST(PanelRowAt, RowsFollowTruncationTowardZero) {
  using A = PanelRowAction;
  const struct {
    float sx, sy;
    A::Kind kind;
    int value;
  } cases[] = {
      {70, 55.9f, A::kBrush, 0},  // material row 0 spans (48, 56)
      {70, 48.5f, A::kBrush, 0},
      {70, 48.0f, A::kBrush, 1},        // row 1: (44, 48]
      {70, 29.0f, A::kBrush, 5},        // row 5: (28, 32]
      {75, 40.0f, A::kEdit, 0x80 + 3},  // S/m of slot 3
      {85, 30.0f, A::kEdit, 0x100 + 5},
      {92, 50.0f, A::kEdit, 0x200 + 0},
      {97, 50.0f, A::kNone, 0},
      {71, 58.0f, A::kEdit, 1},  // dxy: K = -1
      {90, 63.9f, A::kEdit, 2},  // dz: K = -2
      {80, 26.0f, A::kNone, 0},  // K = 6 does nothing
      {75, 22.0f, A::kNextSourceType, 0},
      {82, 22.0f, A::kNextDirection, 0},
      {90, 22.0f, A::kEdit, 7},
      {70, 18.0f, A::kNextSourceMaterial, 0},
      {70, 14.0f, A::kBrush, 6},
      {70, 10.0f, A::kBrush, 7},
      {70, 6.0f, A::kBrush, 8},
      {75, 14.0f, A::kEdit, 9},
      {75, 6.0f, A::kEdit, 11},
      {30, 40.0f, A::kNone, 0},  // on the grid
      {-1, -1, A::kNone, 0},     // the reset anchor
      {70, NAN, A::kNone, 0},
  };
  for (const auto& c : cases) {
    const A a = PanelRowAt(c.sx, c.sy);
    EXPECT_EQ(a.kind, c.kind) << c.sx << "," << c.sy;
    if (c.kind != A::kNone) {
      EXPECT_EQ(a.value, c.value) << c.sx << "," << c.sy;
    }
  }
}

TEST(MicrostripImpedance, BothBranchesAgainstClosedForms) {
  // The defaults: er 4.7 of slot 2, dxy = dz = 1 mm: 68.6 and 47.3 ohm.
  EXPECT_NEAR(MicrostripImpedance(4.7f, 0.001f, 0.001f), 68.57f, 0.005f);
  EXPECT_NEAR(MicrostripImpedance(4.7f, 0.002f, 0.001f), 47.30f, 0.005f);
  // A narrow strip in air: 60 ln(8h/w + w/4h) / sqrt(e_eff) with w = h/4.
  const double q = std::sqrt(12.0 * 4 + 1), e = (1 / q + 0.04 * 0.75 * 0.75) * 0.5 * 0.5 + 1.25;
  EXPECT_NEAR(MicrostripImpedance(1.5f, 0.25f, 1.0f), 60 * std::log(32 + 1.0 / 16) / std::sqrt(e),
              1e-3);
}

}  // namespace
