// The Python extension module tavro._core: one Model object per simulation,
// each with its own model record, project and engine, so that several models
// live side by side in one process. Every operation that can fail raises a
// Python exception carrying the program's own message and leaves the object
// as it was before the call.
#include <omp.h>
#include <pybind11/complex.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <signal.h>

#include <cctype>
#include <cmath>
#include <csignal>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/conversion.h"
#include "app/presets.h"
#include "engine/compact_state.h"
#include "engine/console.h"
#include "engine/field_kernels.h"
#include "engine/field_update.h"
#include "engine/grid_index.h"
#include "engine/material_axes.h"
#include "engine/pml.h"
#include "engine/setup.h"
#include "engine/sparam.h"
#include "files/csv_layer.h"
#include "files/project.h"
#include "files/result_files.h"
#include "files/spectrum.h"
#include "files/touchstone.h"
#include "files/vtk_snapshot.h"
#include "python/far_field_binding.h"
#include "python/module_helpers.h"

namespace py = pybind11;

namespace tavro {
namespace {

using namespace pymodule;

// Calls of advance() with at least this many steps step the compact state.
constexpr int64_t kCompactSteps = 16;

class PyModel {
 public:
  PyModel() : engine_(std::make_unique<SimulationEngine>()) {}

  // --- model building -------------------------------------------------------

  void setArea(int x, int y, int z) {
    if (x < 0 || y < 0 || z < 0)
      fail(PyExc_ValueError, "calculation area (" + std::to_string(x) + "," + std::to_string(y) +
                                 "," + std::to_string(z) + ") must not be negative.");
    // A new record with the old materials and units, so that a failed
    // allocation leaves this one as it was.
    ModelRecord fresh = withTables();
    fresh.areaX = x;
    fresh.areaY = y;
    fresh.areaZ = z;
    Capture cap;
    if (!fresh.allocateCells()) raiseFailure(cap.text(), "can't allocate memory for data.");
    model_ = std::move(fresh);
  }

  void setUnit(float x, float y, float z) {
    model_.unitX = x;
    model_.unitY = y;
    model_.unitZ = z;
  }

  void setMaterial(int id, const py::handle& value, const std::string& axis) {
    checkId(id);
    const Material m = materialOf(value);
    if (!SetMaterialOnAxes(model_, id, m, axis))
      fail(PyExc_ValueError, "axis must be 'x', 'y' or 'z' (not '" + axis + "')");
  }

  py::tuple material(int id, const std::string& axis) const {
    checkId(id);
    const auto& table = axis == "y"   ? model_.materialY
                        : axis == "z" ? model_.materialZ
                                      : model_.materialX;
    return py::make_tuple(table[id].sg, table[id].er, table[id].ur);
  }

  // Material IDs from an integer array placed with its first element at
  // cell (x, y, z): a 3-D array fills a box, a 2-D array an X-Y layer.
  void setIds(const py::array& ids, int x, int y, int z) {
    if (!py::isinstance<py::array_t<int64_t>>(ids) && ids.dtype().kind() != 'i' &&
        ids.dtype().kind() != 'u')
      fail(PyExc_TypeError, "material IDs must be an integer array");
    if (ids.ndim() != 2 && ids.ndim() != 3)
      fail(PyExc_ValueError, "material IDs must be a 2-D layer or a 3-D box of cells");
    const auto a = py::array_t<int64_t, py::array::c_style | py::array::forcecast>::ensure(ids);
    const int64_t nx = a.shape(0), ny = a.shape(1), nz = a.ndim() == 3 ? a.shape(2) : 1;
    if (x < 0 || y < 0 || z < 0 || x + nx > model_.areaX || y + ny > model_.areaY ||
        z + nz > model_.areaZ || model_.data.size() != model_.cellCount())
      fail(PyExc_ValueError, "material IDs of shape (" + std::to_string(nx) + "," +
                                 std::to_string(ny) + "," + std::to_string(nz) + ") at (" +
                                 std::to_string(x) + "," + std::to_string(y) + "," +
                                 std::to_string(z) + ") do not fit the calculation area (" +
                                 std::to_string(model_.areaX) + "," + std::to_string(model_.areaY) +
                                 "," + std::to_string(model_.areaZ) + ")");
    const int64_t* v = a.data();
    const int64_t count = nx * ny * nz;
    for (int64_t k = 0; k < count; ++k)
      if (v[k] < 0 || v[k] >= kMaterialCount)
        fail(PyExc_ValueError, "material ID " + std::to_string(v[k]) + " is outside 0 to " +
                                   std::to_string(kMaterialCount - 1));
    for (int64_t i = 0; i < nx; ++i)
      for (int64_t j = 0; j < ny; ++j)
        for (int64_t l = 0; l < nz; ++l)
          model_.data[model_.index(static_cast<int>(x + i), static_cast<int>(y + j),
                                   static_cast<int>(z + l))] =
              static_cast<int32_t>(v[(i * ny + j) * nz + l]);
  }

