// The editor's project and its .fdtd model file: the decimal number form,
// the file layout, old formats, path handling and the failure paths.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "engine/console.h"
#include "files/project.h"

namespace fs = std::filesystem;
using namespace tavro;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes encoded(float x) {
  const auto b = EncodeNumber(x);
  return Bytes(b.begin(), b.end());
}

float roundTrip(float x) { return DecodeNumber(EncodeNumber(x).data()); }

class ProjectFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tavro_project_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    setConsole(&log_);
  }
  void TearDown() override {
    setConsole(nullptr);
    fs::remove_all(dir_);
  }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  std::string takeLog() {
    std::string s = log_.str();
    log_.str("");
    return s;
  }

  static Bytes load(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
  }
  static void store(const std::string& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }
  // Reads the file `name` of the test folder whatever the project's directory.
  bool readFile(Project& p, const std::string& name) {
    p.directory.assign(1, '.');
    return ReadProject(p, path(name));
  }
  bool writeFile(Project& p, const std::string& name) {
    p.directory.assign(1, '.');
    return WriteProject(p, path(name));
  }

  // The file image of `p` as the writer makes it.
  Bytes imageOf(Project p) {
    p.directory.assign(1, '.');
    EXPECT_TRUE(WriteProject(p, path("image.fdtd")));
    takeLog();
    return load(path("image.fdtd"));
  }

  fs::path dir_;
  std::ostringstream log_;
};

constexpr size_t kDirectionByte = 92, kTypeByte = 93, kLegacyByte = 94, kCellByte = 97;

}  // namespace

TEST(ProjectNumbers, EncodesTheDocumentedBytes) {
  EXPECT_EQ(encoded(5.8e7f), (Bytes{0x3A, 0x00, 0x00, 0x02}));
  EXPECT_EQ(encoded(1.0f), (Bytes{0x0A, 0x00, 0x00, 0xFB}));
  EXPECT_EQ(encoded(0.001f), (Bytes{0x0A, 0x00, 0x00, 0xF8}));
  EXPECT_EQ(encoded(3e9f), (Bytes{0x1E, 0x00, 0x00, 0x04}));
  EXPECT_EQ(encoded(4.7f), (Bytes{0x2F, 0x00, 0x00, 0xFB}));
  EXPECT_EQ(encoded(0.0f), (Bytes{0x00, 0x00, 0x00, 0x97}));
  EXPECT_EQ(encoded(-1.0f), (Bytes{0xF6, 0x00, 0x00, 0xFB}));
}

TEST(ProjectNumbers, DecodesWithSixDigitsAndRoundsNegativesLikePositives) {
  EXPECT_EQ(roundTrip(0.0f), 0.0f);
  // A negative value read back and written again stays the same.
  EXPECT_EQ(roundTrip(-1.0f), -1.0f);
  EXPECT_EQ(roundTrip(roundTrip(-2.5e-3f)), roundTrip(-2.5e-3f));
  EXPECT_FLOAT_EQ(roundTrip(5.8e7f), 5.8e7f);
  EXPECT_FLOAT_EQ(roundTrip(1e-13f), 1e-13f);
  EXPECT_FLOAT_EQ(roundTrip(123456.7f), 123457.0f);
  // A mantissa that rounds up to seven digits still fits the first byte.
  EXPECT_EQ(encoded(999999.7f), (Bytes{100, 0, 0, 0}));
  EXPECT_FLOAT_EQ(roundTrip(999999.7f), 1e6f);
  const uint8_t zeroMantissa[4] = {0, 0, 0, 0x7F};
  EXPECT_EQ(DecodeNumber(zeroMantissa), 0.0f);
}

