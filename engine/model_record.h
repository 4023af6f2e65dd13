// ModelRecord: the one description of what is simulated. A box of
// areaX x areaY x areaZ cells, each with a material ID, a display flag and
// optionally a source/probe text (`pin`) and a probe name, plus three material
// tables indexed by material ID and the cell size in metres.
//
// Cell (x, y, z) is element (x*areaY + y)*areaZ + z: z fastest, x slowest.
// The texts are kept sparsely (most cells have none) but are addressed by the
// same cell index; iteration over them runs in increasing cell order.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/buffer.h"

namespace tavro {

struct Material {
  float sg = 0.0f;  // electrical conductivity [S/m]
  float er = 1.0f;  // relative permittivity
  float ur = 1.0f;  // relative permeability
};

class ModelRecord {
 public:
  ModelRecord();

  Buffer<int32_t> data;                                   // material ID per cell
  Buffer<int32_t> hide;                                   // 1 = not drawn by the point display
  std::vector<Material> materialX, materialY, materialZ;  // kMaterialCount entries each
  std::array<std::string, 5> tokens;                      // fields of the last splitPin
  int32_t areaX = 0, areaY = 0, areaZ = 0;
  float unitX = 1.0f, unitY = 1.0f, unitZ = 1.0f;

  uint64_t cellCount() const {
    return static_cast<uint64_t>(areaX) * static_cast<uint64_t>(areaY) *
           static_cast<uint64_t>(areaZ);
  }
  uint64_t index(int x, int y, int z) const {
    return (static_cast<uint64_t>(x) * static_cast<uint64_t>(areaY) + static_cast<uint64_t>(y)) *
               static_cast<uint64_t>(areaZ) +
           static_cast<uint64_t>(z);
  }

  // Per-cell texts; an empty text means none.
  const std::string& pin(uint64_t k) const;
  const std::string& probe(uint64_t k) const;
  void setPin(uint64_t k, std::string text);
  void setProbe(uint64_t k, std::string name);
  // Cells with a non-empty text, in increasing cell order.
  const std::map<uint64_t, std::string>& pins() const { return pins_; }
  const std::map<uint64_t, std::string>& probes() const { return probes_; }

  // Allocates the cell arrays for the current area and clears every cell
  // (ID 0, hide 0, no texts). Prints the allocation message and returns 0 on
  // failure, 1 on success. Material tables, units and tokens are untouched.
  int allocateCells();

  // Takes the material tables and the cell units of `from`; cells, texts and
  // the area stay as they are.
  void copyTablesAndUnits(const ModelRecord& from);

  // Splits the pin text of cell k at white space into tokens[0..4]; returns
  // the number of fields found (0 to 5). Tokens at or above the count keep
  // what they held.
  int splitPin(uint64_t k);

 private:
  std::map<uint64_t, std::string> pins_;
  std::map<uint64_t, std::string> probes_;
};

}  // namespace tavro
