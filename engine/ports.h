// Lumped ports: the PORT cell texts of the model become FDTD_PORT records,
// the port pass of a time step applies them, and the S-parameter runs
// excite them one at a time.
#pragma once

#include "engine/engine.h"
#include "engine/model_record.h"

namespace tavro {

// Whether the split text of a cell (model.tokens after splitPin) is a port.
bool isPortText(const ModelRecord& model);

// Port setting: reads every PORT cell of the area, numbers the ports, prints
// one line per port in number order and names each port's probe
// PORT<N>_<x>_<y>_<z>. Returns 1, or 0 after an error message (a bad port
// text, a number used twice or missing, or ports with the GPU back end).
int portSetting(SimulationEngine& eng, ModelRecord& model);

// Back to time 0 for the ports: the correction coefficients from the cell's
// E coefficients as the reset just left them, no stored field, no recording.
void resetPorts(SimulationEngine& eng);

// Makes room in the recording for `steps` more steps (outside any parallel
// region, before the steps run).
void reservePortSteps(SimulationEngine& eng, int steps);

// The port correction of port p right after its cell's E update in a step
// with counters `sam`, storing V and I at recording index `index` when
// recording.
void applyPortAt(SimulationEngine& eng, const FDTD_SAM& sam, size_t p, int64_t index);
// The same on the port's E component `f` wherever the step holds it.
void applyPortAt(SimulationEngine& eng, const FDTD_SAM& sam, size_t p, int64_t index, float& f);

// The port pass of one whole step (all ports, then the step count).
void applyPorts(SimulationEngine& eng);

// Sets port `excited` (index into the list, -1 for none) to send the
// excitation pulse of an S-parameter run up to `fmax`, the others to stay
// terminated in their resistance.
void excitePort(SimulationEngine& eng, int excited, double fmax);

// Electromagnetic energy in the box [J]: the sum of (eps E^2 + mu H^2)/2 over
// every cell volume, from the compact stepping state while it is active.
double boxEnergy(const SimulationEngine& eng);

}  // namespace tavro
