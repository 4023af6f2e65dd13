// Named materials and the "<SG>:<ER>:<UR>" material text.
#pragma once

#include <string>

#include "engine/model_record.h"

namespace tavro {

struct MaterialPreset {
  const char* name;
  Material value;
};

constexpr MaterialPreset kMaterialPresets[] = {
    {"SPACE", {0.0f, 1.0f, 1.0f}},   {"AIR", {1e-13f, 1.0f, 1.0f}},
    {"CU", {5.8e7f, 1.0f, 1.0f}},    {"GOLD", {4.1e7f, 1.0f, 1.0f}},
    {"AL", {4e7f, 1.0f, 1.0f}},      {"NI", {1.5e7f, 1.0f, 600.0f}},
    {"IRON", {1e7f, 1.0f, 5000.0f}}, {"SI", {4.4e-4f, 12.0f, 1.0f}},
    {"FR4", {1e-3f, 4.7f, 1.0f}},    {"TEFLON", {1e-3f, 2.1f, 1.0f}},
    {"WATER", {1e-2f, 80.0f, 1.0f}},
};

// Reads three floats separated by ":" (or blanks); any missing or unreadable
// value gives (0, 1, 1) as a whole. Text after the third value is ignored.
Material ParseMaterial(const std::string& text);

// The preset of that exact name, or ParseMaterial(text).
Material MaterialFromText(const std::string& text);

}  // namespace tavro
