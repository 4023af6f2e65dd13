#include "app/sparam_driver.h"

#include <algorithm>
#include <cmath>
#include <csignal>
#include <functional>
#include <string>

#include "app/far_field_run.h"
#include "app/stop_signals.h"
#include "engine/console.h"
#include "engine/sparam.h"
#include "files/touchstone.h"

namespace tavro {

namespace {

// What the -sparam run leaves out, and what it cannot do.
bool checkSparam(const App& app, const SimulationEngine& eng) {
  const int n = static_cast<int>(eng.ports.list.size());
  if (n == 0) {
    con() << "error: -sparam needs at least one port (a PORT:<D>:<R> cell).\n";
    return false;
  }
  const double fmax = app.sparamMax;
  // The pulse must span some steps to carry its spectrum.
  const double tau = std::sqrt(std::log(10.0)) / (M_PI * fmax);
  if (tau < 4.0 * static_cast<double>(eng.sam.dt)) {
    con() << "error: -sparam " << fmax << "[Hz] is too high for the time step " << eng.sam.dt
          << "[sec]; use at most " << std::sqrt(std::log(10.0)) / (M_PI * 4.0 * eng.sam.dt)
          << "[Hz].\n";
    return false;
  }
  const double cell = std::fmax(eng.sam.dx, std::fmax(eng.sam.dy, eng.sam.dz));
  if (kLightSpeed / fmax < 10.0 * cell)
    con() << "warning: at " << fmax << "[Hz] a wavelength spans fewer than 10 cells; the "
          << "S-parameters near it are coarse.\n";
  if (eng.sam.sourceCount > 0)
    con() << "warning: the model's " << eng.sam.sourceCount
          << " source(s) also run in every port's run and enter its S-parameters.\n";
  if (!eng.timeExtension.empty() || !eng.freqExtension.empty() || app.vtkEvery > 0)
    con() << "warning: -sparam writes only the Touchstone file; -timelog, -freqlog and -vtk "
             "are ignored.\n";
  return true;
}

}  // namespace

int RunSparam(App& app, FarFieldRecorder* farField) {
  SimulationEngine& eng = app.engine;
  if (!checkSparam(app, eng)) return -1;
  const int n = static_cast<int>(eng.ports.list.size());
  StopSignals signals;
  SparamResult r = NewSparamResult(eng, app.sparamMax);
  int failedFiles = 0;  // far-field files that could not be written
  for (int j = 0; j < n; ++j) {
    int shown = 1;  // whole dB last shown (never positive)
    auto progress = [&](double time, double db) {
      const int whole = static_cast<int>(std::floor(db));
      if (whole == shown) return;
      shown = whole;
      con() << "\r- FDTD calculation port " << j + 1 << " of " << n << " "
            << static_cast<float>(time) << "sec energy " << whole << "dB of peak.  ";
    };
    con() << "\r- FDTD calculation port " << j + 1 << " of " << n << " starts.";
    // With -nf2ff the far field is recorded after every step of each run.
    std::function<void()> record;
    if (farField) {
      farField->restart();
      record = [&] { farField->record(eng); };
    }
    const PortRunEnd end = RunPortExcitation(eng, j, app.sparamMax, &g_batchStop, progress, record);
    con() << "\r" << std::string(78, ' ') << "\r";
    if (end.stopped) break;
    if (end.unstable) {
      con() << "error: port " << j + 1 << " of " << n << ": the fields grew without bound after "
            << end.steps << " steps; no S-parameters are written.\n";
      return -2;
    }
    AddSparamColumn(eng, j, r);
    if (end.decayed)
      con() << "- port " << j + 1 << " of " << n << ": energy below " << kSparamDecayDb
            << "dB of its peak after " << end.steps << " steps (" << static_cast<float>(end.time)
            << "sec).\n";
    else
      con() << "warning: port " << j + 1 << " of " << n << ": the step limit ended the run "
            << "after " << end.steps << " steps at " << static_cast<float>(end.decayDb)
            << "dB of the peak energy; raise -n for accurate S-parameters.\n";
    if (farField) {
      const PortFarField port{eng.ports.list[static_cast<size_t>(j)].number,
                              AcceptedPower(eng, j, app.nf2ff.freqs, farField->steps())};
      failedFiles += WritePortFarFieldResults(app.nf2ff, *farField, port);
    }
  }
  const std::string name = TouchstoneName(app.sparamPrefix, n);
  if (g_batchStop != 0) {
    const int done = static_cast<int>(std::count(r.excited.begin(), r.excited.end(), true));
    con() << "warning: calculation interrupted after " << done << " of " << n << " ports; "
          << (done > 0 ? "their S-parameters go to '" + name + ".partial'" : "nothing is written")
          << ".\n";
    if (done > 0) WritePartialSparameters(r, name + ".partial");
    return 128 + g_batchStop;
  }
  con() << "- Output " << name << "...\n";
  if (!WriteTouchstone(r, name)) return kStatusResultFiles;
  if (failedFiles > 0) {
    con() << "error: " << failedFiles << " result file(s) could not be written.\n";
    return kStatusResultFiles;
  }
  con() << "- FDTD calculation complete.\n";
  return 0;
}

}  // namespace tavro
