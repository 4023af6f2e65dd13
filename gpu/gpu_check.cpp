// Checks the GPU back end against the CPU on a machine with a GPU (run by
// scripts/gpu-check):
//   tavro_gpu_check compare <model options...>
//       the model set up twice, run to its step limit on the CPU (the batch
//       path) and on GPU 0, then the sample stores, final fields and
//       boundary stores compared; then a few interactive steps on both,
//       comparing the samples the window sees and the colour bytes.
//   tavro_gpu_check files <dir A> <dir B>
//       the result files of two runs compared number by number.
//   tavro_gpu_check time <N> <steps> [cpu]
//       Gcells/s of the batch step on an N^3 vacuum box with one source, on
//       the GPU (and with cpu also on the CPU).
// Each prints one line: "<what> identical <yes|no> maxdiff <relative>" or
// "gcells <value>"; the relative difference of a set of values is the
// largest absolute difference over the largest magnitude of the CPU values.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "engine/colouring.h"
#include "engine/console.h"
#include "engine/field_kernels.h"
#include "engine/field_update.h"
#include "engine/setup.h"
#include "gpu/gpu_context.h"

using namespace tavro;

namespace {

// TAVRO_GPU_CHECK_CPU=1: the "GPU" side runs on the CPU as well, so that the
// checks themselves can be tried on a machine without a GPU.
bool dryRun() {
  const char* v = std::getenv("TAVRO_GPU_CHECK_CPU");
  return v && std::string(v) == "1";
}

struct Diff {
  uint64_t values = 0, differing = 0;
  double maxAbs = 0.0, maxRef = 0.0;
  void add(float a, float b) {
    ++values;
    if (std::memcmp(&a, &b, sizeof a) != 0) ++differing;
    if (std::isfinite(a)) maxRef = std::max(maxRef, std::fabs(double(a)));
    if (std::isfinite(a) && std::isfinite(b))
      maxAbs = std::max(maxAbs, std::fabs(double(a) - double(b)));
    else if (std::isfinite(a) != std::isfinite(b))
      maxAbs = INFINITY;
  }
  double relative() const { return maxRef > 0.0 ? maxAbs / maxRef : (maxAbs > 0 ? INFINITY : 0); }
};

// Floats of n records of `per` floats; slots in [skipFrom, skipTo) are
// counted for identity but not for the difference (impedance slots, quotients
// by a current that may pass through zero).
void compareFloats(const float* a, const float* b, size_t n, int per, Diff& d, Diff& quotient,
                   int skipFrom = -1, int skipTo = -1) {
  for (size_t i = 0; i < n; ++i)
    for (int j = 0; j < per; ++j) {
      const size_t k = i * per + j;
      (j >= skipFrom && j < skipTo ? quotient : d).add(a[k], b[k]);
    }
}

void report(const char* what, const Diff& d) {
  std::printf("%s identical %s maxdiff %.3g values %llu differing %llu\n", what,
              d.differing == 0 ? "yes" : "no", d.relative(),
              static_cast<unsigned long long>(d.values),
              static_cast<unsigned long long>(d.differing));
}

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

int compare(int argc, char** argv) {
  auto cpu = setUp(argc, argv, false);
  auto gpu = setUp(argc, argv, true);
  if (!cpu || !gpu) return 2;
  SimulationEngine& c = cpu->engine;
  SimulationEngine& g = gpu->engine;
  // The batch run's stepping on each side.
  while (c.sam.stepCount < c.sam.stepLimit) {
    FDTD_SAM next = c.sam;
    advanceCounters(next);
    stepBatchSteps(c, next.stepCount < next.stepLimit ? 2 : 1);
  }
  while (g.sam.stepCount < g.sam.stepLimit) stepBatch(g);
  GpuCopyBack(g);
  GpuCopyFields(g);

  Diff samples, quotients, fields, mur;
  compareFloats(c.samples.data()->v, g.samples.data()->v, c.samples.size(), 25, samples, quotients,
                kSlotZx, kSlotZ + 1);
  compareFloats(&c.grid.e.data()->ex, &g.grid.e.data()->ex, c.grid.e.size(), 10, fields, fields);
  compareFloats(&c.grid.h.data()->hx, &g.grid.h.data()->hx, c.grid.h.size(), 7, fields, fields);
  for (auto m : {&GridHolder::murZ, &GridHolder::murX, &GridHolder::murY})
    compareFloats((c.grid.*m).data()->s, (g.grid.*m).data()->s, (c.grid.*m).size(), 16, mur, mur);
  const bool sameCounters = std::memcmp(&c.sam, &g.sam, sizeof(FDTD_SAM)) == 0;

  // Interactive steps from a fresh set-up, the device side now as the window
  // takes them: steps with and without colouring, batch steps, colouring
  // before a paint. The host store and the colour bytes must come out as on
  // the CPU (the last step colours and brings the samples up to date).
  auto ci = setUp(argc, argv, false);
  auto gi = setUp(argc, argv, true);
  if (!ci || !gi) return 2;
  Diff live, liveQuotients, colour;
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
  compareFloats(ci->engine.samples.data()->v, gi->engine.samples.data()->v,
                ci->engine.samples.size(), 25, live, liveQuotients, kSlotZx, kSlotZ + 1);
  for (size_t k = 0; k < ci->engine.grid.cellColor.size(); ++k)
    colour.add(ci->engine.grid.cellColor[k], gi->engine.grid.cellColor[k]);

  report("samples", samples);
  report("impedance", quotients);
  report("fields", fields);
  report("boundary", mur);
  report("live-samples", live);
  report("colour", colour);
  std::printf("counters identical %s\n", sameCounters ? "yes" : "no");
  return 0;
}

// Result files: numbers compared as numbers, other words as text.
int files(const std::filesystem::path& a, const std::filesystem::path& b) {
  Diff d;
  bool sameText = true;
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(a)) {
    if (!entry.is_regular_file()) continue;
    ++count;
    std::ifstream fa(entry.path()), fb(b / entry.path().filename());
    if (!fb) {
      sameText = false;
      continue;
    }
    std::string wa, wb;
    while (true) {
      const bool ga = static_cast<bool>(fa >> wa), gb = static_cast<bool>(fb >> wb);
      if (!ga || !gb) {
        sameText = sameText && ga == gb;
        break;
      }
      for (std::string* w : {&wa, &wb})
        for (char& ch : *w)
          if (ch == ',') ch = ' ';
      std::istringstream sa(wa), sb(wb);
      float x, y;
      bool numeric = false;
      while (sa >> x && sb >> y) {
        d.add(x, y);
        numeric = true;
      }
      if (!numeric && wa != wb) sameText = false;
    }
  }
  std::printf("files %d text %s ", count, sameText ? "same" : "different");
  report("numbers", d);
  return 0;
}

