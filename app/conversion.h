// Conversion of an editor project into the model record, and the demo model.
#pragma once

#include "engine/model_record.h"
#include "files/project.h"

namespace tavro {

// Places the project's cube in the middle of a box with an empty margin
// (8 cells, or 64 when farField is set). Returns false when the cells could
// not be allocated or the project cannot be converted.
bool set_data(Project& project, ModelRecord& model, int farField);

// Builds the built-in demo model. Returns false when the cells could not be
// allocated.
bool MakeDemoProject(const Project& project, ModelRecord& model);

}  // namespace tavro
