// The material tables of a model named by an axis word, as the Python
// module's set_material takes it.
#pragma once

#include <string_view>

#include "engine/model_record.h"

namespace tavro {

// Sets material `id` in the tables that `axes` names: "x", "y" or "z" one of
// them, "" or "xyz" all three. Any other word changes nothing and gives
// false. `id` must lie inside the tables.
bool SetMaterialOnAxes(ModelRecord& model, int id, const Material& m, std::string_view axes);

}  // namespace tavro
