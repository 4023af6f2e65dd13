// Checks the GPU back end against the CPU on a machine with a GPU (run by
// scripts/gpu-check):
//   tavro_gpu_check compare <model options...>
//       the model set up twice, run to its step limit on the CPU (the batch
//       path) and on GPU 0, then the sample stores, final fields and
//       boundary stores compared; then a few interactive steps on both,
//       comparing the samples the window sees and the colour bytes.
//   tavro_gpu_check files <dir A> <dir B>
//       the result files of two runs compared column by column.
//   tavro_gpu_check time <N> <steps> [cpu]
//       Gcells/s of the batch step on an N^3 vacuum box with sources near
//       the centre and every corner, on the GPU (with cpu also on the CPU),
//       and the fraction of the device's peak memory bandwidth that the
//       compact stepping state's bytes per cell and step imply; then the
//       same steps on the CPU and the probes beside the sources and a
//       checksum of every field component compared.
//   tavro_gpu_check program <tavro options...>
//       the program tavro without its window (batch runs), for machines
//       without the window libraries.
// The comparisons print one line per quantity and component (check_judge.h)
// and "gpu ran <yes|no>"; scripts/gpu-check judges them.
//
// Environment (checks of the checks): TAVRO_GPU_CHECK_CPU=1 runs the "GPU"
// side on the CPU too (a dry run, which never agrees); TAVRO_GPU_CHECK_PLANT
// plants an error in the checked side's results: "H" scales every H value
// by 1.01, "far:<N>" scales E in the far quarter of timed boxes of N^3 cells
// and more by 1.01.
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "engine/colouring.h"
#include "engine/compact_state.h"
#include "engine/console.h"
#include "engine/field_kernels.h"
#include "engine/field_update.h"
#include "engine/gpu_backend.h"
#include "engine/setup.h"
#include "gpu/check_judge.h"
#include "gpu/gpu_calls.h"
#include "gpu/gpu_context.h"

using namespace tavro;

