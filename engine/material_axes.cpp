#include "engine/material_axes.h"

namespace tavro {

bool SetMaterialOnAxes(ModelRecord& model, int id, const Material& m, std::string_view axes) {
  const bool all = axes.empty() || axes == "xyz";
  if (!all && axes != "x" && axes != "y" && axes != "z") return false;
  const auto k = static_cast<std::size_t>(id);
  if (all || axes == "x") model.materialX[k] = m;
  if (all || axes == "y") model.materialY[k] = m;
  if (all || axes == "z") model.materialZ[k] = m;
  return true;
}

}  // namespace tavro
