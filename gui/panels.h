// The window's editor panel, text entry, window title and waveform graphs:
// what the display, keyboard and mouse callbacks hand over to in the editor
// (mode 5) and the graph modes (3 and 4).
#pragma once

#include <string>

#include "gui/view_state.h"

namespace tavro {

// The graph picture of modes 3 and 4, drawn with the overlay camera after the
// view header.
void DrawGraphs(GuiState& gui);

// The editor panel of mode 5, drawn with the overlay camera.
void DrawEditor(GuiState& gui);

// A refusal or failure message in a box across the top of the editor grid;
// nothing when it is empty.
void DrawNotice(GuiState& gui, const std::string& message);

// A mouse button event in mode 5 (GLUT button and state) at panel point p.
Effects EditorMouse(GuiState& gui, int button, int state, PanelPoint p);

// A key in mode 5 while no text entry is open (editState 0).
Effects EditorKey(GuiState& gui, unsigned char key);

// A key in mode 5 while the text entry is open (editState not 0).
Effects EntryKey(GuiState& gui, unsigned char key);

// The window title: program, version and notice, then " : " and the
// project's base name when it has one.
std::string WindowTitle(const GuiState& gui);

}  // namespace tavro
