// The -sparam run: one run per port with the progress line over all of them,
// then the Touchstone file.
#pragma once

#include "app/cli.h"

namespace tavro {

// Runs the prepared model once per port and writes <prefix>.s<N>p. Returns
// the exit status: 0; -1 when the model has no port or the frequency does
// not suit its time step; kStatusResultFiles when the file cannot be
// written; 128 + the signal when Ctrl-C or SIGTERM stopped it (the ports
// finished so far then go to <prefix>.s<N>p.partial, all comment lines).
// With `farField` (prepared for -nf2ff) each port's run also records the far
// field and writes <PREFIX>_port<N>_<FREQ>.txt and its console lines, with
// the port's radiation efficiency.
int RunSparam(App& app, FarFieldRecorder* farField = nullptr);

}  // namespace tavro
