// The waveform graphs: one quantity of every probe, all probes in one box,
// against time on a linear scale rounded to 2, 5 or 10 times a power of ten,
// or against frequency on a logarithmic scale of four decades.
//
// The box spans x -50..50 and z -36..34 in the plane y = 0 of the overlay
// camera; panel point (x, y) is world (x - 50, 0, y - 32).
#include "gui/graphs.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <sstream>

#include "gui/graph_marks.h"
#include "gui/graph_scale.h"
#include "gui/overlay_text.h"
#include "gui/panels.h"

namespace tavro {

namespace {

using Clock = std::chrono::steady_clock;

GraphSpectra g_spectra;

constexpr float kMinusInfinity = -std::numeric_limits<float>::infinity();

double now() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

// A scale limit that can divide: the limit when it is positive and finite,
// otherwise 0 for the texts and 1 for the coordinates (a flat or empty graph
// draws its curves on the centre line, or none at all).
float shownLimit(float m) { return std::isfinite(m) && m > 0 ? m : 0.0f; }

void grey() { glColor3f(0.5f, 0.5f, 0.5f); }

void horizontalGrid() {
  grey();
  glBegin(GL_LINES);
  for (double z : {-18.0, -1.0, 16.0}) {
    glVertex3d(-50, 0, z);
    glVertex3d(50, 0, z);
  }
  glEnd();
}

void verticalLine(double x) {
  glBegin(GL_LINES);
  glVertex3d(x, 0, 34);
  glVertex3d(x, 0, -36);
  glEnd();
}

void dotted(bool on) {
  if (on)
    glLineStipple(2, 0x5555);
  else
    glLineStipple(1, 0xFFFF);
}

void probeColour(int p) {
  const float* c = kProbeColour[p % kProbeColours];
  glColor4f(c[0], c[1], c[2], 1);
}

// The key: each probe's name in its trace's colour, right-aligned in the
// top right corner of the box; the first probes only when there are many.
void drawKey(GuiState& gui, std::ostringstream& t) {
  const ViewState& v = gui.view;
  const SimulationEngine& eng = gui.app.engine;
  const int probes = std::min<int>(eng.sam.probeCount, static_cast<int>(eng.spectrum.names.size()));
  constexpr int kKeyLines = 16;
  const double line = PanelLineHeight(v, -1);
  const double right = std::min(99.0, PanelRightEdge(v, -1) - 1);
  auto label = [&](int p) {
    return p == kKeyLines - 1 && probes > kKeyLines ? '+' + std::to_string(probes - p) + " more"
                                                    : eng.spectrum.names[static_cast<size_t>(p)];
  };
  const int lines = std::min(probes, kKeyLines);
  if (lines == 0) return;
  // A black backing keeps the names readable over the traces and grid.
  double widest = 0;
  for (int p = 0; p < lines; ++p) widest = std::max(widest, PanelTextWidth(v, label(p), -1));
  glColor4f(0, 0, 0, 1);
  glBegin(GL_QUADS);
  EmitQuad(right - widest - 50.5, 63 - line * (lines - 1) - 32.6, right - 49.5, 63 + line - 32.4,
           -0.8);
  glEnd();
  for (int p = 0; p < lines; ++p) {
    const std::string name = label(p);
    const float* c = kProbeColour[p % kProbeColours];
    t << name;
    DrawPanelText(v, t, LabelLeft(right, PanelTextWidth(v, name, -1), right), 63 - line * p, -1,
                  c[0], c[1], c[2]);
  }
}

// Columns of the time graph; with more than twice as many samples, each
// column is drawn from its extremes.
constexpr uint32_t kTimeColumns = 2048;

void drawTime(GuiState& gui, std::ostringstream& t, uint32_t n) {
  const ViewState& v = gui.view;
  const SimulationEngine& eng = gui.app.engine;
  const int q = v.graphQuantity;
  const int probes = eng.sam.probeCount;
  ScaleTimeGraphs(eng, n, gui.view.graphMaxima.data());
  const float M = shownLimit(v.graphMaxima[q]);
  t << FormatEngineering(0.5f * M) << kGraphQuantity[q].timeUnit;
  horizontalGrid();

  // The time axis ends at the last sample of probe 0; without one (no
  // probes, no samples) or with a last time of 0 it has no divisions.
  float T = 0.0f;
  if (n > 0 && probes > 0) T = eng.samples[static_cast<size_t>(n - 1) * probes].v[kSlotTime];
  const float d = std::isfinite(T) && T > 0 ? NiceStepAbove(T) / 10 : 0.0f;
  t << "  " << FormatEngineering(d) << "sec  /div";
  if (d > 0) {
    for (float s = 0; s < T; s += d) verticalLine(s * 100 / T - 50);
  }
  glLineWidth(2);
  DrawPanelText(v, t, 1, 63, -1, 0.5, 0.5, 0.5);

  const float scale = M > 0 ? M : 1.0f;
  const int slot = kGraphQuantity[q].slot;
  for (int p = 0; p < probes; ++p) {
    probeColour(p);
    dotted(true);
    auto value = [&](uint32_t j) {
      return eng.samples[static_cast<size_t>(j) * probes + p].v[slot];
    };
    auto vertex = [&](uint32_t j) {
      glVertex3f(static_cast<float>(j) * 100 / static_cast<float>(n) - 50, 0,
                 value(j) * 35 / scale - 1);
    };
    glBegin(GL_LINE_STRIP);
    if (n <= 2 * kTimeColumns) {
      for (uint32_t j = 0; j < n; ++j) vertex(j);
    } else {
      // Far more samples than pixels: each of the columns sends its lowest
      // and its highest sample, in the order they were taken, which draws
      // the same envelope as every sample would at a fraction of the cost.
      for (uint32_t c = 0; c < kTimeColumns; ++c) {
        const uint32_t from = static_cast<uint32_t>(uint64_t{c} * n / kTimeColumns);
        const uint32_t to = static_cast<uint32_t>(uint64_t{c + 1} * n / kTimeColumns);
        uint32_t lo = from, hi = from;
        for (uint32_t j = from + 1; j < to; ++j) {
          const float x = value(j);
          if (x < value(lo)) lo = j;
          if (x > value(hi)) hi = j;
        }
        vertex(std::min(lo, hi));
        if (lo != hi) vertex(std::max(lo, hi));
      }
    }
    glEnd();
    dotted(false);
  }
  drawKey(gui, t);
}

// Beyond half the sampling rate a spectrum only mirrors what lies below it:
// that part of the box is dimmed behind an orange line and its label.
void drawNyquist(GuiState& gui, std::ostringstream& t, uint32_t n) {
  const ViewState& v = gui.view;
  const SimulationEngine& eng = gui.app.engine;
  const float f = NyquistFrequency(eng, n);
  if (!(f > 0)) return;
  const int i = FirstPointAbove(eng.spectrum.points.data(), kSpectrumPoints, f);
  if (i >= kSpectrumPoints) return;
  const double x = i * 100.0 / kSpectrumPoints - 50;
  glColor4f(0, 0, 0, 0.6f);
  glBegin(GL_QUADS);
  EmitQuad(x, -36, 50, 34, -0.5);
  glEnd();
  glLineWidth(2);
  glColor3f(1.0f, 0.6f, 0.2f);
  glBegin(GL_LINES);
  glVertex3d(x, -0.6, 34);
  glVertex3d(x, -0.6, -36);
  glEnd();
  glLineWidth(1);
  const std::string label = "Nyquist " + FormatEngineering(f) + "Hz";
  t << label;
  const double right = std::min(100.0, PanelRightEdge(v, -1)) - 0.5;
  DrawPanelText(v, t, LabelLeft(x + 50.5, PanelTextWidth(v, label, -1), right), 0.5, -1, 1.0, 0.6,
                0.2);
}

void drawFrequency(GuiState& gui, std::ostringstream& t, uint32_t n) {
  ViewState& v = gui.view;
  SimulationEngine& eng = gui.app.engine;
  const int q = v.graphQuantity;
  const int probes = eng.sam.probeCount;
  float* top = v.graphMaxima.data() + kGraphQuantities;
  // The spectra are worked on a piece per paint; the last finished ones are
  // drawn. A stopped run repaints until its spectra are finished.
  if (n > 0 && probes > 0 && g_spectra.Update(eng, n, v.running == 1, now()) && v.running == 0)
    glutPostRedisplay();
  const bool spectra = n > 0 && probes > 0 && g_spectra.Ready();
  if (spectra) {
    ScaleStoredSpectra(eng, v.graphMaxima.data());
  } else {
    for (int k = 0; k < kGraphQuantities; ++k) top[k] = kMinusInfinity;
  }
  const float M = shownLimit(top[q]);
  t << FormatEngineering(M) << kGraphQuantity[q].frequencyUnit;
  horizontalGrid();
  DrawPanelText(v, t, 1, 63, -1, 0.5, 0.5, 0.5);
  if (!spectra && n > 0 && probes > 0) {
    // The first spectra of a long recording take a while at a tenth of the
    // time; say how far they are.
    t << "computing the spectra of " << n
      << " samples: " << static_cast<int>(100 * g_spectra.Progress()) << " %";
    DrawPanelText(v, t, 30, 30, -1, 0.5, 0.5, 0.5);
  }
  if (!spectra) return;

  // Decade marks from probe 0's frequencies: a line and the value of the
  // decade that the grid has just passed.
  const ProbeSample* points = eng.spectrum.points.data();
  float D = DecadeAbove(points[0].v[kSlotTime]);
  for (int i = 0; i < kSpectrumPoints; ++i) {
    const float E = DecadeAbove(points[i].v[kSlotTime]);
    if (E > D) {
      const double x = i * 100.0 / kSpectrumPoints - 50;
      grey();
      verticalLine(x);
      t << FormatEngineering(D) << "Hz";
      // A mark near the right edge keeps its whole label inside the window.
      const double right = PanelRightEdge(v, -1) - 0.5;
      DrawPanelText(v, t, LabelLeft(x + 50, PanelTextWidth(v, t.str(), -1), right), -3, -1, 0.5,
                    0.5, 0.5);
      D = E;
    }
  }

  if (!(M > 0)) {  // all zero: nothing lies within four decades of 0
    drawNyquist(gui, t, n);
    drawKey(gui, t);
    return;
  }
  const int slot = kGraphQuantity[q].slot;
  for (int p = 0; p < probes; ++p) {
    probeColour(p);
    glLineWidth(2);
    dotted(true);
    glBegin(GL_LINE_STRIP);
    for (int i = 0; i < kSpectrumPoints; ++i) {
      const float value = points[static_cast<size_t>(p) * kSpectrumPoints + i].v[slot];
      const float z = static_cast<float>(std::log10(value / M) * 0.5 * 35 + 34);
      if (z >= -36) glVertex3d(i * 100.0 / kSpectrumPoints - 50, 0, z);
    }
    glEnd();
    dotted(false);
  }
  drawNyquist(gui, t, n);
  drawKey(gui, t);
}

}  // namespace

void ResetGraphs() { g_spectra.Reset(); }

void DrawGraphs(GuiState& gui) {
  ViewState& v = gui.view;
  const FDTD_SAM& s = gui.app.engine.sam;
  const int q = v.graphQuantity >= 0 && v.graphQuantity < kGraphQuantities ? v.graphQuantity : 0;
  v.graphQuantity = q;
  std::ostringstream t;
  t << kGraphQuantity[q].title;
  DrawPanelText(v, t, 32, 50, -50, 1, 1, 1);
  glLineWidth(1);
  glColor3f(1, 1, 1);
  glBegin(GL_LINE_LOOP);
  glVertex3d(-50, 0, -36);
  glVertex3d(50, 0, -36);
  glVertex3d(50, 0, 34);
  glVertex3d(-50, 0, 34);
  glEnd();

  const int64_t count = std::min<int64_t>(s.stepCount, s.stepLimit);
  const uint32_t n = count > 0 ? static_cast<uint32_t>(count) : 0;
  if (v.viewMode == kViewTime)
    drawTime(gui, t, n);
  else
    drawFrequency(gui, t, n);
  glLineWidth(1);
}

}  // namespace tavro