  py::array_t<int32_t> ids() const {
    py::array_t<int32_t> out({model_.areaX, model_.areaY, model_.areaZ});
    if (model_.data.size() == model_.cellCount() && model_.data.size() != 0)
      std::memcpy(out.mutable_data(), model_.data.data(), model_.data.bytes());
    else
      std::fill_n(out.mutable_data(), out.size(), 0);
    return readOnly(out);
  }

  // A source word (CW:Y:20:3e9) or its blank-separated form, stored as the CSV
  // reader stores it: the probe name is its type and the cell's coordinates.
  void setSource(int x, int y, int z, const std::string& text) {
    const uint64_t k = cell(x, y, z);
    std::string pin = text;
    for (char& c : pin)
      if (c == ':') c = ' ';
    std::istringstream words(pin);
    std::string first, second;
    if (!(words >> first >> second))
      fail(PyExc_ValueError, "a source needs its type and direction (not '" + text + "')");
    model_.setPin(k, pin);
    model_.splitPin(k);
    model_.setProbe(k, model_.tokens[0] + "_" + std::to_string(x) + "_" + std::to_string(y) + "_" +
                           std::to_string(z));
  }

  // A probe with exactly this name, which is also the base of its result files.
  void setProbe(int x, int y, int z, const std::string& name) {
    const uint64_t k = cell(x, y, z);
    if (name.empty() || name.find_first_of(" \t\r\n:") != std::string::npos)
      fail(PyExc_ValueError, "a probe name is one word without ':' (not '" + name + "')");
    for (const auto& [other, used] : model_.probes())
      if (used == name && other != k)
        fail(PyExc_ValueError, "duplicate probe name '" + name + "' at cells " + where(other) +
                                   " and " + where(k) +
                                   "; the result files would overwrite each other.");
    model_.setPin(k, name);
    model_.setProbe(k, name);
  }

  void clearCell(int x, int y, int z) {
    const uint64_t k = cell(x, y, z);
    model_.setPin(k, "");
    model_.setProbe(k, "");
  }

  py::tuple cellText(int x, int y, int z) const {
    const uint64_t k = cell(x, y, z);
    return py::make_tuple(model_.pin(k), model_.probe(k));
  }

  // -layer Z CSV (X = Y = 0: the whole area) or -csv X Y Z CSV.
  void readCsv(const std::string& path, int z, int x, int y) {
    if (model_.data.size() != model_.cellCount() || model_.cellCount() == 0)
      fail(PyExc_ValueError, "set -area before -layer...");
    Capture cap;
    const bool ok =
        ReadCsvLayer(model_, x > 0 ? x : model_.areaX, y > 0 ? y : model_.areaY, z, path);
    const std::string text = cap.text();
    if (!ok) raiseFailure(text, "can't read CSV '" + path + "'.");
    forwardWarnings(text);
  }

  // A model file read and converted as the command line does, on top of the
  // current material tables.
  void readFdtd(const std::string& path, bool far) {
    auto project = std::make_unique<Project>();
    ModelRecord fresh = withTables();
    Capture cap;
    if (!ReadProject(*project, path)) raiseFailure(cap.text(), "can't read '" + path + "'.");
    if (!set_data(*project, fresh, far ? 1 : 0))
      raiseFailure(cap.text(), "unknown but fail while data set.(" + project->fileName + ")");
    model_ = std::move(fresh);
  }

