// -sparam with -nf2ff: each port's run writes its far field and the
// radiation efficiency, the radiated power over the power accepted at the
// port. A short dipole fed at a one-cell gap radiates all it accepts; a
// resistive gap burns part of it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli_runner.h"

namespace tavro {
namespace {

// A 14-cell cube of 5 mm cells: copper cells at z = 6 and 8 around the gap
// cell at z = 7 (material `gap`, with the port), all at x = y = 7.
void writeDipole(const std::filesystem::path& dir, const std::string& gap) {
  for (int z : {6, 7, 8}) {
    std::ostringstream name;
    name << "z" << z << ".csv";
    std::ofstream csv(dir / name.str());
    for (int y = 0; y < 14; ++y)
      for (int x = 0; x < 14; ++x) {
        if (x == 7 && y == 7)
          csv << (z == 7 ? gap + " PORT:Z:50" : "1");
        else
          csv << "0";
        csv << (x == 13 ? "\n" : ",");
      }
  }
}

TEST(RadiationEfficiency, LosslessDipoleRadiatesWhatItAccepts) {
  struct Row {
    const char* gap;  // material of the gap cell
    double lo, hi;    // bounds of the efficiency
  };
  // 20 S/m over a 5 mm cell is 10 ohm across the gap, in parallel with the
  // dipole's radiation resistance of a fraction of an ohm: nearly all the
  // accepted power is burnt in the gap.
  const Row rows[] = {{"0", 0.95, 1.05}, {"2", 0.0, 0.1}};
  for (const Row& row : rows) {
    auto dir = test::scratchDir("radiation_efficiency");
    writeDipole(dir, row.gap);
    std::vector<std::string> args;
    std::istringstream words(
        "-batch -area 14 14 14 -unit 0.005 0.005 0.005 -pml 4 -mat 1 CU -mat 2 20:1:1 "
        "-layer 6 z6.csv -layer 7 z7.csv -layer 8 z8.csv -n 20000 -sparam 3e9 s -nf2ff 2e9 ff");
    for (std::string w; words >> w;) args.push_back(w);
    const test::RunResult r = test::runProgram(args, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("ignored"), std::string::npos) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "s.s1p"));
    EXPECT_NE(test::readFile(dir / "ff_port1_2e9.txt").find("# frequency : 2e+09[Hz]\n"),
              std::string::npos);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        r.err, m,
        std::regex("\nradiated power : [-0-9.e+]+\\[W\\]\nradiation efficiency : ([-0-9.e+]+) "
                   "\\(port 1, 2e\\+09\\[Hz\\]\\)\n")))
        << r.err;
    const double eta = std::stod(m[1].str());
    EXPECT_GE(eta, row.lo) << "gap " << row.gap;
    EXPECT_LE(eta, row.hi) << "gap " << row.gap;
  }
}

}  // namespace
}  // namespace tavro
