#include "gui/text_entry.h"

#include <cstdlib>

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

void closeEntry(EntryLine& entry) {
  entry.overwritePending = 0;
  entry.editState = kEditNone;
  entry.inputLine.clear();
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

std::string WindowTitle(const Project& project) {
  std::string title = std::string("TAVRO") + " " + "version 2.15" + " " + kTitleNotice;
  if (!project.baseName.empty()) title += " : " + project.baseName;
  return title;
}

bool EntryKey(Project& project, EntryLine entry, unsigned char key) {
  if (key == kEnter) {
    bool retitle = false;
    if (!entry.inputLine.empty()) {
      const int32_t state = entry.editState;
      if (state == kEditLoad) {
        retitle = ReadProject(project, entry.inputLine);
      } else if (state == kEditSave) {
        if (ProjectFileExists(project, entry.inputLine)) {
          entry.overwritePending = 1;
          return false;
        }
        retitle = WriteProject(project, entry.inputLine);
      } else {
        storeNumber(project, state, ParseEngineering(entry.inputLine));
      }
    }
    closeEntry(entry);
    return retitle;
  }
  if (entry.overwritePending) {
    const bool retitle = key == 'y' && WriteProject(project, entry.inputLine);
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
  fx.retitle = EntryKey(gui.app.project, {v.editState, v.overwritePending, gui.inputLine}, key);
  fx.redisplay = v.running == 0;
  return fx;
}

std::string WindowTitle(const GuiState& gui) { return WindowTitle(gui.app.project); }

}  // namespace tavro