TEST(ProjectNumbers, SurvivesTheLimitsOfFloat) {
  // Six digits: a relative error of at most 5e-6.
  const float big = std::numeric_limits<float>::max();
  EXPECT_NEAR(roundTrip(big) / big, 1.0f, 5e-6f);
  EXPECT_NEAR(roundTrip(-big) / -big, 1.0f, 5e-6f);
  EXPECT_NEAR(roundTrip(1e-30f) / 1e-30f, 1.0f, 5e-6f);
  // Below the normal range the power of ten itself is a denormal float and
  // loses digits; the smallest values read back as zero, never as NaN.
  const float small = std::numeric_limits<float>::min();
  EXPECT_NEAR(roundTrip(small) / small, 1.0f, 1e-2f);
  EXPECT_EQ(roundTrip(std::numeric_limits<float>::denorm_min()), 0.0f);
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(roundTrip(inf), inf);
  EXPECT_EQ(roundTrip(-inf), -inf);
  EXPECT_EQ(encoded(std::numeric_limits<float>::quiet_NaN()), encoded(0.0f));
}

TEST(ProjectDefaults, ResetSetsTheStandardMaterialsAndSources) {
  Project p;
  p.sg.fill(7.0f);
  p.cells[5] = 3;
  ResetProjectParameters(p);
  for (int s : {0, 2, 3, 4, 5, 7}) EXPECT_FLOAT_EQ(p.sg[s], 1e-13f) << s;
  for (int s : {1, 6, 8}) EXPECT_FLOAT_EQ(p.sg[s], 5.8e7f) << s;
  for (int s = 0; s < kProjectSlots; ++s) {
    EXPECT_FLOAT_EQ(p.er[s], s == 2 ? 4.7f : 1.0f) << s;
    EXPECT_FLOAT_EQ(p.ur[s], 1.0f) << s;
  }
  EXPECT_EQ(p.cells[5], 3);  // cells are not parameters
  EXPECT_FLOAT_EQ(p.frequency, 3e9f);
  EXPECT_EQ(p.sourceType, 1);
  EXPECT_EQ(p.sourceMaterial, 1);
  EXPECT_EQ(p.sourceDirection, 0);
  ClearProjectCells(p);
  EXPECT_EQ(p.cells[5], 0);
}

TEST(ProjectPaths, SplitAtTheLastSlashOrElseBackslash) {
  std::string d, b;
  SplitProjectPath("models/sub/a.fdtd", d, b);
  EXPECT_EQ(d, "models/sub");
  EXPECT_EQ(b, "a.fdtd");
  SplitProjectPath("c:\\m\\b.fdtd", d, b);
  EXPECT_EQ(d, "c:\\m");
  EXPECT_EQ(b, "b.fdtd");
  SplitProjectPath("x\\y/z\\c.fdtd", d, b);
  EXPECT_EQ(d, "x\\y");
  EXPECT_EQ(b, "z\\c.fdtd");
  SplitProjectPath("plain.fdtd", d, b);
  EXPECT_EQ(d, ".");
  EXPECT_EQ(b, "plain.fdtd");

  Project p;
  EXPECT_EQ(ProjectPath(p, "a.fdtd"), "a.fdtd");
  p.directory = "models";
  EXPECT_EQ(ProjectPath(p, "a.fdtd"), "models/a.fdtd");
}

TEST_F(ProjectFiles, WritesTheFixedLayoutWithVersionSix) {
  Project p;
  p.cells[CubeIndex(1, 2, 3)] = 0x51;
  EXPECT_TRUE(writeFile(p, "m.fdtd"));
  EXPECT_EQ(takeLog(), "info: FDTD file(m.fdtd) was written into " + dir_.string() + ".\n");
  EXPECT_EQ(p.fileName, "m.fdtd");
  EXPECT_EQ(p.baseName, "m.fdtd");
  EXPECT_EQ(p.directory, dir_.string());
  const Bytes b = load(path("m.fdtd"));
  ASSERT_EQ(b.size(), 262242u);
  EXPECT_EQ(b.back(), 6);
  EXPECT_EQ(Bytes(b.begin() + 12, b.begin() + 16), encoded(5.8e7f));  // slot 1 sg
  EXPECT_EQ(Bytes(b.begin() + 72, b.begin() + 76), encoded(0.001f));  // dxy
  EXPECT_EQ(b[kTypeByte], 0x11);                                      // GAUSS, slot 1
  EXPECT_EQ(b[kCellByte + CubeIndex(1, 2, 3)], 0x51);
  EXPECT_FALSE(fs::exists(ProjectTempPath(path("m.fdtd"))));
}

