// The far field of a batch run (-nf2ff <FREQ> <PREFIX>, -nf2ff-box): the
// option values, the checks made once the grid is known, the recording
// after every time step and the result files and console lines at the end.
#pragma once

#include <string>
#include <vector>

#include "engine/nf2ff_surface.h"

namespace tavro {

struct FarFieldOptions {
  std::vector<double> freqs;           // Hz, in the order given
  std::vector<std::string> freqTexts;  // as written: they name the files
  std::string prefix;                  // empty = no far field
  bool haveBox = false;                // -nf2ff-box given
  SurfaceBox box;

  bool active() const { return !freqs.empty(); }
};

// Reads the FREQ word of -nf2ff: one frequency or several separated by
// commas, each a whole number above 0. Prints the error and returns false.
bool ReadFarFieldFrequencies(const char* text, FarFieldOptions& opt);

// Checks made after the set-up: the surface lies inside the area, and a
// frequency with fewer than 10 cells a wavelength gets a warning. Prepares
// the recorder. Prints the error and returns false when the run cannot give
// a far field.
bool PrepareFarField(const FarFieldOptions& opt, const SimulationEngine& eng,
                     FarFieldRecorder& rec);

// End of the run: per frequency the pattern, the file <PREFIX>_<FREQ>.txt
// and the console lines
//   directivity : <D>[dBi] at theta=<t> phi=<p> (<FREQ>[Hz])
//   radiated power : <P>[W]
// Returns the number of files that could not be written.
int WriteFarFieldResults(const FarFieldOptions& opt, const FarFieldRecorder& rec);

// The far field of the run of one port of -sparam: the port's number and
// the power accepted at it at each frequency of the options [W].
struct PortFarField {
  int number = 0;
  std::vector<double> accepted;
};

// As WriteFarFieldResults, for the run of `port`: the files are named
// <PREFIX>_port<N>_<FREQ>.txt and each frequency gets one more line
//   radiation efficiency : <eta> (port <N>, <FREQ>[Hz])
// with eta the radiated power over the accepted power.
int WritePortFarFieldResults(const FarFieldOptions& opt, const FarFieldRecorder& rec,
                             const PortFarField& port);

}  // namespace tavro
