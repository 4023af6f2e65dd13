// The interactive window: opens it on the prepared run, steps the run in the
// idle callback, repaints it on a timer and answers the input until the
// window is closed or the process is asked to stop.
#pragma once

#include "app/cli.h"

namespace tavro {

// Opens the window and runs its event loop. Returns the exit status: 0 when
// the window was closed, 128 + signal after SIGINT or SIGTERM. An unfinished
// run is written out first (the result files of the samples so far, when
// extensions were given). Without a display it prints an error suggesting
// -batch and returns 1.
int OpenWindow(App& app, int argc, char** argv);

// What one window session did, for the benchmark.
struct WindowStats {
  long steps = 0;             // time steps taken in the idle callback
  double seconds = 0.0;       // wall time from the first step to the end
  long paints = 0;            // paints while the run went on
  double paintCost = 0.0;     // their smoothed cost, seconds
  double paintSeconds = 0.0;  // their total wall time
  int intervalMs = 0;         // the repaint interval at the end
};

// Opens the window on the prepared run, lets it run for `seconds` in the
// given view mode (the E field by default) and returns what it did (the
// benchmark's measurement).
WindowStats MeasureWindow(App& app, int argc, char** argv, double seconds, int32_t viewMode = 0);

}  // namespace tavro