TEST_F(ProjectFiles, RoundTripKeepsEveryStoredField) {
  Project p;
  for (int s = 0; s < 6; ++s) {
    p.sg[s] = 1.5f * (s + 1);
    p.er[s] = 2.25f + s;
    p.ur[s] = 1.0f + 0.5f * s;
  }
  p.dxy = 0.0025f;
  p.dz = 0.004f;
  p.frequency = 1.5e9f;
  p.sourceValue1 = 2.5f;
  p.sourceValue2 = 3.75f;
  p.sourceType = 2;
  p.sourceMaterial = 4;
  p.sourceDirection = 2;
  for (int n = 0; n < kCubeCells; ++n) p.cells[n] = static_cast<uint8_t>(n * 37 + n / 4096);
  ASSERT_TRUE(writeFile(p, "r.fdtd"));

  Project q;
  q.margin = 64;
  ASSERT_TRUE(readFile(q, "r.fdtd"));
  for (int s = 0; s < 6; ++s) {
    EXPECT_FLOAT_EQ(q.sg[s], p.sg[s]) << s;
    EXPECT_FLOAT_EQ(q.er[s], p.er[s]) << s;
    EXPECT_FLOAT_EQ(q.ur[s], p.ur[s]) << s;
  }
  EXPECT_FLOAT_EQ(q.dxy, p.dxy);
  EXPECT_FLOAT_EQ(q.dz, p.dz);
  EXPECT_FLOAT_EQ(q.frequency, p.frequency);
  EXPECT_FLOAT_EQ(q.sourceValue1, p.sourceValue1);
  EXPECT_FLOAT_EQ(q.sourceValue2, p.sourceValue2);
  EXPECT_EQ(q.sourceType, 2);
  EXPECT_EQ(q.sourceMaterial, 4);
  EXPECT_EQ(q.sourceDirection, 2);
  EXPECT_TRUE(q.cells == p.cells);
  EXPECT_EQ(q.margin, 64);  // not part of the file
  // Derived slots: 6 copper, 7 and 8 the switch states of slot 4.
  EXPECT_FLOAT_EQ(q.sg[6], 5.8e7f);
  EXPECT_FLOAT_EQ(q.sg[7], 1e-13f);
  EXPECT_FLOAT_EQ(q.sg[8], q.sg[4]);
  EXPECT_FLOAT_EQ(q.er[7], q.er[4]);
  EXPECT_FLOAT_EQ(q.er[8], q.er[4]);
  EXPECT_FLOAT_EQ(q.ur[7], q.ur[4]);
  EXPECT_FLOAT_EQ(q.ur[8], q.ur[4]);
}

TEST_F(ProjectFiles, DefaultProjectReadsBackWithItsValues) {
  Project p;
  ASSERT_TRUE(writeFile(p, "d.fdtd"));
  Project q;
  ASSERT_TRUE(readFile(q, "d.fdtd"));
  EXPECT_EQ(takeLog(), "info: FDTD file(d.fdtd) was written into " + dir_.string() +
                           ".\ninfo: FDTD file(d.fdtd) was read from " + dir_.string() + ".\n");
  EXPECT_EQ(q.sourceValue2, -1.0f);
  EXPECT_FLOAT_EQ(q.sourceValue1, 1.0f);
  EXPECT_FLOAT_EQ(q.sg[1], 5.8e7f);
  EXPECT_FLOAT_EQ(q.er[2], 4.7f);
}

