#include "engine/model_record.h"

#include <sstream>

#include "engine/console.h"
#include "engine/records.h"

namespace tavro {

namespace {
const std::string kEmpty;

void setText(std::map<uint64_t, std::string>& texts, uint64_t k, std::string text) {
  if (text.empty())
    texts.erase(k);
  else
    texts[k] = std::move(text);
}

const std::string& getText(const std::map<uint64_t, std::string>& texts, uint64_t k) {
  auto it = texts.find(k);
  return it == texts.end() ? kEmpty : it->second;
}
}  // namespace

ModelRecord::ModelRecord()
    : materialX(kMaterialCount), materialY(kMaterialCount), materialZ(kMaterialCount) {}

const std::string& ModelRecord::pin(uint64_t k) const { return getText(pins_, k); }
const std::string& ModelRecord::probe(uint64_t k) const { return getText(probes_, k); }
void ModelRecord::setPin(uint64_t k, std::string text) { setText(pins_, k, std::move(text)); }
void ModelRecord::setProbe(uint64_t k, std::string name) { setText(probes_, k, std::move(name)); }

namespace {
// Decimal text of a 128-bit count (the true cell count of an area whose
// product does not fit 64 bits).
std::string decimal(unsigned __int128 v) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(v % 10)));
    v /= 10;
  } while (v != 0);
  return digits;
}
}  // namespace

void ModelRecord::copyTablesAndUnits(const ModelRecord& from) {
  materialX = from.materialX;
  materialY = from.materialY;
  materialZ = from.materialZ;
  unitX = from.unitX;
  unitY = from.unitY;
  unitZ = from.unitZ;
}

int ModelRecord::allocateCells() {
  data.release();
  hide.release();
  pins_.clear();
  probes_.clear();
  // An area whose cell count does not even fit 64 bits cannot be allocated;
  // a wrapped product would look small and pass every later size check.
  const unsigned __int128 exact = static_cast<unsigned __int128>(static_cast<uint64_t>(areaX)) *
                                  static_cast<uint64_t>(areaY) * static_cast<uint64_t>(areaZ);
  if (areaX < 0 || areaY < 0 || areaZ < 0 || (exact >> 64) != 0) {
    con() << "error: can't allocate memory for data[" << decimal(exact) << "].\n";
    return 0;
  }
  const uint64_t n = cellCount();
  // Two int32 arrays per cell; refuse up front what the machine cannot hold
  // rather than be killed while clearing.
  const bool fits = n <= (UINT64_MAX / 8) && memoryFits(8 * n);
  // Both arrays come zeroed: the pages of a large area that its layers
  // leave at ID 0 (and every page of hide) are never written.
  if (!fits || !data.allocateZeroed(n)) {
    con() << "error: can't allocate memory for data[" << n << "].\n";
    return 0;
  }
  if (!hide.allocateZeroed(n)) {
    con() << "error: can't allocate memory for hide[" << n << "].\n";
    return 0;
  }
  return 1;
}

int ModelRecord::splitPin(uint64_t k) {
  std::istringstream words(pin(k));
  int count = 0;
  std::string word;
  while (count < 5 && (words >> word)) tokens[count++] = word;
  return count;
}

}  // namespace tavro
