// Overlay text and the engineering number format.
#include "gui/overlay_text.h"

#include <GL/freeglut.h>

#include <cmath>
#include <cstdio>

namespace tavro {

const SiPrefix kSiPrefixes[kSiPrefixCount] = {
    {"y", 1e-24f}, {"z", 1e-21f}, {"a", 1e-18f}, {"f", 1e-15f}, {"p", 1e-12f}, {"n", 1e-9f},
    {"u", 1e-6f},  {"m", 1e-3f},  {"", 1.0f},    {"k", 1e3f},   {"M", 1e6f},   {"G", 1e9f},
    {"T", 1e12f},  {"P", 1e15f},  {"E", 1e18f},  {"Z", 1e21f},  {"Y", 1e24f},
};

std::string FormatEngineering(float value) {
  if (std::isnan(value)) return "nan";
  const float s = value < 0.0f ? -1.0f : 1.0f;
  const float a = std::fabs(value);
  if (a < 1e-24f) {
    std::ostringstream plain;
    plain << s * a;
    return plain.str();
  }
  // The smallest prefix that leaves at most 999.9 in front of it.
  for (const SiPrefix& p : kSiPrefixes) {
    const float d = a / p.scale;
    if (static_cast<double>(d) > 999.9) continue;
    const int decimals = d < 0.9999 ? 3 : d < 10 ? 2 : d < 100 ? 1 : 0;
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.*f", decimals, static_cast<double>(s * d));
    return std::string(digits) + p.text;
  }
  return "";
}

void* PanelFont(float windowHeight) {
  if (windowHeight < 300) return GLUT_BITMAP_HELVETICA_10;
  if (windowHeight < 500) return GLUT_BITMAP_HELVETICA_12;
  return GLUT_BITMAP_HELVETICA_18;
}

void DrawPanelText(const ViewState& v, std::ostringstream& text, double x, double y, double depth,
                   double r, double g, double b) {
  glColor4d(r, g, b, 1.0);
  glRasterPos3d(x - 50.0, depth, y - 32.0);
  const std::string s = text.str();
  glutBitmapString(PanelFont(v.windowHeight), reinterpret_cast<const unsigned char*>(s.c_str()));
  text.str("");
  text.clear();
}

namespace {

// Panel units per pixel at `depth`: the overlay plane lies 100 units from
// the overlay camera, whose 45-degree view spans 2 tan(22.5) = 0.828427 of
// the distance vertically.
double unitsPerPixel(const ViewState& v, double depth) {
  return 0.828427 * (100.0 + depth) / v.windowHeight;
}

}  // namespace

double PanelTextWidth(const ViewState& v, const std::string& text, double depth) {
  const int pixels = glutBitmapLength(PanelFont(v.windowHeight),
                                      reinterpret_cast<const unsigned char*>(text.c_str()));
  return pixels * unitsPerPixel(v, depth);
}

double PanelLineHeight(const ViewState& v, double depth) {
  const int pixels = v.windowHeight < 300 ? 13 : v.windowHeight < 500 ? 15 : 22;
  return pixels * unitsPerPixel(v, depth);
}

double PanelRightEdge(const ViewState& v, double depth) {
  return 50.0 + 0.414214 * (100.0 + depth) * v.windowWidth / v.windowHeight;
}

void EmitQuad(double x1, double y1, double x2, double y2, double depth) {
  glVertex3d(x1, depth, y1);
  glVertex3d(x2, depth, y1);
  glVertex3d(x2, depth, y2);
  glVertex3d(x1, depth, y2);
}

}  // namespace tavro