namespace {

bool dryRun() {
  const char* v = std::getenv("TAVRO_GPU_CHECK_CPU");
  return v && std::string(v) == "1";
}

std::string plant() {
  const char* v = std::getenv("TAVRO_GPU_CHECK_PLANT");
  return v ? v : "";
}

const char* const kEName[10] = {"ex", "ey", "ez", "emag", "cax", "cay", "caz", "cbx", "cby", "cbz"};
const char* const kHName[7] = {"hx", "hy", "hz", "hmag", "chx", "chy", "chz"};
const char* const kMurName[16] = {"s0", "s1", "s2",  "s3",  "s4",  "s5",  "s6",  "s7",
                                  "s8", "s9", "s10", "s11", "s12", "s13", "s14", "s15"};

// The planted 1 % error in H: fields and samples of the checked side.
void plantH(SimulationEngine& eng) {
  if (plant() != "H") return;
  for (HCell& c : eng.grid.h) {
    c.hx *= 1.01f;
    c.hy *= 1.01f;
    c.hz *= 1.01f;
    c.hmag *= 1.01f;
  }
  for (ProbeSample& s : eng.samples)
    for (int j = kSlotHx; j <= kSlotH; ++j) s.v[j] *= 1.01f;
}

// Set-up on the CPU, or on GPU 0 unless this is a dry run.
std::unique_ptr<App> setUp(int argc, char** argv, bool gpu) {
  auto app = std::make_unique<App>();
  std::ostringstream log;
  setConsole(&log);
  const int parsed = ParseCommandLine(*app, argc, argv);
  app->engine.cudaFlag = gpu && !dryRun() ? 1 : 0;
  app->engine.gpuNumber = 0;
  const bool ok = parsed == kContinue && set(app->engine, app->model) == 1;
  setConsole(nullptr);
  if (!ok) {
    std::cerr << log.str() << "set-up failed\n";
    return nullptr;
  }
  return app;
}

// Steps a CPU engine as the batch run does (pairs of steps where it can).
void runCpu(SimulationEngine& c, int32_t upTo) {
  while (c.sam.stepCount < upTo) {
    FDTD_SAM next = c.sam;
    advanceCounters(next);
    stepBatchSteps(c, next.stepCount < upTo ? 2 : 1);
  }
}

bool deviceOk(const SimulationEngine& g) {
  if (!g.gpuFailed) return true;
  std::printf("gpu failed\n");
  return false;
}

int compare(int argc, char** argv) {
  auto cpu = setUp(argc, argv, false);
  auto gpu = setUp(argc, argv, true);
  if (!cpu || !gpu) return 2;
  SimulationEngine& c = cpu->engine;
  SimulationEngine& g = gpu->engine;
  const bool onGpu = RunsOnGpu(g);
  runCpu(c, c.sam.stepLimit);
  // The device steps the compact stepping state, as a batch run does.
  beginCompactRun(g, onGpu);
  while (g.sam.stepCount < g.sam.stepLimit && !g.gpuFailed) stepBatch(g);
  if (onGpu && !g.gpuFailed && !(GpuCopyBack(g) && GpuCopyFields(g))) g.gpuFailed = true;
  if (!deviceOk(g)) return 1;
  endCompactRun(g);
  plantH(g);

  Judge judge;
  judgeSamples(judge, "samples", c.samples.data(), g.samples.data(), c.samples.size());
  judgeRecords(judge, "field", &c.grid.e.data()->ex, &g.grid.e.data()->ex, c.grid.e.size(), 10,
               kEName);
  judgeRecords(judge, "field", &c.grid.h.data()->hx, &g.grid.h.data()->hx, c.grid.h.size(), 7,
               kHName);
  for (auto m : {&GridHolder::murZ, &GridHolder::murX, &GridHolder::murY})
    judgeRecords(judge, "boundary", (c.grid.*m).data()->s, (g.grid.*m).data()->s,
                 (c.grid.*m).size(), 16, kMurName);
  // The absorbing layer's auxiliary fields, slab by slab (two H and two E
  // per cell).
  static const char* const kPsiName[4] = {"psi_h1", "psi_h2", "psi_e1", "psi_e2"};
  for (int s = 0; s < c.pml.slabCount && s < g.pml.slabCount; ++s)
    for (int b = 0; b < kPsiBlocks; ++b)
      judgeRecords(judge, "layer", c.pml.slabs[s].psiBlock(b), g.pml.slabs[s].psiBlock(b),
                   c.pml.slabs[s].cells(), 1, kPsiName + b);
  const bool sameCounters = std::memcmp(&c.sam, &g.sam, sizeof(FDTD_SAM)) == 0;
  // The window's steps have no layer on the device: a model with one ends
  // with the batch comparison.
  if (c.pmlCells > 0) {
    judge.print();
    std::printf("counters identical %s\n", sameCounters ? "yes" : "no");
    std::printf("gpu ran %s\n", onGpu ? "yes" : "no");
    return 0;
  }

  // Interactive steps from a fresh set-up, the device side now as the window
  // takes them: steps with and without colouring, batch steps, colouring
  // before a paint. The host store and the colour bytes must come out as on
  // the CPU (the last step colours and brings the samples up to date).
  auto ci = setUp(argc, argv, false);
  auto gi = setUp(argc, argv, true);
  if (!ci || !gi) return 2;
  for (SimulationEngine* e : {&ci->engine, &gi->engine}) {
    e->grid.desc.viewField = 0;
    e->grid.desc.viewComponent = 0;
    e->grid.desc.viewScale = 1.0f;
  }
  const int steps = std::min(ci->engine.sam.stepLimit, 40);
  for (int i = 0; i < steps; ++i) {
    stepInteractive(ci->engine);
    const int j = steps - 1 - i;
    if (j % 3 == 0)
      stepInteractive(gi->engine);
    else if (j % 3 == 1)
      stepInteractive(gi->engine, false);
    else
      stepBatch(gi->engine);
    if (j % 5 == 2) ColourCells(gi->engine);
  }
  if (!deviceOk(gi->engine)) return 1;
  plantH(gi->engine);
  judgeSamples(judge, "live", ci->engine.samples.data(), gi->engine.samples.data(),
               ci->engine.samples.size());
  Diff& colour = judge["colour.byte"];
  for (size_t k = 0; k < ci->engine.grid.cellColor.size(); ++k)
    colour.add(ci->engine.grid.cellColor[k], gi->engine.grid.cellColor[k]);

  judge.print();
  std::printf("counters identical %s\n", sameCounters ? "yes" : "no");
  std::printf("gpu ran %s\n", onGpu ? "yes" : "no");
  return 0;
}

// The numbers of one line of a result file (commas count as blanks), and
// whether the words that are not numbers agree.
std::vector<float> numbers(std::string line, std::string& words) {
  for (char& ch : line)
    if (ch == ',') ch = ' ';
  std::istringstream in(line);
  std::vector<float> out;
  for (std::string w; in >> w;) {
    char* end = nullptr;
    const float x = std::strtof(w.c_str(), &end);
    if (end && *end == '\0' && end != w.c_str())
      out.push_back(x);
    else
      words += w + " ";
  }
  return out;
}

// Result files: column j of the files with extension X is the quantity
// "file.X.col<j>", judged against its own scale over every file of that
// extension; other words are compared as text.
int files(const std::filesystem::path& a, const std::filesystem::path& b) {
  Judge judge;
  bool sameText = true;
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(a)) {
    if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
    ++count;
    const std::string ext = entry.path().extension().string();
    std::ifstream fa(entry.path()), fb(b / entry.path().filename());
    if (!fb) {
      sameText = false;
      continue;
    }
    std::string la, lb;
    while (true) {
      const bool ga = static_cast<bool>(std::getline(fa, la)),
                 gb = static_cast<bool>(std::getline(fb, lb));
      if (!ga || !gb) {
        sameText = sameText && ga == gb;
        break;
      }
      std::string wa, wb;
      const std::vector<float> na = numbers(la, wa), nb = numbers(lb, wb);
      if (wa != wb || na.size() != nb.size()) sameText = false;
      for (size_t j = 0; j < na.size() && j < nb.size(); ++j)
        judge["file" + ext + ".col" + std::to_string(j)].add(na[j], nb[j]);
    }
  }
  std::printf("files %d text %s\n", count, sameText ? "same" : "different");
  judge.print();
  return 0;
}

