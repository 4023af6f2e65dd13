// Benchmark program for the time step and the spectrum. Sub-commands:
//   bandwidth                 read-modify-write bandwidth a[i] = a[i]*s + b[i], 1 and 2 threads
//   step N THREADS [ref]      stepping throughput on a vacuum N^3 box (Mur faces, one CW source):
//                             two steps per call as a batch run takes them (stepBatchSteps),
//                             one step per call (stepBatch) and, with ref, the plain loops
//   spectrum N STEPS PROBES   step time with probes and the cost of ComputeSpectrum for a run of
//                             STEPS samples (steps measured on fewer and scaled)
//   rss PROGRAM ARGS...       runs PROGRAM and prints its peak resident memory
//   interactive SECONDS       the demo stepped in the window (E field view, on $DISPLAY) against
//                             stepBatch taking single steps on the same model, with the paint
//                             cost and repaint interval of the window
//   graphs MODE SECONDS SAMPLES
//                             the demo (-n 1000000) in the window's graph mode MODE (3 time,
//                             4 frequency) with SAMPLES samples already recorded: steps and
//                             paints per second
// Every figure is printed as "key value" words on one line so that bench/run can pick them up.
#include <omp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "app/conversion.h"
#include "engine/buffer.h"
#include "engine/console.h"
#include "engine/engine.h"
#include "engine/field_kernels.h"
#include "engine/field_update.h"
#include "engine/model_record.h"
#include "engine/setup.h"
#include "files/spectrum.h"
#include "gui/window.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// a[i] = a[i]*s + b[i] over two arrays far larger than the caches: 12 bytes of
// traffic per element (read a, read b, write a). The arrays are first touched
// by the threads that use them. Returns the best of several passes in GB/s.
double rmwBandwidth(int threads) {
  const size_t n = size_t{1} << 25;  // 128 MiB per array
  tavro::Buffer<float> a, b;
  if (!a.allocate(n) || !b.allocate(n)) return 0.0;
  float* pa = a.data();
  float* pb = b.data();
  const float s = 0.5f;
#pragma omp parallel for schedule(static) num_threads(threads)
  for (size_t i = 0; i < n; ++i) {
    pa[i] = 1.0f;
    pb[i] = 0.25f;
  }
  double best = 1e30;
  for (int rep = 0; rep < 12; ++rep) {
    const auto t0 = Clock::now();
#pragma omp parallel for schedule(static) num_threads(threads)
    for (size_t i = 0; i < n; ++i) pa[i] = pa[i] * s + pb[i];
    const double t = seconds(t0, Clock::now());
    if (rep > 0) best = std::min(best, t);  // the first pass only warms up
  }
  volatile float sink = pa[n / 3];
  (void)sink;
  return 12.0 * static_cast<double>(n) / best * 1e-9;
}

// Each thread count twice, alternating, the better figure of each: a
// neighbour's burst on a shared machine then spoils at most one of them.
int cmdBandwidth() {
  double b1 = rmwBandwidth(1);
  double b2 = rmwBandwidth(2);
  b1 = std::max(b1, rmwBandwidth(1));
  b2 = std::max(b2, rmwBandwidth(2));
  std::printf("bandwidth threads1 %.1f threads2 %.1f\n", b1, b2);
  return 0;
}

// A vacuum box of N^3 cells of 1 mm with a CW source along Z at the centre and
// `probes` probes around it; `stepLimit` samples are recorded.
bool setUpBox(tavro::SimulationEngine& eng, tavro::ModelRecord& model, int N, int probes,
              int stepLimit) {
  model.areaX = model.areaY = model.areaZ = N;
  model.unitX = model.unitY = model.unitZ = 0.001f;
  if (model.allocateCells() != 1) return false;
  const int c = N / 2;
  model.setPin(model.index(c, c, c), "CW Z 1 15e9");
  for (int p = 0; p < probes; ++p)
    model.setProbe(model.index(c + 1 + p, c, c), std::string("P") += std::to_string(p));
  eng.requestedStepLimit = stepLimit;
  std::ostringstream log;
  tavro::setConsole(&log);
  const int ok = tavro::set(eng, model);
  tavro::setConsole(nullptr);
  if (!ok) std::fprintf(stderr, "%s", log.str().c_str());
  return ok == 1;
}

// Median throughput in Mcells/s of `reps` timed runs of `steps` steps each,
// after a warm-up.
template <class Step>
double stepThroughput(tavro::SimulationEngine& eng, Step step, int steps, int reps) {
  for (int i = 0; i < 3; ++i) step(eng);
  std::vector<double> rates;
  const double cells = static_cast<double>(eng.grid.desc.cellCount);
  for (int r = 0; r < reps; ++r) {
    const auto t0 = Clock::now();
    for (int i = 0; i < steps; ++i) step(eng);
    rates.push_back(cells * steps / seconds(t0, Clock::now()) * 1e-6);
  }
  return median(rates);
}

