#include "app/far_field_run.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "engine/console.h"
#include "engine/nf2ff_transform.h"
#include "files/far_field_file.h"

namespace tavro {

namespace {

std::string trimmed(const std::string& s) {
  const std::size_t a = s.find_first_not_of(" \t");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

}  // namespace

bool ReadFarFieldFrequencies(const char* text, FarFieldOptions& opt) {
  opt.freqs.clear();
  opt.freqTexts.clear();
  const std::string all = text;
  std::size_t at = 0;
  while (true) {
    const std::size_t comma = all.find(',', at);
    const std::string word =
        trimmed(all.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
    char* end = nullptr;
    const double f = std::strtod(word.c_str(), &end);
    const bool number = !word.empty() && end == word.c_str() + word.size() &&
                        word.find_first_of("xX") == std::string::npos;
    if (!number || !std::isfinite(f) || !(f > 0.0)) {
      con() << "error: -nf2ff needs frequencies above 0 [Hz], separated by commas, not '"
            << (word.empty() ? all : word) << "'.\n";
      return false;
    }
    if (std::find(opt.freqTexts.begin(), opt.freqTexts.end(), word) == opt.freqTexts.end()) {
      opt.freqs.push_back(f);
      opt.freqTexts.push_back(word);
    }
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return true;
}

bool PrepareFarField(const FarFieldOptions& opt, const SimulationEngine& eng,
                     FarFieldRecorder& rec) {
  int X = 0, Y = 0, Z = 0;
  drawnArea(eng.grid.desc, eng.pmlCells, X, Y, Z);
  const SurfaceBox box = opt.haveBox ? opt.box : DefaultSurfaceBox(X, Y, Z);
  if (!opt.haveBox && !(box.x0 < box.x1 && box.y0 < box.y1 && box.z0 < box.z1)) {
    con() << "error: the area (" << X << "," << Y << "," << Z
          << ") is too small for a far-field surface 3 cells inside its faces; give "
             "-nf2ff-box.\n";
    return false;
  }
  const double cell = std::max({double(eng.sam.dx), double(eng.sam.dy), double(eng.sam.dz)});
  for (std::size_t i = 0; i < opt.freqs.size(); ++i) {
    const double cells = kLightSpeed / opt.freqs[i] / cell;
    if (cells < 10.0)
      con() << "warning: -nf2ff " << opt.freqTexts[i] << "[Hz] has only " << cells
            << " cells a wavelength (10 at least); its far field is not accurate.\n";
  }
  return rec.prepare(eng, opt.freqs, box);
}

namespace {

// Writes the results of every frequency; `port` adds the port's name tag and
// efficiency line.
int writeResults(const FarFieldOptions& opt, const FarFieldRecorder& rec,
                 const PortFarField* port) {
  if (!rec.ready()) return 0;
  con() << "- Output far field files...\n";
  int failed = 0;
  const std::string tag = port ? "_port" + std::to_string(port->number) : "";
  for (std::size_t f = 0; f < opt.freqs.size(); ++f) {
    const FarFieldPattern pat = ComputePattern(rec, f);
    const std::string path = opt.prefix + tag + "_" + opt.freqTexts[f] + ".txt";
    if (!WriteFarFieldFile(path, opt.freqs[f], pat, rec)) ++failed;
    if (!(pat.power > 0.0))
      con() << "warning: no power reached the far-field surface at " << opt.freqs[f]
            << "[Hz]; the directivity is undefined.\n";
    con() << "directivity : " << ToDbi(pat.maxDirectivity) << "[dBi] at theta=" << pat.maxTheta
          << " phi=" << pat.maxPhi << " (" << opt.freqs[f] << "[Hz])\n";
    con() << "radiated power : " << pat.power << "[W]\n";
    if (!port) continue;
    const double accepted = f < port->accepted.size() ? port->accepted[f] : 0.0;
    if (accepted > 0.0)
      con() << "radiation efficiency : " << pat.power / accepted << " (port " << port->number
            << ", " << opt.freqs[f] << "[Hz])\n";
    else
      con() << "warning: port " << port->number << " accepted no power at " << opt.freqs[f]
            << "[Hz]; its radiation efficiency is undefined.\n";
  }
  return failed;
}

}  // namespace

int WriteFarFieldResults(const FarFieldOptions& opt, const FarFieldRecorder& rec) {
  return writeResults(opt, rec, nullptr);
}

int WritePortFarFieldResults(const FarFieldOptions& opt, const FarFieldRecorder& rec,
                             const PortFarField& port) {
  return writeResults(opt, rec, &port);
}

}  // namespace tavro
