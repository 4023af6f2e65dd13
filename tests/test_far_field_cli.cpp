// -nf2ff on the command line: the result file and console lines of a run,
// and the refusals of bad frequencies, boxes and files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "cli_runner.h"

namespace tavro {
namespace {

using test::kBanner;
using test::readFile;
using test::runProgram;
using test::scratchDir;

constexpr int kStatusArg = 255;

// A 10 x 10 x 10 box of 5 mm cells with a GAUSS source in its middle.
std::vector<std::string> smallRun(std::initializer_list<std::string> more) {
  std::vector<std::string> args = {"-batch", "-n",    "60",    "-area", "10",     "10", "10",
                                   "-unit",  "0.005", "0.005", "0.005", "-layer", "5",  "g.csv"};
  args.insert(args.end(), more);
  return args;
}

void writeLayer(const std::filesystem::path& dir) {
  std::ofstream csv(dir / "g.csv");
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x)
      csv << (x == 5 && y == 5 ? "0 GAUSS:Z:1" : "0") << (x == 9 ? "\n" : ",");
}

TEST(FarFieldCommandLine, WritesThePatternFileAndTheConsoleLines) {
  auto dir = scratchDir("nf2ff_run");
  writeLayer(dir);
  const auto r = runProgram(smallRun({"-nf2ff", "1e9,2e9", "ff"}), dir);
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* f : {"1e\\+09", "2e\\+09"})
    EXPECT_TRUE(
        std::regex_search(r.err, std::regex(std::string("\ndirectivity : [-0-9.e+]+\\[dBi\\] "
                                                        "at theta=[0-9]+ phi=[0-9]+ \\(") +
                                            f +
                                            "\\[Hz\\]\\)\nradiated power : "
                                            "[0-9.e+-]+\\[W\\]\n")))
        << r.err;
  std::istringstream in(readFile(dir / "ff_2e9.txt"));
  std::string line, comments;
  int rows = 0;
  std::string first, last;
  while (std::getline(in, line)) {
    if (line.rfind("#", 0) == 0) {
      EXPECT_EQ(rows, 0) << "comment after the data: " << line;
      comments += line + "\n";
      continue;
    }
    std::istringstream cols(line);
    double v[7];
    for (double& x : v) EXPECT_TRUE(cols >> x) << line;
    std::string rest;
    EXPECT_FALSE(cols >> rest) << line;
    if (rows == 0) first = line;
    last = line;
    ++rows;
  }
  EXPECT_EQ(rows, 91 * 180);
  EXPECT_EQ(first.substr(0, 4), "0 0 ");
  EXPECT_EQ(last.substr(0, 8), "180 358 ");
  EXPECT_NE(comments.find("# frequency : 2e+09[Hz]\n"), std::string::npos) << comments;
  EXPECT_NE(comments.find("# radiated power : "), std::string::npos) << comments;
  EXPECT_NE(comments.find("# directivity : "), std::string::npos) << comments;
  EXPECT_NE(comments.find("# theta[deg] phi[deg] rEtheta_re rEtheta_im rEphi_re rEphi_im D[dBi]\n"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "ff_1e9.txt"));
}

TEST(FarFieldCommandLine, RefusesBadFrequenciesAndBoxes) {
  auto dir = scratchDir("nf2ff_refuse");
  writeLayer(dir);
  struct Row {
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {{"-nf2ff", "0", "ff"},
       "error: -nf2ff needs frequencies above 0 [Hz], separated by commas, not '0'.\n"},
      {{"-nf2ff", "1e9,-2e9", "ff"},
       "error: -nf2ff needs frequencies above 0 [Hz], separated by commas, not '-2e9'.\n"},
      {{"-nf2ff", "1e9,,2e9", "ff"},
       "error: -nf2ff needs frequencies above 0 [Hz], separated by commas, not '1e9,,2e9'.\n"},
      {{"-nf2ff", "1GHz", "ff"},
       "error: -nf2ff needs frequencies above 0 [Hz], separated by commas, not '1GHz'.\n"},
      {{"-nf2ff", "inf", "ff"},
       "error: -nf2ff needs frequencies above 0 [Hz], separated by commas, not 'inf'.\n"},
      {{"-nf2ff", "1e9", ""}, "error: -nf2ff needs a file name prefix.\n"},
      {{"-nf2ff-box", "1", "2", "3"}, "error: -nf2ff-box needs 6 values.\n"},
      {{"-nf2ff-box", "1", "2", "3", "4", "5", "x"},
       "error: -nf2ff-box needs an integer, not 'x'.\n"},
  };
  for (const Row& row : rows) {
    const auto r = runProgram(row.args, dir);
    EXPECT_EQ(r.status, kStatusArg) << row.args[1];
    EXPECT_EQ(r.err, std::string(kBanner) + row.message) << row.args[1];
  }
  // Boxes checked against the area once it is set up: the run does not start.
  struct BoxRow {
    std::vector<std::string> args;
    std::string message;
  } boxes[] = {
      {smallRun({"-nf2ff", "1e9", "ff", "-nf2ff-box", "0", "2", "2", "8", "8", "8"}),
       "error: far-field box (0,2,2)-(8,8,8) lies outside the area (10,10,10): its faces must "
       "lie 1 to 9, 1 to 9 and 1 to 9.\n"},
      {smallRun({"-nf2ff", "1e9", "ff", "-nf2ff-box", "2", "2", "2", "8", "10", "8"}),
       "error: far-field box (2,2,2)-(8,10,8) lies outside the area (10,10,10): its faces must "
       "lie 1 to 9, 1 to 9 and 1 to 9.\n"},
      {smallRun({"-nf2ff", "1e9", "ff", "-nf2ff-box", "5", "2", "2", "5", "8", "8"}),
       "error: far-field box (5,2,2)-(5,8,8) is empty: each upper corner must lie above the lower "
       "one.\n"},
      {{"-batch", "-area", "6", "6", "6", "-nf2ff", "1e9", "ff"},
       "error: the area (6,6,6) is too small for a far-field surface 3 cells inside its faces; "
       "give -nf2ff-box.\n"},
  };
  for (const BoxRow& row : boxes) {
    const auto r = runProgram(row.args, dir);
    EXPECT_EQ(r.status, kStatusArg);
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("FDTD calculation"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "ff_1e9.txt"));
  }
}

TEST(FarFieldCommandLine, CoarseMeshWarnsAndAnUnwritableFileKeepsTheOthers) {
  auto dir = scratchDir("nf2ff_files");
  writeLayer(dir);
  // 5 mm cells give 8.6 cells a wavelength at 7 GHz.
  auto r = runProgram(smallRun({"-nf2ff", "7e9", "ff"}), dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("warning: -nf2ff 7e9[Hz] has only 8.56"), std::string::npos) << r.err;
  EXPECT_TRUE(std::filesystem::exists(dir / "ff_7e9.txt"));

  r = runProgram(smallRun({"-timelog", "tlog", "-nf2ff", "1e9", "no/such/ff"}), dir);
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.err.find("warning: can't write far-field file(no/such/ff_1e9.txt).\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("error: 1 result file(s) could not be written.\n"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(dir / "GAUSS_5_5_5.tlog"));

  r = runProgram(smallRun({"-nf2ff-box", "2", "2", "2", "8", "8", "8"}), dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("warning: -nf2ff-box is ignored without -nf2ff.\n"), std::string::npos);
}

}  // namespace
}  // namespace tavro
