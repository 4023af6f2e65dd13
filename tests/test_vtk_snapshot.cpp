// Field snapshots read back as ParaView reads them, from the header and the
// appended offsets, without any VTK library; and snapshots whose files cannot
// be completed.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "app/cli.h"
#include "cli_runner.h"
#include "engine/field_update.h"
#include "files/vtk_snapshot.h"
#include "model_fixture.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;
using test::readFile;

// One .vti file: the image size and spacing of its header, and each appended
// array found where its offset points (counted from the byte after the "_"
// that opens the appended data): a 64-bit byte count, then the values.
struct Vti {
  int cells[3] = {0, 0, 0};
  float spacing[3] = {0, 0, 0};
  std::map<std::string, std::string> arrays;  // name -> raw values
};

::testing::AssertionResult parseVti(const std::string& text, Vti& v) {
  std::smatch m;
  if (!std::regex_search(text, m, std::regex("WholeExtent=\"0 (\\d+) 0 (\\d+) 0 (\\d+)\"")))
    return ::testing::AssertionFailure() << "no WholeExtent";
  for (int i = 0; i < 3; ++i) v.cells[i] = std::stoi(m[i + 1]);
  if (!std::regex_search(text, m, std::regex("Spacing=\"(\\S+) (\\S+) (\\S+)\"")))
    return ::testing::AssertionFailure() << "no Spacing";
  for (int i = 0; i < 3; ++i) v.spacing[i] = std::stof(m[i + 1]);
  const size_t open = text.find("<AppendedData encoding=\"raw\">");
  const size_t base = text.find('_', open) + 1;
  const size_t close = text.rfind("\n  </AppendedData>");
  if (open == std::string::npos || base == 0 || close == std::string::npos || close < base)
    return ::testing::AssertionFailure() << "no appended data";
  const std::regex array(
      "<DataArray type=\"(\\w+)\" Name=\"(\\w+)\"[^>]*format=\"appended\" "
      "offset=\"(\\d+)\"/>");
  size_t end = base;  // the arrays must fill the appended data without gaps
  for (auto it = std::sregex_iterator(text.begin(), text.begin() + open, array);
       it != std::sregex_iterator(); ++it) {
    const size_t at = base + std::stoull((*it)[3]);
    uint64_t bytes = 0;
    if (at != end || at + 8 > close)
      return ::testing::AssertionFailure() << "offset of " << (*it)[2];
    std::memcpy(&bytes, text.data() + at, 8);
    if (at + 8 + bytes > close) return ::testing::AssertionFailure() << "size of " << (*it)[2];
    v.arrays[(*it)[2]] = text.substr(at + 8, bytes);
    end = at + 8 + bytes;
  }
  if (end != close) return ::testing::AssertionFailure() << "bytes after the last array";
  return ::testing::AssertionSuccess();
}

template <class T>
T valueAt(const std::string& raw, size_t i) {
  T t;
  std::memcpy(&t, raw.data() + i * sizeof(T), sizeof(T));
  return t;
}