// An N^3 vacuum box with a Gaussian source at the centre and near each
// corner, and a probe two cells beside each source: faults confined to one
// region of a large box reach a probe and the checksums.
std::unique_ptr<App> timedBox(int n, int steps, bool gpu) {
  const std::string N = std::to_string(n);
  std::vector<std::string> words = {
      "tavro", "-area", N, N, N, "-unit", "1e-3", "1e-3", "1e-3", "-n", std::to_string(steps)};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  auto app = std::make_unique<App>();
  std::ostringstream log;
  setConsole(&log);
  ParseCommandLine(*app, static_cast<int>(argv.size()), argv.data());
  const int q = std::max(2, n / 8), lo = q, hi = n - 1 - q;
  std::vector<std::array<int, 3>> at = {{n / 2, n / 2, n / 2}};
  for (int corner = 0; corner < 8; ++corner)
    at.push_back({corner & 1 ? hi : lo, corner & 2 ? hi : lo, corner & 4 ? hi : lo});
  for (size_t k = 0; k < at.size(); ++k) {
    const auto [x, y, z] = at[k];
    app->model.setPin(app->model.index(x, y, z), "GAUSS Z 1");
    const int px = x + (x < n / 2 ? 2 : -2);
    std::string name = "p";
    name += std::to_string(k);
    app->model.setProbe(app->model.index(px, y, z), name);
  }
  app->engine.cudaFlag = gpu && !dryRun() ? 1 : 0;
  const bool ok = set(app->engine, app->model) == 1;
  setConsole(nullptr);
  if (!ok) {
    std::cerr << log.str() << "set-up failed\n";
    return nullptr;
  }
  return app;
}

// The planted fault of a large box: E in its far quarter, 1 % off.
void plantFar(SimulationEngine& eng, int n) {
  const std::string p = plant();
  if (p.rfind("far:", 0) != 0 || n < std::atoi(p.c_str() + 4)) return;
  const GridDesc& g = eng.grid.desc;
  for (int64_t x = g.nx * 3 / 4; x < g.nx; ++x)
    for (int64_t y = 0; y < g.ny; ++y)
      for (int64_t z = 0; z < g.nz; ++z) eng.grid.e[eIndex(g, x, y, z)].ex *= 1.01f;
  for (ProbeSample& s : eng.samples) s.v[kSlotEx] *= 1.01f;
}

// Sums of magnitudes of each field component over the whole array.
void checksums(Judge& judge, const SimulationEngine& c, const SimulationEngine& g) {
  auto sum = [](const auto& arr, auto member) {
    double s = 0.0;
    for (const auto& cell : arr) s += std::fabs(double(cell.*member));
    return static_cast<float>(s);
  };
  judge["timed.checksum.ex"].add(sum(c.grid.e, &ECell::ex), sum(g.grid.e, &ECell::ex));
  judge["timed.checksum.ey"].add(sum(c.grid.e, &ECell::ey), sum(g.grid.e, &ECell::ey));
  judge["timed.checksum.ez"].add(sum(c.grid.e, &ECell::ez), sum(g.grid.e, &ECell::ez));
  judge["timed.checksum.hx"].add(sum(c.grid.h, &HCell::hx), sum(g.grid.h, &HCell::hx));
  judge["timed.checksum.hy"].add(sum(c.grid.h, &HCell::hy), sum(g.grid.h, &HCell::hy));
  judge["timed.checksum.hz"].add(sum(c.grid.h, &HCell::hz), sum(g.grid.h, &HCell::hz));
}

