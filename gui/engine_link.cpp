#include "gui/engine_link.h"

#include "engine/colouring.h"
#include "engine/field_update.h"

namespace tavro {

void WindowStep(App& app) { stepBatch(app.engine); }

void WindowColour(App& app) { ColourCells(app.engine); }

}  // namespace tavro