int timing(int n, int steps, bool withCpu) {
  const std::string N = std::to_string(n), c = std::to_string(n / 2);
  std::vector<std::string> words = {"tavro", "-area", N, N, N, "-unit", "1e-3", "1e-3", "1e-3"};
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  auto app = std::make_unique<App>();
  std::ostringstream log;
  setConsole(&log);
  ParseCommandLine(*app, static_cast<int>(argv.size()), argv.data());
  app->model.setPin(app->model.index(n / 2, n / 2, n / 2), "GAUSS Z 1");
  app->engine.cudaFlag = dryRun() ? 0 : 1;
  const bool ok = set(app->engine, app->model) == 1;
  setConsole(nullptr);
  if (!ok) {
    std::cerr << log.str() << "set-up failed\n";
    return 2;
  }
  SimulationEngine& eng = app->engine;
  using Clock = std::chrono::steady_clock;
  const double cells = double(n) * n * n;
  for (int i = 0; i < 3; ++i) stepBatch(eng);  // module compiled, caches warm
  // At most `steps` steps and about two seconds on each side.
  auto rate = [&](auto&& step, int most) {
    const auto t0 = Clock::now();
    int done = 0;
    double sec = 0.0;
    while (done < most && sec < 2.0) {
      done += step();
      sec = std::chrono::duration<double>(Clock::now() - t0).count();
    }
    return cells * done / sec / 1e9;
  };
  std::printf("gcells %.4g", rate(
                                 [&] {
                                   stepBatch(eng);
                                   return 1;
                                 },
                                 steps));
  if (withCpu) {
    eng.cudaFlag = 0;  // the host fields are still at the reset state
    stepBatchSteps(eng, 2);
    std::printf(" cpu %.4g", rate([&] { return stepBatchSteps(eng, 2); }, steps));
  }
  std::printf("\n");
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
  std::fprintf(stderr,
               "usage: tavro_gpu_check compare <model options> | files <dir> <dir> | "
               "time <N> <steps> [cpu]\n");
  return 2;
}
