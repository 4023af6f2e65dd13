// Easy mistakes on the command line and in CSV layers: each is refused or
// warned about, naming the option, the text or the cell, and never turns
// silently into another model.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_runner.h"

namespace {

using tavro::test::runProgram;
using tavro::test::scratchDir;

constexpr int kRefused = 255;  // -1
constexpr int kSetUp = 254;    // -2

const std::string kPresets =
    " or one of SPACE, AIR, CU, GOLD, AL, NI, IRON, SI, FR4, TEFLON, WATER.\n";

TEST(MistypedInput, IsRefusedOrWarnedAboutByName) {
  auto dir = scratchDir("mistyped");
  std::ofstream(dir / "a.csv") << "0 P,1\n";
  std::ofstream(dir / "wide.csv") << "0,0,0,7,9,,\n0,0\n\n0,0,5\n,,\n";
  std::ofstream(dir / "bom.csv") << "\xEF\xBB\xBF"
                                    "1 P,0\n";
  std::ofstream(dir / "cw.csv") << "0 CW:Z:1:5GHz\n";
  std::ofstream(dir / "hex.csv") << "0 CW:Z:0x1p0:1e9\n";
  std::ofstream(dir / "switch.csv") << "0 SWITCH:P:1x:1e9\n";
  std::ofstream(dir / "sub.csv") << "0 sub/P,0 A\n";
  const std::string model = std::string(TAVRO_SOURCE_DIR) + "/examples/cavity.fdtd";
  const std::vector<std::string> area = {"-batch", "-n", "2", "-area", "4", "4", "4"};
  struct Row {
    std::vector<std::string> args;  // after `area` when `onArea`
    bool onArea;
    std::string message;  // a line of the console
    int status;
  } rows[] = {
      {{"-mat", "1", "COPPER"},
       false,
       "error: bad material(COPPER) for -mat 1; give <SG>:<ER>:<UR> with three finite numbers" +
           kPresets,
       kRefused},
      {{"-mat", "1", "cu"}, false, "error: bad material(cu) for -mat 1;", kRefused},
      {{"-mat", "2", "5.8e7,1,1"}, false, "error: bad material(5.8e7,1,1) for -mat 2;", kRefused},
      {{"-mat", "1", "1:2"}, false, "error: bad material(1:2) for -mat 1;", kRefused},
      {{"-mat", "1", "1:2:3:4"}, false, "error: bad material(1:2:3:4) for -mat 1;", kRefused},
      {{"-matz", "3", "CU"},
       false,
       "error: bad material(CU) for -matz 3; give <SG>:<ER>:<UR> with three finite numbers "
       "(presets only with -mat).\n",
       kRefused},
      {{"-unit", "1mm", "1mm", "1mm"},
       false,
       "error: -unit needs a number, not '1mm'.\n",
       kRefused},
      {{"-n", "1e3"}, false, "error: -n needs an integer, not '1e3'.\n", kRefused},
      {{"-area", "40x40", "40", "10"},
       false,
       "error: -area needs an integer, not '40x40'.\n",
       kRefused},
      {{"-minfreq", "1GHz"}, false, "error: -minfreq needs a number, not '1GHz'.\n", kRefused},
      {{"-layer", "0x1", "a.csv"}, true, "error: -layer needs an integer, not '0x1'.\n", kRefused},
      {{"-bacth"}, false, "error: unknown option(-bacth).\n", kRefused},
      {{"-area", "4", "4", "4", "-layer", "0"}, false, "error: -layer needs 2 values.\n", kRefused},
      {{"--help"}, false, "usage: tavro [options] [FDTD_FILE]\n", 0},
      {{"-h"}, false, "usage: tavro [options] [FDTD_FILE]\n", 0},
      {{"-timelog", "txt", "-freqlog", "txt"},
       true,
       "error: -timelog and -freqlog name the same extension(txt); the frequency files would "
       "overwrite the time files.\n",
       kRefused},
      {{"-layer", "0", "cw.csv"},
       true,
       "error: source (0,0,0) 'CW Z 1 5GHz' has a bad number '5GHz'.\n",
       kSetUp},
      {{"-layer", "0", "hex.csv"},
       true,
       "error: source (0,0,0) 'CW Z 0x1p0 1e9' has a bad number '0x1p0'.\n",
       kSetUp},
      {{"-layer", "0", "switch.csv"},
       true,
       "error: source (0,0,0) 'SWITCH P 1x 1e9' has a bad number '1x'.\n",
       kSetUp},
      // Warned about; the run goes on.
      {{"-layer", "0", "a.csv"},
       true,
       "warning: material ID 1 is used by CSV cells but set by no -mat; it is vacuum (0:1:1).\n",
       0},
      {{"-layer", "0", "wide.csv", "-mat", "5", "CU", "-mat", "7", "CU"},
       true,
       "warning: CSV 'wide.csv' is larger than the 4 x 4 cells of layer 0; ignored: 1 cell(s) "
       "beyond column 3, 0 row(s) beyond row 3.\n",
       0},
      {{"-csv", "2", "1", "1", "wide.csv"},
       true,
       "warning: CSV 'wide.csv' is larger than the 2 x 1 cells of layer 1; ignored: 3 cell(s) "
       "beyond column 1, 2 row(s) beyond row 0.\n",
       0},
      // The byte-order mark is skipped: the first cell keeps its ID and probe.
      {{"-layer", "0", "bom.csv", "-mat", "1", "CU"}, true, "(0,0,0) P_0_0_0\n", 0},
      {{"-layer", "0", "sub.csv", "-timelog", "t"},
       true,
       "error: 1 result file(s) could not be written.\n",
       3},
      {{"-area", "4", "4", "4", "-batch", "-n", "1", model},
       false,
       "warning: -area is ignored with the model file(cavity.fdtd).\n",
       0},
      {{"-batch", "-n", "1", model, "-area", "4", "4", "4", "-layer", "0", "a.csv"},
       false,
       "warning: -layer is ignored with the model file(cavity.fdtd).\n",
       0},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = row.onArea ? area : std::vector<std::string>{};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const auto r = runProgram(args, dir);
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(r.status, row.status) << shown << "\n" << r.err;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << shown << "\n" << r.err;
  }
  EXPECT_TRUE(std::filesystem::exists(dir / "A_1_0_0.t"));  // beside the one not written

  // Hexadecimal, infinite and NaN numbers in every option that takes a
  // number ("@"), refused by name before anything runs. Infinite and NaN cell
  // sizes and frequencies read as numbers and meet the checks of their values.
  const struct {
    std::vector<std::string> args;
    const char* needs;  // "an integer", "a number", or a material text
  } numeric[] = {
      {{"-n", "@"}, "an integer"},
      {{"-area", "4", "@", "4"}, "an integer"},
      {{"-layer", "@", "a.csv"}, "an integer"},
      {{"-csv", "0", "0", "@", "a.csv"}, "an integer"},
      {{"-vtk", "@", "snap"}, "an integer"},
      {{"-matz", "@", "1:1:1"}, "an integer"},
      {{"-unit", "1e-3", "@", "1e-3"}, "a number"},
      {{"-minfreq", "@"}, "a number"},
      {{"-mat", "1", "1:@:1"}, nullptr},
      {{"-matx", "1", "@:1:1"}, nullptr},
      {{"-maty", "1", "1:1:@"}, nullptr},
      {{"-matz", "1", "1:@:1"}, nullptr},
  };
  for (const auto& row : numeric)
    for (const std::string number : {"0x1p-10", "INF", "nan"}) {
      const std::string needs = row.needs ? row.needs : "";
      if (needs == "a number" && number != "0x1p-10") continue;
      std::vector<std::string> args = row.args;
      std::string bad;
      for (std::string& a : args)
        if (const size_t at = a.find('@'); at != std::string::npos) {
          a.replace(at, 1, number);
          bad = a;
        }
      const std::string message =
          row.needs ? "error: " + args[0] + " needs " + needs + ", not '" + bad + "'.\n"
                    : "error: bad material(" + bad + ") for " + args[0] + " 1;";
      const auto r = runProgram(args, dir);
      EXPECT_EQ(r.status, kRefused) << args[0] << " " << bad;
      EXPECT_NE(r.err.find(message), std::string::npos) << args[0] << " " << bad << "\n" << r.err;
    }
}

}  // namespace
