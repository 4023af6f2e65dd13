// Ctrl-C and SIGTERM during a batch run: while a StopSignals lives, either
// signal only notes itself in g_batchStop, and the run stops at its next step
// instead of the process being killed, so that what was recorded so far is
// kept. The previous handlers come back when it ends.
#pragma once

#include <csignal>

namespace tavro {

// The signal that asked the batch run to stop, or 0.
inline volatile std::sig_atomic_t g_batchStop = 0;

inline void onBatchStop(int sig) { g_batchStop = sig; }

class StopSignals {
 public:
  StopSignals() {
    g_batchStop = 0;
    oldInt_ = std::signal(SIGINT, onBatchStop);
    oldTerm_ = std::signal(SIGTERM, onBatchStop);
  }
  ~StopSignals() {
    std::signal(SIGINT, oldInt_);
    std::signal(SIGTERM, oldTerm_);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  void (*oldInt_)(int) = SIG_DFL;
  void (*oldTerm_)(int) = SIG_DFL;
};

}  // namespace tavro
