// tavro_mpi: the batch run of tavro_cpu on a box split into slabs along x,
// one slab per MPI process. Every process reads the command line and the
// model, keeps the planes of its slab and steps them, exchanging the planes
// next to each slab boundary; rank 0 alone prints and writes the results,
// which are those of the single process bit for bit.
#include <mpi.h>
#include <omp.h>

#include <ctime>
#include <memory>
#include <sstream>

#include "app/cli.h"
#include "app/conversion.h"
#include "app/mpi/mpi_comm.h"
#include "app/mpi/slab.h"
#include "app/run_driver.h"
#include "app/stop_signals.h"
#include "engine/compact_state.h"
#include "engine/console.h"
#include "engine/field_kernels.h"
#include "engine/grid_index.h"
#include "engine/pml.h"
#include "engine/ports.h"
#include "engine/probes.h"
#include "engine/setup.h"
#include "engine/sources.h"

namespace tavro {

namespace {

constexpr int kMaxThreads = 12;
constexpr int kOk = 1;

// The console of one phase kept in a string; the previous console comes back
// at the end of the phase.
class KeptConsole {
 public:
  KeptConsole() : previous_(&con()) { setConsole(&text_); }
  ~KeptConsole() { finish(); }
  // Ends the phase: the console is the previous one again.
  std::string finish() {
    if (previous_) setConsole(previous_);
    previous_ = nullptr;
    return text_.str();
  }

