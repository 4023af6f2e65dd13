// Checks of the command line's words: the known options, whole numbers,
// material texts, and the model checks made once the command line is read.
// Every check prints its own message naming the option or the text at fault.
#pragma once

#include <string>
#include <vector>

#include "engine/model_record.h"

namespace tavro {

// Every option the command line knows, with the number of words it takes.
struct OptionWord {
  const char* name;
  int args;
};

// The known option of that name, or nullptr.
const OptionWord* FindOption(const std::string& word);

// A word that is no option of the command line is a model file, unless it
// starts with "-" and no such file exists: then it is a mistyped option (or a
// known one without all its values). Prints the error and returns true then.
bool RefuseUnknownOption(const std::string& word);

// An integer or a number that must be the whole argument of `option`
// (surrounding blanks aside). The values are those the decimal prefix rule
// gives; a word with anything more, or with no number, prints
// "error: <option> needs an integer, not '<text>'." (or "a number") and
// returns false.
bool ReadIntArg(const std::string& option, const char* text, int& value);
bool ReadFloatArg(const std::string& option, const char* text, float& value);

// The material of `-mat ID TEXT` (a preset name or SG:ER:UR) or of
// `-matx/-maty/-matz ID TEXT` (SG:ER:UR only): three finite numbers and
// nothing else. Prints the error naming the option, the ID and the text, and
// returns false, for anything else.
bool ReadMaterialArg(const std::string& option, int id, const char* text, Material& m);

// One warning per material ID that cells use but no -mat, -matx, -maty or
// -matz set (and no model file defined): such cells are vacuum. ID 0 is the
// documented default material and IDs outside the tables are refused by the
// set-up, so neither is warned about.
void WarnUndefinedMaterials(const ModelRecord& model, const std::vector<bool>& defined);

}  // namespace tavro
