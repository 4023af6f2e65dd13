// Conversion of the editor's project into the model record, the demo model
// and the example model files.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <sstream>
#include <tuple>
#include <vector>

#include "app/conversion.h"
#include "engine/console.h"
#include "files/project.h"

using namespace tavro;

namespace {

constexpr int kM = 8;  // normal margin

// Sets the cell the editor shows at (x, y, z): the cube keeps y and z reversed.
void setModelCell(Project& p, int x, int y, int z, uint8_t code) {
  p.cells[CubeIndex(x, 63 - y, 63 - z)] = code;
}

class Conversion : public ::testing::Test {
 protected:
  void SetUp() override { setConsole(&log_); }
  void TearDown() override { setConsole(nullptr); }

  Project project;
  ModelRecord model;
  std::ostringstream log_;
};

}  // namespace

TEST_F(Conversion, EmptyCubeGivesVacuumWithAHiddenMargin) {
  project.dxy = 0.002f;
  project.dz = 0.003f;
  ASSERT_TRUE(set_data(project, model, 0));
  EXPECT_EQ(project.margin, kM);
  ASSERT_EQ(model.areaX, 80);
  EXPECT_EQ(model.areaY, 80);
  EXPECT_EQ(model.areaZ, 80);
  EXPECT_FLOAT_EQ(model.unitX, 0.002f);
  EXPECT_FLOAT_EQ(model.unitY, 0.002f);
  EXPECT_FLOAT_EQ(model.unitZ, 0.003f);
  EXPECT_TRUE(model.pins().empty());
  EXPECT_TRUE(model.probes().empty());
  for (int x = 0; x < 80; ++x)
    for (int y = 0; y < 80; ++y)
      for (int z = 0; z < 80; ++z) {
        const uint64_t e = model.index(x, y, z);
        const bool inCube =
            x >= kM && x < kM + 64 && y >= kM && y < kM + 64 && z >= kM && z < kM + 64;
        ASSERT_EQ(model.data[e], 0);
        ASSERT_EQ(model.hide[e], inCube ? 0 : 1) << x << "," << y << "," << z;
      }
  EXPECT_EQ(log_.str(), "");
}

TEST_F(Conversion, MaterialTablesTakeAllNineSlotsWithTheDerivedOnes) {
  project.sourceMaterial = 2;
  project.sg[7] = 0.5f;
  model.materialX[9] = Material{3.0f, 4.0f, 5.0f};
  ASSERT_TRUE(set_data(project, model, 0));
  EXPECT_FLOAT_EQ(project.sg[8], project.sg[2]);
  EXPECT_FLOAT_EQ(project.er[7], 4.7f);
  EXPECT_FLOAT_EQ(project.er[8], 4.7f);
  EXPECT_FLOAT_EQ(project.sg[7], 0.5f);  // left as it was
  for (int k = 0; k < kProjectSlots; ++k)
    for (const auto* table : {&model.materialX, &model.materialY, &model.materialZ}) {
      EXPECT_FLOAT_EQ((*table)[k].sg, project.sg[k]) << k;
      EXPECT_FLOAT_EQ((*table)[k].er, project.er[k]) << k;
      EXPECT_FLOAT_EQ((*table)[k].ur, project.ur[k]) << k;
    }
  EXPECT_FLOAT_EQ(model.materialX[9].sg, 3.0f);
}

TEST_F(Conversion, ProbesAreNamedInTheModelsOrientation) {
  project.cells[CubeIndex(10, 63, 63)] = kCellProbe | 2;
  ASSERT_TRUE(set_data(project, model, 0));
  const uint64_t e = model.index(kM + 10, kM, kM);
  EXPECT_EQ(model.pin(e), "P_10_0_0");
  EXPECT_EQ(model.probe(e), "P_10_0_0");
  EXPECT_EQ(model.data[e], 2);
  EXPECT_EQ(model.probes().size(), 1u);
}

