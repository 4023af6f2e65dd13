// What helps to read the 3-D views and graphs: a model view camera that
// keeps every corner of the model in sight, the zoom keys, the material key's
// IDs, and the Nyquist mark of the frequency graph.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "engine/field_update.h"
#include "gui/bindings.h"
#include "gui/graph_marks.h"
#include "gui/model_view.h"
#include "model_fixture.h"

namespace tavro {
namespace {

// Every corner of the box, turned by any camera angle, lies within the
// 45-degree view (and its wider horizontal half-angle) at the fitting
// distance; at the old 1.3 sizes the largest boxes did not.
TEST(ModelView, FittingDistanceKeepsEveryCornerInSight) {
  const struct {
    int nx, ny, nz;
    float ay, az;
    double aspect;
  } cases[] = {
      {80, 80, 80, 1, 1, 1.25},  {80, 80, 80, 1, 1, 0.5}, {200, 20, 10, 1, 1, 1.25},
      {10, 10, 100, 1, 4, 1.25}, {1, 1, 1, 1, 1, 1.0},
  };
  const double tanY = std::tan(22.5 * M_PI / 180);
  for (const auto& c : cases) {
    const double d = FittingDistance(c.nx, c.ny, c.nz, c.ay, c.az, c.aspect);
    for (double el = -90; el <= 90; el += 15)
      for (double az = 0; az < 360; az += 15) {
        const double e = el * M_PI / 180, a = -az * M_PI / 180;
        for (int k = 0; k < 8; ++k) {
          const double x = (k & 1 ? 0.5 : -0.5) * c.nx, y = (k & 2 ? 0.5 : -0.5) * c.ny * c.ay,
                       z = (k & 4 ? 0.5 : -0.5) * c.nz * c.az;
          // Rotation about Z by -azimuth, then about X by the elevation; the
          // eye looks along +y from y = -d.
          const double x1 = x * std::cos(a) - y * std::sin(a),
                       y1 = x * std::sin(a) + y * std::cos(a);
          const double y2 = y1 * std::cos(e) - z * std::sin(e),
                       z2 = y1 * std::sin(e) + z * std::cos(e);
          const double depth = y2 + d;
          ASSERT_GT(depth, 1.0) << c.nx;
          EXPECT_LE(std::fabs(z2) / depth, tanY * 1.0001) << c.nx << " " << el << " " << az;
          EXPECT_LE(std::fabs(x1) / depth, tanY * c.aspect * 1.0001) << c.nx << " " << el;
        }
      }
  }
  EXPECT_GT(FittingDistance(80, 80, 80, 1, 1, 1.25), 1.3 * 80);
}

// The field views keep the 1.3-sizes camera; the model view moves back to
// fit; the keys + (or =) and - zoom every 3-D view.
TEST(ModelView, CameraDistanceAndZoomKeys) {
  App app;
  ASSERT_TRUE(test::vacuumModel(app.model, 40, 40, 40));
  ASSERT_EQ(test::setQuiet(app.engine, app.model), 1);
  GuiState gui(app);
  ResetView(gui);
  EXPECT_DOUBLE_EQ(CameraDistance(gui), 1.3 * 40);
  gui.view.viewMode = kViewModel;
  const double fit = CameraDistance(gui);
  EXPECT_GT(fit, 1.3 * 40);
  const struct {
    unsigned char key;
    double factor;  // of the distance before the key
  } keys[] = {{'+', 1 / 1.25}, {'=', 1 / 1.25}, {'-', 1.25}, {'-', 1.25}, {'E', 1.0}};
  for (const auto& k : keys) {
    const double before = CameraDistance(gui);
    KeyPressed(gui, k.key);
    EXPECT_NEAR(CameraDistance(gui), before * k.factor, 1e-3 * before) << k.key;
  }
}

TEST(ModelView, UsedMaterialsListsEachIdOnce) {
  ModelRecord m;
  ASSERT_TRUE(test::vacuumModel(m, 4, 3, 2));
  m.data[m.index(1, 1, 1)] = 9;
  m.data[m.index(2, 1, 1)] = 1;
  m.data[m.index(3, 2, 0)] = 9;
  m.data[m.index(0, 2, 0)] = 65535;
  EXPECT_EQ(UsedMaterials(m), (std::vector<int32_t>{0, 1, 9, 65535}));
}

TEST(GraphMarks, NyquistFrequencyAndTheFirstPointPastIt) {
  App app;
  ASSERT_TRUE(test::vacuumModel(app.model, 4, 4, 4));
  app.model.setProbe(app.model.index(1, 1, 1), "A");
  app.model.setProbe(app.model.index(2, 2, 2), "B");
  app.engine.requestedStepLimit = 8;
  ASSERT_EQ(test::setQuiet(app.engine, app.model), 1);
  EXPECT_EQ(NyquistFrequency(app.engine, 1), 0.0f);  // one sample: no rate yet
  for (int i = 0; i < 4; ++i) stepBatch(app.engine);
  const float dt = app.engine.samples[2].v[kSlotTime] - app.engine.samples[0].v[kSlotTime];
  ASSERT_GT(dt, 0);
  EXPECT_FLOAT_EQ(NyquistFrequency(app.engine, 4), 0.5f / dt);

  ProbeSample points[5] = {};
  const float f[5] = {1, 2, 3, 4, 5};
  for (int i = 0; i < 5; ++i) points[i].v[kSlotTime] = f[i];
  const struct {
    float at;
    int index;
  } marks[] = {{0.5f, 0}, {2.0f, 2}, {2.5f, 2}, {5.0f, 5}, {9.0f, 5}};
  for (const auto& m : marks) EXPECT_EQ(FirstPointAbove(points, 5, m.at), m.index) << m.at;
}

}  // namespace
}  // namespace tavro
