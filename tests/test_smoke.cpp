#include <gtest/gtest.h>

#include "engine/engine.h"

TEST(Smoke, EngineConstructs) {
  tavro::SimulationEngine eng;
  EXPECT_EQ(eng.grid.desc.cellCount, 1u);
}