int cmdStep(int N, int threads, bool withReference) {
  omp_set_num_threads(threads);
  tavro::SimulationEngine eng;
  tavro::ModelRecord model;
  if (!setUpBox(eng, model, N, 0, tavro::kStepLimitMax)) return 1;
  // About 0.2 G cell updates per timed repetition.
  const double cells = static_cast<double>(N) * N * N;
  const int steps = std::max(6, static_cast<int>(2e8 / cells)) / 2 * 2;
  auto pair = [](tavro::SimulationEngine& e) { tavro::stepBatchSteps(e, 2); };
  // The batch run steps the compact state; "records" is the same sweep on
  // the records.
  tavro::beginCompactRun(eng);
  const double rate = stepThroughput(eng, pair, steps / 2, 5) * 2;
  const double single = stepThroughput(eng, tavro::stepBatch, steps, 3);
  tavro::endCompactRun(eng);
  const double records = stepThroughput(eng, pair, steps / 2, 3) * 2;
  std::printf("step N %d threads %d mcells %.1f single %.1f records %.1f", N, threads, rate, single,
              records);
  if (withReference) {
    const double ref = stepThroughput(eng, tavro::stepBatchReference, steps, 3);
    std::printf(" reference %.1f", ref);
  }
  std::printf("\n");
  return 0;
}

// The batch run's stepping of an N^3 area with an absorbing layer of `cells`
// cells against the same area with Mur faces, both counted in drawn cells.
int cmdPml(int N, int threads, int cells) {
  omp_set_num_threads(threads);
  const double drawn = static_cast<double>(N) * N * N;
  const int steps = std::max(6, static_cast<int>(2e8 / drawn)) / 2 * 2;
  // Two steps per call, as the batch run asks for them (taken one at a time
  // where the pair sweep does not apply).
  auto pair = [](tavro::SimulationEngine& e) {
    for (int done = 0; done < 2;) done += tavro::stepBatchSteps(e, 2 - done);
  };
  double rate[2];
  for (int layer = 0; layer < 2; ++layer) {
    tavro::SimulationEngine eng;
    tavro::ModelRecord model;
    eng.pmlCells = layer ? cells : 0;
    if (!setUpBox(eng, model, N, 0, tavro::kStepLimitMax)) return 1;
    // As the batch run steps: the compact state where it serves the model.
    tavro::beginCompactRun(eng);
    const double grid = static_cast<double>(eng.grid.desc.cellCount);
    rate[layer] = stepThroughput(eng, pair, steps / 2, 5) * 2 * drawn / grid;
  }
  std::printf("pml N %d threads %d cells %d mcells %.1f plain %.1f\n", N, threads, cells, rate[1],
              rate[0]);
  return 0;
}

// The cost of the spectra of a realistic batch run: `limit` samples of
// `probes` probes. The step time is measured on `measured` steps (with the
// probes sampled) and scaled to `limit` steps; the rest of the sample store is
// filled by repeating the recorded samples with time stamps that advance by
// dt, as a full run would leave them.
int cmdSpectrum(int N, int limit, int probes, int threads) {
  omp_set_num_threads(threads);
  tavro::SimulationEngine eng;
  tavro::ModelRecord model;
  if (!setUpBox(eng, model, N, probes, limit)) return 1;
  const int P = eng.sam.probeCount;
  const int measured = std::min(limit, std::max(50, static_cast<int>(4e8 / (double(N) * N * N))));
  // Stepped as the batch run steps: two steps per sweep while the first
  // leaves a sample to take.
  auto batchSteps = [&](int n) {
    for (int i = 0; i < n;) {
      tavro::FDTD_SAM next = eng.sam;
      tavro::advanceCounters(next);
      const bool two = i + 1 < n && next.stepCount < next.stepLimit;
      i += tavro::stepBatchSteps(eng, two ? 2 : 1);
    }
  };
  batchSteps(1);
  const auto t0 = Clock::now();
  batchSteps(measured - 1);
  const double stepSeconds = seconds(t0, Clock::now()) / (measured - 1);

  tavro::ProbeSample* s = eng.samples.data();
  float t = s[static_cast<size_t>(measured - 1) * P].v[0];
  for (int j = measured; j < limit; ++j) {
    t = t + eng.sam.dt;
    for (int p = 0; p < P; ++p) {
      s[static_cast<size_t>(j) * P + p] = s[static_cast<size_t>(j % measured) * P + p];
      s[static_cast<size_t>(j) * P + p].v[0] = t;
    }
  }
  eng.sam.stepCount = limit;

  const auto t1 = Clock::now();
  for (int p = 0; p < P; ++p) tavro::ComputeSpectrum(eng, p);
  const double spectrumSeconds = seconds(t1, Clock::now());
  const double visits = 2000.0 * limit * P;
  const double runSteps = stepSeconds * limit;
  std::printf(
      "spectrum N %d samples %d probes %d threads %d measured_steps %d step_ms %.3f "
      "run_steps_s %.1f spectrum_s %.2f visits_per_s %.3g cost_pct %.1f\n",
      N, limit, P, threads, measured, stepSeconds * 1e3, runSteps, spectrumSeconds,
      visits / spectrumSeconds, 100.0 * spectrumSeconds / runSteps);
  return 0;
}

