// Engineering number format, overlay fonts, the legend's band bounds and the
// back-to-front visit of the 3-D views.
#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "gui/field_views.h"
#include "gui/overlay_text.h"

namespace {

TEST(EngineeringFormat, ThreeDigitsAndAPrefix) {
  struct Case {
    float value;
    const char* want;
  };
  const Case cases[] = {
      {0.001f, "1.00m"},
      {3e9f, "3.00G"},
      {5.8e7f, "58.0M"},
      {1e-13f, "100f"},
      {-1.0f, "-1.00"},
      {12.5f, "12.5"},
      {999.0f, "999"},
      {999.95f, "1.00k"},
      {4.7f, "4.70"},
      {0.0f, "0"},
      {-0.0f, "0"},
      {1e-30f, "1e-30"},
      {-2e-25f, "-2e-25"},
      {1e-24f, "1.00y"},
      {-0.00123f, "-1.23m"},
      {123456.0f, "123k"},
      {9.99e26f, "999Y"},
      {1e27f, ""},
      {INFINITY, ""},
      {NAN, "nan"},
      // The decimals follow the value before rounding: 0.01f is 9.999999e-3.
      {0.01f, "10.00m"},
      {9.99f, "9.99"},
  };
  for (const Case& c : cases) EXPECT_EQ(tavro::FormatEngineering(c.value), c.want) << c.value;
}

TEST(EngineeringFormat, FontFollowsTheWindowHeight) {
  EXPECT_EQ(tavro::PanelFont(299), GLUT_BITMAP_HELVETICA_10);
  EXPECT_EQ(tavro::PanelFont(300), GLUT_BITMAP_HELVETICA_12);
  EXPECT_EQ(tavro::PanelFont(499), GLUT_BITMAP_HELVETICA_12);
  EXPECT_EQ(tavro::PanelFont(500), GLUT_BITMAP_HELVETICA_18);
}

TEST(FieldViews, LegendBoundsDoublePerBandAndScaleHBy200) {
  EXPECT_EQ(tavro::FormatEngineering(tavro::LegendBound(0, tavro::kViewE, 1.0f, 0.1234f)), "810m");
  EXPECT_EQ(tavro::FormatEngineering(tavro::LegendBound(7, tavro::kViewE, 1.0f, 0.1234f)), "104");
  EXPECT_EQ(tavro::FormatEngineering(tavro::LegendBound(0, tavro::kViewH, 1.0f, 0.1234f)), "4.05m");
  for (int k = 1; k < 8; ++k) {
    EXPECT_EQ(tavro::LegendBound(k, tavro::kViewE, 2.0f, 0.1234f),
              2 * tavro::LegendBound(k - 1, tavro::kViewE, 2.0f, 0.1234f));
  }
}

// Depth of a cell centre seen from the camera of the 3-D views (larger is
// farther): rotated by -azimuth about Z and by the elevation about X, the eye
// looking along +Y.
double depthOf(const tavro::GridCell& c, double azimuth, double elevation) {
  const double a = azimuth * M_PI / 180, e = elevation * M_PI / 180;
  const double y = -std::sin(a) * c.x + std::cos(a) * c.y;
  return std::cos(e) * y - std::sin(e) * c.z;
}

TEST(FieldViews, EverySectorVisitsEachCellOnceFromTheFarCornerToTheNear) {
  const int nx = 5, ny = 3, nz = 4;
  for (int sector = 0; sector < 8; ++sector) {
    for (float elevation : {30.0f, -30.0f}) {
      const float azimuth = 22.5f + 45.0f * sector;
      SCOPED_TRACE("azimuth " + std::to_string(azimuth) + " elevation " +
                   std::to_string(elevation));
      std::set<int> seen;
      double farthest = -1e9, nearest = 1e9;
      for (uint64_t i = 0; i < uint64_t{nx * ny * nz}; ++i) {
        const tavro::GridCell c = tavro::TraversalCell(nx, ny, nz, azimuth, elevation, i);
        ASSERT_TRUE(c.x >= 0 && c.x < nx && c.y >= 0 && c.y < ny && c.z >= 0 && c.z < nz);
        seen.insert((c.x * ny + c.y) * nz + c.z);
        farthest = std::max(farthest, depthOf(c, azimuth, elevation));
        nearest = std::min(nearest, depthOf(c, azimuth, elevation));
      }
      EXPECT_EQ(seen.size(), size_t{nx * ny * nz});
      const auto first = tavro::TraversalCell(nx, ny, nz, azimuth, elevation, 0);
      const auto last = tavro::TraversalCell(nx, ny, nz, azimuth, elevation, nx * ny * nz - 1);
      EXPECT_EQ(depthOf(first, azimuth, elevation), farthest);
      EXPECT_EQ(depthOf(last, azimuth, elevation), nearest);
      // Column by column: the rows across the axis nearer the sightline come
      // from the far side, and so do the columns within each row.
      const double a = azimuth * M_PI / 180;
      const bool yMajor = std::fabs(std::cos(a)) >= std::fabs(std::sin(a));
      auto key = [&](const tavro::GridCell& c) {
        const double dx = -std::sin(a) * c.x, dy = std::cos(a) * c.y;
        return yMajor ? std::pair{dy, dx} : std::pair{dx, dy};
      };
      for (uint64_t g = 1; g < uint64_t{nx * ny}; ++g) {
        const auto prev = tavro::TraversalCell(nx, ny, nz, azimuth, elevation, (g - 1) * nz);
        const auto next = tavro::TraversalCell(nx, ny, nz, azimuth, elevation, g * nz);
        EXPECT_GT(key(prev), key(next)) << "column " << g;
      }
    }
  }
}

TEST(FieldViews, SectorEdges) {
  // Exactly 90 degrees from above: the plain index order.
  for (uint64_t i = 0; i < 60; ++i) {
    const tavro::GridCell c = tavro::TraversalCell(5, 3, 4, 90.0f, 15.0f, i);
    EXPECT_EQ(static_cast<uint64_t>((c.x * 3 + c.y) * 4 + c.z), i);
  }
  // Elevation 0 counts as from below: the top layer first.
  EXPECT_EQ(tavro::TraversalCell(5, 3, 4, 30.0f, 0.0f, 0), (tavro::GridCell{0, 2, 3}));
  // 44.99 still belongs to the first sector, 360 to the last.
  EXPECT_EQ(tavro::TraversalCell(5, 3, 4, 44.99f, 15.0f, 4), (tavro::GridCell{1, 2, 0}));
  EXPECT_EQ(tavro::TraversalCell(5, 3, 4, 360.0f, 15.0f, 4), (tavro::GridCell{3, 2, 0}));
}

}  // namespace