TEST_F(ProjectFiles, RelativeNamesFollowTheLastFileDirectory) {
  fs::create_directories(dir_ / "models");
  Project p;
  ASSERT_TRUE(writeFile(p, "models/a.fdtd"));
  ASSERT_TRUE(writeFile(p, "models/b.fdtd"));
  Project q;
  ASSERT_TRUE(readFile(q, "models/a.fdtd"));
  EXPECT_EQ(q.directory, path("models"));
  EXPECT_EQ(q.fileName, "a.fdtd");
  EXPECT_EQ(q.baseName, "a.fdtd");
  ASSERT_TRUE(ReadProject(q, "b.fdtd"));  // looked up in models
  EXPECT_EQ(q.baseName, "b.fdtd");
}

TEST_F(ProjectFiles, FailedReadsChangeOnlyTheFileName) {
  Project p;
  p.cells[7] = 9;
  p.frequency = 1e6f;
  const auto cells = p.cells;

  EXPECT_FALSE(ReadProject(p, path("missing.fdtd")));
  EXPECT_EQ(takeLog(), "error: FDTD file(" + path("missing.fdtd") + ") is not found.\n");
  EXPECT_EQ(p.fileName, path("missing.fdtd"));

  fs::create_directories(dir_ / "folder.fdtd");
  EXPECT_FALSE(ReadProject(p, path("folder.fdtd")));
  EXPECT_EQ(takeLog(), "error: FDTD file(" + path("folder.fdtd") + ") is not found.\n");

  store(path("empty.fdtd"), {});
  EXPECT_FALSE(ReadProject(p, path("empty.fdtd")));
  EXPECT_EQ(takeLog(), "error: bad format of FDTD file(" + path("empty.fdtd") + ").\n");

  // One byte short of the cells: rejected, nothing of it taken over.
  Bytes image = imageOf(Project());
  image.resize(262240);
  store(path("short.fdtd"), image);
  EXPECT_FALSE(ReadProject(p, path("short.fdtd")));
  EXPECT_EQ(takeLog(), "error: bad format of FDTD file(" + path("short.fdtd") + ").\n");
  EXPECT_EQ(p.fileName, path("short.fdtd"));
  EXPECT_EQ(p.directory, ".");
  EXPECT_TRUE(p.cells == cells);
  EXPECT_FLOAT_EQ(p.frequency, 1e6f);
}

TEST_F(ProjectFiles, LongerFilesAreReadUpToTheVersionByte) {
  Project p;
  p.cells[0] = 0x12;
  Bytes image = imageOf(p);
  image.resize(300000, 0xFF);
  store(path("long.fdtd"), image);
  Project q;
  ASSERT_TRUE(readFile(q, "long.fdtd"));
  EXPECT_EQ(q.cells[0], 0x12);
  EXPECT_EQ(q.cells[kCubeCells - 1], 0);
}

TEST_F(ProjectFiles, SourceParametersWithoutMeaningAreRefused) {
  Project p;
  p.frequency = 2e9f;
  struct Case {
    size_t offset;
    uint8_t value;
    std::string what;
  };
  const Case cases[] = {{kTypeByte, 0x19, "bad source material(9)"},
                        {kTypeByte, 0x41, "bad source type(4)"},
                        {kDirectionByte, 3, "bad source direction(3)"}};
  for (const auto& [offset, value, what] : cases) {
    Bytes image = imageOf(Project());
    image[offset] = value;
    store(path("bad.fdtd"), image);
    EXPECT_FALSE(readFile(p, "bad.fdtd"));
    EXPECT_EQ(takeLog(), "error: " + what + " in FDTD file(" + path("bad.fdtd") + ").\n");
    EXPECT_FLOAT_EQ(p.frequency, 2e9f);
    EXPECT_EQ(p.sourceMaterial, 1);
  }
  // Before format 4 sources were copper whatever the nibble said.
  Bytes image = imageOf(Project());
  image[kTypeByte] = 0x1F;
  image.back() = 3;
  store(path("old.fdtd"), image);
  ASSERT_TRUE(readFile(p, "old.fdtd"));
  EXPECT_EQ(p.sourceMaterial, 6);
}

