// The window's input bindings as state changes, without a window: keys,
// arrow keys, wheel, buttons, drags, reshape, and the repaint interval.
#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <memory>

#include "gui/bindings.h"
#include "gui/paint_pacing.h"
#include "model_fixture.h"

namespace {

using tavro::Effects;
using tavro::GuiState;
using tavro::PanelPoint;
using tavro::ViewState;

// A window state on a set-up 6 x 5 x 4 box, as the window starts it.
struct Window {
  std::unique_ptr<tavro::App> app = std::make_unique<tavro::App>();
  std::unique_ptr<GuiState> gui;
  Window() {
    EXPECT_TRUE(tavro::test::vacuumModel(app->model, 6, 5, 4));
    EXPECT_EQ(tavro::test::setQuiet(app->engine, app->model), 1);
    gui = std::make_unique<GuiState>(*app);
    tavro::ResetView(*gui);
  }
  ViewState& v() { return gui->view; }
};

TEST(WindowBindings, ResetViewTakesTheGrid) {
  Window w;
  EXPECT_EQ(w.v().modelCentre, (std::array<float, 3>{3, 2, 2}));
  EXPECT_EQ(w.v().viewExtent, 6);
  EXPECT_EQ(w.v().graphMaxima[11], -std::numeric_limits<float>::infinity());
}

TEST(WindowBindings, KeysInEveryMode) {
  struct Case {
    int mode, running;
    unsigned char key;
    int wantMode, wantComponent, wantRunning;
    bool wantRedisplay;
  };
  const Case cases[] = {
      {2, 1, 'e', 0, 0, 1, false}, {0, 1, 'h', 1, 0, 1, false}, {0, 1, 'm', 2, 0, 1, false},
      {0, 1, 'w', 3, 0, 1, false}, {0, 1, 'f', 4, 0, 1, false}, {3, 1, 'q', 5, 0, 0, true},
      {0, 0, 'r', 0, 0, 1, false}, {4, 1, 's', 4, 0, 0, true},  {0, 1, 'x', 0, 1, 1, false},
      {1, 0, 'y', 1, 2, 0, true},  {0, 1, 'z', 0, 3, 1, false}, {0, 1, 'E', 0, 0, 1, false},
      {0, 1, 'Q', 0, 0, 1, false}, {5, 0, 'e', 5, 0, 0, true},  {5, 0, 'r', 5, 0, 0, true},
  };
  for (const Case& c : cases) {
    Window w;
    w.v().viewMode = c.mode;
    w.v().running = c.running;
    const Effects fx = tavro::KeyPressed(*w.gui, c.key);
    SCOPED_TRACE(std::string("mode ") + std::to_string(c.mode) + " key " + char(c.key));
    EXPECT_EQ(w.v().viewMode, c.wantMode);
    EXPECT_EQ(w.v().component, c.wantComponent);
    EXPECT_EQ(w.v().running, c.wantRunning);
    EXPECT_EQ(fx.redisplay, c.wantRedisplay);
    EXPECT_TRUE(fx.recolour);
  }
  // 'a' after 'z' returns to the absolute value.
  Window w;
  tavro::KeyPressed(*w.gui, 'z');
  tavro::KeyPressed(*w.gui, 'a');
  EXPECT_EQ(w.v().component, 0);
}

TEST(WindowBindings, RecolourHandsTheViewToTheColouring) {
  Window w;
  w.v().viewMode = 1;
  w.v().component = 2;
  w.v().colourGain = 2.0f;
  tavro::Recolour(*w.gui);
  const tavro::GridDesc& d = w.app->engine.grid.desc;
  EXPECT_EQ(d.viewField, 1);
  EXPECT_EQ(d.viewComponent, 2);
  EXPECT_EQ(d.viewScale, 0.1234f * 2.0f);
  // Zero fields: no cell has a colour.
  EXPECT_EQ(w.app->engine.grid.cellColor[0], 255);
}

TEST(WindowBindings, ArrowKeysMoveTheSliceWithinItsRange) {
  struct Case {
    int key, axis, layer, wantAxis, wantLayer;
  };
  const Case cases[] = {
      {GLUT_KEY_LEFT, 0, 0, 2, 0}, {GLUT_KEY_LEFT, 2, 0, 1, 0}, {GLUT_KEY_RIGHT, 2, 0, 0, 0},
      {GLUT_KEY_UP, 0, 63, 0, 63}, {GLUT_KEY_UP, 0, 5, 0, 6},   {GLUT_KEY_DOWN, 0, 0, 0, 0},
      {GLUT_KEY_DOWN, 1, 7, 1, 6}, {GLUT_KEY_HOME, 1, 7, 1, 7},
  };
  for (const Case& c : cases) {
    Window w;
    w.v().sliceAxis = c.axis;
    w.v().layer = c.layer;
    const Effects fx = tavro::SpecialKeyPressed(*w.gui, c.key);
    EXPECT_EQ(w.v().sliceAxis, c.wantAxis) << c.key;
    EXPECT_EQ(w.v().layer, c.wantLayer) << c.key;
    EXPECT_FALSE(fx.recolour);
  }
}

TEST(WindowBindings, WheelScalesTheColoursInTheViewsAndMovesTheEditorLayer) {
  struct Case {
    int mode, direction;
    float wantGain;
    int wantLayer;
  };
  const Case cases[] = {
      {0, 1, static_cast<float>(1.0 * 1.1), 10},
      {2, -1, static_cast<float>(1.0 / 1.1), 10},
      {3, 1, 1.0f, 10},
      {4, -1, 1.0f, 10},
      {5, 1, 1.0f, 11},
      {5, -1, 1.0f, 9},
  };
  for (const Case& c : cases) {
    Window w;
    w.v().viewMode = c.mode;
    w.v().layer = 10;
    EXPECT_TRUE(tavro::WheelTurned(*w.gui, c.direction).recolour);
    EXPECT_EQ(w.v().colourGain, c.wantGain) << c.mode;
    EXPECT_EQ(w.v().layer, c.wantLayer) << c.mode;
  }
}

TEST(WindowBindings, ButtonsInTheViewsAndGraphs) {
  struct Case {
    int mode, running, button, state;
    PanelPoint p;
    int wantMode, wantComponent, wantQuantity, wantRunning, wantDrag;
  };
  const int down = GLUT_DOWN, left = GLUT_LEFT_BUTTON, right = GLUT_RIGHT_BUTTON;
  const Case cases[] = {
      {0, 1, left, down, {5, 69}, 1, 0, 0, 1, 0},     // next viewing mode
      {4, 1, left, down, {0, 70}, 0, 0, 0, 1, 0},     // ... wraps past the graphs
      {0, 1, left, down, {15, 68}, 0, 1, 0, 1, 0},    // next component
      {0, 1, left, down, {90, 69}, 5, 0, 0, 0, 0},    // editor button
      {0, 1, left, down, {2, 65}, 0, 0, 0, 0, 0},     // run/stop toggle stops
      {2, 0, left, down, {2, 65}, 2, 0, 0, 1, 0},     // ... and runs
      {0, 1, left, down, {5, 65}, 0, 0, 0, 1, 1},     // beside the toggle: rotation drag
      {0, 1, left, down, {10, 69}, 0, 0, 0, 1, 1},    // between the header buttons
      {1, 1, right, down, {5, 69}, 1, 0, 0, 1, 2},    // right: point-size drag
      {3, 1, left, down, {15, 69}, 3, 0, 1, 1, 0},    // next graph quantity
      {3, 1, left, down, {5, 69}, 4, 0, 0, 1, 0},     // next viewing mode
      {4, 1, left, down, {99, 70}, 5, 0, 0, 0, 0},    // editor button
      {3, 1, left, down, {50, 30}, 3, 0, 0, 1, 0},    // graphs: no drag
      {3, 1, right, down, {5, 69}, 3, 0, 0, 1, 0},    // graphs: left button only
      {0, 1, left, GLUT_UP, {5, 69}, 0, 0, 0, 1, 0},  // a release changes no mode
  };
  for (const Case& c : cases) {
    Window w;
    w.v().viewMode = c.mode;
    w.v().running = c.running;
    EXPECT_TRUE(tavro::MouseButton(*w.gui, c.button, c.state, 100, 100, c.p).recolour);
    SCOPED_TRACE("mode " + std::to_string(c.mode) + " at " + std::to_string(c.p.x) + "," +
                 std::to_string(c.p.y));
    EXPECT_EQ(w.v().viewMode, c.wantMode);
    EXPECT_EQ(w.v().component, c.wantComponent);
    EXPECT_EQ(w.v().graphQuantity, c.wantQuantity);
    EXPECT_EQ(w.v().running, c.wantRunning);
    EXPECT_EQ(w.v().dragMode, c.wantDrag);
  }
}

TEST(WindowBindings, RotationDragWrapsTheAzimuthAndClampsTheElevation) {
  struct Case {
    int x, y;
    float wantAzimuth, wantElevation;
  };
  // Pressed at (100, 100) with azimuth 30 and elevation 15: anchors 80 and -35.
  const Case cases[] = {
      {100, 100, 30, 15}, {300, 100, 290, 15},  {-700, 100, 70, 15},
      {100, 400, 30, 90}, {100, -200, 30, -90}, {140, 130, 10, 30},
  };
  for (const Case& c : cases) {
    Window w;
    tavro::MouseButton(*w.gui, GLUT_LEFT_BUTTON, GLUT_DOWN, 100, 100, {50, 30});
    // A second press during the drag does not move the anchors.
    tavro::MouseButton(*w.gui, GLUT_LEFT_BUTTON, GLUT_DOWN, 0, 0, {50, 30});
    tavro::MouseMotion(*w.gui, c.x, c.y, {});
    EXPECT_EQ(w.v().azimuth, c.wantAzimuth) << c.x << "," << c.y;
    EXPECT_EQ(w.v().elevation, c.wantElevation) << c.x << "," << c.y;
  }
}

TEST(WindowBindings, PointSizeFollowsDragAndReshapeButStaysAtLeastOne) {
  Window w;
  tavro::MouseButton(*w.gui, GLUT_RIGHT_BUTTON, GLUT_DOWN, 0, 50, {50, 30});  // anchor 15
  tavro::MouseMotion(*w.gui, 0, 20, {});
  EXPECT_EQ(w.v().pointSize, 13.0f);
  tavro::MouseMotion(*w.gui, 0, 200, {});
  EXPECT_EQ(w.v().pointSize, 1.0f);
  tavro::MouseButton(*w.gui, GLUT_RIGHT_BUTTON, GLUT_UP, 0, 200, {});
  EXPECT_EQ(w.v().dragMode, 0);
  tavro::MouseMotion(*w.gui, 0, 0, {});
  EXPECT_EQ(w.v().pointSize, 1.0f);

  struct Case {
    int height;
    float wantSize;
  };
  for (const Case c : {Case{640, 10.0f}, Case{128, 2.0f}, Case{63, 1.0f}, Case{0, 1.0f}}) {
    tavro::Reshaped(w.v(), 320, c.height);
    EXPECT_EQ(w.v().pointSize, c.wantSize) << c.height;
    EXPECT_EQ(w.v().windowWidth, 320.0f);
  }
}

TEST(WindowBindings, EditorDragFollowsThePanelPoint) {
  Window w;
  w.v().viewMode = tavro::kViewEditor;
  w.v().running = 0;
  tavro::MouseMotion(*w.gui, 0, 0, {3, 4});
  EXPECT_EQ(w.v().dragCurrent, (PanelPoint{-1, -1}));  // no drag, no change
  w.v().dragMode = 1;
  EXPECT_TRUE(tavro::MouseMotion(*w.gui, 0, 0, {3, 4}).redisplay);
  EXPECT_EQ(w.v().dragCurrent, (PanelPoint{3, 4}));
}

TEST(PaintPacing, RepaintIntervalStretchesWithDearPaints) {
  tavro::PaintPacer p;
  EXPECT_EQ(p.intervalMs(), 50);
  p.recordPaint(0.010);
  EXPECT_EQ(p.intervalMs(), 50);  // cheap: the plain 50 ms
  p.recordPaint(0.100);
  EXPECT_EQ(p.intervalMs(), 400);  // dear: four times the paint
  p.recordPaint(0.020);
  EXPECT_GT(p.intervalMs(), 300);  // one cheap paint eases it only a little
  for (int i = 0; i < 40; ++i) p.recordPaint(0.005);
  EXPECT_EQ(p.intervalMs(), 50);
  p.recordPaint(-1.0);
  p.recordPaint(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(p.paints(), 43);
  p.recordPaint(1e6);
  EXPECT_EQ(p.intervalMs(), 10000);
}

}  // namespace
