// Placeholder until the model files land.
#include "files/project.h"

namespace tavro {
Project::Project() { ResetProjectParameters(*this); }
void ResetProjectParameters(Project&) {}
void ClearProjectCells(Project& project) { project.cells.fill(0); }
bool ReadProject(Project&, const std::string&) { return false; }
bool WriteProject(Project&, const std::string&) { return false; }
bool ProjectFileExists(Project&, const std::string&) { return false; }
bool ListProjectFiles(Project&) { return false; }
}  // namespace tavro
