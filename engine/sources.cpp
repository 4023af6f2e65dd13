// Placeholder until the sources land.
#include "engine/sources.h"

#include "engine/console.h"

namespace tavro {
int sourceSetting(SimulationEngine& eng, ModelRecord&, std::vector<int32_t>&) {
  con() << "- source setting...\n";
  eng.sources.release();
  eng.sam.sourceCount = 0;
  return 1;
}
void applySources(SimulationEngine&) {}
}  // namespace tavro
