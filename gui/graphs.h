// The waveform graphs of modes 3 (time) and 4 (frequency); DrawGraphs itself
// is declared with the other panels.
#pragma once

namespace tavro {

// Forgets the spectra of the last run, so that the next frequency graph
// computes them afresh. Called when a new run is set up.
void ResetGraphs();

}  // namespace tavro
