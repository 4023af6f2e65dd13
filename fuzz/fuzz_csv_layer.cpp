// Fuzz target: one CSV layer file read into a small model, then the set-up and
// a few time steps of whatever the file described.
//
// Input: three bytes choosing the columns X, rows Y and layer Z handed to the
// reader (each may fall outside the area), then the bytes of the CSV file.
#include <cstdint>
#include <string>

#include "engine/console.h"
#include "engine/engine.h"
#include "engine/field_update.h"
#include "engine/model_record.h"
#include "engine/setup.h"
#include "files/csv_layer.h"
#include "files/spectrum.h"
#include "fuzz/fuzz_common.h"

namespace {

using namespace tavro;

constexpr int kAreaX = 6, kAreaY = 5, kAreaZ = 3;
constexpr int kSteps = 5;

struct State {
  ModelRecord model;
  SimulationEngine engine;
  State() {
    setConsole(&fuzz::nullConsole());
    setMemoryLimit(256ull << 20);
    model.areaX = kAreaX;
    model.areaY = kAreaY;
    model.areaZ = kAreaZ;
    model.unitX = model.unitY = model.unitZ = 0.001f;
    model.materialX[1] = model.materialY[1] = model.materialZ[1] = Material{5.8e7f, 1.0f, 1.0f};
    model.materialX[2] = model.materialY[2] = model.materialZ[2] = Material{1e-3f, 4.7f, 1.0f};
    engine.requestedStepLimit = kSteps;
  }
};

bool validPin(const std::string& pin) {
  return !pin.empty() && pin.find_first_of(":\"", 0) == std::string::npos &&
         pin.find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static State* state = new State;
  if (size < 3) return 0;
  ModelRecord& model = state->model;
  FUZZ_CHECK(model.allocateCells() == 1);

  const int X = data[0] % (kAreaX + 3) - 1;  // -1 .. areaX + 1
  const int Y = data[1] % (kAreaY + 3) - 1;
  const int Z = data[2] % (kAreaZ + 2) - 1;  // -1 .. areaZ
  const std::string path = fuzz::writeScratch("layer.csv", data + 3, size - 3);
  const bool inside = X >= 0 && Y >= 0 && Z >= 0 && X <= kAreaX && Y <= kAreaY && Z < kAreaZ;
  const bool ok = ReadCsvLayer(model, X, Y, Z, path);
  FUZZ_CHECK(ok == inside);

  // Only cells of the named part of the layer may change; every text is a
  // non-empty pin without ":" or quotes, and its probe name ends in x_y_z.
  for (int x = 0; x < kAreaX; ++x)
    for (int y = 0; y < kAreaY; ++y)
      for (int z = 0; z < kAreaZ; ++z) {
        const uint64_t k = model.index(x, y, z);
        const bool inLayer = ok && x < X && y < Y && z == Z;
        if (!inLayer) {
          FUZZ_CHECK(model.data[k] == 0);
          FUZZ_CHECK(model.pin(k).empty() && model.probe(k).empty());
          continue;
        }
        if (model.pin(k).empty()) continue;
        FUZZ_CHECK(validPin(model.pin(k)));
        const std::string suffix =
            "_" + std::to_string(x) + "_" + std::to_string(y) + "_" + std::to_string(z);
        const std::string& name = model.probe(k);
        FUZZ_CHECK(name.size() > suffix.size() &&
                   name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0);
      }
  if (!ok) return 0;

  // Whatever the layer described must either be refused by the set-up or run.
  SimulationEngine& eng = state->engine;
  if (!set(eng, model)) return 0;
  FUZZ_CHECK(eng.sam.stepLimit == kSteps);
  while (eng.sam.stepCount < eng.sam.stepLimit) stepBatch(eng);
  for (int p = 0; p < eng.sam.probeCount; ++p) ComputeSpectrum(eng, p);
  return 0;
}
