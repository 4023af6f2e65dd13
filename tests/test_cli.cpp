// The program run as a user runs it: exit status and exact console text.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "app/cli.h"
#include "app/presets.h"
#include "cli_runner.h"
#include "engine/console.h"

using tavro::test::kBanner;
using tavro::test::readFile;
using tavro::test::runProgram;
using tavro::test::scratchDir;

namespace {

std::string golden(const std::string& name) {
  return readFile(std::filesystem::path(TAVRO_SOURCE_DIR) / "tests" / "golden" / name);
}

// Statuses -1 and -2 as the shell sees them.
constexpr int kStatusArg = 255;
constexpr int kStatusSetup = 254;

}  // namespace

TEST(CommandLine, HelpPrintsBannerAndUsageExactly) {
  auto dir = scratchDir("cli_help");
  auto r = runProgram({"-help"}, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, std::string(kBanner) + golden("usage_cpu.txt"));
  EXPECT_EQ(r.out, "");
  // Options before -help are applied first; the usage still ends the program
  // with status 0, and a later word is never looked at.
  r = runProgram({"-n", "2000000", "-minfreq", "0", "-area", "4", "4", "4", "-help", "nofile"},
                 dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, std::string(kBanner) + "warning: #steps have to be less than 1000000.\n" +
                       "warning: minfreq have to be positive.\n" + golden("usage_cpu.txt"));
}

TEST(CommandLine, FailureRowsGiveTheirMessageAndStatus) {
  auto dir = scratchDir("cli_fail");
  struct Row {
    std::vector<std::string> args;
    std::string message;
    int status;
  } rows[] = {
      {{"-mat", "65536", "CU"}, "error: ID must be less than 65536.\n", kStatusArg},
      {{"-matx", "70000", "1:1:1"}, "error: ID must be less than 65536.\n", kStatusArg},
      {{"-mat", "-1", "CU"}, "error: ID must not be negative (-1).\n", kStatusArg},
      {{"-matz", "-65536", "0:1:1"}, "error: ID must not be negative (-65536).\n", kStatusArg},
      {{"-mat", "99999999999", "CU"}, "error: ID must be less than 65536.\n", kStatusArg},
      {{"-layer", "0", "a.csv"}, "error: set -area before -layer...\n", kStatusSetup},
      {{"-area", "4", "-2", "4"},
       "error: calculation area (4,-2,4) must not be negative.\n",
       kStatusArg},
      // The CPU build has no -cuda option.
      {{"-cuda", "0"}, "error: unknown option(-cuda).\n", kStatusArg},
      // An option without all its arguments.
      {{"-area", "4", "4"}, "error: -area needs 3 values.\n", kStatusArg},
      {{"missing.fdtd"}, "error: FDTD file(missing.fdtd) is not found.\n", kStatusArg},
      {{"-vtk", "0", "snap"}, "error: -vtk needs a step interval of at least 1 (0).\n", kStatusArg},
      {{"-vtk", "x", "snap"}, "error: -vtk needs an integer, not 'x'.\n", kStatusArg},
      {{"-vtk", "5"}, "error: -vtk needs 2 values.\n", kStatusArg},
      // Snapshot prefixes that would write where nobody meant them to.
      {{"-vtk", "5", "/"},
       "error: -vtk prefix '/' is a folder; name the files in it, as in /snap.\n",
       kStatusArg},
      {{"-vtk", "5", "."},
       "error: -vtk prefix '.' is a folder; name the files in it, as in snap.\n",
       kStatusArg},
      {{"-vtk", "5", "out/"},
       "error: -vtk prefix 'out/' is a folder; name the files in it, as in out/snap.\n",
       kStatusArg},
      {{"-vtk", "5", "-n", "10"},
       "error: -vtk prefix '-n' starts with '-' like an option; write ./-n to mean a file.\n",
       kStatusArg},
      {{"-vtk", "5", ""},
       "error: -vtk prefix is empty; it would write the hidden file .pvd.\n",
       kStatusArg},
      {{"-vtk", "5", "no/such/snap"},
       "error: -vtk prefix 'no/such/snap' names no existing folder.\n",
       kStatusArg},
      {{"-vtk", "5", "a", "-vtk", "2", "b"},
       "error: -vtk is given twice (a & b); one snapshot series per run.\n",
       kStatusArg},
  };
  for (const Row& row : rows) {
    auto r = runProgram(row.args, dir);
    EXPECT_EQ(r.status, row.status) << row.args[0];
    EXPECT_EQ(r.err, std::string(kBanner) + row.message) << row.args[0];
  }
}

