// Whole batch runs from the command line: the demo, a model file and the CSV
// cavity example, checked against physics.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>

#include "cli_runner.h"

using tavro::test::kBanner;
using tavro::test::readFile;
using tavro::test::readRows;
using tavro::test::runProgram;
using tavro::test::scratchDir;

namespace {

const std::filesystem::path kSource = TAVRO_SOURCE_DIR;

// The CSV cavity of examples/csv with `height` air layers between the plates.
std::vector<std::string> cavityArgs(int height, int steps) {
  const std::string dir = (kSource / "examples" / "csv").string() + "/";
  std::vector<std::string> args = {"-batch",
                                   "-n",
                                   std::to_string(steps),
                                   "-area",
                                   "24",
                                   "20",
                                   std::to_string(height + 3),
                                   "-unit",
                                   "1e-3",
                                   "1e-3",
                                   "1e-3",
                                   "-mat",
                                   "1",
                                   "CU",
                                   "-freqlog",
                                   "frq"};
  for (int z = 1; z <= height + 1; ++z) {
    const char* layer = z == 1 || z == height + 1 ? "cavity_plate.csv"
                        : z == 4                  ? "cavity_feed.csv"
                                                  : "cavity_ring.csv";
    args.insert(args.end(), {"-layer", std::to_string(z), dir + layer});
  }
  return args;
}

// Frequency of the strongest Ez response of the probe below `below` Hz.
double lowestResonance(const std::filesystem::path& file, double below) {
  double best = 0, bestF = 0;
  for (const auto& r : readRows(file))
    if (r.size() == 19 && r[0] < below && r[12] > best) {
      best = r[12];
      bestF = r[0];
    }
  return bestF;
}

// TM110 resonance of an a x b (cells) rectangular cavity on the Yee grid with
// 1 mm cells, from the discrete dispersion relation
//   sin^2(w dt/2) / (c dt)^2 = sin^2(kx dx/2) / dx^2 + sin^2(ky dy/2) / dy^2.
double yeeTM110(double a, double b) {
  const double c = 299792448.0, dx = 1e-3;
  const double dt = static_cast<float>(0.99 / std::sqrt(3.0 / (dx * dx)) / c);
  const double sx = std::sin(M_PI / (2 * a)), sy = std::sin(M_PI / (2 * b));
  const double rhs = c * dt * std::sqrt(sx * sx + sy * sy) / dx;
  return 2.0 / dt * std::asin(rhs) / (2 * M_PI);
}

}  // namespace

// Physics: the copper cavity of examples/csv (walls on the node planes
// x = 1, 22 and y = 1, 18, plates at z = 1 and z = h + 1) rings in its TM110
// mode (Ez only, independent of the height). A conductor cell drives all
// three E components of its own cell to about zero: the tangential E of every
// wall lies on the wall's node plane (a = 21, b = 17 cells, the upper value
// below), but the normal E half a cell inside each low-side wall is zeroed
// too. At the bottom plate that removes the layer of Ez at z = 1.5, which
// couples the mode into Ex and Ey there and lowers its frequency by a share
// that falls with the height (measured: 7.5 % at h = 7, 4 % at h = 14). The
// expected value is therefore bracketed between the Yee value for the wall
// planes and the Yee value for walls one cell further out on every side
// (a = 23, b = 19), widened by one spacing of the frequency grid (0.4 %); and
// a taller cavity, where the bottom layer matters less, must lie closer to the
// wall-plane value.
TEST(EndToEnd, CopperCavityResonatesWhereTheYeeGridPutsIt) {
  const double upper = yeeTM110(21, 17), lower = yeeTM110(23, 19);
  EXPECT_NEAR(upper, 11.339e9, 0.01e9);
  EXPECT_NEAR(lower, 10.24e9, 0.02e9);
  double found[2] = {0, 0};
  const int heights[2] = {7, 14};
  for (int i = 0; i < 2; ++i) {
    auto dir = scratchDir("e2e_cavity" + std::to_string(i));
    auto r = runProgram(cavityArgs(heights[i], 20000), dir);
    ASSERT_EQ(r.status, 0) << r.err;
    found[i] = lowestResonance(dir / "P1_15_12_4.frq", 13e9);
    if (heights[i] == 7) {
      // P1 only rings (nothing settles there), so it keeps the plain ratio of
      // the sums: Zm, Zr, Zi of these points as the files always gave them.
      const auto rows = readRows(dir / "P1_15_12_4.frq");
      const double kept[3][4] = {{1.930053e+08, 8.801615e+02, -8.795663e+02, 3.236202e+01},
                                 {1.420449e+09, 4.328956e+02, -4.150617e+02, 1.229731e+02},
                                 {1.101084e+10, 1.750612e+03, 2.726714e+02, 1.729246e+03}};
      const size_t at[3] = {500, 1000, 1513};
      for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(rows.at(at[k]).at(c == 0 ? 0 : 6 + c), kept[k][c]);
    }
    EXPECT_GT(found[i], lower * 0.996) << "height " << heights[i];
    EXPECT_LT(found[i], upper * 1.004) << "height " << heights[i];
  }
  EXPECT_GT(found[1], found[0]);
}

