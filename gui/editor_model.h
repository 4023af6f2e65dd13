// Model editing behind the editor panel: the slice of the project's cube that
// the grid shows, painting a rectangle, the slice clipboard, the panel rows
// that a click selects, and the microstrip impedance read-out.
#pragma once

#include <cstdint>

#include "files/project.h"
#include "gui/view_state.h"

namespace tavro {

constexpr int kSliceCells = kCubeSize * kCubeSize;  // one 64 x 64 slice; clipboard size

// Brush values beyond the materials 0..5.
constexpr float kBrushSource1 = 6.0f;
constexpr float kBrushSource2 = 7.0f;
constexpr float kBrushDC = 8.0f;

// Cube index of cell (u, v) of the slice at `layer` along `axis`: column u
// left to right, row v bottom to top. The cube holds project cell (X, Y, Z)
// at (X, 63 - Y, 63 - Z), so
//   axis 0: u = X, v = Y, layer Z;  axis 1: u = Y, v = Z, layer X;
//   axis 2: u = Z, v = X, layer Y.
int SliceIndex(int axis, int layer, int u, int v);

// Colour index of a cell byte: 6 source 1, 7 source 2, 8 DC source, else the
// material slot.
int DisplayIndex(uint8_t cell);

// Cell code painted by a brush value.
uint8_t BrushCode(float brush);

// Paints the rectangle between the panel points `start` and `current` on
// the slice. Orders and clamps both corners into [0, 63]
// and stores them back; every cell keeps its probe mark and takes the
// brush's material or source.
void PaintRectangle(Project& project, int axis, int layer, float brush, PanelPoint& start,
                    PanelPoint& current);

// The slice's cell bytes into `clipboard` (64 x 64, element u*64 + v), and
// back. Both work in display coordinates, so a slice copied in one
// orientation pastes into another as it was seen.
void CopySlice(const Project& project, int axis, int layer, int32_t* clipboard);
void PasteSlice(Project& project, int axis, int layer, const int32_t* clipboard);

// Characteristic impedance (ohm) of a microstrip of width w on a substrate of
// height h and relative permittivity er (Hammerstad's closed forms).
float MicrostripImpedance(float er, float w, float h);

// What a click released at panel point (sx, sy) selects in the rows of the
// panel, row K = trunc(13 - sy/4).
struct PanelRowAction {
  enum Kind {
    kNone,
    kBrush,  // brush = value
    kEdit,   // editState = value
    kNextSourceType,
    kNextDirection,
    kNextSourceMaterial,
  };
  Kind kind = kNone;
  int value = 0;
};
PanelRowAction PanelRowAt(float sx, float sy);

}  // namespace tavro