  void makeDemo() {
    ModelRecord fresh = withTables();
    Project project;
    Capture cap;
    if (!MakeDemoProject(project, fresh)) raiseFailure(cap.text(), "can't build the demo.");
    model_ = std::move(fresh);
  }

  // --- set-up and stepping --------------------------------------------------

  // Set-up as the command line does it after -n, -minfreq and -avgmat. The
  // previous run is dropped first; a failed set-up leaves the model not set up.
  std::string setup(int samples, float minfreq, bool avgmat) {
    if (samples < 0 || samples > kStepLimitMax)
      fail(PyExc_ValueError, "samples must be 0 to " + std::to_string(kStepLimitMax) + " (not " +
                                 std::to_string(samples) + ")");
    if (!(minfreq >= 0.0f) || !std::isfinite(minfreq))
      fail(PyExc_ValueError, "minfreq must be positive, or 0 for none");
    if (stepping_) fail(PyExc_RuntimeError, "the model is being stepped in another thread");
    refuseDuplicateProbes();
    engine_ = std::make_unique<SimulationEngine>();
    farField_.reset();
    ready_ = false;
    steps_ = 0;
    report_.clear();
    engine_->requestedStepLimit = samples;
    engine_->sam.stepLimit = samples;
    engine_->minFreq = minfreq;
    engine_->averageMaterials = avgmat;
    engine_->pmlCells = pml_;
    Capture cap;
    const int ok = set(*engine_, model_);
    const std::string text = cap.text();
    if (!ok) {
      engine_ = std::make_unique<SimulationEngine>();
      raiseFailure(text, "the set-up failed: a cell holds a material ID outside 0 to 65535.");
    }
    ready_ = true;
    report_ = text;
    return report_;
  }

  // Up to `steps` time steps, fewer when the last sample is taken first.
  // Returns the number done. Runs without the interpreter lock; Ctrl-C stops
  // it at the next step and raises KeyboardInterrupt.
  int64_t advance(int64_t steps) {
    requireReady();
    if (steps < 0) fail(PyExc_ValueError, "steps must not be negative");
    if (stepping_) fail(PyExc_RuntimeError, "the model is being stepped in another thread");
    InterruptCatch interrupt;
    int64_t done = 0;
    stepping_ = true;
    {
      py::gil_scoped_release release;
      SimulationEngine& eng = *engine_;
      FarFieldRecorder* far = farField_.recorder();
      // Longer runs step the compact state, as the batch run does. It stays
      // active between calls; what reads the records brings them up to date.
      if (steps >= kCompactSteps) beginCompactRun(eng);
      while (done < steps && eng.sam.stepCount < eng.sam.stepLimit && !g_interrupted) {
        if (far) {  // the far field is recorded after every single step
          stepBatch(eng);
          far->record(eng);
          ++done;
          continue;
        }
        // Two steps per sweep where both are wanted and the first leaves a
        // sample to take, as the batch run steps.
        FDTD_SAM next = eng.sam;
        advanceCounters(next);
        const bool two = steps - done >= 2 && next.stepCount < next.stepLimit;
        done += stepBatchSteps(eng, two ? 2 : 1);
      }
    }
    stepping_ = false;
    steps_ += done;
    interrupt.finish();
    return done;
  }

  // --- results --------------------------------------------------------------

  py::array_t<float> samples(int p) const {
    requireProbe(p);
    const FDTD_SAM& s = engine_->sam;
    const int64_t n = s.stepCount < s.stepLimit ? s.stepCount : s.stepLimit;
    py::array_t<float> out({n, int64_t{25}});
    float* o = out.mutable_data();
    for (int64_t k = 0; k < n; ++k)
      std::memcpy(o + 25 * k, engine_->samples[k * s.probeCount + p].v, sizeof(ProbeSample));
    return out;
  }

  py::array_t<float> spectrum(int p) {
    requireProbe(p);
    if (engine_->sam.stepCount < 2)
      fail(PyExc_ValueError,
           "probe " + engine_->spectrum.names[p] + " has fewer than two samples; run the model");
    ComputeSpectrum(*engine_, p);
    py::array_t<float> out({int64_t{kSpectrumPoints}, int64_t{25}});
    float* o = out.mutable_data();
    for (int k = 0; k < kSpectrumPoints; ++k) {
      ProbeSample r = engine_->spectrum.points[static_cast<size_t>(p) * kSpectrumPoints + k];
      // Slots the transform leaves alone carry no value.
      r.v[kSlotVz] = r.v[kSlotIz] = r.v[kSlotPz] = 0.0f;
      std::memcpy(o + 25 * k, r.v, sizeof(ProbeSample));
    }
    return out;
  }