// Bytes that a step of the compact stepping state moves per cell, counted as
// bench/run counts them: per half-step the field read and written (12 + 12),
// the other field read (12) and the 2-byte coefficient set.
constexpr double kCompactBytesPerCell = 76.0;

// The device's peak memory bandwidth in bytes per second (memory clock in
// kHz, double data rate, bus width in bits); 0 when it is not known.
double peakBandwidth() {
  const GpuContext& c = TheGpuContext();
  const CudaDriver* d = Driver();
  int kHz = 0, bits = 0;
  if (!d || !c.initialised ||
      d->deviceGetAttribute(&kHz, CU_DEVICE_ATTRIBUTE_MEMORY_CLOCK_RATE, c.device) !=
          CUDA_SUCCESS ||
      d->deviceGetAttribute(&bits, CU_DEVICE_ATTRIBUTE_GLOBAL_MEMORY_BUS_WIDTH, c.device) !=
          CUDA_SUCCESS)
    return 0.0;
  return 2.0 * kHz * 1e3 * bits / 8.0;
}

int timing(int n, int steps, bool withCpu) {
  using Clock = std::chrono::steady_clock;
  auto gapp = timedBox(n, steps + 3, true);
  if (!gapp) return 2;
  SimulationEngine& g = gapp->engine;
  const bool onGpu = RunsOnGpu(g);
  const double cells = double(n) * n * n;
  beginCompactRun(g, onGpu);
  for (int i = 0; i < 3; ++i) stepBatch(g);  // module compiled, caches warm
  // At most `steps` steps and about two seconds.
  auto t0 = Clock::now();
  int done = 0;
  double sec = 0.0;
  while (done < steps && sec < 2.0 && !g.gpuFailed) {
    stepBatch(g);
    ++done;
    sec = std::chrono::duration<double>(Clock::now() - t0).count();
  }
  if (onGpu && !g.gpuFailed && !(GpuCopyBack(g) && GpuCopyFields(g))) g.gpuFailed = true;
  if (!deviceOk(g)) return 1;
  endCompactRun(g);
  const double rate = cells * done / sec;
  std::printf("gcells %.4g", rate / 1e9);
  // The same steps on the CPU; their time is the CPU's rate.
  auto capp = timedBox(n, steps + 3, false);
  if (!capp) return 2;
  SimulationEngine& c = capp->engine;
  beginCompactRun(c);
  runCpu(c, 3);
  t0 = Clock::now();
  runCpu(c, g.sam.stepCount);
  sec = std::chrono::duration<double>(Clock::now() - t0).count();
  endCompactRun(c);
  if (withCpu) std::printf(" cpu %.4g", cells * done / sec / 1e9);
  const double peak = onGpu ? peakBandwidth() : 0.0;
  std::printf(" steps %d peak_gbs %.4g bandwidth %.3f\n", 3 + done, peak / 1e9,
              peak > 0.0 ? rate * kCompactBytesPerCell / peak : 0.0);
  plantFar(g, n);

  Judge judge;
  judgeSamples(judge, "timed.samples", c.samples.data(), g.samples.data(), c.samples.size());
  checksums(judge, c, g);
  judge.print();
  std::printf("gpu ran %s\n", onGpu ? "yes" : "no");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  InstallCudaBackend();
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "compare" && argc > 2) return compare(argc - 1, argv + 1);
  if (mode == "files" && argc == 4) return files(argv[2], argv[3]);
  if (mode == "time" && argc >= 4)
    return timing(std::atoi(argv[2]), std::atoi(argv[3]),
                  argc > 4 && std::string(argv[4]) == "cpu");
  if (mode == "program") return ProgramMain(argc - 1, argv + 1, nullptr);
  std::fprintf(stderr,
               "usage: tavro_gpu_check compare <model options> | files <dir> <dir> | "
               "time <N> <steps> [cpu] | program <options>\n");
  return 2;
}
