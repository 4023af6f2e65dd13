// A busy model shared by the tests that compare two ways of stepping: every
// kind of source, materials and probes where the kept values matter.
#pragma once

#include "model_fixture.h"

namespace tavro::test {

// A box of X x Y x Z cells of 1 mm: a copper bar, a lossy anisotropic
// dielectric block, five kinds of source (one SWITCH toggling a cell between
// copper and vacuum) and probes inside, on a face and next to the sources.
inline bool busyModel(ModelRecord& model, int X, int Y, int Z) {
  if (!test::vacuumModel(model, X, Y, Z)) return false;
  model.materialX[1] = model.materialY[1] = model.materialZ[1] = Material{5.8e7f, 1.0f, 1.0f};
  model.materialX[2] = Material{0.02f, 4.0f, 1.0f};
  model.materialY[2] = Material{0.01f, 3.0f, 2.0f};
  model.materialZ[2] = Material{0.0f, 5.0f, 1.5f};
  for (int x = 2; x < X - 2; ++x) model.data[model.index(x, Y / 2, Z / 3)] = 1;
  for (int x = X / 2; x < X; ++x)
    for (int y = 0; y < Y / 2; ++y)
      for (int z = Z / 2; z < Z; ++z) model.data[model.index(x, y, z)] = 2;
  model.setPin(model.index(3, 4, 5), "CW Z 2 3e10");
  model.setPin(model.index(X / 2, Y / 3, 2), "GAUSS X 1");
  model.setPin(model.index(X - 3, Y - 3, Z - 4), "PULSE Y -1.5 2e10");
  model.setPin(model.index(1, Y - 2, Z / 2), "DC Z 0.5");
  model.data[model.index(X / 3, 2, Z - 3)] = 1;
  model.setPin(model.index(X / 3, 2, Z - 3), "SWITCH P 0 1e10");
  model.setProbe(model.index(3, 4, 5), "src");
  model.setProbe(model.index(X / 2, Y / 2, Z / 2), "mid");
  model.setProbe(model.index(0, Y / 2, Z / 2), "face");
  model.setProbe(model.index(X / 3, 2, Z - 3), "switch");
  return true;
}

}  // namespace tavro::test
