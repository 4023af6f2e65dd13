#include "app/cli.h"

#include <omp.h>

#include <cmath>
#include <ctime>
#include <memory>
#include <sstream>

#include "app/cli_pml.h"
#include "app/cli_words.h"
#include "app/conversion.h"
#include "app/presets.h"
#include "app/run_driver.h"
#include "app/sparam_driver.h"
#include "engine/compact_state.h"
#include "engine/console.h"
#include "engine/gpu_backend.h"
#include "engine/setup.h"
#include "files/csv_layer.h"
#include "files/vtk_snapshot.h"

namespace tavro {

namespace {

constexpr int kMaxThreads = 12;

void printUsage() {
  std::ostream& o = con();
  o << "usage: tavro [options] [FDTD_FILE]\n"
       "         FDTD_FILE            : input .fdtd file made by editor in tavro.\n"
       "options) -help                : message here.\n"
       "         -batch               : batch execution for quick calculation.\n"
       "         -n <STEP>            : maximum time step for FDTD calculation.\n";
  if (InstalledGpuBackend())
    o << "         -cuda <GPU#>         : FDTD calculation with CUDA on GPU#.\n";
  o << "         -minfreq <MINFREQ>   : culling data for lower freq analysis [Hz].\n"
       "         -far                 : far field mode with extended area(128x128).\n"
       "         -avgmat              : average materials onto cell edges (geometry as drawn).\n"
       "         -timelog <TIMELOG>   : extension for time domain results.\n"
       "         -freqlog <FREQLOG>   : extension for frequency domain results.\n"
       "* following are only for CSV input instead of FDTD_FILE.\n"
       "         -mat <ID> <MATERIAL> : assign material parameter to ID.\n"
       "         -area <X> <Y> <Z>    : total calculation area [grids].\n"
       "         -unit <X> <Y> <Z>    : grid resolution length [m].\n"
       "         -layer <Z> <CSV>     : assign CSV on Z layer.\n"
       "MATERIAL= <SG>:<ER>:<UR>   SG : electrical conductivity [S/m].\n"
       "                           ER : relative electric permittivity.\n"
       "                           UR : relative magnetic permeability.\n";
  for (const MaterialPreset& p : kMaterialPresets) {
    std::string name = p.name;
    name.resize(20, ' ');
    o << "          " << name << ": same as " << p.value.sg << ":" << p.value.er << ":"
      << p.value.ur << ".\n";
  }
  o << "         -matx <ID> <S:ER:UR> : anisotropy material parameter for X axis.\n"
       "         -maty <ID> <S:ER:UR> : anisotropy material parameter for Y axis.\n"
       "         -matz <ID> <S:ER:UR> : anisotropy material parameter for Z axis.\n"
       "CSV column format)\n"
       "<ID>[ <PROBE>]                : CSV is X-Y matrix formed by ID and PROBE.\n"
       "PROBE= <NAME>                 : unique NAME for probing, except following.\n"
       "       CW:<D>:<V>:<F>         : continuous wave source.\n"
       "                            D : direction of the source. X, Y or Z.\n"
       "                            V : peak voltage of the source [V].\n"
       "                            F : frequency of the source [Hz].\n"
       "       GAUSS:<D>:<V>          : gaussian waveform source.\n"
       "       PULSE:<D>:<V>:<F>      : pulse waveform source.\n"
       "       DC:<D>:<V>             : DC source. for using with SWITCH.\n"
       "       SWITCH:<M>:<ID>:<F>    : conductivity pulse switch. \n"
       "                            M : model type of the switch, 'P' or 'N'.\n"
       "                           ID : material when the switch is off.\n"
       "                            F : frequency of the switch [Hz].\n"
       "         -vtk <EVERY> <PREFIX>: field snapshots every EVERY steps for ParaView.\n"
       "         -nf2ff <FREQ> <PREFIX>: far field at FREQ[,FREQ...] [Hz] into PREFIX_FREQ.txt.\n"
       "         -nf2ff-box <X0> <Y0> <Z0> <X1> <Y1> <Z1>: far-field surface [grids].\n";
  o << "         -pml <CELLS>         : absorbing layer of CELLS (1-64) grids instead of Mur.\n";
  o << "         -sparam <FMAX> <PREFIX>: S-parameters of the ports up to FMAX [Hz] into\n"
       "                                PREFIX.s<N>p (Touchstone), one batch run per port.\n"
       "       PORT:<D>:<R>[:<N>]     : lumped port N along D with resistance R [ohm].\n";
}

// Material ID check shared by -mat, -matx, -maty and -matz. IDs index the
// 65536-entry tables; a negative ID would write in front of them.
bool checkMaterialId(int id) {
  if (id >= kMaterialCount) {
    con() << "error: ID must be less than " << kMaterialCount << ".\n";
    return false;
  }
  if (id < 0) {
    con() << "error: ID must not be negative (" << id << ").\n";
    return false;
  }
  return true;
}

std::string bareName(const Project& project) { return project.fileName; }

// A model file sets the area and every cell: -area and -layer after it would
// replace or overwrite the model, so they are skipped with a warning.
bool ignoredWithModelFile(const App& app, const std::string& option) {
  if (app.project.fileName.empty()) return false;
  con() << "warning: " << option << " is ignored with the model file(" << app.project.fileName
        << ").\n";
  return true;
}

// -area and -layer before a model file: the file's conversion replaces them.
void warnReplacedByModelFile(const App& app) {
  if (app.csvMask & 2) ignoredWithModelFile(app, "-area");
  if (app.csvMask & 8) ignoredWithModelFile(app, "-layer");
}

// Checks made once every word is read. Returns kContinue or the exit status.
int finishCommandLine(const App& app, const std::vector<bool>& defined) {
  const SimulationEngine& eng = app.engine;
  if (!eng.timeExtension.empty() && eng.timeExtension == eng.freqExtension) {
    con() << "error: -timelog and -freqlog name the same extension(" << eng.timeExtension
          << "); the frequency files would overwrite the time files.\n";
    return -1;
  }
  if (app.csvMask & 8) WarnUndefinedMaterials(app.model, defined);
  if (app.nf2ff.haveBox && !app.nf2ff.active())
    con() << "warning: -nf2ff-box is ignored without -nf2ff.\n";
  if (app.nf2ff.active() && eng.cudaFlag) {
    con() << "error: -nf2ff records the far field on the CPU only; leave out -cuda.\n";
    return -1;
  }
  // The GPU steps the absorbing layer only in the compact state of a batch
  // run; the window steps and colours the records.
  if (eng.pmlCells > 0 && eng.cudaFlag && app.interactive) {
    con() << "error: -pml with -cuda runs in batch runs only (-batch); leave out -cuda or add "
             "-batch.\n";
    return -1;
  }
  return kContinue;
}

}  // namespace

int ParseCommandLine(App& app, int argc, char** argv) {
  ModelRecord& model = app.model;
  SimulationEngine& eng = app.engine;
  std::vector<bool> defined(kMaterialCount, false);  // material IDs some option set
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const int remain = argc - 1 - i;  // words after this one
    auto arg = [&](int n) { return argv[i + n]; };

    if (word == "-help" || word == "-h" || word == "--help") {
      printUsage();
      return 0;
    }
    if ((word == "-mat" || word == "-matx" || word == "-maty" || word == "-matz") && remain >= 2) {
      app.csvMask |= 1;
      int id = 0;
      if (!ReadIntArg(word, arg(1), id) || !checkMaterialId(id)) return -1;
      Material m;
      if (!ReadMaterialArg(word, id, arg(2), m)) return -1;
      defined[static_cast<std::size_t>(id)] = true;
      if (word == "-mat") {
        model.materialZ[id] = m;
        model.materialY[id] = m;
        model.materialX[id] = m;
      } else {
        std::vector<Material>& table = word == "-matx"
                                           ? model.materialX
                                           : (word == "-maty" ? model.materialY : model.materialZ);
        table[id] = m;
      }
      i += 2;
      continue;
    }
    if (word == "-area" && remain >= 3) {
      int x = 0, y = 0, z = 0;
      if (!ReadIntArg(word, arg(1), x) || !ReadIntArg(word, arg(2), y) ||
          !ReadIntArg(word, arg(3), z))
        return -1;
      if (ignoredWithModelFile(app, word)) {
        i += 3;
        continue;
      }
      app.csvMask |= 2;
      if (x < 0 || y < 0 || z < 0) {
        con() << "error: calculation area (" << x << "," << y << "," << z
              << ") must not be negative.\n";
        return -1;
      }
      model.areaX = x;
      model.areaY = y;
      model.areaZ = z;
      if (!model.allocateCells()) return -2;
      i += 3;
      continue;
    }
    if (word == "-unit" && remain >= 3) {
      float x = 0.0f, y = 0.0f, z = 0.0f;
      if (!ReadFloatArg(word, arg(1), x) || !ReadFloatArg(word, arg(2), y) ||
          !ReadFloatArg(word, arg(3), z))
        return -1;
      app.csvMask |= 4;
      model.unitX = x;
      model.unitY = y;
      model.unitZ = z;
      i += 3;
      continue;
    }
    if (word == "-layer" && remain >= 2) {
      int z = 0;
      if (!ReadIntArg(word, arg(1), z)) return -1;
      if (ignoredWithModelFile(app, word)) {
        i += 2;
        continue;
      }
      if (!(app.csvMask & 2)) {
        con() << "error: set -area before -layer...\n";
        return -2;
      }
      app.csvMask |= 8;
      if (!ReadCsvLayer(model, model.areaX, model.areaY, z, arg(2))) return -2;
      i += 2;
      continue;
    }
    if (word == "-csv" && remain >= 4) {
      int x = 0, y = 0, z = 0;
      if (!ReadIntArg(word, arg(1), x) || !ReadIntArg(word, arg(2), y) ||
          !ReadIntArg(word, arg(3), z))
        return -1;
      app.csvMask |= 8;
      if (!ReadCsvLayer(model, x, y, z, arg(4))) return -2;
      i += 4;
      continue;
    }
    if (word == "-timelog" && remain >= 1) {
      eng.timeExtension = arg(1);
      i += 1;
      continue;
    }
    if (word == "-freqlog" && remain >= 1) {
      eng.freqExtension = arg(1);
      i += 1;
      continue;
    }
    if (word == "-n" && remain >= 1) {
      int steps = 0;
      if (!ReadIntArg(word, arg(1), steps)) return -1;
      if (steps > kStepLimitMax) {
        con() << "warning: #steps have to be less than " << kStepLimitMax << ".\n";
        steps = kStepLimitMax;
      }
      eng.requestedStepLimit = steps;
      eng.sam.stepLimit = steps;
      i += 1;
      continue;
    }
    if (word == "-minfreq" && remain >= 1) {
      float f = 0.0f;
      if (!ReadFloatArg(word, arg(1), f)) return -1;
      if (!(f > 0.0f)) {
        con() << "warning: minfreq have to be positive.\n";
        f = 0.0f;
      }
      eng.minFreq = f;
      i += 1;
      continue;
    }
    // Only a program that carries the GPU back end knows -cuda.
    if (word == "-cuda" && remain >= 1 && InstalledGpuBackend()) {
      int gpu = 0;
      if (!ReadIntArg(word, arg(1), gpu)) return -1;
      if (gpu < 0) {
        con() << "error: GPU# have to be more than 0.\n";
        return -1;
      }
      eng.cudaFlag = 1;
      eng.gpuNumber = static_cast<uint32_t>(gpu);
      i += 1;
      continue;
    }
    if (word == "-vtk" && remain >= 2) {
      int every = 0;
      if (!ReadIntArg(word, arg(1), every)) return -1;
      if (every < 1) {
        con() << "error: -vtk needs a step interval of at least 1 (" << arg(1) << ").\n";
        return -1;
      }
      if (app.vtkEvery > 0) {
        con() << "error: -vtk is given twice (" << app.vtkPrefix << " & " << arg(2)
              << "); one snapshot series per run.\n";
        return -1;
      }
      if (const std::string why = CheckVtkPrefix(arg(2)); !why.empty()) {
        con() << "error: -vtk " << why << ".\n";
        return -1;
      }
      app.vtkEvery = every;
      app.vtkPrefix = arg(2);
      i += 2;
      continue;
    }
    if (word == "-nf2ff" && remain >= 2) {
      if (!ReadFarFieldFrequencies(arg(1), app.nf2ff)) return -1;
      app.nf2ff.prefix = arg(2);
      if (app.nf2ff.prefix.empty()) {
        con() << "error: -nf2ff needs a file name prefix.\n";
        return -1;
      }
      i += 2;
      continue;
    }
    if (word == "-nf2ff-box" && remain >= 6) {
      SurfaceBox& b = app.nf2ff.box;
      int* corner[6] = {&b.x0, &b.y0, &b.z0, &b.x1, &b.y1, &b.z1};
      for (int k = 0; k < 6; ++k)
        if (!ReadIntArg(word, arg(k + 1), *corner[k])) return -1;
      app.nf2ff.haveBox = true;
      i += 6;
      continue;
    }
    if (word == "-pml" && remain >= 1) {
      if (!ReadPmlCells(eng, arg(1))) return -1;
      i += 1;
      continue;
    }
    if (word == "-sparam" && remain >= 2) {
      float fmax = 0.0f;
      if (!ReadFloatArg(word, arg(1), fmax)) return -1;
      if (!(fmax > 0.0f) || !std::isfinite(fmax)) {
        con() << "error: -sparam needs a positive frequency (" << arg(1) << ").\n";
        return -1;
      }
      if (std::string(arg(2)).empty()) {
        con() << "error: -sparam needs a file name prefix.\n";
        return -1;
      }
      app.sparamMax = fmax;
      app.sparamPrefix = arg(2);
      app.interactive = false;
      i += 2;
      continue;
    }
    if (word == "-batch") {
      app.interactive = false;
      continue;
    }
    if (word == "-far") {
      app.farField = 1;
      continue;
    }
    if (word == "-avgmat") {
      eng.averageMaterials = true;
      continue;
    }
    // Any other word names a model file.
    if (RefuseUnknownOption(word)) return -1;
    if (!app.project.fileName.empty()) {
      con() << "error: duplicate FDTD_FILE name. (" << bareName(app.project) << " & " << word
            << ")\n";
      return -1;
    }
    if (!ReadProject(app.project, word)) return -1;
    warnReplacedByModelFile(app);
    if (!set_data(app.project, model, app.farField)) {
      con() << "error: unknown but fail while data set.(" << app.project.fileName << ")\n";
      return -1;
    }
    for (int k = 0; k < kProjectSlots; ++k) defined[static_cast<std::size_t>(k)] = true;
  }
  return finishCommandLine(app, defined);
}

