// -sparam with -nf2ff: the far field of each port's run and its radiation
// efficiency, for a short dipole fed at a one-cell gap.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "cli_runner.h"

namespace tavro {
namespace {

TEST(RadiationEfficiency, LosslessDipoleRadiatesWhatItAccepts) {
  // Gap material 0 (vacuum) radiates all it accepts; material 2 puts 10 ohm
  // (20 S/m over 5 mm) across the gap, far below the dipole's radiation
  // resistance, which burns nearly all of it.
  const struct {
    const char* gap;
    double eta, tolerance;
  } rows[] = {{"0", 1.0, 0.05}, {"2", 0.0, 0.1}};
  for (const auto& row : rows) {
    auto dir = test::scratchDir("radiation_efficiency");
    // Copper at z = 6 and 8 around the port at z = 7, all at x = y = 7.
    for (const char* name : {"z6", "z7", "z8"}) {
      std::ofstream csv(dir / name);
      const char* z = name + 1;
      for (int cell = 0; cell < 14 * 14; ++cell)
        csv << (cell != 7 * 14 + 7 ? "0" : (*z != '7' ? "1" : row.gap))
            << (cell == 7 * 14 + 7 && *z == '7' ? " PORT:Z:50" : "")
            << (cell % 14 == 13 ? "\n" : ",");
    }
    std::vector<std::string> args;
    std::istringstream words(
        "-batch -area 14 14 14 -unit 0.005 0.005 0.005 -pml 4 -mat 1 CU -mat 2 20:1:1 "
        "-layer 6 z6 -layer 7 z7 -layer 8 z8 -n 20000 -sparam 3e9 s -nf2ff 2e9 ff");
    for (std::string w; words >> w;) args.push_back(w);
    const test::RunResult r = test::runProgram(args, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("ignored"), std::string::npos) << r.err;
    EXPECT_NE(test::readFile(dir / "ff_port1_2e9.txt").find("# frequency : 2e+09[Hz]\n"),
              std::string::npos);
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(r.err, m,
                          std::regex("\nradiated power : [-0-9.e+]+\\[W\\]\nradiation "
                                     "efficiency : ([-0-9.e+]+) \\(port 1, 2e\\+09\\[Hz\\]\\)\n")))
        << r.err;
    EXPECT_NEAR(std::stod(m[1].str()), row.eta, row.tolerance) << row.gap;
  }
}

}  // namespace
}  // namespace tavro
