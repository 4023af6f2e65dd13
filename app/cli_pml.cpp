#include "app/cli_pml.h"

#include "app/cli_words.h"
#include "engine/console.h"
#include "engine/pml.h"

namespace tavro {

bool ReadPmlCells(SimulationEngine& eng, const char* text) {
  if (eng.pmlCells != 0) {
    con() << "error: -pml is given twice.\n";
    return false;
  }
  int cells = 0;
  if (!ReadIntArg("-pml", text, cells)) return false;
  if (cells < 1 || cells > kPmlMaxCells) {
    con() << "error: -pml needs 1 to " << kPmlMaxCells << " cells, not " << text << ".\n";
    return false;
  }
  eng.pmlCells = cells;
  return true;
}

}  // namespace tavro