TEST(EndToEnd, DemoRunsAndWritesItsProbeFiles) {
  auto dir = scratchDir("e2e_demo");
  auto r = runProgram({"-batch", "-n", "200", "-timelog", "txt", "-freqlog", "frq"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::string progress;
  for (int p = 0; p < 100; ++p)
    progress += "\r- FDTD calculation [^\r]*sec " + std::to_string(p) + "% done\\.";
  std::regex expected(std::string(kBanner) +
                      "- material setting...\n"
                      "\\(0\\) sg=0\\[S/m\\] er=1 ur=1  used 512000\\[grids\\]\n"
                      "- source setting...\n"
                      "\\(39,40,40\\) CW Y V=-20\\[V\\] F=3e\\+09\\[Hz\\]\n"
                      "\\(41,40,40\\) CW Y V=20\\[V\\] F=3e\\+09\\[Hz\\]\n"
                      "- measure setting...\n"
                      "\\(40,40,40\\) DEMO\n"
                      "- calculation parameters...\n"
                      "area size : \\(80,80,80\\)\\[grids\\]\n"
                      "grid size : \\(0.005,0.005,0.005\\)\\[m\\]\n"
                      "time resolution : 9.53287e-12\\[sec\\]\n"
                      "used memory : [0-9.]+\\[Mbytes\\]\n" +
                      progress +
                      "\r {78}\r- Output txt files...\n- Output frq files...\n"
                      "- FDTD calculation complete.\n"
                      "calculated time : 1.90657e-09\\[sec\\]\n"
                      "calculated step : 200\\[steps\\]\n"
                      "execution time  : [0-9]+\\[sec\\]\n");
  EXPECT_TRUE(std::regex_match(r.err, expected)) << r.err;
  auto time = readRows(dir / "DEMO.txt");
  EXPECT_EQ(time.size(), 200u);
  EXPECT_EQ(readRows(dir / "DEMO.frq").size(), 2000u);
  // The probe lies midway between two opposite Y sources: by symmetry their Ey
  // cancel there (up to float rounding), while the field lines closing from
  // one source to the other cross the probe along X.
  double vx = 0, vy = 0;
  for (const auto& row : time) {
    vx = std::max(vx, std::fabs(row[1]));
    vy = std::max(vy, std::fabs(row[2]));
  }
  EXPECT_GT(vx, 1.0);
  EXPECT_LT(vy, 1e-3 * vx);
}

TEST(EndToEnd, ModelFileRunsWithItsProbesAndFarFieldMargin) {
  auto dir = scratchDir("e2e_model");
  const std::string model = (kSource / "examples" / "cavity.fdtd").string();
  auto r = runProgram({"-batch", "-n", "20", "-timelog", "txt", model}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("info: FDTD file(cavity.fdtd) was read from "), std::string::npos);
  EXPECT_NE(r.err.find("area size : (80,80,80)[grids]\n"), std::string::npos);
  EXPECT_NE(r.err.find(") P_42_40_34\n"), std::string::npos);
  EXPECT_EQ(readRows(dir / "P_42_40_34.txt").size(), 20u);
  // -far before the file widens the margin; after it, it does nothing.
  r = runProgram({"-far", "-n", "0", "-batch", model}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("area size : (192,192,192)[grids]\n"), std::string::npos);
  r = runProgram({"-n", "0", "-batch", model, "-far"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("area size : (80,80,80)[grids]\n"), std::string::npos);
  // A second model file is refused after the first was read.
  r = runProgram({"-batch", model, model}, dir);
  EXPECT_EQ(r.status, 255);
  EXPECT_NE(r.err.find("error: duplicate FDTD_FILE name. (cavity.fdtd & " + model + ")\n"),
            std::string::npos);
}
