// The editor's clicks as the window hands them over: painting and erasing on
// the grid, the rows that open the text entry, and Run with a model that the
// conversion or the set-up refuses.
#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "engine/console.h"
#include "engine/field_update.h"
#include "gui/editor_model.h"
#include "gui/panels.h"
#include "gui/text_entry.h"

namespace tavro {
namespace {

class EditorPanel : public ::testing::Test {
 protected:
  void SetUp() override {
    app_ = std::make_unique<App>();
    gui_ = std::make_unique<GuiState>(*app_);
    gui_->view.viewMode = kViewEditor;
    gui_->view.running = 0;
    setConsole(&log_);
  }
  void TearDown() override { setConsole(nullptr); }

  void press(int button, PanelPoint p) { EditorMouse(*gui_, button, GLUT_DOWN, p); }
  void release(int button) { EditorMouse(*gui_, button, GLUT_UP, gui_->view.dragCurrent); }
  void click(PanelPoint p, int button = GLUT_LEFT_BUTTON) {
    press(button, p);
    release(button);
  }
  void drag(PanelPoint from, PanelPoint to, int button) {
    press(button, from);
    gui_->view.dragCurrent = to;  // what the motion callback leaves
    release(button);
  }
  uint8_t cell(int u, int v) { return app_->project.cells[SliceIndex(0, 0, u, v)]; }