// Runs a program and prints the peak resident memory of the child (kB).
int cmdRss(int argc, char** argv) {
  const pid_t pid = fork();
  if (pid < 0) return 1;
  if (pid == 0) {
    execv(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  rusage use{};
  if (wait4(pid, &status, 0, &use) < 0) return 1;
  std::printf("rss_kb %ld status %d\n", use.ru_maxrss,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  (void)argc;
  return 0;
}

// The demo as the program runs it without -batch: steps per second in the
// window against stepBatch one step at a time on the same model, timed for
// half the time before and half after the window, in the same process.
int cmdInteractive(double secs, char* program) {
  auto app = std::make_unique<tavro::App>();
  std::ostringstream log;
  tavro::setConsole(&log);
  const bool ok =
      tavro::MakeDemoProject(app->project, app->model) && tavro::set(app->engine, app->model);
  tavro::setConsole(nullptr);
  if (!ok) {
    std::fprintf(stderr, "%s", log.str().c_str());
    return 1;
  }
  long batchSteps = 0;
  double batchSeconds = 0.0;
  auto batch = [&](double span) {
    const auto t0 = Clock::now();
    do {
      tavro::stepBatch(app->engine);
      ++batchSteps;
    } while (seconds(t0, Clock::now()) < span);
    batchSeconds += seconds(t0, Clock::now());
  };
  batch(secs / 2);
  tavro::resetRun(app->engine);
  char* argv[] = {program, nullptr};
  const tavro::WindowStats w = tavro::MeasureWindow(*app, 1, argv, secs);
  batch(secs / 2);
  const double window = w.steps / w.seconds;
  const double single = batchSteps / batchSeconds;
  std::printf(
      "interactive seconds %.1f window %.1f batch %.1f ratio %.2f paints %ld paint_ms %.1f "
      "interval_ms %d paint_share %.2f\n",
      w.seconds, window, single, window / single, w.paints, w.paintCost * 1e3, w.intervalMs,
      w.paintSeconds / w.seconds);
  return 0;
}

// The graphs of a long run: the demo with a step limit of one million has
// SAMPLES samples recorded (a few stepped, the rest repeated with advancing
// time stamps, as cmdSpectrum fills them) and goes on in the window in graph
// mode MODE for SECONDS.
int cmdGraphs(int mode, double secs, int samples, char* program) {
  auto app = std::make_unique<tavro::App>();
  app->engine.requestedStepLimit = tavro::kStepLimitMax;
  std::ostringstream log;
  tavro::setConsole(&log);
  const bool ok =
      tavro::MakeDemoProject(app->project, app->model) && tavro::set(app->engine, app->model);
  tavro::setConsole(nullptr);
  tavro::SimulationEngine& eng = app->engine;
  if (!ok || samples < 100 || samples >= eng.sam.stepLimit) {
    std::fprintf(stderr, "%s", log.str().c_str());
    return 1;
  }
  const int stepped = 100;
  for (int i = 0; i < stepped; ++i) tavro::stepBatch(eng);
  const int P = eng.sam.probeCount;
  tavro::ProbeSample* s = eng.samples.data();
  float t = s[static_cast<size_t>(stepped - 1) * P].v[0];
  for (int j = stepped; j < samples; ++j) {
    t = t + eng.sam.dt;
    for (int p = 0; p < P; ++p) {
      s[static_cast<size_t>(j) * P + p] = s[static_cast<size_t>(j % stepped) * P + p];
      s[static_cast<size_t>(j) * P + p].v[0] = t;
    }
  }
  eng.sam.stepCount = samples;
  eng.sam.time = t;
  char* argv[] = {program, nullptr};
  const tavro::WindowStats w = tavro::MeasureWindow(*app, 1, argv, secs, mode);
  std::printf("graphs mode %d seconds %.1f steps_per_s %.1f frames_per_s %.1f paint_ms %.1f\n",
              mode, w.seconds, w.steps / w.seconds, w.paints / w.seconds, w.paintCost * 1e3);
  return 0;
}

int usage() {
  std::fprintf(stderr,
               "usage: tavro_bench bandwidth | step N THREADS [ref] | spectrum N SAMPLES PROBES "
               "THREADS | pml N THREADS CELLS | rss PROGRAM ARGS... | interactive SECONDS | graphs "
               "MODE SECONDS SAMPLES\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string cmd = argv[1];
  if (cmd == "bandwidth") return cmdBandwidth();
  if (cmd == "step" && argc >= 4)
    return cmdStep(std::atoi(argv[2]), std::atoi(argv[3]),
                   argc >= 5 && !std::strcmp(argv[4], "ref"));
  if (cmd == "spectrum" && argc >= 6)
    return cmdSpectrum(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                       std::atoi(argv[5]));
  if (cmd == "pml" && argc >= 5)
    return cmdPml(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
  if (cmd == "rss" && argc >= 3) return cmdRss(argc - 2, argv + 2);
  if (cmd == "interactive" && argc >= 3) return cmdInteractive(std::atof(argv[2]), argv[0]);
  if (cmd == "graphs" && argc >= 5)
    return cmdGraphs(std::atoi(argv[2]), std::atof(argv[3]), std::atoi(argv[4]), argv[0]);
  return usage();
}
