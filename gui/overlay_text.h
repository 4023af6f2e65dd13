// Overlay text: bitmap strings at panel points, numbers in engineering form
// (three significant digits and an SI prefix: 1.00m, 3.00G, 58.0M) and the
// quad routine the overlays draw their boxes with.
#pragma once

#include <sstream>
#include <string>

#include "gui/view_state.h"

namespace tavro {

struct SiPrefix {
  const char* text;
  float scale;
};
// "y" 1e-24 up to "Y" 1e24 in steps of 1000, the empty prefix at index 8.
constexpr int kSiPrefixCount = 17;
extern const SiPrefix kSiPrefixes[kSiPrefixCount];

// Three significant digits followed by the prefix: 0.001 -> "1.00m",
// 5.8e7 -> "58.0M", 999 -> "999", 999.95 -> "1.00k". Magnitudes below 1e-24
// are written plainly (0 -> "0"); above 999.9e24 the text is empty.
std::string FormatEngineering(float value);

// The GLUT bitmap font for a window of this height: Helvetica 10 below 300
// pixels, 12 below 500, otherwise 18.
void* PanelFont(float windowHeight);

// Draws the text gathered in `text` at panel point (x, y) and `depth` in
// colour (r, g, b), then empties `text`. A "\n" starts a new line below the
// first at the same left edge. Depth 0 is the overlay plane; negative depths
// lie nearer the camera, so depth -50 shows the same point twice as far from
// the window centre.
void DrawPanelText(const ViewState& v, std::ostringstream& text, double x, double y, double depth,
                   double r, double g, double b);

// Width of `text` (one line) in panel units when drawn at `depth`, and the
// height of one line there; the panel x of the window's right edge at that
// depth.
double PanelTextWidth(const ViewState& v, const std::string& text, double depth);
double PanelLineHeight(const ViewState& v, double depth);
double PanelRightEdge(const ViewState& v, double depth);

// Emits the corners (x1, depth, y1), (x2, depth, y1), (x2, depth, y2),
// (x1, depth, y2) in world coordinates, inside the caller's glBegin/glEnd.
void EmitQuad(double x1, double y1, double x2, double y2, double depth);

}  // namespace tavro
