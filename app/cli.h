// Program entry: banner, thread cap, the command line read left to right,
// the set-up and the run.
#pragma once

#include <string>

#include "app/far_field_run.h"
#include "engine/engine.h"
#include "engine/model_record.h"
#include "files/project.h"

namespace tavro {

// Everything the program holds for one process.
struct App {
  ModelRecord model;
  Project project;
  SimulationEngine engine;
  int farField = 0;
  bool interactive = true;
  int csvMask = 0;
  int vtkEvery = 0;  // -vtk: a field snapshot every vtkEvery steps; 0 = none
  std::string vtkPrefix;
  FarFieldOptions nf2ff;  // -nf2ff, -nf2ff-box: far field of a batch run
  double sparamMax = 0.0;  // -sparam: highest frequency [Hz]; 0 = no S-parameter runs
  std::string sparamPrefix;
};

// Reads the command line into `app`. Returns -1000 when the command line was
// read completely and the program goes on, otherwise the exit status
// (0 after -help, -1 or -2 after an error).
constexpr int kContinue = -1000;

// Exit status of a batch run that completed but could not write every
// result file (the others are written).
constexpr int kStatusResultFiles = 3;
int ParseCommandLine(App& app, int argc, char** argv);

// The interactive window: takes over the prepared run and returns the exit
// status when it ends.
using WindowEntry = int (*)(App& app, int argc, char** argv);

// The whole program: banner, command line, set-up and run, in the window
// unless -batch was given (without a window entry the program says it has no
// window and returns 1). Returns the exit status.
int ProgramMain(int argc, char** argv, WindowEntry window = nullptr);

}  // namespace tavro
