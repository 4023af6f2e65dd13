// freeglut callbacks of the window and its start-up.
#include "gui/window.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/run_driver.h"
#include "engine/console.h"
#include "gui/bindings.h"
#include "gui/engine_link.h"
#include "gui/field_views.h"
#include "gui/model_view.h"
#include "gui/paint_pacing.h"
#include "gui/panels.h"

namespace tavro {

namespace {

using Clock = std::chrono::steady_clock;

// The window's state lives as long as the process; the callbacks reach it here.
GuiState* g_gui = nullptr;
PaintPacer g_pacer;
volatile std::sig_atomic_t g_stopSignal = 0;
// The window exists (created and not yet closed): freeglut calls that need a
// current window are made only then.
bool g_windowOpen = false;
bool g_windowCreated = false;
// Benchmark bookkeeping: steps taken and when the first one was.
long g_steps = 0;
Clock::time_point g_firstStep;
double g_measureSeconds = 0.0;

extern "C" void onWindowStopSignal(int sig) { g_stopSignal = sig; }

void writeUnfinishedRun(GuiState& gui);

// freeglut reports a failure (no display, no GLX, a lost window) here instead
// of ending the process with its own message. A run in progress is written
// out as when the window is closed.
extern "C" void onGlutError(const char* format, va_list args) {
  char what[512];
  std::vsnprintf(what, sizeof what, format, args);
  if (!g_windowCreated) {
    con() << "error: cannot open the window (" << what
          << "); add -batch to run the model without a window.\n";
  } else {
    con() << "error: the window failed (" << what << ").\n";
    if (g_gui) writeUnfinishedRun(*g_gui);
  }
  std::exit(1);
}

void onClose() { g_windowOpen = false; }

void onIdle();

void syncIdle() { glutIdleFunc(g_gui->view.running == 1 ? onIdle : nullptr); }

// The title last given to the window; it also marks unsaved changes, so it
// is compared after every input.
std::string g_title;

void apply(const Effects& fx) {
  if (!g_windowOpen) return;
  if (fx.recolour) Recolour(*g_gui);
  syncIdle();
  const std::string title = WindowTitle(*g_gui);
  if (fx.retitle || title != g_title) glutSetWindowTitle(title.c_str());
  g_title = title;
  if (fx.redisplay) glutPostRedisplay();
}

bool stopRequested() {
  if (g_stopSignal != 0) {
    glutLeaveMainLoop();
    return true;
  }
  if (g_measureSeconds > 0 && g_steps > 0 &&
      std::chrono::duration<double>(Clock::now() - g_firstStep).count() >= g_measureSeconds) {
    glutLeaveMainLoop();
    return true;
  }
  return false;
}

void onIdle() {
  if (stopRequested() || !g_windowOpen) return;
  App& app = g_gui->app;
  FDTD_SAM& s = app.engine.sam;
  if (g_steps++ == 0) g_firstStep = Clock::now();
  WindowStep(app);
  g_gui->coloursStale = true;
  if (app.engine.gpuFailed) {
    // The device step failed and said why; the run cannot go on.
    g_gui->view.running = 0;
    glutIdleFunc(nullptr);
    return;
  }
  if (s.stepCount == s.stepLimit) {
    g_gui->view.running = 0;
    glutIdleFunc(nullptr);
    FinishRun(app.engine);
    g_gui->writtenAt = s.stepCount;
  }
}

void onTimer(int) {
  if (stopRequested() || !g_windowOpen) return;
  if (g_gui->view.running == 1) glutPostRedisplay();
  glutTimerFunc(static_cast<unsigned>(g_pacer.intervalMs()), onTimer, 0);
}

void onReshape(int w, int h) {
  Reshaped(g_gui->view, w, h);
  glViewport(0, 0, w, h);
}

void onDisplay() {
  const Clock::time_point start = Clock::now();
  GuiState& gui = *g_gui;
  const ViewState& v = gui.view;
  const int mode = v.viewMode;
  // The 3-D views show nothing before the first sample of a run; the graphs
  // and the editor draw at any time.
  // After a refused Run there is no run to show; the header and the reason
  // are drawn instead, so the window answers every key and button.
  const bool noRun = mode <= kViewModel && gui.app.engine.sam.stepCount <= 0;
  if (noRun && !gui.runRefused) return;
  if (!noRun && (mode == kViewE || mode == kViewH) && gui.coloursStale) {
    WindowColour(gui.app);
    gui.coloursStale = false;
  }
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // The far plane reaches the overlays (at distance 100) also for models
  // smaller than 50 cells.
  // The eye lies 1.3 model sizes away, in the model view far enough to see
  // all of it, nearer or farther by the zoom; the far plane lies behind the
  // model's farthest corner.
  const double eye = CameraDistance(gui);
  const double far = std::max({2.0 * v.viewExtent, eye + v.viewExtent, 200.0});
  gluPerspective(45.0, v.windowWidth / v.windowHeight, 1.0, far);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  gluLookAt(0, -eye, 0, 0, 0, 0, 0, 0, 1);
  glRotated(v.elevation, 1, 0, 0);
  glRotated(-v.azimuth, 0, 0, 1);
  glScalef(1, v.cellAspectY, v.cellAspectZ);
  if (!noRun && (mode == kViewE || mode == kViewH)) DrawFieldPoints(gui);
  if (!noRun && mode == kViewModel) DrawModelCubes(gui);
  // The overlays lie in front of the 3-D picture whatever the model's size:
  // points of a small model come nearer the eye than the header text.
  glClear(GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  gluLookAt(0, -100, 0, 0, 0, 0, 0, 0, 1);
  if (mode < kViewingModes) DrawViewHeader(gui);
  if (mode == kViewModel && !noRun) DrawMaterialKey(gui);
  if (mode == kViewTime || mode == kViewFrequency) DrawGraphs(gui);
  if (mode == kViewEditor) DrawEditor(gui);
  if (noRun)
    DrawNotice(gui, gui.notice.empty()
                        ? "info: no run: the last Run was refused; q opens the editor."
                        : gui.notice);
  glutSwapBuffers();
  if (v.running == 1)
    g_pacer.recordPaint(std::chrono::duration<double>(Clock::now() - start).count());
}

void onKeyboard(unsigned char key, int, int) { apply(KeyPressed(*g_gui, key)); }

void onSpecial(int key, int, int) { apply(SpecialKeyPressed(*g_gui, key)); }

void onMouse(int button, int state, int x, int y) {
  apply(MouseButton(*g_gui, button, state, x, y, PickPanelPoint(g_gui->view, x, y)));
}

void onMotion(int x, int y) { apply(MouseMotion(*g_gui, x, y, PickPanelPoint(g_gui->view, x, y))); }

void onWheel(int, int direction, int, int) { apply(WheelTurned(*g_gui, direction)); }

// Opens the window and runs the event loop until it is closed, a stop signal
// arrives or the measurement time is over.
void runWindow(App& app, int argc, char** argv, int32_t viewMode = kViewE) {
  static std::unique_ptr<GuiState> gui;
  gui = std::make_unique<GuiState>(app);
  g_gui = gui.get();
  ViewState& v = gui->view;
  v.farField = app.farField;
  v.averageMaterials = app.engine.averageMaterials ? 1 : 0;
  v.viewMode = viewMode;
  GridDesc& d = app.engine.grid.desc;
  d.viewField = v.viewMode;
  d.viewComponent = v.component;
  d.viewScale = v.colourBase * v.colourGain;
  ResetView(*gui);

  glutInitErrorFunc(onGlutError);
  glutInitWindowSize(static_cast<int>(v.windowWidth), static_cast<int>(v.windowHeight));
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_RGBA | GLUT_DOUBLE | GLUT_ALPHA | GLUT_DEPTH);
  // Closing the window returns from the event loop, so that an unfinished
  // run can be written before the process ends.
  glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_GLUTMAINLOOP_RETURNS);
  g_title = WindowTitle(*gui);
  glutCreateWindow(g_title.c_str());
  g_windowOpen = g_windowCreated = true;
  glutCloseFunc(onClose);
  glutDisplayFunc(onDisplay);
  glutReshapeFunc(onReshape);
  glutKeyboardFunc(onKeyboard);
  glutSpecialFunc(onSpecial);
  glutMouseFunc(onMouse);
  glutMotionFunc(onMotion);
  glutMouseWheelFunc(onWheel);
  glutIdleFunc(onIdle);
  glutTimerFunc(PaintPacer::kBaseIntervalMs, onTimer, 0);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_LINE_STIPPLE);