  // E or H of every drawn cell as an (X, Y, Z, 3) array.
  py::array_t<float> field(bool magnetic) const {
    requireReady();
    syncRecords(*engine_);
    const GridDesc d = drawnDesc(*engine_);
    py::array_t<float> out({int64_t{d.nx}, int64_t{d.ny}, int64_t{d.nz}, int64_t{3}});
    float* o = out.mutable_data();
    for (int64_t x = 0; x < d.nx; ++x)
      for (int64_t y = 0; y < d.ny; ++y)
        for (int64_t z = 0; z < d.nz; ++z, o += 3) {
          if (magnetic) {
            const HCell& c = engine_->grid.h[drawnHIndex(*engine_, x, y, z)];
            o[0] = c.hx, o[1] = c.hy, o[2] = c.hz;
          } else {
            const ECell& c = engine_->grid.e[drawnEIndex(*engine_, x, y, z)];
            o[0] = c.ex, o[1] = c.ey, o[2] = c.ez;
          }
        }
    return readOnly(out);
  }

  // The result files of a batch run: all time-domain files, then the spectra
  // with their frequency-domain files. Returns the paths written.
  std::vector<std::string> writeResults(const std::string& timelog, const std::string& freqlog,
                                        const std::string& directory) {
    requireReady();
    if (!timelog.empty() && timelog == freqlog)
      fail(PyExc_ValueError, "timelog and freqlog name the same extension(" + timelog +
                                 "); the frequency files would overwrite the time files.");
    const std::string dir = directory.empty() || directory == "." ? "" : directory + "/";
    std::vector<std::string> written;
    Capture cap;
    const int probes = engine_->sam.probeCount;
    bool ok = true;
    for (int p = 0; p < probes && !timelog.empty(); ++p) {
      const std::string name = dir + engine_->spectrum.names[p] + "." + timelog;
      if (WriteTimeDomainFile(*engine_, p, name))
        written.push_back(name);
      else
        ok = false;
    }
    for (int p = 0; p < probes && !freqlog.empty(); ++p) {
      ComputeSpectrum(*engine_, p);
      const std::string name = dir + engine_->spectrum.names[p] + "." + freqlog;
      if (WriteFrequencyDomainFile(*engine_, p, name))
        written.push_back(name);
      else
        ok = false;
    }
    if (!ok) {
      std::string msg = cap.text();
      if (msg.rfind("warning: ", 0) == 0) msg = msg.substr(9);
      while (!msg.empty() && msg.back() == '\n') msg.pop_back();
      fail(PyExc_OSError, msg);
    }
    return written;
  }

  void writeVti(const std::string& path) const {
    requireReady();
    Capture cap;
    if (!WriteVtkImage(*engine_, model_, path)) fail(PyExc_OSError, warningText(cap.text()));
  }

  // The next snapshot of the series <prefix>: <prefix>_<step>.vti and the
  // collection <prefix>.pvd. A new prefix starts a new series.
  std::string snapshot(const std::string& prefix) {
    requireReady();
    if (!series_ || series_->prefix() != prefix) {
      if (const std::string why = CheckVtkPrefix(prefix); !why.empty())
        fail(PyExc_ValueError, "vtk_" + why);
      series_ = std::make_unique<VtkSeries>(prefix);
    }
    Capture cap;
    syncRecords(*engine_);
    if (!series_->snapshot(*engine_, model_, steps_)) fail(PyExc_OSError, warningText(cap.text()));
    return series_->files().back();
  }

  // --- lumped ports and S-parameters ----------------------------------------