TEST_F(ProjectFiles, FileWithoutVersionByteIsConvertedAsTheOldestFormat) {
  Project p;
  p.frequency = 0.0f;
  p.sourceType = 0;
  p.cells[CubeIndex(5, 5, 5)] = 253;
  p.cells[CubeIndex(5, 5, 6)] = 254;
  p.cells[CubeIndex(5, 5, 7)] = 255;
  Bytes image = imageOf(p);
  image.resize(262241);  // ends after the last cell, which is 0
  store(path("v0.fdtd"), image);
  Project q;
  ASSERT_TRUE(readFile(q, "v0.fdtd"));
  EXPECT_EQ(q.sourceType, 1);
  EXPECT_EQ(q.sourceMaterial, 6);
  EXPECT_EQ(q.cells[CubeIndex(5, 5, 5)], 0x2D);
  EXPECT_EQ(q.cells[CubeIndex(5, 5, 6)], 0x4E);
  EXPECT_EQ(q.cells[CubeIndex(5, 5, 7)], 0x8F);
  EXPECT_EQ(q.cells[0], 0x10);  // the legacy probe (0, 0, 0)
  // Slot 8 follows the source material, copper.
  EXPECT_FLOAT_EQ(q.sg[8], 5.8e7f);

  // The same file whose last cell is 6 counts as the current format.
  image.back() = 6;
  store(path("v0.fdtd"), image);
  ASSERT_TRUE(readFile(q, "v0.fdtd"));
  EXPECT_EQ(q.sourceMaterial, 1);
  EXPECT_EQ(q.cells[CubeIndex(5, 5, 5)], 253);
}

TEST_F(ProjectFiles, FormatThreeTakesTheWaveformFromTheFrequency) {
  Project p;
  p.sourceType = 0;
  p.frequency = -2e9f;
  Bytes image = imageOf(p);
  image.back() = 3;
  store(path("v3.fdtd"), image);
  Project q;
  ASSERT_TRUE(readFile(q, "v3.fdtd"));
  EXPECT_EQ(q.sourceType, 2);
  EXPECT_FLOAT_EQ(q.frequency, 2e9f);
  EXPECT_EQ(q.sourceMaterial, 6);

  p.frequency = 2e9f;  // positive: type stays
  image = imageOf(p);
  image.back() = 0x80;  // negative as a signed byte
  store(path("v3.fdtd"), image);
  ASSERT_TRUE(readFile(q, "v3.fdtd"));
  EXPECT_EQ(q.sourceType, 0);
  EXPECT_EQ(q.sourceMaterial, 6);
}

TEST_F(ProjectFiles, FormatsFourAndFiveConvertCellsAndTheLegacyProbe) {
  Project p;
  p.sourceType = 3;
  p.sourceMaterial = 2;
  p.cells[CubeIndex(0, 0, 1)] = 255;
  Bytes image = imageOf(p);
  image.back() = 4;
  store(path("v4.fdtd"), image);
  Project q;
  ASSERT_TRUE(readFile(q, "v4.fdtd"));
  EXPECT_EQ(q.sourceMaterial, 6);  // a switch was always copper
  EXPECT_EQ(q.cells[CubeIndex(0, 0, 1)], 0x8F);

  p.sourceType = 0;
  image = imageOf(p);
  image.back() = 4;
  store(path("v4.fdtd"), image);
  ASSERT_TRUE(readFile(q, "v4.fdtd"));
  EXPECT_EQ(q.sourceMaterial, 2);

  image.back() = 5;
  image[kLegacyByte] = 1;
  image[kLegacyByte + 1] = 2;
  image[kLegacyByte + 2] = 3;
  store(path("v5.fdtd"), image);
  ASSERT_TRUE(readFile(q, "v5.fdtd"));
  EXPECT_EQ(q.cells[CubeIndex(0, 0, 1)], 0x8F);
  EXPECT_EQ(q.cells[CubeIndex(1, 2, 3)], 0x10);
  EXPECT_EQ(q.cells[0], 0);
  EXPECT_EQ(q.legacyProbe, (std::array<uint8_t, 3>{0, 0, 0}));
  EXPECT_EQ(q.sourceMaterial, 2);

  // A legacy probe outside the cube names no cell and is dropped.
  image[kLegacyByte] = 200;
  store(path("v5.fdtd"), image);
  Project r;
  ASSERT_TRUE(readFile(r, "v5.fdtd"));
  EXPECT_EQ(r.legacyProbe, (std::array<uint8_t, 3>{0, 0, 0}));
  for (int n = 0; n < kCubeCells; ++n)
    if (r.cells[n] & kCellProbe) ADD_FAILURE() << "probe bit at " << n;
}