  g_stopSignal = 0;
  void (*oldInt)(int) = std::signal(SIGINT, onWindowStopSignal);
  void (*oldTerm)(int) = std::signal(SIGTERM, onWindowStopSignal);
  glutMainLoop();
  g_windowOpen = false;
  std::signal(SIGINT, oldInt);
  std::signal(SIGTERM, oldTerm);
}

// The result files of the samples recorded since they were last written,
// when extensions were given.
void writeUnfinishedRun(GuiState& gui) {
  SimulationEngine& eng = gui.app.engine;
  const FDTD_SAM& s = eng.sam;
  const bool files = !eng.timeExtension.empty() || !eng.freqExtension.empty();
  if (!files || gui.writtenAt == s.stepCount) return;
  if (s.stepCount < s.stepLimit) {
    con() << "warning: calculation interrupted after " << s.stepCount << " of " << s.stepLimit
          << " samples; writing the samples recorded so far.\n";
  }
  FinishRun(eng);
  gui.writtenAt = s.stepCount;
}

}  // namespace

int OpenWindow(App& app, int argc, char** argv) {
  runWindow(app, argc, argv);
  writeUnfinishedRun(*g_gui);
  return g_stopSignal != 0 ? 128 + g_stopSignal : 0;
}

WindowStats MeasureWindow(App& app, int argc, char** argv, double seconds, int32_t viewMode) {
  g_measureSeconds = seconds;
  g_steps = 0;
  g_pacer = PaintPacer();
  runWindow(app, argc, argv, viewMode);
  WindowStats st;
  st.steps = g_steps;
  st.seconds = std::chrono::duration<double>(Clock::now() - g_firstStep).count();
  st.paints = g_pacer.paints();
  st.paintCost = g_pacer.smoothedCost();
  st.paintSeconds = g_pacer.totalCost();
  st.intervalMs = g_pacer.intervalMs();
  g_measureSeconds = 0.0;
  return st;
}

}  // namespace tavro
