// Field colouring: octave bands of the scaled field value. Each band covers a
// factor of two from 0.1 up; |v| below 0.1 gives 255 (no colour), 12.8 and
// above gives 7. The bounds are double constants compared with the float value
// widened to double, so 0.1f (slightly above 0.1) is already band 0.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "engine/colouring.h"
#include "engine/console.h"
#include "engine/grid_index.h"
#include "engine/probe_kernels.h"
#include "engine/setup.h"

namespace tavro {
namespace {

TEST(Colouring, BandBoundsAreDoubleConstants) {
  const float bounds[8] = {0.1f, 0.2f, 0.4f, 0.8f, 1.6f, 3.2f, 6.4f, 12.8f};
  for (int b = 0; b < 8; ++b) {
    // Each float bound lies just above its double constant and opens band b;
    // the float just below it still belongs to the band before.
    EXPECT_EQ(col_c(bounds[b]), b) << bounds[b];
    EXPECT_EQ(col_c(-bounds[b]), b) << -bounds[b];
    EXPECT_EQ(col_c(std::nextafter(bounds[b], 0.0f)), b == 0 ? 255 : b - 1) << bounds[b];
  }
  EXPECT_EQ(col_c(0.0f), 255);
  EXPECT_EQ(col_c(1e9f), 7);
  EXPECT_EQ(col_c(-std::numeric_limits<float>::infinity()), 7);
}

struct ColourRun {
  ModelRecord model;
  SimulationEngine eng;
  std::ostringstream text;
  ColourRun() {
    setConsole(&text);
    model.areaX = 3;
    model.areaY = 4;
    model.areaZ = 5;
    model.unitX = model.unitY = model.unitZ = 0.001f;
    EXPECT_EQ(model.allocateCells(), 1);
    eng.requestedStepLimit = 4;
    EXPECT_EQ(set(eng, model), 1) << text.str();
    setConsole(nullptr);
  }
  GridDesc& desc() { return eng.grid.desc; }
  ECell& e(int x, int y, int z) { return eng.grid.e[eIndex(desc(), x, y, z)]; }
  HCell& h(int x, int y, int z) { return eng.grid.h[hIndex(desc(), x, y, z)]; }
  uint8_t colour(int x, int y, int z) { return eng.grid.cellColor[plainIndex(desc(), x, y, z)]; }
};

TEST(Colouring, ZeroScaleLeavesEveryCellUncoloured) {
  ColourRun run;
  run.e(1, 2, 3).emag = 1000.0f;
  ColourCells(run.eng);
  for (uint8_t c : run.eng.grid.cellColor) EXPECT_EQ(c, 255);
}

TEST(Colouring, ElectricSignedMagnitudeBands) {
  ColourRun run;
  run.desc().viewScale = 1.0f;
  run.e(0, 0, 0).emag = -5.0f;  // |v| = 5 in [3.2, 6.4)
  run.e(2, 3, 4).emag = 0.05f;
  run.e(1, 2, 3).emag = 100.0f;
  run.e(1, 2, 3).ex = 0.0f;
  ColourCells(run.eng);
  EXPECT_EQ(run.colour(0, 0, 0), 5);
  EXPECT_EQ(run.colour(2, 3, 4), 255);
  EXPECT_EQ(run.colour(1, 2, 3), 7);
  // The x component of the same cell is 0.
  run.desc().viewComponent = 1;
  ColourCells(run.eng);
  EXPECT_EQ(run.colour(1, 2, 3), 255);
}

TEST(Colouring, MagneticViewScalesByTwoHundred) {
  ColourRun run;
  run.desc().viewField = 1;
  run.desc().viewComponent = 1;
  run.desc().viewScale = 0.1234f;
  run.h(2, 1, 0).hx = 0.01f;  // v = 0.1234 * 200 * 0.01 = 0.2468
  run.h(0, 3, 4).hx = -0.01f;
  run.h(1, 1, 1).hz = 1.0f;  // not the selected component
  ColourCells(run.eng);
  EXPECT_EQ(run.colour(2, 1, 0), 1);
  EXPECT_EQ(run.colour(0, 3, 4), 1);
  EXPECT_EQ(run.colour(1, 1, 1), 255);
  // The H element of cell (x, y, z) is shifted by one in every axis: the same
  // field in the E array gives nothing.
  run.desc().viewField = 0;
  ColourCells(run.eng);
  EXPECT_EQ(run.colour(2, 1, 0), 255);
}

TEST(Colouring, UnknownComponentUsesScaleAndUnknownFieldKeepsBytes) {
  ColourRun run;
  run.desc().viewScale = 1.0f;
  run.desc().viewComponent = 9;
  ColourCells(run.eng);
  for (uint8_t c : run.eng.grid.cellColor) EXPECT_EQ(c, 3);  // v = 1 in [0.8, 1.6)
  run.desc().viewField = 1;
  run.desc().viewScale = 0.005f;  // v = 0.005 * 200 = 1
  ColourCells(run.eng);
  for (uint8_t c : run.eng.grid.cellColor) EXPECT_EQ(c, 3);
  run.desc().viewField = 2;
  run.desc().viewScale = 100.0f;
  ColourCells(run.eng);
  for (uint8_t c : run.eng.grid.cellColor) EXPECT_EQ(c, 3);
}

}  // namespace
}  // namespace tavro