  // PORT:<axis>:<R>[:<number>] in cell (x, y, z), stored as the CSV reader
  // stores it; the set-up numbers the port and names its probe.
  void setPort(int x, int y, int z, const std::string& axis, double R, py::object number) {
    const uint64_t k = cell(x, y, z);
    std::string d = axis;
    for (char& c : d) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (d != "X" && d != "Y" && d != "Z")
      fail(PyExc_ValueError, "axis must be 'x', 'y' or 'z' (not '" + axis + "')");
    if (!(R > 0.0) || !std::isfinite(static_cast<float>(R)))
      fail(PyExc_ValueError, "the port resistance must be a positive number of ohms");
    std::ostringstream pin;
    pin.precision(9);
    pin << "PORT " << d << " " << R;
    if (!number.is_none()) {
      const long long n = number.cast<long long>();
      if (n < 1) fail(PyExc_ValueError, "the port number must be 1 or more");
      pin << " " << n;
    }
    model_.setPin(k, pin.str());
    model_.setProbe(
        k, "PORT_" + std::to_string(x) + "_" + std::to_string(y) + "_" + std::to_string(z));
  }

  // One run per port, as -sparam: the frequencies and S[f, i, j]. Ctrl-C
  // stops at the next step and raises KeyboardInterrupt.
  py::tuple sparameters(double fmax) {
    requireReady();
    if (!(fmax > 0.0) || !std::isfinite(fmax)) fail(PyExc_ValueError, "fmax must be positive");
    SimulationEngine& eng = *engine_;
    const int n = static_cast<int>(eng.ports.list.size());
    if (n == 0) fail(PyExc_ValueError, "the model has no port; add one with set_port()");
    InterruptCatch interrupt;
    auto result = std::make_unique<SparamResult>(NewSparamResult(eng, fmax));
    int unstable = 0;  // the port whose run overflowed
    stepping_ = true;
    {
      py::gil_scoped_release release;
      for (int j = 0; j < n && !g_interrupted; ++j) {
        const PortRunEnd end = RunPortExcitation(eng, j, fmax, &g_interrupted, nullptr);
        steps_ += end.steps;
        if (end.unstable) {
          unstable = j + 1;
          break;
        }
        if (!end.stopped) AddSparamColumn(eng, j, *result);
      }
    }
    stepping_ = false;
    interrupt.finish();
    if (unstable)
      fail(PyExc_RuntimeError,
           "the fields grew without bound in the run of port " + std::to_string(unstable));
    sparam_ = std::move(result);
    py::array_t<double> f(kSparamPoints);
    for (int k = 0; k < kSparamPoints; ++k) f.mutable_data()[k] = sparam_->frequency(k);
    py::array_t<std::complex<double>> s({int64_t{kSparamPoints}, int64_t{n}, int64_t{n}});
    std::memcpy(s.mutable_data(), sparam_->s.data(), sparam_->s.size() * sizeof(sparam_->s[0]));
    return py::make_tuple(f, s);
  }

  void writeTouchstone(const std::string& path) const {
    if (!sparam_ || !sparam_->complete())
      fail(PyExc_ValueError, "no S-parameters yet; call sparameters() first");
    Capture cap;
    if (!WriteTouchstone(*sparam_, path)) raiseFailure(cap.text(), "can't write '" + path + "'.");
  }

  // --- state ----------------------------------------------------------------

  py::tuple area() const { return py::make_tuple(model_.areaX, model_.areaY, model_.areaZ); }
  py::tuple unit() const { return py::make_tuple(model_.unitX, model_.unitY, model_.unitZ); }
  bool ready() const { return ready_; }
  const std::string& report() const { return report_; }
  int64_t steps() const { return steps_; }
  // -pml for the next set-up: the cells of the absorbing layer, 0 = none.
  void setPml(int cells) {
    if (cells < 0 || cells > kPmlMaxCells)
      fail(PyExc_ValueError, "pml must be 0 to " + std::to_string(kPmlMaxCells) + " cells (not " +
                                 std::to_string(cells) + ")");
    pml_ = cells;
  }

  int sampleCount() const { return engine_->sam.stepCount; }
  int sampleLimit() const { return engine_->sam.stepLimit; }
  int cull() const { return engine_->sam.cull; }
  float time() const { return engine_->sam.time; }
  float dt() const { return engine_->sam.dt; }
  std::vector<std::string> probeNames() const {
    return ready_ ? engine_->spectrum.names : std::vector<std::string>{};
  }
  std::vector<int64_t> probeCell(int p) const {
    requireProbe(p);
    int64_t x, y, z;
    drawnCoords(*engine_, static_cast<uint64_t>(engine_->probeCells[p]), x, y, z);
    return {x, y, z};
  }

