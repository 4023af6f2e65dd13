// Batch run loop with its progress line, and the end-of-run output.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/engine.h"

namespace tavro {

// Work done after every `every`-th time step of a batch run (field
// snapshots); `call` gets the number of time steps done so far.
struct StepHook {
  int64_t every = 0;
  std::function<void(int64_t steps)> call;
  // The call reads the fields from the compact stepping state where it is
  // active (and brings the records up to date itself where it needs them);
  // otherwise the run writes the records back before every call.
  bool readsCompact = false;
};

// Steps until stepCount reaches stepLimit, redrawing the progress line when
// the whole percentage changes, then writes the result files. Returns true
// when the run completed, false when SIGINT or SIGTERM stopped it early (the
// samples recorded so far are written all the same) or when a GPU step failed
// (eng.gpuFailed; no result files are written then).
bool RunBatch(SimulationEngine& eng, const StepHook* hook = nullptr);

// End-of-run output: clears the progress line and writes, per probe, the
// time-domain files and then the spectra with their frequency-domain files.
// A file that cannot be written is skipped after its warning; the others are
// still written. Returns the number of files not written (also kept in
// eng.failedResultFiles). After a failed GPU run (eng.gpuFailed, also set
// when the copy back fails) it writes no files.
int FinishRun(SimulationEngine& eng);

// The signal that stopped the last batch run, 0 when none did.
int LastStopSignal();

}  // namespace tavro
