#include "gui/text_entry.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "engine/console.h"
#include "gui/console_capture.h"
#include "gui/overlay_text.h"
#include "gui/panels.h"

namespace tavro {

namespace {

// The notice that follows the version, as in the banner.
constexpr char kTitleNotice[] = " 3-D FDTD electromagnetic field simulator";

constexpr unsigned char kEnter = 13;
constexpr unsigned char kBackspace = 8;
constexpr unsigned char kDelete = 127;  // a control key too: never part of a name

// Stores the parsed entry line into the field that `state` selects. The DC
// row shows source 1's value, which DC source cells use, so it edits that.
void storeNumber(Project& project, int32_t state, float x) {
  const int slot = state & kEditSlotMask;
  if (state & kEditSigma) {
    if (slot < kStoredSlots) project.sg[slot] = x;
  } else if (state & kEditEr) {
    if (slot < kStoredSlots) project.er[slot] = x;
  } else if (state & kEditUr) {
    if (slot < kStoredSlots) project.ur[slot] = x;
  } else if (state == kEditDxy) {
    project.dxy = x;
  } else if (state == kEditDz) {
    project.dz = x;
  } else if (state == kEditFrequency) {
    project.frequency = x;
  } else if (state == kEditSource1 || state == kEditDC) {
    project.sourceValue1 = x;
  } else if (state == kEditSource2) {
    project.sourceValue2 = x;
  }
}

// Fields that only make sense above zero: cell sizes, permittivity,
// permeability and the source frequency. Conductivity may be zero, not
// negative; source values may take either sign.
bool needsPositive(int32_t state) {
  return state == kEditDxy || state == kEditDz || state == kEditFrequency ||
         (state & (kEditEr | kEditUr)) != 0;
}

bool noNegative(int32_t state) { return (state & kEditSigma) != 0; }

// Length of the decimal number at the start of `t` (sign, digits, point,
// exponent), 0 when it has no digit before an exponent or suffix.
size_t numberLength(const std::string& t) {
  size_t i = 0, digits = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i, ++digits;
  }
  if (digits == 0) return 0;
  // An exponent needs a digit after 'e' (and its sign); "1E" is 1 exa.
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    if (j < t.size() && std::isdigit(static_cast<unsigned char>(t[j]))) {
      while (j < t.size() && std::isdigit(static_cast<unsigned char>(t[j]))) ++j;
      i = j;
    }
  }
  return i;
}

void closeEntry(EntryLine& entry) {
  entry.overwritePending = 0;
  entry.editState = kEditNone;
  entry.inputLine.clear();
}

// Hands the failure a file command printed to the window.
void report(EntryLine& entry, ConsoleCapture& capture) {
  if (!entry.notice) return;
  *entry.notice = capture.lastProblem();
  if (entry.notice->empty()) *entry.notice = "error: the file command failed.";
}

bool write(Project& project, EntryLine& entry) {
  ConsoleCapture capture;
  const bool ok = WriteProject(project, entry.inputLine);
  if (!ok) report(entry, capture);
  return ok;
}

// A typed number goes into its field only when it reads completely; a
// refusal is printed and handed to the window, and the field keeps its value.
void storeEntry(Project& project, EntryLine& entry) {
  const int32_t state = entry.editState;
  float x = 0.0f;
  std::string why = ReadEntryNumber(entry.inputLine, needsPositive(state), x);
  if (why.empty() && noNegative(state) && x < 0.0f) why = "\"" + entry.inputLine + "\" is negative";
  if (why.empty()) {
    storeNumber(project, state, x);
    return;
  }
  const std::string line = "error: " + why + "; the value is kept.";
  con() << line << "\n";
  if (entry.notice) *entry.notice = line;
}

}  // namespace

float ParseEngineering(const std::string& text) {
  if (text.empty() || text[0] > '9') return 0.0f;
  size_t split = 0;
  while (split < text.size() && text[split] <= '9') ++split;
  const std::string number = text.substr(0, split);
  const std::string suffix = text.substr(split);
  const char* begin = number.c_str();
  char* end = nullptr;
  const double d = std::strtod(begin, &end);
  float x = end == begin ? 0.0f : static_cast<float>(d);
  for (const SiPrefix& p : kSiPrefixes) {
    if (suffix == p.text) {
      x *= p.scale;
      break;
    }
  }
  return x;
}

std::string ReadEntryNumber(const std::string& text, bool positive, float& value) {
  const size_t n = numberLength(text);
  if (n == 0) return "\"" + text + "\" is not a number";
  const std::string suffix = text.substr(n);
  double scale = 0.0;
  for (const SiPrefix& p : kSiPrefixes)
    if (suffix == p.text) scale = p.scale;
  if (scale == 0.0) return "\"" + text + "\" has an unknown unit prefix \"" + suffix + "\"";
  const double x = std::strtod(text.substr(0, n).c_str(), nullptr) * scale;
  if (!std::isfinite(x) || std::fabs(x) > std::numeric_limits<float>::max())
    return "\"" + text + "\" is out of range";
  const float f = static_cast<float>(x);  // a value too small for float is zero
  // Beyond 999.9Y the panel could not show the value.
  if (FormatEngineering(f).empty()) return "\"" + text + "\" is out of range";
  if (positive && !(f > 0.0f)) return "\"" + text + "\" must be above zero";
  value = f;
  return {};
}

std::string WindowTitle(const Project& project) {
  std::string title = std::string("TAVRO") + " " + "version 2.15" + " " + kTitleNotice;
  if (!project.baseName.empty()) title += " : " + project.baseName;
  return title;
}

bool EntryKey(Project& project, EntryLine entry, unsigned char key) {
  if (entry.editState == kEditConfirmNew) {
    if (key == 'y') {
      ResetProjectParameters(project);
      ClearProjectCells(project);
    }
    closeEntry(entry);
    return false;
  }
  if (key == kEnter) {
    bool retitle = false;
    if (!entry.inputLine.empty()) {
      const int32_t state = entry.editState;
      if (state == kEditLoad) {
        ConsoleCapture capture;
        retitle = ReadProject(project, entry.inputLine);
        if (!retitle) report(entry, capture);
      } else if (state == kEditSave) {
        if (ProjectFileExists(project, entry.inputLine)) {
          entry.overwritePending = 1;
          return false;
        }
        retitle = write(project, entry);
      } else {
        storeEntry(project, entry);
      }
    }
    closeEntry(entry);
    return retitle;
  }
  if (entry.overwritePending) {
    const bool retitle = key == 'y' && write(project, entry);
    closeEntry(entry);
    return retitle;
  }
  if (key == kBackspace) {
    if (!entry.inputLine.empty()) entry.inputLine.pop_back();
  } else if (key >= 32 && key != kDelete) {
    entry.inputLine.push_back(static_cast<char>(key));
  }
  return false;
}

Effects EntryKey(GuiState& gui, unsigned char key) {
  ViewState& v = gui.view;
  Effects fx;
  const bool newProject = v.editState == kEditConfirmNew && key == 'y';
  gui.notice.clear();
  fx.retitle =
      EntryKey(gui.app.project, {v.editState, v.overwritePending, gui.inputLine, &gui.notice}, key);
  // What was just loaded, saved or started afresh is the new unmodified state.
  if (fx.retitle || newProject) gui.baseline = gui.app.project;
  fx.redisplay = v.running == 0;
  return fx;
}

std::string WindowTitle(const GuiState& gui) {
  return WindowTitle(gui.app.project) + (ProjectModified(gui) ? " *" : "");
}

}  // namespace tavro