  // --- far field (far_field_binding.h) -------------------------------------

  std::string recordFarField(const std::vector<double>& freqs, const std::vector<int>& box) {
    requireReady();
    if (steps_ != 0)
      fail(PyExc_RuntimeError,
           "the far field is recorded from the first step; call setup() again first");
    std::string console;
    const std::string error = farField_.start(*engine_, freqs, box, console);
    if (!error.empty()) fail(PyExc_ValueError, error);
    return console;
  }

  py::tuple farField(double freq, const std::vector<double>& theta,
                     const std::vector<double>& phi) {
    if (theta.size() != phi.size()) fail(PyExc_ValueError, "theta and phi differ in length");
    std::size_t f = 0;
    const std::string error = farField_.find(freq, f);
    if (!error.empty()) fail(PyExc_ValueError, error);
    std::vector<FarFieldPoint> pts;
    std::vector<double> dbi;
    farField_.evaluate(f, theta, phi, pts, dbi);
    const py::ssize_t n = static_cast<py::ssize_t>(pts.size());
    py::array_t<std::complex<double>> eTheta(n), ePhi(n);
    py::array_t<double> d(n);
    for (py::ssize_t i = 0; i < n; ++i) {
      eTheta.mutable_data()[i] = pts[static_cast<std::size_t>(i)].eTheta;
      ePhi.mutable_data()[i] = pts[static_cast<std::size_t>(i)].ePhi;
      d.mutable_data()[i] = dbi[static_cast<std::size_t>(i)];
    }
    return py::make_tuple(eTheta, ePhi, d);
  }

  double farFieldPower(double freq) {
    std::size_t f = 0;
    const std::string error = farField_.find(freq, f);
    if (!error.empty()) fail(PyExc_ValueError, error);
    return farField_.power(f);
  }

 private:
  // "(x,y,z)" of cell index k.
  std::string where(uint64_t k) const {
    const uint64_t yz = static_cast<uint64_t>(model_.areaY) * model_.areaZ;
    const uint64_t x = k / yz, y = k % yz / model_.areaZ, z = k % model_.areaZ;
    return "(" + std::to_string(x) + "," + std::to_string(y) + "," + std::to_string(z) + ")";
  }
  // Two probes of one name (a CSV file, a source's generated name) would
  // write the same result files and hide one another's results.
  void refuseDuplicateProbes() const {
    std::map<std::string, uint64_t> seen;
    for (const auto& [k, name] : model_.probes()) {
      const auto [it, fresh] = seen.emplace(name, k);
      if (!fresh)
        fail(PyExc_ValueError, "duplicate probe name '" + name + "' at cells " + where(it->second) +
                                   " and " + where(k) +
                                   "; the result files would overwrite each other.");
    }
  }
  void checkId(int id) const {
    if (id >= kMaterialCount)
      fail(PyExc_ValueError, "ID must be less than " + std::to_string(kMaterialCount) + ".");
    if (id < 0) fail(PyExc_ValueError, "ID must not be negative (" + std::to_string(id) + ").");
  }
  uint64_t cell(int x, int y, int z) const {
    if (x < 0 || y < 0 || z < 0 || x >= model_.areaX || y >= model_.areaY || z >= model_.areaZ)
      fail(PyExc_ValueError, "cell (" + std::to_string(x) + "," + std::to_string(y) + "," +
                                 std::to_string(z) + ") is outside the calculation area (" +
                                 std::to_string(model_.areaX) + "," + std::to_string(model_.areaY) +
                                 "," + std::to_string(model_.areaZ) + ")");
    return model_.index(x, y, z);
  }
  // Results are read only between steps: a model stepped in another thread
  // is writing them.
  void requireReady() const {
    if (!ready_) fail(PyExc_ValueError, "the model is not set up; call setup() first");
    if (stepping_) fail(PyExc_RuntimeError, "the model is being stepped in another thread");
  }
  void requireProbe(int p) const {
    requireReady();
    if (p < 0 || p >= engine_->sam.probeCount)
      fail(PyExc_ValueError, "no probe " + std::to_string(p) + " (the model has " +
                                 std::to_string(engine_->sam.probeCount) + ")");
  }
  static std::string warningText(std::string text) {
    if (text.rfind("warning: ", 0) == 0) text = text.substr(9);
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }
  // An empty record with this one's material tables and units.
  ModelRecord withTables() const {
    ModelRecord r;
    r.copyTablesAndUnits(model_);
    return r;
  }