  std::ostringstream log_;
  std::unique_ptr<App> app_;
  std::unique_ptr<GuiState> gui_;
};

TEST_F(EditorPanel, PaintsErasesAndKeepsProbeMarks) {
  click({70, 46});  // the swatch of material 1
  EXPECT_EQ(gui_->view.brush, 1.0f);
  click({3.5f, 4.5f});
  EXPECT_EQ(cell(3, 4), 1);
  EXPECT_EQ(cell(4, 4), 0);
  click({5, 5}, GLUT_MIDDLE_BUTTON);         // probe mark
  drag({80, 40}, {6, 6}, GLUT_LEFT_BUTTON);  // from the panel onto the grid: clamped
  EXPECT_EQ(cell(63, 40), 1);
  EXPECT_EQ(cell(63, 41), 0);
  EXPECT_EQ(cell(6, 6), 1);
  EXPECT_EQ(cell(5, 40), 0);
  EXPECT_EQ(gui_->view.editState, 0);  // the S/m row where it started did not open
  drag({5, 5}, {10, 6}, GLUT_RIGHT_BUTTON);
  EXPECT_EQ(cell(5, 5), kCellProbe);
  EXPECT_EQ(cell(10, 6), 0);
  EXPECT_EQ(gui_->view.brush, 1.0f);  // the brush is back after erasing
  EXPECT_EQ(gui_->view.dragMode, 0);
}

TEST_F(EditorPanel, RowsOpenTheEntryAndAPressAbandonsIt) {
  click({84, 30});  // er of slot 5
  EXPECT_EQ(gui_->view.editState, kEditEr + 5);
  EXPECT_EQ(gui_->view.entryAnchor, (PanelPoint{84, 30}));
  for (unsigned char k : std::string("2.2\r")) EntryKey(*gui_, k);
  EXPECT_FLOAT_EQ(app_->project.er[5], 2.2f);
  click({75, 6});  // the DC value edits source 1's value, which DC cells use
  EXPECT_EQ(gui_->view.editState, kEditDC);
  EntryKey(*gui_, '3');
  press(GLUT_LEFT_BUTTON, {30, 80});  // any press closes the entry
  EXPECT_EQ(gui_->view.editState, 0);
  EXPECT_TRUE(gui_->inputLine.empty());
}

TEST_F(EditorPanel, RunStartsANewRunOrStaysInTheEditorWithTheReason) {
  const struct {
    const char* what;
    void (*spoil)(Project&);
    const char* message;
    const char* shown;  // the reason the window shows
  } cases[] = {
      {"bad source material", [](Project& p) { p.sourceMaterial = 9; },
       "error: unknown error while set_data().\n", "error: bad source material(9) in the model."},
      {"zero permittivity", [](Project& p) { p.er[1] = 0; }, "error: unknown error while set().\n",
       "error: material (1) needs finite values with positive er and ur."},
      {"good model", [](Project&) {}, nullptr, nullptr},
  };
  for (const auto& c : cases) {
    SetUp();
    Project& p = app_->project;
    p.cells[SliceIndex(0, 32, 30, 30)] = 1;
    p.cells[SliceIndex(0, 32, 31, 30)] = kCellSource1 | kCellProbe | 1;
    c.spoil(p);
    const int32_t before = app_->engine.sam.probeCount + app_->engine.sam.sourceCount;
    press(GLUT_LEFT_BUTTON, {82, 69});
    const ViewState& v = gui_->view;
    const FDTD_SAM& s = app_->engine.sam;
    if (c.message) {
      // Back in the editor with the project as it was and the reason shown.
      EXPECT_EQ(v.viewMode, kViewEditor) << c.what;
      EXPECT_EQ(gui_->notice.rfind(c.shown, 0), 0u) << gui_->notice;
      EXPECT_EQ(p.cells[SliceIndex(0, 32, 31, 30)], kCellSource1 | kCellProbe | 1) << c.what;
      EXPECT_FALSE(gui_->runRefused);  // refused before the running model was touched
      EXPECT_EQ(v.running, 0) << c.what;
      const std::string log = log_.str();
      EXPECT_EQ(log.substr(log.size() - std::string(c.message).size()), c.message) << c.what;
      EXPECT_EQ(s.probeCount + s.sourceCount, before) << c.what;  // the run before is kept
      for (int i = 0; i < 3; ++i) stepBatch(app_->engine);        // r after the refusal: harmless
      EXPECT_EQ(s.stepCount, 3) << c.what;
    } else {
      EXPECT_EQ(v.viewMode, kViewE);
      EXPECT_TRUE(gui_->notice.empty());
      EXPECT_EQ(v.running, 1);
      EXPECT_EQ(s.probeCount, 1);
      EXPECT_EQ(s.sourceCount, 1);
      EXPECT_EQ(s.stepCount, 0);
    }
    EXPECT_EQ(v.dragMode, 0) << c.what;
    TearDown();
  }
}

// A refused Run leaves the run before it as it was: Cancel returns to it and
// r goes on with it.
TEST_F(EditorPanel, ARefusedRunKeepsThePreviousRun) {
  Project& p = app_->project;
  p.cells[SliceIndex(0, 32, 30, 30)] = kCellSource1 | kCellProbe | 1;
  press(GLUT_LEFT_BUTTON, {82, 69});  // a good Run
  for (int i = 0; i < 5; ++i) stepBatch(app_->engine);
  gui_->view.viewMode = kViewEditor;
  gui_->view.running = 0;
  const int64_t cells = app_->model.cellCount();
  p.er[1] = 0;
  p.dxy = 0.002f;  // would change the grid if it were taken
  press(GLUT_LEFT_BUTTON, {82, 69});
  EXPECT_EQ(gui_->view.viewMode, kViewEditor);
  EXPECT_NE(gui_->notice.find("material (1)"), std::string::npos) << gui_->notice;
  const FDTD_SAM& s = app_->engine.sam;
  EXPECT_EQ(s.stepCount, 5);
  EXPECT_EQ(s.probeCount, 1);
  EXPECT_FLOAT_EQ(s.dx, 0.001f);
  EXPECT_EQ(app_->model.cellCount(), cells);
  press(GLUT_LEFT_BUTTON, {92, 69});  // Cancel: the stopped run is there
  EXPECT_EQ(gui_->view.viewMode, kViewE);
  stepBatch(app_->engine);
  EXPECT_EQ(s.stepCount, 6);
}

// New empties the project at once while nothing is unsaved; with changes it
// asks, and only y discards them. The title marks the changes meanwhile.
TEST_F(EditorPanel, NewAsksBeforeDiscardingUnsavedChanges) {
  const std::string clean = WindowTitle(*gui_);
  const struct {
    bool edit;           // paint a cell first
    const char* answer;  // keys after New ("" = none)
    bool cleared;
  } cases[] = {{false, "", true}, {true, "n", false}, {true, "\r", false}, {true, "y", true}};
  for (const auto& c : cases) {
    if (c.edit) {
      click({70, 46});  // brush 1
      click({3, 3});
      EXPECT_EQ(WindowTitle(*gui_), clean + " *");
    }
    click({72, 1});  // New
    EXPECT_EQ(gui_->view.editState, c.edit ? kEditConfirmNew : 0) << c.answer;
    for (unsigned char k : std::string(c.answer)) EntryKey(*gui_, k);
    EXPECT_EQ(gui_->view.editState, 0) << c.answer;
    EXPECT_EQ(cell(3, 3) == 0, c.cleared) << c.answer;
    EXPECT_EQ(WindowTitle(*gui_) == clean, c.cleared) << c.answer;
    if (!c.cleared) {  // leave no changes for the next case
      click({72, 1});
      EntryKey(*gui_, 'y');
    }
  }
}

// The averaged-materials switch, by key and by header click, reaches the
// set-up of the next Run and its report.
TEST_F(EditorPanel, AveragedMaterialsSwitchReachesTheRun) {
  EditorKey(*gui_, 'v');
  EXPECT_EQ(gui_->view.averageMaterials, 1);
  click({15, 69});
  EXPECT_EQ(gui_->view.averageMaterials, 0);
  click({15, 69});
  app_->project.cells[SliceIndex(0, 32, 30, 30)] = 1;
  press(GLUT_LEFT_BUTTON, {82, 69});
  EXPECT_EQ(gui_->view.running, 1);
  EXPECT_TRUE(app_->engine.averageMaterials);
  EXPECT_NE(log_.str().find("averaged onto the grid edges"), std::string::npos);
}

}  // namespace
}  // namespace tavro
