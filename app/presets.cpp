#include "app/presets.h"

#include <algorithm>
#include <sstream>

namespace tavro {

Material ParseMaterial(const std::string& text) {
  std::string copy = text;
  std::replace(copy.begin(), copy.end(), ':', ' ');
  std::istringstream in(copy);
  Material m;
  if (!(in >> m.sg >> m.er >> m.ur)) return Material{0.0f, 1.0f, 1.0f};
  return m;
}

Material MaterialFromText(const std::string& text) {
  for (const MaterialPreset& p : kMaterialPresets)
    if (text == p.name) return p.value;
  return ParseMaterial(text);
}

}  // namespace tavro