  ModelRecord model_;
  std::unique_ptr<SimulationEngine> engine_;
  std::unique_ptr<VtkSeries> series_;
  std::unique_ptr<SparamResult> sparam_;  // the last sparameters()
  std::string report_;
  int64_t steps_ = 0;  // time steps since the set-up
  bool ready_ = false;
  bool stepping_ = false;
  FarFieldBinding farField_;  // record_far_field(); none by default
  int pml_ = 0;               // cells of the absorbing layer of the next set-up
};

}  // namespace
}  // namespace tavro

PYBIND11_MODULE(_core, m) {
  using tavro::PyModel;
  m.doc() = "Tavro FDTD engine";
  // Why a snapshot prefix cannot be used (empty text when it can).
  m.def("_vtk_prefix_problem", &tavro::CheckVtkPrefix);
  // The same thread cap as the program.
  if (omp_get_max_threads() > 12) omp_set_num_threads(12);

  py::class_<PyModel>(m, "Model")
      .def(py::init<>())
      .def("set_area", &PyModel::setArea, py::arg("x"), py::arg("y"), py::arg("z"))
      .def("set_unit", &PyModel::setUnit, py::arg("x"), py::arg("y"), py::arg("z"))
      .def("set_material", &PyModel::setMaterial, py::arg("id"), py::arg("material"),
           py::arg("axis") = "")
      .def("material", &PyModel::material, py::arg("id"), py::arg("axis") = "x")
      .def("set_ids", &PyModel::setIds, py::arg("ids"), py::arg("x") = 0, py::arg("y") = 0,
           py::arg("z") = 0)
      .def_property_readonly("ids", &PyModel::ids)
      .def("set_source", &PyModel::setSource)
      .def("set_probe", &PyModel::setProbe)
      .def("clear_cell", &PyModel::clearCell)
      .def("cell_text", &PyModel::cellText)
      .def("_read_csv", &PyModel::readCsv)
      .def("_read_fdtd", &PyModel::readFdtd)
      .def("_make_demo", &PyModel::makeDemo)
      .def("_setup", &PyModel::setup)
      .def("advance", &PyModel::advance, py::arg("steps"))
      .def("_samples", &PyModel::samples)
      .def("_spectrum", &PyModel::spectrum)
      .def("_field", &PyModel::field)
      .def("_write_results", &PyModel::writeResults)
      .def("write_vti", &PyModel::writeVti, py::arg("path"))
      .def("snapshot", &PyModel::snapshot, py::arg("prefix"))
      .def_property_readonly("area", &PyModel::area)
      .def_property_readonly("unit", &PyModel::unit)
      .def_property_readonly("ready", &PyModel::ready)
      .def_property_readonly("report", &PyModel::report)
      .def_property_readonly("steps", &PyModel::steps)
      .def_property_readonly("sample_count", &PyModel::sampleCount)
      .def_property_readonly("sample_limit", &PyModel::sampleLimit)
      .def_property_readonly("cull", &PyModel::cull)
      .def_property_readonly("time", &PyModel::time)
      .def_property_readonly("dt", &PyModel::dt)
      .def_property_readonly("probes", &PyModel::probeNames)
      .def("_probe_cell", &PyModel::probeCell)
      .def("_record_far_field", &PyModel::recordFarField)
      .def("_far_field", &PyModel::farField)
      .def("_far_field_power", &PyModel::farFieldPower)
      .def("_set_pml", &PyModel::setPml, py::arg("cells"))
      .def("set_port", &PyModel::setPort, py::arg("x"), py::arg("y"), py::arg("z"), py::arg("axis"),
           py::arg("R"), py::arg("number") = py::none())
      .def("sparameters", &PyModel::sparameters, py::arg("fmax"))
      .def("write_touchstone", &PyModel::writeTouchstone, py::arg("path"));
}
