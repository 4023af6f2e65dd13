// The editor's one-line text entry: numbers typed with an SI prefix, the
// load and save commands with the overwrite question, and the window title.
#pragma once

#include <cstdint>
#include <string>

#include "files/project.h"

namespace tavro {

// Edit states: what the entry line writes when Enter is pressed.
constexpr int32_t kEditNone = 0;
constexpr int32_t kEditDxy = 1;
constexpr int32_t kEditDz = 2;
constexpr int32_t kEditLoad = 3;
constexpr int32_t kEditSave = 4;
constexpr int32_t kEditConfirmNew = 5;  // New waits for y to discard unsaved changes
constexpr int32_t kEditFrequency = 7;
constexpr int32_t kEditSource1 = 9;
constexpr int32_t kEditSource2 = 10;
constexpr int32_t kEditDC = 11;
constexpr int32_t kEditSigma = 0x80;  // + slot 0..5
constexpr int32_t kEditEr = 0x100;
constexpr int32_t kEditUr = 0x200;
constexpr int32_t kEditSlotMask = 0x3F;

// A number with an optional SI prefix ("3G", "2.5u", "-1m"). The text is
// split at its first character above '9': the part before reads as a
// decimal number (0 when it does not), the part after scales it when it is
// exactly one of the prefixes y .. Y (case matters) and is ignored
// otherwise. A text that starts with a letter gives 0.
float ParseEngineering(const std::string& text);

// The strict reading the entry line uses: an optional sign, digits with an
// optional decimal point and exponent ("5.8e7", "1e-3"), then nothing or
// exactly one SI prefix y .. Y. Returns an empty text and sets `value` when
// the text reads as a finite float (positive when `positive` is set);
// otherwise returns why it was refused and leaves `value` alone.
std::string ReadEntryNumber(const std::string& text, bool positive, float& value);

// "TAVRO version 2.15 <notice>", then " : " and the project's base name when
// it has one.
std::string WindowTitle(const Project& project);

// The fields of the text entry.
struct EntryLine {
  int32_t& editState;
  int32_t& overwritePending;
  std::string& inputLine;
  // Receives the reason when a number is refused or a file command fails
  // (the same text goes to the console); may be null.
  std::string* notice = nullptr;
};

// One key typed into the entry: Enter stores, loads or saves (asking before
// it replaces a file), Backspace deletes, control keys are ignored and the
// rest are appended; any key answers a pending overwrite question (y writes).
// A refused number keeps the field's old value. In kEditConfirmNew, y
// empties the project and any other key keeps it.
// Returns true when a file was loaded or saved, so the title must change.
bool EntryKey(Project& project, EntryLine entry, unsigned char key);

}  // namespace tavro