// A series written by the program holds, at its last step, the fields and
// material IDs of the same command line run in this process: every cell in
// VTK's order (x fastest), with the cell size of each axis.
TEST(VtkSnapshot, ProgramSeriesReadsBackAsTheSameRun) {
  auto dir = test::scratchDir("vtk_series");
  const std::string csv = (dir / "layer.csv").string();
  std::ofstream(csv) << "0,2,0,3,0\n0,0 GAUSS:Z:1,2,0,0\n3,0,0,2 P,0\n";
  const std::vector<std::string> words = {
      "-batch", "-area", "5",  "4",  "3", "-unit", "1e-3", "2e-3", "3e-3",   "-mat", "2", "FR4",
      "-mat",   "3",     "CU", "-n", "6", "-vtk",  "3",    "snap", "-layer", "1",    csv};
  const auto r = test::runProgram(words, dir);
  ASSERT_EQ(r.status, 0) << r.err;

  App app;
  std::vector<char*> argv = {const_cast<char*>("tavro")};
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  {
    test::ConsoleCapture quiet;
    ASSERT_EQ(ParseCommandLine(app, static_cast<int>(argv.size()), argv.data()), kContinue);
    ASSERT_EQ(set(app.engine, app.model), 1);
  }
  SimulationEngine& eng = app.engine;
  for (int n = 0; n < 6; ++n) stepBatch(eng);

  const std::string pvd = readFile(dir / "snap.pvd");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(pvd, m,
                                std::regex("timestep=\"(\\S+)\" part=\"0\" file=\"snap_000003.vti\""
                                           "/>\n.*timestep=\"(\\S+)\" part=\"0\" "
                                           "file=\"snap_000006.vti\"/>\n  </Collection>")))
      << pvd;
  EXPECT_LT(std::stof(m[1]), std::stof(m[2]));
  EXPECT_EQ(std::stof(m[2]), eng.sam.time);

  Vti v;
  ASSERT_TRUE(parseVti(readFile(dir / "snap_000006.vti"), v));
  const int cells[3] = {5, 4, 3};
  const float spacing[3] = {1e-3f, 2e-3f, 3e-3f};
  for (int a = 0; a < 3; ++a) {
    EXPECT_EQ(v.cells[a], cells[a]);
    EXPECT_EQ(v.spacing[a], spacing[a]);
  }
  ASSERT_EQ(v.arrays["E"].size(), 60 * 3 * sizeof(float));
  ASSERT_EQ(v.arrays["H"].size(), 60 * 3 * sizeof(float));
  ASSERT_EQ(v.arrays["material"].size(), 60 * sizeof(int32_t));
  int moving = 0;
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) {
        const size_t i = static_cast<size_t>((z * 4 + y) * 5 + x);
        const ECell& e = test::eAt(eng, x, y, z);
        const HCell& h = test::hAt(eng, x, y, z);
        const float want[6] = {e.ex, e.ey, e.ez, h.hx, h.hy, h.hz};
        for (int c = 0; c < 3; ++c) {
          EXPECT_EQ(valueAt<float>(v.arrays["E"], 3 * i + c), want[c]) << x << y << z << c;
          EXPECT_EQ(valueAt<float>(v.arrays["H"], 3 * i + c), want[3 + c]) << x << y << z << c;
          moving += (want[c] != 0.0f) + (want[3 + c] != 0.0f);
        }
        EXPECT_EQ(valueAt<int32_t>(v.arrays["material"], i),
                  app.model.data[app.model.index(x, y, z)])
            << x << y << z;
      }
  EXPECT_GT(moving, 10);  // the comparison is not one of zeros
}

// A temporary that takes the writes but cannot be closed (it is /dev/full)
// fails the snapshot with a warning naming the file; the collection of the
// steps before stays as it was and no temporary is left behind.
TEST(VtkSnapshot, FileThatCannotBeClosedFailsAndKeepsTheCollection) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ModelRecord model;
  SimulationEngine eng;
  ASSERT_TRUE(test::vacuumBox(eng, model, 3, 3, 3));
  for (const char* file : {".pvd", "_000002.vti"}) {
    auto dir = test::scratchDir("vtk_full");
    const std::string prefix = (dir / "snap").string();
    VtkSeries series(prefix);
    ASSERT_TRUE(series.snapshot(eng, model, 1));
    const std::string collection = readFile(prefix + ".pvd");
    const std::string temp = prefix + file + ".tmp";
    fs::create_symlink("/dev/full", temp);
    test::ConsoleCapture console;
    EXPECT_FALSE(series.snapshot(eng, model, 2)) << file;
    EXPECT_EQ(console.text(), "warning: can't write VTK file '" + prefix + file + "'.\n");
    // Still the collection file itself, not the temporary renamed over it.
    ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(prefix + ".pvd"))) << file;
    EXPECT_EQ(readFile(prefix + ".pvd"), collection) << file;
    EXPECT_FALSE(fs::exists(fs::symlink_status(temp))) << file;
  }
}

}  // namespace
}  // namespace tavro
