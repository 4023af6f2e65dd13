// CSV layer input: one Z layer of cells (material IDs, probe and source texts).
#pragma once

#include <string>

#include "engine/model_record.h"

namespace tavro {

// Reads X columns and Y rows of the CSV file `path` into layer Z of the model.
// Returns true on success, false after printing an error.
bool ReadCsvLayer(ModelRecord& model, int X, int Y, int Z, const std::string& path);

}  // namespace tavro