 private:
  std::ostream* previous_;
  std::ostringstream text_;
};

// Options whose work tavro_mpi does not do, with what the user can do.
const char* refusedOption(const App& app, int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::string(argv[i]) == "-cuda") return "-cuda";
  if (app.sparamMax > 0.0) return "-sparam";
  if (app.nf2ff.active() || app.nf2ff.haveBox) return "-nf2ff";
  if (app.vtkEvery > 0) return "-vtk";
  return nullptr;
}

bool hasPorts(ModelRecord& model) {
  const uint64_t cells = model.cellCount();
  for (const auto& [k, text] : model.pins())
    if (k < cells && model.splitPin(k) >= 2 && isPortText(model)) return true;
  return false;
}

// The material, source and probe lines of the whole box, as the single
// process prints them, from lists set up on an engine that holds no grid:
// source texts are checked with the box's coordinates, and the lists give the
// result files their probe names and the spectra their source types. Only
// the process that prints (`count`) counts the cells of each material.
int wholeBoxLists(SimulationEngine& whole, const SimulationEngine& options, ModelRecord& model,
                  bool count) {
  whole.pmlCells = 0;
  whole.minFreq = options.minFreq;
  con() << "- material setting...\n";
  if (count) {
    std::vector<int32_t> used(kMaterialCount, 0);
    const uint64_t n = model.cellCount();
    for (uint64_t k = 0; k < n && k < model.data.size(); ++k) {
      const uint32_t id = static_cast<uint32_t>(model.data[k]);
      if (id < static_cast<uint32_t>(kMaterialCount)) ++used[id];
    }
    reportMaterials(model, used);
  }
  std::vector<int32_t> switchUse(kMaterialCount, 0);
  if (!sourceSetting(whole, model, switchUse)) return 0;
  specialMaterialReport(model, switchUse);
  return measureSetting(whole, model);
}

// Sources of the whole box as the set-up counts them: the model's and, with
// -avgmat, the holds of thin wires, each counted by the slab that owns it.
int64_t wholeSourceCount(const SimulationEngine& eng, const Slab& slab) {
  const uint64_t planeStride = stridesOf(eng.grid.desc).sx;
  const int64_t before = layerBeforeX(eng);
  int64_t own = 0;
  for (int32_t i = 0; i < eng.sam.sourceCount && static_cast<size_t>(i) < eng.sources.size(); ++i) {
    const int64_t x =
        static_cast<int64_t>(static_cast<uint64_t>(eng.sources[i].cell) / planeStride) - before;
    if (x >= slab.local(slab.x0) && x < slab.local(slab.x1)) ++own;
  }
  int64_t all = 0;
  MPI_Allreduce(&own, &all, 1, MPI_INT64_T, MPI_SUM, MPI_COMM_WORLD);
  return all;
}

// The calculation parameters of the whole box, then this run's slabs.
void report(const App& app, const SimulationEngine& whole, const SimulationEngine& eng,
            const World& w, int64_t sources, uint64_t haloBytes) {
  const ModelRecord& m = app.model;
  const FDTD_SAM& s = eng.sam;
  // The whole box's grid: the drawn area and the layer on all its faces.
  const uint64_t X = static_cast<uint64_t>(m.areaX), Y = static_cast<uint64_t>(m.areaY),
                 Z = static_cast<uint64_t>(m.areaZ), p = 2 * static_cast<uint64_t>(eng.pmlCells);
  auto estimate = [&](uint64_t grown) {
    return memoryEstimateFor(X + grown, Y + grown, Z + grown, static_cast<uint64_t>(sources),
                             static_cast<uint64_t>(whole.sam.probeCount), s.stepLimit);
  };
  const uint64_t bytes = estimate(p) + pmlBytes(eng.pmlCells, X, Y, Z);
  con() << "- calculation parameters...\n";
  con() << "area size : (" << m.areaX << "," << m.areaY << "," << m.areaZ << ")[grids]\n";
  if (eng.pmlCells > 0) {
    const uint64_t plain = estimate(0);
    reportPml(eng, bytes > plain ? bytes - plain : 0);
  }
  con() << "grid size : (" << s.dx << "," << s.dy << "," << s.dz << ")[m]\n";
  if (eng.averageMaterials) con() << "material : averaged onto the grid edges (-avgmat)\n";
  con() << "time resolution : " << s.dt << "[sec]\n";
  con() << "used memory : " << reportMbytes(bytes) << "[Mbytes]\n";
  if (s.cull != 0) con() << "min freq: " << eng.minFreq << "[Hz] (cull: " << s.cull << ")\n";
  if (w.size > 1)
    con() << "info: " << w.size << " processes, slabs of " << m.areaX / w.size << " to "
          << (m.areaX + w.size - 1) / w.size << " x planes; rank 0 uses "
          << memoryEstimateMbytes(eng) << "[Mbytes]; " << haloBytes / 2
          << "[bytes] cross each slab boundary per step.\n";
}

// The samples of every probe on rank 0, in the engine that writes the files.
bool collectResults(const World& w, SimulationEngine& eng, SimulationEngine& whole) {
  const int64_t records = eng.sam.stepCount;
  Buffer<ProbeSample> all;
  if (!GatherSamples(w, eng, records, whole.sam.probeCount, all, eng.sam.stepLimit)) return false;
  if (w.rank != 0) return true;
  eng.samples = std::move(all);
  eng.sam.probeCount = whole.sam.probeCount;
  eng.sam.sourceCount = whole.sam.sourceCount;
  eng.sources = std::move(whole.sources);
  eng.spectrum.names = std::move(whole.spectrum.names);
  eng.spectrum.points = std::move(whole.spectrum.points);
  return true;
}

int run(const World& w, int argc, char** argv) {
  con() << "TAVRO version 2.15  3-D FDTD electromagnetic field simulator\n";
  if (omp_get_max_threads() > kMaxThreads) omp_set_num_threads(kMaxThreads);
  auto app = std::make_unique<App>();

  // Reading the command line and the model: the same on every process.
  int status = kContinue;
  {
    KeptConsole kept;
    status = ParseCommandLine(*app, argc, argv);
    if (status == kContinue) {
      if (const char* option = refusedOption(*app, argc, argv)) {
        con() << "error: tavro_mpi does not run " << option << "; run the model with tavro_cpu.\n";
        status = -1;
      } else if (app->csvMask == 0 && app->project.fileName.empty() &&
                 !MakeDemoProject(app->project, app->model)) {
        status = -2;
      } else if (hasPorts(app->model)) {
        con() << "error: tavro_mpi does not run ports (PORT cells); run the model with "
                 "tavro_cpu.\n";
        status = -1;
      }
    }
    status = AgreeOnPhase(w, status, kContinue, kept.finish(), true);
  }
  if (status != kContinue) return status;
  app->interactive = false;

  // Sources and probes of the whole box: their lines, then the slab.
  SimulationEngine whole;
  Slab slab;
  {
    KeptConsole kept;
    status = wholeBoxLists(whole, app->engine, app->model, w.rank == 0) ? kOk : -2;
    std::string why;
    if (status == kOk && !SplitSlabs(app->model.areaX, w.size, w.rank, slab, why)) {
      con() << "error: " << why << ".\n";
      status = -1;
    }
    status = AgreeOnPhase(w, status, kOk, kept.finish(), true);
  }
  if (status != kOk) return status;

  // The set-up of the slab: its messages, not its report, reach the console.
  SimulationEngine& eng = app->engine;
  {
    KeptConsole kept;
    ModelRecord part;
    status = SlabModel(app->model, slab, part) ? kOk : -2;
    if (status == kOk) {
      // The cells of the whole box are no longer needed: the slab has its own.
      app->model.data.release();
      app->model.hide.release();
      eng.murNearX = !slab.hasLeft();
      eng.murFarX = !slab.hasRight();
      // The absorbing layer lies on the box's faces: along x where the slab
      // holds the face plane (its halo may reach a face it does not own, and
      // the set-up then sees the same cells beyond it as the whole box).
      eng.pmlNearX = slab.lo == 0;
      eng.pmlFarX = slab.hi == slab.areaX;
      eng.pmlBoxX0 = slab.lo;
      eng.pmlBoxX = slab.areaX;
      if (!set(eng, part)) status = -2;
    }
    status = AgreeOnPhase(w, status, kOk, kept.finish(), false);
  }
  if (status != kOk) return status;
  HaloExchange halo(slab, eng);
  report(*app, whole, eng, w, wholeSourceCount(eng, slab), halo.bytesPerBoundary());

  const std::time_t start = std::time(nullptr);
  FDTD_SAM& s = eng.sam;
  int stop = 0;
  // Each process steps the compact state where it serves its slab (the
  // halo exchange reads and writes whichever is stepped).
  beginCompactRun(eng);
  {
    StopSignals signals;
    int shown = -1;
    auto progress = [&](const FDTD_SAM& at) {
      const int percent = static_cast<int>(static_cast<int64_t>(at.stepCount) * 100 / at.stepLimit);
      if (percent != shown) {
        con() << "\r- FDTD calculation " << at.time << "sec " << percent << "% done.";
        shown = percent;
      }
    };
    while (s.stepCount < s.stepLimit) {
      stop = AgreeOnStop(g_batchStop);
      if (stop != 0) break;
      progress(s);
      // Two steps per sweep where the first leaves a sample to take, as
      // the single process takes them.
      FDTD_SAM next = s;
      advanceCounters(next);
      if (SlabSteps(eng, halo, next.stepCount < next.stepLimit ? 2 : 1) == 2) progress(next);
    }
  }
  endCompactRun(eng);
  con() << "\r";
  if (stop != 0)
    con() << "\nwarning: calculation interrupted after " << s.stepCount << " of " << s.stepLimit
          << " samples; writing the samples recorded so far.\n";
  if (!collectResults(w, eng, whole)) return -2;
  int failed = 0;
  if (w.rank == 0) failed = FinishRun(eng);
  MPI_Bcast(&failed, 1, MPI_INT, 0, MPI_COMM_WORLD);
  const std::time_t end = std::time(nullptr);
  if (stop != 0) return 128 + stop;
  con() << "- FDTD calculation complete.\n";
  con() << "calculated time : " << s.time << "[sec]\n";
  con() << "calculated step : " << s.stepLimit << "[steps]\n";
  con() << "execution time  : " << static_cast<long long>(end - start) << "[sec]\n";
  if (failed > 0) {
    con() << "error: " << failed << " result file(s) could not be written.\n";
    return kStatusResultFiles;
  }
  return 0;
}

}  // namespace

}  // namespace tavro

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  tavro::World w;
  MPI_Comm_rank(MPI_COMM_WORLD, &w.rank);
  MPI_Comm_size(MPI_COMM_WORLD, &w.size);
  tavro::initConsole();
  // Only rank 0 speaks; the others' console goes nowhere.
  std::ostream nowhere(nullptr);
  if (w.rank != 0) tavro::setConsole(&nowhere);
  const int status = tavro::run(w, argc, argv);
  tavro::setConsole(nullptr);
  // No process leaves before rank 0 has said why the run ended: mpirun
  // stops the others as soon as one process ends with a failure status.
  MPI_Barrier(MPI_COMM_WORLD);
  MPI_Finalize();
  return status;
}
