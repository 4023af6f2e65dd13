#include "app/cli.h"

#include <omp.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <memory>

#include "app/conversion.h"
#include "app/presets.h"
#include "app/run_driver.h"
#include "engine/console.h"
#include "engine/setup.h"
#include "files/csv_layer.h"

namespace tavro {

namespace {

constexpr int kMaxThreads = 12;

// Decimal integer prefix (leading blanks, optional sign, digits; 0 when there
// is none). Values beyond the int range saturate instead of overflowing.
int parseInt(const char* text) {
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (end == text) return 0;
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// Decimal floating-point prefix as float (0 when there is none).
float parseFloat(const char* text) {
  char* end = nullptr;
  double v = std::strtod(text, &end);
  if (end == text) return 0.0f;
  return static_cast<float>(v);
}

void printUsage() {
  std::ostream& o = con();
  o << "usage: tavro [options] [FDTD_FILE]\n"
       "         FDTD_FILE            : input .fdtd file made by editor in tavro.\n"
       "options) -help                : message here.\n"
       "         -batch               : batch execution for quick calculation.\n"
       "         -n <STEP>            : maximum time step for FDTD calculation.\n";
#if defined(TAVRO_CUDA)
  o << "         -cuda <GPU#>         : FDTD calculation with CUDA on GPU#.\n";
#endif
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
       "                            F : frequency of the switch [Hz].\n";
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

}  // namespace

int ParseCommandLine(App& app, int argc, char** argv) {
  ModelRecord& model = app.model;
  SimulationEngine& eng = app.engine;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    const int remain = argc - 1 - i;  // words after this one
    auto arg = [&](int n) { return argv[i + n]; };

    if (word == "-help") {
      printUsage();
      return 0;
    }
    if ((word == "-mat" || word == "-matx" || word == "-maty" || word == "-matz") && remain >= 2) {
      app.csvMask |= 1;
      const int id = parseInt(arg(1));
      if (!checkMaterialId(id)) return -1;
      if (word == "-mat") {
        const Material m = MaterialFromText(arg(2));
        model.materialZ[id] = m;
        model.materialY[id] = m;
        model.materialX[id] = m;
      } else {
        const Material m = ParseMaterial(arg(2));
        std::vector<Material>& table = word == "-matx"
                                           ? model.materialX
                                           : (word == "-maty" ? model.materialY : model.materialZ);
        table[id] = m;
      }
      i += 2;
      continue;
    }
    if (word == "-area" && remain >= 3) {
      app.csvMask |= 2;
      const int x = parseInt(arg(1)), y = parseInt(arg(2)), z = parseInt(arg(3));
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
      app.csvMask |= 4;
      model.unitX = parseFloat(arg(1));
      model.unitY = parseFloat(arg(2));
      model.unitZ = parseFloat(arg(3));
      i += 3;
      continue;
    }
    if (word == "-layer" && remain >= 2) {
      if (!(app.csvMask & 2)) {
        con() << "error: set -area before -layer...\n";
        return -2;
      }
      app.csvMask |= 8;
      if (!ReadCsvLayer(model, model.areaX, model.areaY, parseInt(arg(1)), arg(2))) return -2;
      i += 2;
      continue;
    }
    if (word == "-csv" && remain >= 4) {
      app.csvMask |= 8;
      if (!ReadCsvLayer(model, parseInt(arg(1)), parseInt(arg(2)), parseInt(arg(3)), arg(4)))
        return -2;
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
      int steps = parseInt(arg(1));
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
      float f = parseFloat(arg(1));
      if (!(f > 0.0f)) {
        con() << "warning: minfreq have to be positive.\n";
        f = 0.0f;
      }
      eng.minFreq = f;
      i += 1;
      continue;
    }
#if defined(TAVRO_CUDA)
    if (word == "-cuda" && remain >= 1) {
      const int gpu = parseInt(arg(1));
      if (gpu < 0) {
        con() << "error: GPU# have to be more than 0.\n";
        return -1;
      }
      eng.cudaFlag = 1;
      eng.gpuNumber = static_cast<uint32_t>(gpu);
      i += 1;
      continue;
    }
#endif
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
    if (!app.project.fileName.empty()) {
      con() << "error: duplicate FDTD_FILE name. (" << bareName(app.project) << " & " << word
            << ")\n";
      return -1;
    }
    if (!ReadProject(app.project, word)) return -1;
    if (!set_data(app.project, model, app.farField)) {
      con() << "error: unknown but fail while data set.(" << app.project.fileName << ")\n";
      return -1;
    }
  }
  return kContinue;
}

int ProgramMain(int argc, char** argv) {
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

  if (app->interactive) {
    con() << "info: the interactive window is not built yet; add -batch to run the model.\n";
    return 1;
  }

  const std::time_t start = std::time(nullptr);
  const bool complete = RunBatch(app->engine);
  const std::time_t end = std::time(nullptr);
  // An interrupted run has written what it recorded; its status says so.
  if (!complete) return 128 + LastStopSignal();
  con() << "- FDTD calculation complete.\n";
  con() << "calculated time : " << app->engine.sam.time << "[sec]\n";
  con() << "calculated step : " << app->engine.sam.stepLimit << "[steps]\n";
  con() << "execution time  : " << static_cast<long long>(end - start) << "[sec]\n";
  return 0;
}

}  // namespace tavro
