// Bad input of every kind, given to the program as a user gives it: each case
// must end with its message and exit status, never with a crash, a hang or a
// silently wrong result. docs/bad-input.md lists the cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "engine/console.h"
#include "engine/engine.h"
#include "files/project.h"
#include "files/result_files.h"
#include "files/spectrum.h"

namespace {

namespace fs = std::filesystem;
using tavro::test::kBanner;
using tavro::test::readFile;
using tavro::test::runProgram;
using tavro::test::RunResult;
using tavro::test::scratchDir;

// Statuses -1 and -2 as the shell sees them.
constexpr int kStatusArg = 255;
constexpr int kStatusSetup = 254;
// Ends a run that hangs instead of hanging the suite (status 124).
const std::string kTimeLimit = "timeout 10";

const std::string kBannerText = kBanner;

void put(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary) << bytes;
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The console of a run up to its end message must end with `tail`.
#define EXPECT_RUN(r, expectedStatus, tail)           \
  do {                                                \
    EXPECT_EQ((r).status, expectedStatus) << (r).err; \
    EXPECT_TRUE(endsWith((r).err, tail)) << (r).err;  \
  } while (0)

// The model file image of the default project.
std::string modelImage(const fs::path& dir) {
  tavro::Project p;
  std::ostringstream quiet;
  tavro::setConsole(&quiet);
  const bool written = tavro::WriteProject(p, (dir / "default.fdtd").string());
  tavro::setConsole(nullptr);
  EXPECT_TRUE(written);
  return readFile(dir / "default.fdtd");
}

void putNumber(std::string& image, int offset, float value) {
  const auto b = tavro::EncodeNumber(value);
  std::memcpy(image.data() + offset, b.data(), 4);
}

// A batch run that ended normally after `steps` samples.
#define EXPECT_COMPLETE(r, steps)                                                            \
  do {                                                                                       \
    EXPECT_EQ((r).status, 0) << (r).err;                                                     \
    EXPECT_NE((r).err.find("- FDTD calculation complete.\n"), std::string::npos) << (r).err; \
    EXPECT_NE((r).err.find("calculated step : " + std::to_string(steps) + "[steps]\n"),      \
              std::string::npos)                                                             \
        << (r).err;                                                                          \
  } while (0)

TEST(BadInput, MissingFilesAndDirectoriesGivenAsFiles) {
  auto dir = scratchDir("bad_missing");
  fs::create_directories(dir / "folder.fdtd");
  fs::create_directories(dir / "folder.csv");
  struct Row {
    std::vector<std::string> args;
    std::string message;
    int status;
  } rows[] = {
      {{"-batch", "nothing.fdtd"}, "error: FDTD file(nothing.fdtd) is not found.\n", kStatusArg},
      {{"-batch", "folder.fdtd"}, "error: FDTD file(folder.fdtd) is not found.\n", kStatusArg},
      {{"-batch", "no/such/dir/m.fdtd"},
       "error: FDTD file(no/such/dir/m.fdtd) is not found.\n",
       kStatusArg},
      {{"-area", "4", "4", "4", "-layer", "0", "nothing.csv"},
       "error: can't find CSV 'nothing.csv'.\n",
       kStatusSetup},
      {{"-area", "4", "4", "4", "-layer", "0", "folder.csv"},
       "error: can't find CSV 'folder.csv'.\n",
       kStatusSetup},
      {{"-area", "4", "4", "4", "-csv", "2", "2", "0", ""},
       "error: can't find CSV ''.\n",
       kStatusSetup},
      // A device never ends its first line.
      {{"-area", "4", "4", "4", "-layer", "0", "/dev/zero"},
       "error: can't find CSV '/dev/zero'.\n",
       kStatusSetup},
  };
  for (const Row& row : rows) {
    auto r = runProgram(row.args, dir);
    EXPECT_EQ(r.status, row.status) << row.args.back();
    EXPECT_EQ(r.err, kBannerText + row.message) << row.args.back();
  }
}

TEST(BadInput, EmptyTruncatedAndOversizedModelFiles) {
  auto dir = scratchDir("bad_model_size");
  const std::string image = modelImage(dir);
  ASSERT_EQ(image.size(), static_cast<size_t>(tavro::kFileBytes));
  put(dir / "empty.fdtd", "");
  put(dir / "cut.fdtd", image.substr(0, tavro::kFileCellsEnd - 1));
  put(dir / "noversion.fdtd", image.substr(0, tavro::kFileCellsEnd));
  put(dir / "long.fdtd", image + std::string(100000, '\xAB'));
  for (const char* name : {"empty.fdtd", "cut.fdtd"}) {
    auto r = runProgram({"-batch", name}, dir);
    EXPECT_EQ(r.status, kStatusArg);
    EXPECT_EQ(r.err, kBannerText + "error: bad format of FDTD file(" + name + ").\n");
  }
  // A file without its version byte is an old format; what follows the
  // version byte is ignored. -help ends the program right after the read.
  for (const char* name : {"noversion.fdtd", "long.fdtd"}) {
    auto r = runProgram({name, "-help"}, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(
        r.err.rfind(kBannerText + "info: FDTD file(" + name + ") was read from ..\nusage:", 0), 0u)
        << r.err;
  }
}

TEST(BadInput, GarbageInModelFiles) {
  auto dir = scratchDir("bad_model_garbage");
  // Random bytes with the version byte 6 and the source byte chosen.
  std::mt19937 random(12345);
  std::string image(tavro::kFileBytes, '\0');
  for (char& c : image) c = static_cast<char>(random() & 0xFF);
  image.back() = 6;
  struct Row {
    int direction, typeMaterial;
    std::string why;
  } rows[] = {{0, 0x19, "bad source material(9)"},
              {0, 0x4F, "bad source material(15)"},
              {1, 0x41, "bad source type(4)"},
              {3, 0x21, "bad source direction(3)"},
              {255, 0x21, "bad source direction(255)"}};
  for (const Row& row : rows) {
    image[92] = static_cast<char>(row.direction);
    image[93] = static_cast<char>(row.typeMaterial);
    put(dir / "garbage.fdtd", image);
    auto r = runProgram({"-batch", "garbage.fdtd"}, dir);
    EXPECT_EQ(r.status, kStatusArg);
    EXPECT_EQ(r.err, kBannerText + "error: " + row.why + " in FDTD file(garbage.fdtd).\n");
  }
  // Valid source bytes but a negative cell size: the set-up refuses it.
  image[92] = 1;
  image[93] = 0x12;
  putNumber(image, 72, -0.001f);
  putNumber(image, 76, 0.001f);
  put(dir / "garbage.fdtd", image);
  auto r = runProgram({"-batch", "garbage.fdtd"}, dir);
  EXPECT_RUN(r, kStatusSetup,
             "- material setting...\n"
             "error: grid size (-0.001,-0.001,0.001) must be positive and finite.\n");
}

TEST(BadInput, HugeNumbersInModelFiles) {
  auto dir = scratchDir("bad_model_huge");
  std::string image = modelImage(dir);
  // Exponent byte 127: 10 * 10^127 overflows float to infinity.
  const char inf[4] = {10, 0, 0, 127};
  std::memcpy(image.data() + 4, inf, 4);  // er of slot 0
  put(dir / "huge.fdtd", image);
  auto r = runProgram({"-batch", "huge.fdtd", "-n", "1"}, dir);
  EXPECT_RUN(r, kStatusSetup,
             "- material setting...\n"
             "(0) sg=1e-13[S/m] er=inf ur=1  used 512000[grids]\n"
             "error: material (0) needs finite values with positive er and ur.\n");
}

TEST(BadInput, EmptyCsvAndBinaryGarbageAsCsv) {
  auto dir = scratchDir("bad_csv_garbage");
  put(dir / "empty.csv", "");
  // Bytes without a digit are cells without an ID: material 0, no text.
  std::string noise;
  for (int c = 128; c < 256; ++c) noise += static_cast<char>(c);
  noise += "\x01\x02\x7f\r\n\t\v\f";
  put(dir / "noise.csv", noise + "\n" + noise + "," + noise + "\n");
  for (const char* name : {"empty.csv", "noise.csv"}) {
    auto r = runProgram({"-batch", "-area", "4", "4", "4", "-layer", "1", name, "-n", "0"}, dir);
    EXPECT_COMPLETE(r, 0);
    EXPECT_NE(r.err.find("(0) sg=0[S/m] er=1 ur=1  used 64[grids]\n"), std::string::npos) << name;
  }
  // An ID followed by a binary word is a source text of an unknown type.
  put(dir / "binary.csv", "1 \x01\x02:\xff\n");
  auto r = runProgram({"-batch", "-area", "4", "4", "4", "-layer", "0", "binary.csv"}, dir);
  EXPECT_RUN(r, kStatusSetup,
             "- source setting...\n(0,0,0) \rerror: bad source type is found. '\x01\x02 \xff'\n");
}

TEST(BadInput, NulBytesInCsv) {
  auto dir = scratchDir("bad_csv_nul");
  // A NUL ends the cell text; the rest of the cell up to the comma is lost.
  put(dir / "nul.csv", std::string("1 P\0 CW:Y:1:1e9,2\0junk,\0 3\n", 27));
  auto r = runProgram({"-batch", "-area", "4", "4", "4", "-layer", "0", "nul.csv", "-n", "0"}, dir);
  EXPECT_COMPLETE(r, 0);
  EXPECT_NE(r.err.find("(0) sg=0[S/m] er=1 ur=1  used 62[grids]\n"
                       "(1) sg=0[S/m] er=1 ur=1  used 1[grids]\n"
                       "(2) sg=0[S/m] er=1 ur=1  used 1[grids]\n"
                       "- source setting...\n- measure setting...\n(0,0,0) P_0_0_0\n"),
            std::string::npos)
      << r.err;
}

TEST(BadInput, HugeNumbersOnTheCommandLineAndInCsv) {
  auto dir = scratchDir("bad_huge");
  // IDs beyond int32 saturate and stay outside the material tables: the
  // set-up fails without a message of its own.
  put(dir / "ids.csv", "99999999999999999999,-99999999999999999999\n");
  auto r = runProgram({"-batch", "-area", "4", "4", "4", "-layer", "0", "ids.csv"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, kBannerText + "- material setting...\n");
  // A step count beyond int32 is capped like any count above 1000000.
  r = runProgram({"-n", "99999999999999", "-help"}, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.rfind(kBannerText + "warning: #steps have to be less than 1000000.\nusage:", 0),
            0u);
  // Numbers too large for a float are infinite cell sizes.
  r = runProgram({"-batch", "-area", "4", "4", "4", "-unit", "1e39", "1e-3", "1e-3"}, dir);
  EXPECT_RUN(r, kStatusSetup, "error: grid size (inf,0.001,0.001) must be positive and finite.\n");
  // A SWITCH naming a material beyond the tables.
  put(dir / "switch.csv", "0,0 SWITCH:P:99999999999999999999:1e9\n");
  r = runProgram({"-batch", "-area", "4", "4", "4", "-layer", "0", "switch.csv"}, dir);
  EXPECT_RUN(r, kStatusSetup,
             "(1,0,0) SWITCH P \n"
             "error: unknown ID(9223372036854775807) for SWITCH P 99999999999999999999 1e9.\n");
}

TEST(BadInput, NanAndInfinityInMaterialsAndUnits) {
  auto dir = scratchDir("bad_nan");
  put(dir / "one.csv", "1\n");
  const std::vector<std::string> area{"-batch", "-area", "4", "4", "4", "-layer", "0", "one.csv"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = area;
    args.insert(args.end(), more.begin(), more.end());
    return runProgram(args, dir);
  };
  // Material texts that are not three finite numbers are refused.
  for (const char* text : {"nan:1:1", "1:inf:1", "1:1:-inf", "1e39:1:1"}) {
    auto r = with({"-mat", "1", text, "-n", "0"});
    EXPECT_RUN(r, kStatusArg,
               "error: bad material(" + std::string(text) +
                   ") for -mat 1; give <SG>:<ER>:<UR> with three finite numbers or one of SPACE, "
                   "AIR, CU, GOLD, AL, NI, IRON, SI, FR4, TEFLON, WATER.\n");
  }
  // Numbers that read but cannot be simulated are refused by the set-up.
  for (const char* text : {"0:0:1", "0:1:0", "0:-4:1", "0:1:-1"}) {
    auto r = with({"-mat", "1", text});
    EXPECT_RUN(r, kStatusSetup,
               "error: material (1) needs finite values with positive er and ur.\n");
  }
  for (const std::vector<std::string>& unit : {std::vector<std::string>{"nan", "1e-3", "1e-3"},
                                               {"1e-3", "inf", "1e-3"},
                                               {"1e-3", "1e-3", "-inf"}}) {
    auto r = with({"-unit", unit[0], unit[1], unit[2]});
    EXPECT_EQ(r.status, kStatusSetup);
    EXPECT_NE(r.err.find("error: grid size ("), std::string::npos) << unit[0] << unit[1] << unit[2];
    EXPECT_TRUE(endsWith(r.err, ") must be positive and finite.\n")) << r.err;
  }
  // -minfreq with NaN is "not above 0".
  auto r = with({"-minfreq", "nan", "-help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("warning: minfreq have to be positive.\n"), std::string::npos);
}

// A source value that is not a finite number would make every field it
// reaches NaN while the run reports success.
TEST(BadInput, NonFiniteSourceValuesAreRefused) {
  auto dir = scratchDir("bad_nan_source");
  struct Row {
    const char* cell;
    const char* pin;
  } rows[] = {{"0 CW:Y:nan:3e9", "CW Y nan 3e9"},
              {"0 CW:Y:1:inf", "CW Y 1 inf"},
              {"0 GAUSS:Z:-inf", "GAUSS Z -inf"},
              {"0 PULSE:X:1e39:1e9", "PULSE X 1e39 1e9"},
              {"0 DC:Z:nan", "DC Z nan"}};
  for (const Row& row : rows) {
    const std::string text = row.cell;
    put(dir / "source.csv", "1 P," + text + "\n");
    auto r = runProgram(
        {"-batch", "-area", "4", "4", "4", "-layer", "0", "source.csv", "-n", "4", "-timelog", "t"},
        dir);
    EXPECT_EQ(r.status, kStatusSetup) << text;
    EXPECT_NE(
        r.err.find(std::string("\nerror: source (1,0,0) '") + row.pin + "' needs finite values"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(readFile(dir / "P_0_0_0.t").find("nan"), std::string::npos) << text;
    fs::remove(dir / "P_0_0_0.t");
  }
}

// A cell size so small or so large that the time step is 0 or infinite in
// float32 would make the run stand still or fill the result files with NaN.
TEST(BadInput, CellSizesWithoutAUsableTimeStepAreRefused) {
  auto dir = scratchDir("bad_time_step");
  struct Case {
    const char* size;
    const char* printed;
    const char* dt;
  } cases[] = {{"1e-30", "1e-30", "0"}, {"1e30", "1e+30", "inf"}};
  for (const auto& [size, printed, dt] : cases) {
    auto r =
        runProgram({"-batch", "-area", "4", "4", "4", "-unit", size, size, size, "-n", "2"}, dir);
    EXPECT_EQ(r.status, kStatusSetup) << size;
    EXPECT_EQ(r.err, kBannerText + "- material setting...\nerror: grid size (" + printed + "," +
                         printed + "," + printed + ") gives no usable time step (" + dt +
                         "[sec]).\n");
  }
}

TEST(BadInput, NegativeZeroAndNonNumericSizes) {
  auto dir = scratchDir("bad_sizes");
  put(dir / "one.csv", "1\n");
  struct Row {
    std::vector<std::string> args;
    std::string tail;
    int status;
  } rows[] = {
      {{"-area", "-4", "4", "4"},
       "error: calculation area (-4,4,4) must not be negative.\n",
       kStatusArg},
      {{"-area", "-2147483649", "4", "4"},
       "error: calculation area (-2147483648,4,4) must not be negative.\n",
       kStatusArg},
      {{"-batch", "-area", "0", "0", "0"},
       "error: calculation area (0,0,0) must have at least 2 grids along each axis.\n",
       kStatusSetup},
      {{"-batch", "-area", "x", "y", "z"}, "error: -area needs an integer, not 'x'.\n", kStatusArg},
      {{"-batch", "-area", "4", "4", "4", "-unit", "-1e-3", "1e-3", "1e-3"},
       "error: grid size (-0.001,0.001,0.001) must be positive and finite.\n",
       kStatusSetup},
      {{"-batch", "-area", "4", "4", "4", "-unit", "mm", "mm", "mm"},
       "error: -unit needs a number, not 'mm'.\n",
       kStatusArg},
      {{"-area", "4", "4", "4", "-layer", "-1", "one.csv"},
       "error: size of CSV[4,4,-1] is out of calculation area[4,4,4].\n",
       kStatusSetup},
      {{"-area", "4", "4", "4", "-layer", "4", "one.csv"},
       "error: size of CSV[4,4,4] is out of calculation area[4,4,4].\n",
       kStatusSetup},
      {{"-area", "4", "4", "4", "-csv", "-1", "2", "0", "one.csv"},
       "error: size of CSV[-1,2,0] is out of calculation area[4,4,4].\n",
       kStatusSetup},
      {{"-area", "4", "4", "4", "-csv", "2", "5", "0", "one.csv"},
       "error: size of CSV[2,5,0] is out of calculation area[4,4,4].\n",
       kStatusSetup},
      // -csv needs no -area, but then every layer is outside the empty area.
      {{"-csv", "1", "1", "0", "one.csv"},
       "error: size of CSV[1,1,0] is out of calculation area[0,0,0].\n",
       kStatusSetup},
  };
  for (const Row& row : rows) {
    auto r = runProgram(row.args, dir);
    EXPECT_RUN(r, row.status, row.tail);
  }
  // A step count that is not a number is refused.
  auto r = runProgram({"-batch", "-area", "4", "4", "4", "-n", "many"}, dir);
  EXPECT_RUN(r, kStatusArg, "error: -n needs an integer, not 'many'.\n");
}

// A negative step count with a lowest frequency must not turn into a run of
// 2^31 samples (the decimation divides by the step count).
TEST(BadInput, NegativeStepCountWithMinimumFrequencyDoesNoStep) {
  auto dir = scratchDir("bad_negative_steps");
  for (const char* steps : {"-5", "-1000000"}) {
    auto r = runProgram({"-batch", "-area", "4", "4", "4", "-n", steps, "-minfreq", "1e9"}, dir,
                        kTimeLimit);
    EXPECT_EQ(r.status, 0) << steps << ": " << r.err;
    EXPECT_EQ(r.err.find("% done."), std::string::npos) << steps;
  }
  // A lowest frequency above the sampling rate leaves no step: warned, not silent.
  auto r = runProgram({"-batch", "-area", "4", "4", "4", "-minfreq", "1e13"}, dir, kTimeLimit);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: min freq 1e+13[Hz] is above 1/dt ("), std::string::npos) << r.err;
}

TEST(BadInput, AreasTooLargeForMemory) {
  auto dir = scratchDir("bad_area_memory");
  // Beyond any machine: refused before anything is allocated.
  auto r = runProgram({"-area", "2000000", "2000000", "2000000"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, kBannerText + "error: can't allocate memory for data[8000000000000000000].\n");
  // The cell count overflows 64 bits.
  r = runProgram({"-area", "2147483647", "2147483647", "2147483647"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err.rfind(kBannerText + "error: can't allocate memory for data[", 0), 0u) << r.err;
#if !defined(__SANITIZE_ADDRESS__)
  // Cells that fit in 512 MiB of address space but do not.
  r = runProgram({"-area", "1000", "1000", "100"}, dir, "ulimit -v 524288 &&");
  EXPECT_EQ(r.status, kStatusSetup);
  EXPECT_EQ(r.err, kBannerText + "error: can't allocate memory for data[100000000].\n");
#endif
}

// An area whose cell count overflows 64 bits (here to exactly 0) must not
// pass as an empty area: the first CSV layer would write through a null
// pointer.
TEST(BadInput, AreaWhoseCellCountOverflowsIsRefused) {
  auto dir = scratchDir("bad_area_overflow");
  put(dir / "one.csv", "1\n");
  auto r = runProgram(
      {"-batch", "-area", "4194304", "2097152", "2097152", "-layer", "0", "one.csv"}, dir);
  EXPECT_EQ(r.status, kStatusSetup) << r.err;
  EXPECT_EQ(r.err, kBannerText + "error: can't allocate memory for data[18446744073709551616].\n");
}

TEST(BadInput, StepsTimesProbesTooLargeForMemory) {
  auto dir = scratchDir("bad_probe_memory");
  // 10000 probes x 1000000 samples x 100 bytes: about a terabyte.
  std::string row;
  for (int x = 0; x < 100; ++x) row += x ? ",0 P" : "0 P";
  std::string csv;
  for (int y = 0; y < 100; ++y) csv += row + "\n";
  put(dir / "probes.csv", csv);
  auto r = runProgram({"-batch", "-area", "100", "100", "2", "-layer", "0", "probes.csv"}, dir);
  EXPECT_EQ(r.status, kStatusSetup);
  const std::regex refused(
      "(.|\n)*- material setting...\nerror: the run needs 955585\\[Mbytes\\] of memory but only "
      "[0-9.e+]+\\[Mbytes\\] are available.\n");
  EXPECT_TRUE(std::regex_match(r.err, refused)) << r.err;
  // A tiny lowest frequency asks for 2^31 - 1 samples per probe.
  put(dir / "one.csv", "0 P\n");
  r = runProgram({"-batch", "-area", "4", "4", "4", "-layer", "0", "one.csv", "-minfreq", "1e-30"},
                 dir);
  EXPECT_EQ(r.status, kStatusSetup);
  const std::regex refusedTiny(
      "(.|\n)*- material setting...\nerror: the run needs 204800\\[Mbytes\\] of memory but only "
      "[0-9.e+]+\\[Mbytes\\] are available.\n");
  EXPECT_TRUE(std::regex_match(r.err, refusedTiny)) << r.err;
}

TEST(BadInput, UnwritableResultFiles) {
  auto dir = scratchDir("bad_output");
  put(dir / "probes.csv", "0 A,0 B\n");
  // A directory where A's file belongs, and an extension naming a missing
  // directory: those files are skipped with a warning, the others written,
  // and the exit status says that files are missing.
  fs::create_directories(dir / "A_0_0_0.t");
  auto r = runProgram({"-batch", "-area", "4", "4", "4", "-layer", "0", "probes.csv", "-n", "3",
                       "-timelog", "t", "-freqlog", "no/f"},
                      dir);
  EXPECT_RUN(r, 3, "error: 3 result file(s) could not be written.\n");
  EXPECT_NE(r.err.find("- Output t files...\n"
                       "warning: can't write result file(A_0_0_0.t).\n"
                       "- Output no/f files...\n"
                       "warning: can't write result file(A_0_0_0.no/f).\n"
                       "warning: can't write result file(B_1_0_0.no/f).\n"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(fs::is_directory(dir / "A_0_0_0.t"));
  EXPECT_EQ(readFile(dir / "B_1_0_0.t").rfind("# B_1_0_0 : TAVRO time-domain waveform", 0), 0u);
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
}

TEST(BadInput, ModelWithoutProbesOrSources) {
  auto dir = scratchDir("bad_no_probes");
  auto r = runProgram(
      {"-batch", "-area", "4", "4", "4", "-n", "3", "-timelog", "t", "-freqlog", "f"}, dir);
  EXPECT_COMPLETE(r, 3);
  EXPECT_NE(r.err.find("- Output t files...\n- Output f files...\n- FDTD calculation complete.\n"),
            std::string::npos);
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir))
    files += entry.path().filename() != ".stderr";
  EXPECT_EQ(files, 0u);
  // Probes without a source record zeros and still give complete files.
  put(dir / "probe.csv", "0 P\n");
  r = runProgram({"-batch", "-area", "4", "4", "4", "-layer", "0", "probe.csv", "-n", "3",
                  "-timelog", "t", "-freqlog", "f"},
                 dir);
  EXPECT_EQ(r.status, 0);
  const std::string time = readFile(dir / "P_0_0_0.t");
  EXPECT_EQ(std::count(time.begin(), time.end(), '\n'), 2 + 3);
  const std::string freq = readFile(dir / "P_0_0_0.f");
  EXPECT_EQ(std::count(freq.begin(), freq.end(), '\n'), 2 + 2000);
  EXPECT_EQ(freq.find("nan"), std::string::npos);
}

TEST(BadInput, OverlongCsvLines) {
  auto dir = scratchDir("bad_long_line");
  std::string line = "1 P";
  while (line.size() < 70000) line += ",2";
  put(dir / "long.csv", line + "\n3 Q\n");
  auto r =
      runProgram({"-batch", "-area", "4", "4", "4", "-layer", "0", "long.csv", "-n", "0"}, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("warning: row 0 of CSV 'long.csv' is longer than 65535 characters; only its "
                       "first 65535 are read.\n"),
            std::string::npos);
  // The next row is read as it stands.
  EXPECT_NE(r.err.find("(0,0,0) P_0_0_0\n(0,1,0) Q_0_1_0\n"), std::string::npos) << r.err;
}

TEST(BadInput, MalformedSourceTexts) {
  auto dir = scratchDir("bad_sources");
  struct Row {
    const char* cell;
    std::string tail;
  } rows[] = {
      {"0 CW:Y:20", "(0,0,0) CW Y \nerror: source (0,0,0) 'CW Y 20' has 3 fields; CW needs 4.\n"},
      {"0 PULSE:Z",
       "(0,0,0) PULSE Z \nerror: source (0,0,0) 'PULSE Z' has 2 fields; PULSE needs 4.\n"},
      {"0 CW:Q:1:1", "(0,0,0) CW \rerror: bad source direction. 'CW Q 1 1'\n"},
      {"0 SWITCH:X:1:1e9", "(0,0,0) SWITCH \rerror: bad source type. 'SWITCH X 1 1e9'\n"},
      {"0 SWITCH:N:-1:1e9", "(0,0,0) SWITCH N \nerror: unknown ID(-1) for SWITCH N -1 1e9.\n"},
      {"0 WAVE:Y:1", "(0,0,0) \rerror: bad source type is found. 'WAVE Y 1'\n"},
  };
  for (const Row& row : rows) {
    put(dir / "source.csv", std::string(row.cell) + "\n");
    auto r = runProgram({"-batch", "-area", "4", "4", "4", "-layer", "0", "source.csv"}, dir);
    EXPECT_RUN(r, kStatusSetup, row.tail);
  }
  // A word of colons only carries no field: the cell is a bare ID.
  put(dir / "source.csv", "1 :::,\":\"\n");
  auto r =
      runProgram({"-batch", "-area", "4", "4", "4", "-layer", "0", "source.csv", "-n", "0"}, dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("- source setting...\n- measure setting...\n- calculation parameters"),
            std::string::npos)
      << r.err;
}

// The writers and the spectrum with an empty sample store (a step limit of
// 0 with probes): no sample is read and the files are still complete.
TEST(BadInput, ResultFilesOfARunWithoutSamples) {
  auto dir = scratchDir("bad_no_samples");
  put(dir / "probes.csv", "0 A,0 B\n");
  auto r = runProgram({"-batch", "-area", "4", "4", "4", "-layer", "0", "probes.csv", "-n", "0",
                       "-timelog", "t", "-freqlog", "f"},
                      dir);
  EXPECT_EQ(r.status, 0);
  for (const char* name : {"A_0_0_0", "B_1_0_0"}) {
    const std::string t = readFile(dir / (std::string(name) + ".t"));
    EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 2) << name;
    const std::string f = readFile(dir / (std::string(name) + ".f"));
    EXPECT_EQ(std::count(f.begin(), f.end(), '\n'), 2 + 2000) << name;
  }
  // The same in-process, for the second probe of an empty store.
  tavro::SimulationEngine eng;
  std::ostringstream quiet;
  tavro::setConsole(&quiet);
  eng.sam.probeCount = 2;
  eng.sam.stepLimit = 0;
  eng.sam.stepCount = 0;
  eng.spectrum.names = {"A", "B"};
  ASSERT_TRUE(eng.spectrum.points.allocate(2 * tavro::kSpectrumPoints));
  std::memset(eng.spectrum.points.data(), 0, eng.spectrum.points.bytes());
  tavro::ComputeSpectrum(eng, 1);
  EXPECT_TRUE(tavro::WriteTimeDomainFile(eng, 1, (dir / "B.t").string()));
  EXPECT_TRUE(tavro::WriteFrequencyDomainFile(eng, 1, (dir / "B.f").string()));
  tavro::setConsole(nullptr);
  const std::string b = readFile(dir / "B.t");
  EXPECT_EQ(std::count(b.begin(), b.end(), '\n'), 2);
}

}  // namespace
