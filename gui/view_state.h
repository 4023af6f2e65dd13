// The window's state: one ViewState record with the view mode, camera, colour
// scale, run flag and editor selections, the editor's clipboard and text
// entry line, and the 2-D panel points in which every overlay is laid out.
//
// Panel points: x grows to the right from 0 at the left edge of the 100-unit
// wide layout, y grows upwards; the editor grid covers x 0..64, y 0..64 and
// the header strip y 67..71. Panel point (x, y) lies at world position
// (x - 50, 0, y - 32) in front of the overlay camera, which looks from
// (0, -100, 0) at the origin with Z up.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/cli.h"

namespace tavro {

enum ViewMode : int32_t {
  kViewE = 0,
  kViewH = 1,
  kViewModel = 2,
  kViewTime = 3,
  kViewFrequency = 4,
  kViewEditor = 5,
};
// Modes 0 to 4 are the viewing modes; the next viewing mode never is the editor.
constexpr int32_t kViewingModes = 5;

struct PanelPoint {
  float x = 0.0f;
  float y = 0.0f;
  bool operator==(const PanelPoint&) const = default;
};

struct ViewState {
  float windowWidth = 800.0f;  // pixels, updated on reshape
  float windowHeight = 640.0f;
  float elevation = 15.0f;     // degrees about X, kept in -90..90
  float azimuth = 30.0f;       // degrees about Z, kept in 0..360
  float pointSize = 10.0f;     // of the 3-D views; also divides the point opacity
  float colourGain = 1.0f;     // the user's factor of the colour scale
  float colourBase = 0.1234f;  // constant; colouring scale = colourBase * colourGain
  float cellAspectY = 1.0f;    // dy / dx
  float cellAspectZ = 1.0f;    // dz / dx
  int32_t running = 1;         // 1 while the idle callback steps the run
  float viewExtent = 0.0f;     // max(nx, ny, nz)
  // Anchor of the current drag: a panel point in the editor; in the 3-D views
  // x holds the azimuth anchor and y the elevation anchor.
  PanelPoint dragStart{-1.0f, -1.0f};
  float dragStartPointSize = 0.0f;                     // pointSize anchor of a right drag
  PanelPoint dragCurrent{-1.0f, -1.0f};                // where the editor drag has reached
  float savedBrush = 0.0f;                             // brush during a right (erasing) drag
  PanelPoint entryAnchor{0.0f, 0.0f};                  // where the text entry box is drawn
  float brush = 0.0f;                                  // 0-5 material, 6 source 1, 7 source 2, 8 DC
  std::array<float, 3> modelCentre{0.0f, 0.0f, 0.0f};  // nx/2, ny/2, nz/2
  int32_t dragMode = 0;                                // 0 none, 1 left, 2 right
  // Scale maxima of the graphs: 0-5 time graphs, 6-11 frequency graphs.
  std::array<float, 12> graphMaxima{};
  int32_t viewMode = kViewE;
  int32_t component = 0;         // 0 absolute value, 1 x, 2 y, 3 z
  int32_t graphQuantity = 0;     // 0..5: V, I, E, H, Z, P
  int32_t editState = 0;         // what the text entry line edits; 0 = no entry
  int32_t farField = 0;          // 1 = the next conversion uses the 64-cell margin
  int32_t averageMaterials = 0;  // 1 = the next set-up averages materials onto the edges
  int32_t sliceAxis = 0;         // editor slice orientation 0..2
  int32_t overwritePending = 0;  // 1 while a save waits for the overwrite answer
  int32_t layer = 0;             // editor slice position 0..63
  float zoom = 1.0f;             // 3-D views: the keys + and - move the camera nearer or away
};

constexpr int kClipboardSide = 64;

// Everything the window holds: the view state, the editor's clipboard (one
// slice in display coordinates, element u*64 + v) and text entry line, and
// the program's model, project and engine.
struct GuiState {
  explicit GuiState(App& application) : app(application), baseline(application.project) {}
  ViewState view;
  std::array<int32_t, kClipboardSide * kClipboardSide> clipboard{};
  std::string inputLine;
  App& app;
  // Cell colours no longer match the fields (set by a step, cleared by the
  // colouring before a paint).
  bool coloursStale = true;
  // The sample count at which the result files were last written; -1 = never.
  int32_t writtenAt = -1;
  // The last refusal or failure (a typed number, a file command, a Run),
  // shown in the window until the next editor press or key; empty = none.
  std::string notice;
  // The last Run was refused and its run emptied: the views have nothing to
  // show and say so.
  bool runRefused = false;
  // The material IDs of the model's cells, for the model view's key; taken
  // by ResetView.
  std::vector<int32_t> usedMaterials;
  // The project as it was last loaded, saved or started afresh; the title
  // marks changes against it and New asks before discarding them.
  Project baseline;
};

// True when the project differs from the baseline in anything a save keeps.
bool ProjectModified(const GuiState& gui);

// What an input handler asks of the window after it changed the state. The
// idle callback is registered exactly while view.running is 1; the window
// brings the registration in line after every handler.
struct Effects {
  bool redisplay = false;  // post a redisplay
  bool recolour = false;   // run Recolour
  bool retitle = false;    // set the window title from WindowTitle()
};

// True when p lies on the editor grid (both coordinates in [0, 64)).
inline bool OnEditorGrid(PanelPoint p) { return p.x >= 0 && p.x < 64 && p.y >= 0 && p.y < 64; }

// World position of panel point (x, y) at `depth` (0 = the overlay plane,
// negative = nearer the overlay camera).
struct WorldPoint {
  double x, y, z;
};
inline WorldPoint PanelToWorld(double x, double y, double depth) {
  return {x - 50.0, depth, y - 32.0};
}

// Window pixel (y from the top) to panel point, through the overlay camera
// that the last paint left in place. Needs the window's GL context.
PanelPoint PickPanelPoint(const ViewState& v, int x, int y);

// The 3-D view constants from the grid (centre, cell aspects, extent), the
// graph maxima back to minus infinity and the clipboard cleared.
void ResetView(GuiState& gui);

// Hands the view mode, component and colour scale to the colouring and
// colours the cells once.
void Recolour(GuiState& gui);

// Stops the run and switches to the editor with no drag.
void EnterEditor(ViewState& v);

}  // namespace tavro