TEST_F(ProjectFiles, FailedWriteLeavesTheOldFileIntact) {
  Project p;
  ASSERT_TRUE(writeFile(p, "keep.fdtd"));
  const Bytes before = load(path("keep.fdtd"));
  takeLog();

  // The scratch file cannot be created: a non-empty folder holds its name.
  fs::create_directories(fs::path(ProjectTempPath(path("keep.fdtd"))) / "x");
  p.cells[0] = 0x33;
  p.directory = ".";
  EXPECT_FALSE(WriteProject(p, path("keep.fdtd")));
  EXPECT_EQ(takeLog(), "error: can't write to FDTD file(" + path("keep.fdtd") + ").\n");
  EXPECT_EQ(load(path("keep.fdtd")), before);
  EXPECT_EQ(p.fileName, path("keep.fdtd"));
  EXPECT_EQ(p.directory, ".");

  // A folder in place of the file and a missing folder are refused too.
  fs::create_directories(dir_ / "folder.fdtd");
  EXPECT_FALSE(WriteProject(p, path("folder.fdtd")));
  EXPECT_EQ(takeLog(), "error: can't write to FDTD file(" + path("folder.fdtd") + ").\n");
  EXPECT_FALSE(WriteProject(p, path("no/such/dir.fdtd")));
  EXPECT_EQ(takeLog(), "error: can't write to FDTD file(" + path("no/such/dir.fdtd") + ").\n");
}

TEST_F(ProjectFiles, WriteReplacesTheFileBehindALink) {
  Project p;
  ASSERT_TRUE(writeFile(p, "real.fdtd"));
  fs::create_symlink(path("real.fdtd"), path("link.fdtd"));
  p.cells[0] = 0x21;
  ASSERT_TRUE(writeFile(p, "link.fdtd"));
  EXPECT_TRUE(fs::is_symlink(path("link.fdtd")));
  EXPECT_EQ(load(path("real.fdtd"))[kCellByte], 0x21);
}

TEST_F(ProjectFiles, ExistsWarnsWithoutMovingTheDirectory) {
  Project p;
  EXPECT_FALSE(ProjectFileExists(p, path("none.fdtd")));
  EXPECT_EQ(takeLog(), "");
  EXPECT_EQ(p.fileName, path("none.fdtd"));
  store(path("there.fdtd"), {1, 2, 3});
  EXPECT_TRUE(ProjectFileExists(p, path("there.fdtd")));
  EXPECT_EQ(takeLog(), "warning: file(" + path("there.fdtd") + ") already exists.\n");
  EXPECT_EQ(p.directory, ".");
  EXPECT_EQ(p.baseName, "");
}

TEST_F(ProjectFiles, ListingShowsModelFilesSortedByName) {
  for (const char* n : {"b.fdtd", "a.fdtd", "notes.txt", "c.fdtd.bak", "fdtd"}) store(path(n), {0});
  fs::create_directories(dir_ / "set.fdtd");
  Project p;
  p.directory = dir_.string();
  EXPECT_TRUE(ListProjectFiles(p));
  EXPECT_EQ(takeLog(), "info: FDTD files in directory " + dir_.string() +
                           ".\n  a.fdtd\n  b.fdtd\n  c.fdtd.bak\n  set.fdtd\n");
  p.directory = path("absent");
  EXPECT_FALSE(ListProjectFiles(p));
  EXPECT_EQ(takeLog(), "error: can't list directory(" + path("absent") + ").\n");
}