int ProgramMain(int argc, char** argv, WindowEntry window) {
  initConsole();
  con() << "TAVRO version 2.15  3-D FDTD electromagnetic field simulator\n";
  if (omp_get_max_threads() > kMaxThreads) omp_set_num_threads(kMaxThreads);

  auto app = std::make_unique<App>();
  const int status = ParseCommandLine(*app, argc, argv);
  if (status != kContinue) return status;

  if (app->csvMask == 0 && app->project.fileName.empty()) {
    if (!MakeDemoProject(app->project, app->model)) return -2;
  }
  if (!set(app->engine, app->model)) return -2;
  FarFieldRecorder farField;
  if (app->nf2ff.active()) {
    if (app->interactive)
      con() << "warning: -nf2ff records the far field of batch runs only (-batch).\n";
    else if (!PrepareFarField(app->nf2ff, app->engine, farField))
      return -1;
  }

  if (app->interactive) {
    if (window) return window(*app, argc, argv);
    con() << "error: this program has no window; add -batch to run the model.\n";
    return 1;
  }

  if (app->sparamMax > 0.0) return RunSparam(*app, farField.ready() ? &farField : nullptr);

  const std::time_t start = std::time(nullptr);
  // Field snapshots: <prefix>_<step>.vti and the collection <prefix>.pvd.
  VtkSeries series(app->vtkPrefix);
  StepHook snapshots;
  bool snapshotsOk = true;
  if (app->vtkEvery > 0) {
    snapshots.every = app->vtkEvery;
    // After a snapshot that cannot be written the run goes on without them;
    // its warning starts on a line of its own, below the progress line.
    snapshots.call = [&](int64_t steps) {
      if (!snapshotsOk) return;
      std::ostringstream warning;
      std::ostream& console = con();
      setConsole(&warning);
      snapshotsOk = series.snapshot(app->engine, app->model, steps);
      setConsole(&console);
      if (!snapshotsOk)
        con() << "\n" << warning.str() << "warning: no further VTK snapshots in this run.\n";
    };
  }
  // The far field is recorded after every time step: its hook runs every
  // step (so the run takes single steps instead of pairs) and takes the
  // snapshots along.
  StepHook everyStep;
  if (farField.ready()) {
    everyStep.every = 1;
    everyStep.readsCompact = true;
    everyStep.call = [&](int64_t steps) {
      farField.record(app->engine);
      if (snapshots.every > 0 && steps % snapshots.every == 0) {
        syncRecords(app->engine);
        snapshots.call(steps);
      }
    };
  }
  const bool complete = RunBatch(app->engine, farField.ready() ? &everyStep : &snapshots);
  if (farField.ready()) app->engine.failedResultFiles += WriteFarFieldResults(app->nf2ff, farField);
  const std::time_t end = std::time(nullptr);
  // A failed GPU run has written nothing; its status is that of a failed
  // set-up.
  if (app->engine.gpuFailed) return -2;
  // An interrupted run has written what it recorded; its status says so.
  if (!complete) return 128 + LastStopSignal();
  con() << "- FDTD calculation complete.\n";
  con() << "calculated time : " << app->engine.sam.time << "[sec]\n";
  con() << "calculated step : " << app->engine.sam.stepLimit << "[steps]\n";
  con() << "execution time  : " << static_cast<long long>(end - start) << "[sec]\n";
  if (app->engine.failedResultFiles > 0) {
    con() << "error: " << app->engine.failedResultFiles
          << " result file(s) could not be written.\n";
    return kStatusResultFiles;
  }
  return 0;
}

}  // namespace tavro