TEST(CommandLine, SetUpRefusesAreasAndGridSizesItCannotRun) {
  auto dir = scratchDir("cli_refuse");
  const std::string head = std::string(kBanner) + "- material setting...\n";
  auto r = runProgram({"-area", "1", "8", "8", "-batch"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err,
            head + "error: calculation area (1,8,8) must have at least 2 grids along each axis.\n");
  r = runProgram({"-area", "4", "4", "4", "-unit", "0.001", "0", "0.001", "-batch"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, head + "error: grid size (0.001,0,0.001) must be positive and finite.\n");
  r = runProgram({"-area", "4", "4", "4", "-unit", "nan", "1", "1", "-batch"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, head + "error: grid size (nan,1,1) must be positive and finite.\n");
  // Only a material option: no area, no model.
  r = runProgram({"-mat", "1", "CU", "-batch"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err,
            head + "error: calculation area (0,0,0) must have at least 2 grids along each axis.\n");
  // A cell ID outside the tables fails the set-up without a message.
  // A material with a zero permittivity would divide by zero.
  r = runProgram({"-area", "4", "4", "4", "-mat", "0", "0:0:1", "-batch"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, head + "(0) sg=0[S/m] er=0 ur=1  used 64[grids]\n" +
                       "error: material (0) needs finite values with positive er and ur.\n");
  // An area far beyond the machine's memory is refused before allocating.
  r = runProgram({"-area", "100000", "100000", "100000"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, std::string(kBanner) +
                       std::string("error: can't allocate memory for data[1000000000000000].\n"));
}

TEST(CommandLine, RunsThatCannotFitInMemoryAreRefusedBeforeAllocating) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  auto dir = scratchDir("cli_memory");
  // 1 GiB of address space: the cells (63 MB) fit, the run (about 1.7 GB of
  // fields and coefficients) does not.
  auto r = runProgram({"-area", "250", "250", "250", "-unit", "1e-3", "1e-3", "1e-3", "-batch"},
                      dir, "ulimit -v 1048576 &&");
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, std::string(kBanner) +
                       "- material setting...\n"
                       "error: the run needs 1589.7[Mbytes] of memory but only 1024[Mbytes] are "
                       "available.\n");
}

TEST(CommandLine, SetUpReportOfACommandLineModel) {
  auto dir = scratchDir("cli_report");
  auto r = runProgram({"-area", "10", "8", "6", "-unit", "1e-3", "1e-3", "2e-3", "-mat", "0", "AIR",
                       "-matx", "3", "1:2:3", "-batch", "-n", "0"},
                      dir);
  EXPECT_EQ(r.status, 0);
  std::regex expected(std::string(kBanner) +
                      "- material setting...\n"
                      "\\(0\\) sg=1e-13\\[S/m\\] er=1 ur=1  used 480\\[grids\\]\n"
                      "- source setting...\n"
                      "- measure setting...\n"
                      "- calculation parameters...\n"
                      "area size : \\(10,8,6\\)\\[grids\\]\n"
                      "grid size : \\(0.001,0.001,0.002\\)\\[m\\]\n"
                      "time resolution : 2.20152e-12\\[sec\\]\n"
                      "used memory : 0.102539\\[Mbytes\\]\n"
                      "\r {78}\r"
                      "- FDTD calculation complete.\n"
                      "calculated time : 0\\[sec\\]\n"
                      "calculated step : 0\\[steps\\]\n"
                      "execution time  : [0-9]+\\[sec\\]\n");
  EXPECT_TRUE(std::regex_match(r.err, expected)) << r.err;
}

TEST(CommandLine, WithoutADisplayTheProgramSuggestsBatchAndFails) {
  auto dir = scratchDir("cli_window");
  auto r = runProgram({"-area", "4", "4", "4", "-n", "0"}, dir, "env -u DISPLAY");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("error: cannot open the window (failed to open display ''); add -batch to "
                       "run the model without a window.\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("freeglut"), std::string::npos);
}

TEST(CommandLine, MaterialOptionsFillTheTables) {
  tavro::App app;
  std::ostringstream console;
  tavro::setConsole(&console);
  const char* argv[] = {"tavro", "-mat", "3",     "CU",     "-mat",  "4",   "0:1:1", "-mat",  "5",
                        "0:1:1", "-mat", "6",     "1 2::3", "-matx", "7",   "0:1:1", "-maty", "8",
                        "4:5:6", "-mat", "65535", "GOLD",   "-unit", "0.5", "2",     "0"};
  const int status = tavro::ParseCommandLine(app, std::size(argv), const_cast<char**>(argv));
  tavro::setConsole(nullptr);
  EXPECT_EQ(status, tavro::kContinue);
  EXPECT_EQ(console.str(), "");
  auto same = [](const tavro::Material& m, float sg, float er, float ur) {
    return m.sg == sg && m.er == er && m.ur == ur;
  };
  const auto& M = app.model;
  for (const auto* table : {&M.materialX, &M.materialY, &M.materialZ}) {
    EXPECT_TRUE(same((*table)[3], 5.8e7f, 1, 1));
    EXPECT_TRUE(same((*table)[4], 0, 1, 1));
    EXPECT_TRUE(same((*table)[5], 0, 1, 1));
    EXPECT_TRUE(same((*table)[6], 1, 2, 3));  // blanks and repeated ":" separate too
    EXPECT_TRUE(same((*table)[65535], 4.1e7f, 1, 1));
  }
  EXPECT_TRUE(same(M.materialX[7], 0, 1, 1));
  EXPECT_TRUE(same(M.materialY[7], 0, 1, 1));
  EXPECT_TRUE(same(M.materialY[8], 4, 5, 6));
  EXPECT_TRUE(same(M.materialX[8], 0, 1, 1));
  EXPECT_TRUE(same(M.materialZ[8], 0, 1, 1));
  EXPECT_EQ(M.unitX, 0.5f);
  EXPECT_EQ(M.unitY, 2.0f);
  EXPECT_EQ(M.unitZ, 0.0f);
  EXPECT_EQ(app.csvMask, 1 | 4);
}

TEST(CommandLine, RunOptionsAndTheirWarnings) {
  struct Case {
    std::vector<const char*> args;
    std::string console;
    int stepLimit;
    float minFreq;
  } cases[] = {
      {{"-n", "2000000"}, "warning: #steps have to be less than 1000000.\n", 1000000, 0},
      {{"-n", "1000000"}, "", 1000000, 0},
      {{"-n", "-7"}, "", -7, 0},
      {{"-n", " +12 "}, "", 12, 0},
      {{"-minfreq", "-5"}, "warning: minfreq have to be positive.\n", 1000000, 0},
      {{"-minfreq", "0"}, "warning: minfreq have to be positive.\n", 1000000, 0},
      {{"-minfreq", "1e6"}, "", 1000000, 1e6f},
  };
  for (const Case& c : cases) {
    tavro::App app;
    std::vector<const char*> argv = {"tavro"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::ostringstream console;
    tavro::setConsole(&console);
    const int status = tavro::ParseCommandLine(app, static_cast<int>(argv.size()),
                                               const_cast<char**>(argv.data()));
    tavro::setConsole(nullptr);
    EXPECT_EQ(status, tavro::kContinue);
    EXPECT_EQ(console.str(), c.console) << c.args[0] << " " << c.args[1];
    EXPECT_EQ(app.engine.requestedStepLimit, c.stepLimit);
    EXPECT_EQ(app.engine.minFreq, c.minFreq);
  }
  tavro::App app;
  const char* argv[] = {"tavro", "-batch", "-far", "-timelog", "t", "-freqlog", "f"};
  EXPECT_EQ(tavro::ParseCommandLine(app, 7, const_cast<char**>(argv)), tavro::kContinue);
  EXPECT_FALSE(app.interactive);
  EXPECT_EQ(app.farField, 1);
  EXPECT_EQ(app.engine.timeExtension, "t");
  EXPECT_EQ(app.engine.freqExtension, "f");
  EXPECT_EQ(app.csvMask, 0);
}

TEST(CommandLine, CsvLayersFromTheCommandLine) {
  auto dir = scratchDir("cli_csv");
  std::ofstream(dir / "layer.csv") << "0,0,0\n0,1 P1,0\n0,0,70000\n";
  std::ofstream(dir / "small.csv") << "2 GAUSS:Z:1\n";
  // Size check and missing files end with status -2.
  auto r = runProgram({"-area", "3", "3", "3", "-layer", "3", "layer.csv"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, std::string(kBanner) +
                       "error: size of CSV[3,3,3] is out of calculation area[3,3,3].\n");
  r = runProgram({"-area", "3", "3", "3", "-layer", "1", "nothere.csv"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, std::string(kBanner) + "error: can't find CSV 'nothere.csv'.\n");
  r = runProgram({"-area", "3", "3", "3", "-csv", "4", "1", "0", "small.csv"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, std::string(kBanner) +
                       "error: size of CSV[4,1,0] is out of calculation area[3,3,3].\n");
  // An ID beyond the material tables is stored as read; the set-up then fails
  // without a message of its own.
  r = runProgram({"-area", "3", "3", "3", "-layer", "1", "layer.csv", "-batch"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, std::string(kBanner) +
                       "warning: material ID 1 is used by CSV cells but set by no -mat; it is "
                       "vacuum (0:1:1).\n- material setting...\n");
  // -csv needs no -area of its own when a model exists; one step with one
  // progress line (time 0, 0 %), then the clearing line.
  r = runProgram({"-area", "3", "3", "3", "-csv", "1", "1", "2", "small.csv", "-mat", "2", "FR4",
                  "-n", "1", "-batch", "-timelog", "t"},
                 dir);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string expectedHead = std::string(kBanner) +
                                   "- material setting...\n"
                                   "(0) sg=0[S/m] er=1 ur=1  used 26[grids]\n"
                                   "(2) sg=0.001[S/m] er=4.7 ur=1  used 1[grids]\n"
                                   "- source setting...\n"
                                   "(0,0,2) GAUSS Z V=1[V]\n"
                                   "- measure setting...\n"
                                   "(0,0,2) GAUSS_0_0_2\n";
  EXPECT_EQ(r.err.substr(0, expectedHead.size()), expectedHead);
  EXPECT_NE(r.err.find("\r- FDTD calculation 0sec 0% done.\r" + std::string(78, ' ') +
                       "\r- Output t files...\n- FDTD calculation complete.\n"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "GAUSS_0_0_2.t"));
}

// A snapshot that cannot be written is reported once; the run and its
// result files go on without further snapshots.
TEST(CommandLine, UnwritableSnapshotsWarnAndTheRunCompletes) {
  auto dir = scratchDir("cli_vtk");
  // The folder is writable, but a folder stands where the first snapshot goes.
  std::filesystem::create_directories(dir / "snap_000002.vti");
  auto r = runProgram({"-area", "4", "4", "4", "-n", "4", "-batch", "-vtk", "2", "snap"}, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("\nwarning: can't write VTK file 'snap_000002.vti'.\n"
                       "warning: no further VTK snapshots in this run.\n"),
            std::string::npos);
  EXPECT_EQ(r.err.find("snap_000004"), std::string::npos);
  EXPECT_NE(r.err.find("- FDTD calculation complete.\n"), std::string::npos);
}