TEST_F(Conversion, SourceTextsUseTheDefaultFloatFormat) {
  project.sourceType = kSourceCW;
  project.sourceDirection = 1;
  project.sourceValue1 = 1.0f;
  project.sourceValue2 = -2.5f;
  project.frequency = 3e9f;
  project.sourceMaterial = 3;
  setModelCell(project, 1, 2, 3, kCellSource1 | kCellProbe | 5);
  setModelCell(project, 4, 5, 6, kCellSource2);
  setModelCell(project, 7, 8, 9, kCellDC);
  ASSERT_TRUE(set_data(project, model, 0));
  const uint64_t a = model.index(kM + 1, kM + 2, kM + 3);
  EXPECT_EQ(model.data[a], 3);
  EXPECT_EQ(model.pin(a), "CW Y 1 3e+09");
  EXPECT_EQ(model.probe(a), "P_1_2_3");
  const uint64_t b = model.index(kM + 4, kM + 5, kM + 6);
  EXPECT_EQ(model.data[b], 3);
  EXPECT_EQ(model.pin(b), "CW Y -2.5 3e+09");
  EXPECT_EQ(model.probe(b), "");
  const uint64_t c = model.index(kM + 7, kM + 8, kM + 9);
  EXPECT_EQ(model.data[c], 6);
  EXPECT_EQ(model.pin(c), "DC Y 1");

  struct Case {
    int type, direction;
    uint8_t code;
    float frequency;
    const char* text;
  };
  const Case cases[] = {{kSourceGauss, 0, kCellSource1, 3e9f, "GAUSS X 1"},
                        {kSourcePulse, 2, kCellSource2, 1.5e8f, "PULSE Z -2.5 1.5e+08"},
                        {kSourceSwitch, 0, kCellSource1, 1e6f, "SWITCH P 7 1e+06"},
                        {kSourceSwitch, 0, kCellSource2, 1e6f, "SWITCH N 7 1e+06"},
                        {kSourceSwitch, 2, kCellDC | kCellSource2, 1e6f, "DC Z 1"}};
  for (const Case& t : cases) {
    ClearProjectCells(project);
    project.sourceType = t.type;
    project.sourceDirection = t.direction;
    project.frequency = t.frequency;
    setModelCell(project, 0, 0, 0, t.code);
    ASSERT_TRUE(set_data(project, model, 0));
    EXPECT_EQ(model.pin(model.index(kM, kM, kM)), t.text);
  }
}

TEST_F(Conversion, DCCellIsCopper) {
  project.sourceDirection = 2;
  project.sourceValue1 = 2.0f;
  setModelCell(project, 30, 31, 32, kCellDC | 4);
  ASSERT_TRUE(set_data(project, model, 0));
  const uint64_t e = model.index(kM + 30, kM + 31, kM + 32);
  EXPECT_EQ(model.data[e], 6);
  EXPECT_EQ(model.pin(e), "DC Z 2");
  EXPECT_FLOAT_EQ(model.materialX[6].sg, 5.8e7f);
}

TEST_F(Conversion, MarginRepeatsTheFacesOfTheCube) {
  // A face layer of slot 3 runs on to the edge of the box.
  for (int y = 0; y < 64; ++y)
    for (int z = 0; z < 64; ++z) setModelCell(project, 0, y, z, 3);
  ASSERT_TRUE(set_data(project, model, 0));
  for (int x = 0; x < kM; ++x)
    for (int y = 0; y < 80; ++y)
      for (int z = 0; z < 80; ++z) ASSERT_EQ(model.data[model.index(x, y, z)], 3);
  EXPECT_EQ(model.data[model.index(79, 40, 40)], 0);

  // Any cube: data(x, y, z) = data(clamp(x), clamp(y), clamp(z)); only data
  // is extended.
  for (int n = 0; n < kCubeCells; ++n) project.cells[n] = static_cast<uint8_t>((n * 7919u) % 6);
  setModelCell(project, 0, 0, 0, kCellProbe | 1);
  ASSERT_TRUE(set_data(project, model, 0));
  auto clamp = [](int v) { return std::clamp(v, kM, kM + 63); };
  for (int x = 0; x < 80; ++x)
    for (int y = 0; y < 80; ++y)
      for (int z = 0; z < 80; ++z)
        ASSERT_EQ(model.data[model.index(x, y, z)],
                  model.data[model.index(clamp(x), clamp(y), clamp(z))])
            << x << "," << y << "," << z;
  EXPECT_EQ(model.pin(model.index(0, 0, 0)), "");
  EXPECT_EQ(model.probes().size(), 1u);
}

TEST_F(Conversion, ResultDoesNotDependOnTheThreadCount) {
  for (int n = 0; n < kCubeCells; ++n) project.cells[n] = static_cast<uint8_t>((n * 31u) % 5);
  setModelCell(project, 0, 5, 63, kCellSource1 | kCellProbe);
  const int threads = omp_get_max_threads();
  omp_set_num_threads(1);
  ASSERT_TRUE(set_data(project, model, 0));
  const std::vector<int32_t> one(model.data.begin(), model.data.end());
  const auto pins = model.pins();
  omp_set_num_threads(4);
  ModelRecord other;
  ASSERT_TRUE(set_data(project, other, 0));
  omp_set_num_threads(threads);
  EXPECT_TRUE(std::equal(one.begin(), one.end(), other.data.begin(), other.data.end()));
  EXPECT_EQ(other.pins(), pins);
}

TEST_F(Conversion, FarFieldWidensTheBoxAndThinsTheDisplay) {
  for (int n = 0; n < kCubeCells; ++n) project.cells[n] = 1;
  ASSERT_TRUE(set_data(project, model, 1));
  EXPECT_EQ(project.margin, 64);
  ASSERT_EQ(model.areaX, 192);
  EXPECT_EQ(model.areaY, 192);
  EXPECT_EQ(model.areaZ, 192);
  for (int x = 0; x < 192; ++x)
    for (int y = 0; y < 192; ++y)
      for (int z = 0; z < 192; ++z) {
        const uint64_t n = model.index(x, y, z);
        const bool inCube = x >= 64 && x < 128 && y >= 64 && y < 128 && z >= 64 && z < 128;
        const int drawn = inCube ? (n % 5 == 0 || n % 7 == 0) : (n % 7 == 0);
        ASSERT_EQ(model.data[n], inCube ? 1 : 0) << x << "," << y << "," << z;
        ASSERT_EQ(model.hide[n], drawn ? 0 : 1) << x << "," << y << "," << z;
      }
  // Back to the normal margin on the next conversion.
  ASSERT_TRUE(set_data(project, model, 0));
  EXPECT_EQ(model.areaX, 80);
}

