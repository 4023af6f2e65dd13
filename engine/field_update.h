// Time stepping: the leap-frog H and E updates and the fixed order of one step.
#pragma once

#include "engine/engine.h"

namespace tavro {

void updateH(SimulationEngine& eng);
void updateE(SimulationEngine& eng);

// One time step: E boundary, H update, H boundary, E update, sources,
// measurement when due, then the time and sample counters.
void stepBatch(SimulationEngine& eng);
// `steps` (1 or 2) such steps, as stepBatch would give them one after the
// other; two run as one sweep over the box where it is large enough (each
// thread a range of six planes at least, three rows), which moves the field
// records through memory once for both. Returns the number of steps run:
// 2, or 1 when steps < 2 or the box is too small. A caller that stops at the
// sample limit asks for two only when the first step leaves one to take.
int stepBatchSteps(SimulationEngine& eng, int steps);
// The same step followed by the colouring of the cells for display. A caller
// that colours only before it paints passes colour = false and calls
// ColourCells then. On the GPU the samples of the step also come back to the
// host store, for the live graphs.
void stepInteractive(SimulationEngine& eng, bool colour = true);

// The plain form of the passes and of stepBatch: one scalar cell update after
// the other in simple nested loops. They give the same bits as the fast
// forms above and are kept as the reference that those are checked against.
void updateHPlain(SimulationEngine& eng);
void updateEPlain(SimulationEngine& eng);
void stepBatchReference(SimulationEngine& eng);

}  // namespace tavro
