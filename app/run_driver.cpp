#include "app/run_driver.h"

#include <csignal>
#include <sstream>

#include "app/stop_signals.h"
#include "engine/compact_state.h"
#include "engine/console.h"
#include "engine/field_kernels.h"
#include "engine/field_update.h"
#include "engine/gpu_backend.h"
#include "files/result_files.h"
#include "files/spectrum.h"

namespace tavro {

namespace {

// Work on the GPU; the message of a failure starts on a line of its own,
// below the progress line.
template <class F>
auto onDevice(F&& f) {
  std::ostringstream messages;
  std::ostream& console = con();
  setConsole(&messages);
  const auto result = f();
  setConsole(&console);
  if (!messages.str().empty()) con() << "\n" << messages.str();
  return result;
}

int deviceStep(SimulationEngine& eng) {
  return onDevice([&] { return stepBatchSteps(eng, 1); });
}

}  // namespace

int LastStopSignal() { return g_batchStop; }

bool RunBatch(SimulationEngine& eng, const StepHook* hook) {
  StopSignals signals;
  FDTD_SAM& s = eng.sam;
  int shown = -1;
  const int64_t every = hook && hook->call ? hook->every : 0;
  int64_t steps = 0;  // time steps done
  auto progress = [&](const FDTD_SAM& at) {
    const int percent = static_cast<int>(static_cast<int64_t>(at.stepCount) * 100 / at.stepLimit);
    if (percent != shown) {
      con() << "\r- FDTD calculation " << at.time << "sec " << percent << "% done.";
      shown = percent;
    }
  };
  const bool gpu = RunsOnGpu(eng);
  // The CPU steps the compact state where it serves the model, unless a
  // hook reads the records after every step. The GPU steps it where it
  // serves the model; a hook's fields come back from the device first.
  const bool hookReadsRecords = every > 0 && !hook->readsCompact;
  if ((gpu || every != 1 || !hookReadsRecords) && s.stepCount < s.stepLimit)
    beginCompactRun(eng, gpu);
  while (s.stepCount < s.stepLimit && g_batchStop == 0 && !eng.gpuFailed) {
    progress(s);
    // Two steps per sweep where the first leaves a sample to take; the
    // progress line of the second step is the one it would have had.
    FDTD_SAM next = s;
    advanceCounters(next);
    // A hook due after the first step splits the pair.
    const bool two = next.stepCount < next.stepLimit && !(every > 0 && (steps + 1) % every == 0);
    const int done = gpu ? deviceStep(eng) : stepBatchSteps(eng, two ? 2 : 1);
    if (eng.gpuFailed) break;
    if (done == 2) progress(next);
    steps += done;
    if (every > 0 && steps % every == 0) {
      if (gpu && !onDevice([&] { return InstalledGpuBackend()->copyFields(eng); })) {
        eng.gpuFailed = true;
        break;
      }
      if (hookReadsRecords) syncRecords(eng);
      hook->call(steps);
    }
  }
  // A state stepped on the device comes back before the records are
  // written from it.
  if (gpu && eng.compact.active && !eng.gpuFailed &&
      !onDevice([&] { return InstalledGpuBackend()->fetchState(eng); }))
    eng.gpuFailed = true;
  endCompactRun(eng);
  if (eng.gpuFailed) {
    con() << "error: the GPU run stopped after " << s.stepCount << " of " << s.stepLimit
          << " samples; no result files were written.\n";
    return false;
  }
  con() << "\r";
  const bool complete = g_batchStop == 0;
  if (!complete) {
    con() << "\nwarning: calculation interrupted after " << s.stepCount << " of " << s.stepLimit
          << " samples; writing the samples recorded so far.\n";
  }
  FinishRun(eng);
  return complete && !eng.gpuFailed;
}

int FinishRun(SimulationEngine& eng) {
  con() << std::string(78, ' ') << "\r";
  if (eng.cudaFlag) {
    con() << "- Sending CUDA to CPU...\n";
    if (RunsOnGpu(eng) && !eng.gpuFailed && !InstalledGpuBackend()->copyBack(eng))
      eng.gpuFailed = true;
  }
  // Samples of a failed device run are not the run's: no file pretends to
  // hold them.
  if (eng.gpuFailed) {
    if (eng.sam.probeCount > 0 && (!eng.timeExtension.empty() || !eng.freqExtension.empty()))
      con() << "error: the GPU run failed; no result files were written.\n";
    eng.failedResultFiles = 0;
    return 0;
  }
  const int probes = eng.sam.probeCount;
  int failed = 0;
  if (!eng.timeExtension.empty()) {
    con() << "- Output " << eng.timeExtension << " files...\n";
    for (int p = 0; p < probes; ++p)
      if (!WriteTimeDomainFile(eng, p, eng.spectrum.names[p] + "." + eng.timeExtension)) ++failed;
  }
  if (!eng.freqExtension.empty()) {
    con() << "- Output " << eng.freqExtension << " files...\n";
    for (int p = 0; p < probes; ++p) {
      ComputeSpectrum(eng, p);
      if (!WriteFrequencyDomainFile(eng, p, eng.spectrum.names[p] + "." + eng.freqExtension))
        ++failed;
    }
  }
  eng.failedResultFiles = failed;
  return failed;
}

}  // namespace tavro
