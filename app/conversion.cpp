// Placeholder until the conversion lands.
#include "app/conversion.h"

namespace tavro {
bool set_data(Project&, ModelRecord&, int) { return false; }
bool MakeDemoProject(const Project&, ModelRecord&) { return false; }
}  // namespace tavro