TEST_F(Conversion, SourceParametersOutsideTheirRangesAreRefused) {
  ASSERT_TRUE(set_data(project, model, 0));
  for (auto [material, type, direction, message] :
       {std::tuple{9, 1, 0, "error: bad source material(9) in the model.\n"},
        std::tuple{-1, 1, 0, "error: bad source material(-1) in the model.\n"},
        std::tuple{1, 4, 0, "error: bad source type(4) in the model.\n"},
        std::tuple{1, 1, 3, "error: bad source direction(3) in the model.\n"}}) {
    Project p;
    p.sourceMaterial = material;
    p.sourceType = type;
    p.sourceDirection = direction;
    p.margin = 5;
    log_.str("");
    EXPECT_FALSE(set_data(p, model, 1));
    EXPECT_EQ(log_.str(), message);
    EXPECT_EQ(p.margin, 5);
    EXPECT_EQ(model.areaX, 80);
  }
}

TEST_F(Conversion, DemoIsTwoOppositeSourcesAroundAProbe) {
  model.materialX[0].er = 2.0f;
  ASSERT_TRUE(MakeDemoProject(project, model));
  ASSERT_EQ(model.areaX, 80);
  EXPECT_EQ(model.areaY, 80);
  EXPECT_EQ(model.areaZ, 80);
  EXPECT_FLOAT_EQ(model.unitX, 0.005f);
  EXPECT_FLOAT_EQ(model.unitY, 0.005f);
  EXPECT_FLOAT_EQ(model.unitZ, 0.005f);
  EXPECT_EQ(model.pin(model.index(41, 40, 40)), "CW Y 20 3e9");
  EXPECT_EQ(model.pin(model.index(39, 40, 40)), "CW Y -20 3e9");
  EXPECT_EQ(model.pin(model.index(40, 40, 40)), "DEMO");
  EXPECT_EQ(model.probe(model.index(40, 40, 40)), "DEMO");
  EXPECT_EQ(model.pins().size(), 3u);
  EXPECT_EQ(model.probes().size(), 1u);
  EXPECT_FLOAT_EQ(model.materialX[0].er, 2.0f);
  for (int x = 0; x < 80; ++x)
    for (int y = 0; y < 80; ++y)
      for (int z = 0; z < 80; ++z) {
        const bool inCube = x >= 8 && x < 72 && y >= 8 && y < 72 && z >= 8 && z < 72;
        ASSERT_EQ(model.data[model.index(x, y, z)], 0);
        ASSERT_EQ(model.hide[model.index(x, y, z)], inCube ? 0 : 1);
      }
}

TEST_F(Conversion, DemoReportsAFailedAllocation) {
  project.margin = 1 << 20;  // a box far beyond any memory
  EXPECT_FALSE(MakeDemoProject(project, model));
  EXPECT_EQ(log_.str().rfind("error: can't allocate memory for data[", 0), 0u);
}

// The example models shipped with the sources read back and convert into the
// sources and probes their descriptions promise.
TEST_F(Conversion, ExampleModelsConvert) {
  struct Example {
    const char* file;
    const char* source;
    const char* probe;
  };
  const Example examples[] = {{"dipole.fdtd", "GAUSS Y 1", "P_32_31_32"},
                              {"cavity.fdtd", "GAUSS Z 1", "P_42_40_34"},
                              {"microstrip.fdtd", "CW Z 1 3e+09", "P_59_31_1"}};
  for (const Example& ex : examples) {
    Project p;
    ASSERT_TRUE(ReadProject(p, std::string(TAVRO_SOURCE_DIR) + "/examples/" + ex.file)) << ex.file;
    ASSERT_TRUE(set_data(p, model, 0)) << ex.file;
    int sources = 0;
    for (const auto& [cell, text] : model.pins())
      if (text.find(' ') != std::string::npos) {
        EXPECT_EQ(text, ex.source) << ex.file;
        ++sources;
      }
    EXPECT_EQ(sources, 1) << ex.file;
    ASSERT_EQ(model.probes().size(), 1u) << ex.file;
    EXPECT_EQ(model.probes().begin()->second, ex.probe) << ex.file;
  }
  // The cavity's copper walls run on through the margin to the box edge.
  Project cavity;
  ASSERT_TRUE(ReadProject(cavity, std::string(TAVRO_SOURCE_DIR) + "/examples/cavity.fdtd"));
  ASSERT_TRUE(set_data(cavity, model, 0));
  EXPECT_EQ(model.data[model.index(0, 40, 40)], 1);
  EXPECT_EQ(model.data[model.index(kM, 40, 40)], 1);
  EXPECT_EQ(model.data[model.index(kM + 1, 40, 40)], 0);
}
