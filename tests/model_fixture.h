// Small helpers shared by the engine tests: a vacuum model of a given size,
// set-up with the console captured, and element access by cell coordinates.
#pragma once

#include <sstream>
#include <string>

#include "engine/console.h"
#include "engine/engine.h"
#include "engine/grid_index.h"
#include "engine/model_record.h"
#include "engine/setup.h"

namespace tavro::test {

// Redirects the console into a string for the lifetime of the object.
class ConsoleCapture {
 public:
  ConsoleCapture() { setConsole(&out_); }
  ~ConsoleCapture() { setConsole(nullptr); }
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  std::string text() const { return out_.str(); }

 private:
  std::ostringstream out_;
};

// Fills `model` with X x Y x Z vacuum cells (ID 0) of edge `unit` metres.
inline bool vacuumModel(ModelRecord& model, int X, int Y, int Z, float unit = 0.001f) {
  model.areaX = X;
  model.areaY = Y;
  model.areaZ = Z;
  model.unitX = model.unitY = model.unitZ = unit;
  return model.allocateCells() == 1;
}

// set() with the console captured; returns its result and, if asked, the text.
inline int setQuiet(SimulationEngine& eng, ModelRecord& model, std::string* log = nullptr) {
  ConsoleCapture capture;
  const int ok = set(eng, model);
  if (log) *log = capture.text();
  return ok;
}

// A vacuum box of X x Y x Z cells of 1 mm, set up and ready to step.
inline bool vacuumBox(SimulationEngine& eng, ModelRecord& model, int X, int Y, int Z) {
  return vacuumModel(model, X, Y, Z) && setQuiet(eng, model) == 1;
}

// Zeroes the field components, keeping the coefficients.
inline void clearFields(SimulationEngine& eng) {
  for (ECell& c : eng.grid.e) c.ex = c.ey = c.ez = c.emag = 0.0f;
  for (HCell& c : eng.grid.h) c.hx = c.hy = c.hz = c.hmag = 0.0f;
}

inline ECell& eAt(SimulationEngine& eng, int64_t x, int64_t y, int64_t z) {
  return eng.grid.e[eIndex(eng.grid.desc, x, y, z)];
}
inline HCell& hAt(SimulationEngine& eng, int64_t x, int64_t y, int64_t z) {
  return eng.grid.h[hIndex(eng.grid.desc, x, y, z)];
}

}  // namespace tavro::test
