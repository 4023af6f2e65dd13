#include "app/cli_words.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string_view>

#include "app/presets.h"
#include "engine/console.h"
#include "engine/gpu_backend.h"
#include "engine/records.h"

namespace tavro {

namespace {

// One line per option; an option added to the command line is added here, so
// that the word is no longer refused as unknown.
constexpr OptionWord kOptions[] = {
    {"-help", 0}, {"-h", 0},       {"--help", 0},   {"-mat", 2},  {"-matx", 2},
    {"-maty", 2}, {"-matz", 2},    {"-area", 3},    {"-unit", 3}, {"-layer", 2},
    {"-csv", 4},  {"-timelog", 1}, {"-freqlog", 1}, {"-n", 1},    {"-minfreq", 1},
    {"-cuda", 1}, {"-batch", 0},   {"-far", 0},     {"-vtk", 2},  {"-avgmat", 0},
    {"-nf2ff", 2}, {"-nf2ff-box", 6},
    {"-pml", 1},
    {"-sparam", 2},
};

bool isBlank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// True when only blanks follow `end`.
bool onlyBlanks(const char* end) {
  while (*end && isBlank(*end)) ++end;
  return *end == '\0';
}

// strtod reads hexadecimal numbers too; the decimal prefix rule of the
// command line and of the material texts stops at their "x".
bool isHex(const char* text) { return std::strchr(text, 'x') || std::strchr(text, 'X'); }

// A whole decimal integer, or a whole number as strtod reads it except
// hexadecimal ("inf" and "nan" pass: the checks of each value refuse them).
bool isWholeInteger(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  (void)std::strtoll(begin, &end, 10);
  return end != begin && onlyBlanks(end);
}

bool isWholeNumber(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  (void)std::strtod(begin, &end);
  return end != begin && onlyBlanks(end) && !isHex(begin);
}

}  // namespace

const OptionWord* FindOption(const std::string& word) {
  // Only a program that carries the GPU back end knows -cuda.
  if (word == "-cuda" && !InstalledGpuBackend()) return nullptr;
  for (const OptionWord& o : kOptions)
    if (word == o.name) return &o;
  return nullptr;
}

bool RefuseUnknownOption(const std::string& word) {
  if (word.size() < 2 || word[0] != '-') return false;
  std::error_code ec;
  if (std::filesystem::exists(word, ec)) return false;
  if (const OptionWord* o = FindOption(word)) {
    con() << "error: " << word << " needs " << o->args << (o->args == 1 ? " value" : " values")
          << ".\n";
  } else {
    con() << "error: unknown option(" << word << ").\n";
  }
  return true;
}

bool ReadIntArg(const std::string& option, const char* text, int& value) {
  if (!isWholeInteger(text)) {
    con() << "error: " << option << " needs an integer, not '" << text << "'.\n";
    return false;
  }
  // Values beyond the int range saturate instead of overflowing.
  const long long v = std::strtoll(text, nullptr, 10);
  value = v > INT_MAX ? INT_MAX : (v < INT_MIN ? INT_MIN : static_cast<int>(v));
  return true;
}

bool ReadFloatArg(const std::string& option, const char* text, float& value) {
  if (!isWholeNumber(text)) {
    con() << "error: " << option << " needs a number, not '" << text << "'.\n";
    return false;
  }
  value = static_cast<float>(std::strtod(text, nullptr));
  return true;
}

bool ReadMaterialArg(const std::string& option, int id, const char* text, Material& m) {
  const bool presets = option == "-mat";
  if (presets) {
    for (const MaterialPreset& p : kMaterialPresets) {
      if (p.name == std::string_view(text)) {
        m = p.value;
        return true;
      }
    }
  }
  // SG:ER:UR (":" or blanks between the values): exactly three finite
  // numbers. strtof gives the values the formatted float extraction gives.
  std::string copy = text;
  for (char& c : copy)
    if (c == ':') c = ' ';
  std::istringstream in(copy);
  std::string word;
  float values[3] = {0.0f, 1.0f, 1.0f};
  int count = 0;
  bool ok = true;
  while (ok && in >> word) {
    ok = count < 3 && isWholeNumber(word);
    if (ok) {
      values[count] = std::strtof(word.c_str(), nullptr);
      ok = std::isfinite(values[count++]);
    }
  }
  if (ok && count == 3) {
    m = Material{values[0], values[1], values[2]};
    return true;
  }
  con() << "error: bad material(" << text << ") for " << option << " " << id
        << "; give <SG>:<ER>:<UR> with three finite numbers";
  if (presets) {
    con() << " or one of";
    const char* sep = " ";
    for (const MaterialPreset& p : kMaterialPresets) {
      con() << sep << p.name;
      sep = ", ";
    }
  } else {
    con() << " (presets only with -mat)";
  }
  con() << ".\n";
  return false;
}

void WarnUndefinedMaterials(const ModelRecord& model, const std::vector<bool>& defined) {
  std::vector<bool> used(kMaterialCount, false);
  for (const int32_t id : model.data)
    if (id > 0 && id < kMaterialCount) used[static_cast<std::size_t>(id)] = true;
  for (int id = 1; id < kMaterialCount; ++id) {
    if (used[static_cast<std::size_t>(id)] && !defined[static_cast<std::size_t>(id)])
      con() << "warning: material ID " << id
            << " is used by CSV cells but set by no -mat; it is vacuum (0:1:1).\n";
  }
}

}  // namespace tavro
