// CSV layer input: cell grammar, quoting, row and column handling, size
// checks and damaged input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "engine/console.h"
#include "engine/engine.h"
#include "engine/setup.h"
#include "files/csv_layer.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;

class CsvLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tavro_csv_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    setConsole(&console_);
    model_.areaX = model_.areaY = model_.areaZ = 8;
    model_.unitX = model_.unitY = model_.unitZ = 0.001f;
    ASSERT_EQ(model_.allocateCells(), 1);
  }
  void TearDown() override {
    setConsole(nullptr);
    fs::remove_all(dir_);
  }
  std::string file(const std::string& name, const std::string& bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p.string();
  }
  int32_t id(int x, int y, int z) { return model_.data[model_.index(x, y, z)]; }
  const std::string& pin(int x, int y, int z) { return model_.pin(model_.index(x, y, z)); }
  const std::string& probe(int x, int y, int z) { return model_.probe(model_.index(x, y, z)); }

  fs::path dir_;
  std::ostringstream console_;
  ModelRecord model_;
};

TEST_F(CsvLayer, CellGrammarProbeAndSourceWords) {
  // Row 6 holds the cells; cells at x 0 and 5 carry old texts beforehand.
  model_.setPin(model_.index(0, 6, 7), "OLD");
  model_.setProbe(model_.index(0, 6, 7), "OLD_0_6_7");
  model_.setPin(model_.index(5, 6, 7), "OLD");
  model_.setProbe(model_.index(5, 6, 7), "OLD_5_6_7");
  const std::string path =
      file("grammar.csv",
           "\n\n\n\n\n\n3,3 P1,2 CW:Y:20:3e9,\"3 P1\",4 P1 extra words,,abc,-7 SWITCH:P:2:1e9\n");
  ASSERT_TRUE(ReadCsvLayer(model_, 8, 7, 7, path));
  EXPECT_EQ(console_.str(), "");

  EXPECT_EQ(id(0, 6, 7), 3);  // bare ID: texts untouched
  EXPECT_EQ(pin(0, 6, 7), "OLD");
  EXPECT_EQ(probe(0, 6, 7), "OLD_0_6_7");
  EXPECT_EQ(id(1, 6, 7), 3);
  EXPECT_EQ(pin(1, 6, 7), "P1");
  EXPECT_EQ(probe(1, 6, 7), "P1_1_6_7");
  EXPECT_EQ(id(2, 6, 7), 2);
  EXPECT_EQ(pin(2, 6, 7), "CW Y 20 3e9");
  EXPECT_EQ(probe(2, 6, 7), "CW_2_6_7");
  EXPECT_EQ(id(3, 6, 7), 3);  // quotes read as blanks
  EXPECT_EQ(pin(3, 6, 7), "P1");
  EXPECT_EQ(probe(3, 6, 7), "P1_3_6_7");
  EXPECT_EQ(id(4, 6, 7), 4);  // words after the probe word are ignored
  EXPECT_EQ(pin(4, 6, 7), "P1");
  EXPECT_EQ(probe(4, 6, 7), "P1_4_6_7");
  EXPECT_EQ(id(5, 6, 7), 0);  // empty: no ID, pin cleared, probe kept
  EXPECT_EQ(pin(5, 6, 7), "");
  EXPECT_EQ(probe(5, 6, 7), "OLD_5_6_7");
  EXPECT_EQ(id(6, 6, 7), 0);  // malformed
  EXPECT_EQ(pin(6, 6, 7), "");
  EXPECT_EQ(probe(6, 6, 7), "");
  EXPECT_EQ(id(7, 6, 7), -7);
  EXPECT_EQ(pin(7, 6, 7), "SWITCH P 2 1e9");
  EXPECT_EQ(model_.tokens[3], "1e9");  // tokens of the last pin text
  // Rows above 6 were empty lines: every cell ID 0.
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(id(x, y, 7), 0);
}

TEST_F(CsvLayer, GaussAtOrigin) {
  model_.data[model_.index(0, 0, 0)] = 9;
  ASSERT_TRUE(ReadCsvLayer(model_, 1, 1, 0, file("g.csv", "4 GAUSS:Z:5\n")));
  EXPECT_EQ(id(0, 0, 0), 4);
  EXPECT_EQ(pin(0, 0, 0), "GAUSS Z 5");
  EXPECT_EQ(probe(0, 0, 0), "GAUSS_0_0_0");
}

TEST_F(CsvLayer, ShortAndLongRowsAndShortFile) {
  for (uint64_t k = 0; k < model_.cellCount(); ++k) model_.data[k] = 99;
  const std::string path = file("rows.csv", "1,2\n3,4,5,6,7\n");  // no third line
  ASSERT_TRUE(ReadCsvLayer(model_, 3, 3, 2, path));
  EXPECT_EQ(id(0, 0, 2), 1);
  EXPECT_EQ(id(1, 0, 2), 2);
  EXPECT_EQ(id(2, 0, 2), 0);  // beyond the end of a short row
  EXPECT_EQ(id(2, 1, 2), 5);
  EXPECT_EQ(id(3, 1, 2), 99);                             // columns past X are not read
  for (int x = 0; x < 3; ++x) EXPECT_EQ(id(x, 2, 2), 0);  // missing row
  EXPECT_EQ(id(0, 3, 2), 99);                             // rows past Y untouched
  EXPECT_EQ(id(0, 0, 1), 99);                             // other layers untouched
}

TEST_F(CsvLayer, OverlongLineKeepsItsHeadAndLaterRowsReadNormally) {
  // Row 0 is 70001 characters: its first 65535 hold "5," and the start of the
  // x-run, so cell 2 ("9") lies beyond the cut. Row 1 must still be read.
  const std::string longRow = "5," + std::string(69997, 'x') + ",9";
  const std::string path = file("long.csv", longRow + "\n7,8 P\n");
  ASSERT_TRUE(ReadCsvLayer(model_, 3, 2, 0, path));
  EXPECT_EQ(console_.str(), "warning: row 0 of CSV '" + path +
                                "' is longer than 65535 characters; only its first 65535 are "
                                "read.\n");
  EXPECT_EQ(id(0, 0, 0), 5);
  EXPECT_EQ(id(1, 0, 0), 0);
  EXPECT_EQ(id(2, 0, 0), 0);
  EXPECT_EQ(id(0, 1, 0), 7);
  EXPECT_EQ(id(1, 1, 0), 8);
  EXPECT_EQ(probe(1, 1, 0), "P_1_1_0");
}

TEST_F(CsvLayer, CrLfLineEndings) {
  const std::string path = file("crlf.csv", "1 P1\r\n2,3 P2\r\n\r\n4\r");
  ASSERT_TRUE(ReadCsvLayer(model_, 2, 4, 3, path));
  EXPECT_EQ(pin(0, 0, 3), "P1");
  EXPECT_EQ(probe(0, 0, 3), "P1_0_0_3");
  EXPECT_EQ(id(1, 1, 3), 3);
  EXPECT_EQ(pin(1, 1, 3), "P2");
  EXPECT_EQ(probe(1, 1, 3), "P2_1_1_3");
  EXPECT_EQ(id(0, 2, 3), 0);
  EXPECT_EQ(id(0, 3, 3), 4);
}

TEST_F(CsvLayer, WordOfOnlyColonsReadsAsBareId) {
  // The cell before leaves "STALE" in the tokens; it must not leak into a name.
  model_.setPin(model_.index(1, 0, 0), "KEEP");
  ASSERT_TRUE(ReadCsvLayer(model_, 2, 1, 0, file("colon.csv", "1 STALE,4 :::\n")));
  EXPECT_EQ(id(1, 0, 0), 4);
  EXPECT_EQ(pin(1, 0, 0), "KEEP");
  EXPECT_EQ(probe(1, 0, 0), "");
}

TEST_F(CsvLayer, IdsOutOfRangeStoredAsReadAndRefusedBySetUp) {
  const std::string path =
      file("ids.csv", "70000,-1,99999999999999999999,-99999999999999999999,+12\n");
  ASSERT_TRUE(ReadCsvLayer(model_, 5, 1, 0, path));
  EXPECT_EQ(id(0, 0, 0), 70000);
  EXPECT_EQ(id(1, 0, 0), -1);
  EXPECT_EQ(id(2, 0, 0), INT32_MAX);  // saturated, still outside 0..65535
  EXPECT_EQ(id(3, 0, 0), INT32_MIN);
  EXPECT_EQ(id(4, 0, 0), 12);
  SimulationEngine eng;
  eng.requestedStepLimit = 2;
  EXPECT_EQ(set(eng, model_), 0);
}

TEST_F(CsvLayer, SizeChecksAndMissingFile) {
  const std::string path = file("ok.csv", "1\n");
  EXPECT_FALSE(ReadCsvLayer(model_, 8, 8, 8, path));  // Z = areaZ
  EXPECT_FALSE(ReadCsvLayer(model_, 9, 1, 0, path));  // X > areaX
  EXPECT_FALSE(ReadCsvLayer(model_, 1, -1, 0, path));
  EXPECT_EQ(console_.str(),
            "error: size of CSV[8,8,8] is out of calculation area[8,8,8].\n"
            "error: size of CSV[9,1,0] is out of calculation area[8,8,8].\n"
            "error: size of CSV[1,-1,0] is out of calculation area[8,8,8].\n");
  for (uint64_t k = 0; k < model_.cellCount(); ++k) EXPECT_EQ(model_.data[k], 0);

  console_.str("");
  const std::string missing = (dir_ / "none.csv").string();
  EXPECT_FALSE(ReadCsvLayer(model_, 1, 1, 0, missing));
  EXPECT_FALSE(ReadCsvLayer(model_, 1, 1, 0, dir_.string()));  // a directory
  EXPECT_EQ(console_.str(), "error: can't find CSV '" + missing + "'.\nerror: can't find CSV '" +
                                dir_.string() + "'.\n");
}

TEST_F(CsvLayer, SameFileOnTwoLayers) {
  const std::string path = file("two.csv", "1,2 A\n3 B,4\n");
  ASSERT_TRUE(ReadCsvLayer(model_, 2, 2, 1, path));
  ASSERT_TRUE(ReadCsvLayer(model_, 2, 2, 5, path));
  for (int z : {1, 5}) {
    EXPECT_EQ(id(0, 0, z), 1);
    EXPECT_EQ(id(1, 1, z), 4);
    EXPECT_EQ(probe(1, 0, z), "A_1_0_" + std::to_string(z));
    EXPECT_EQ(probe(0, 1, z), "B_0_1_" + std::to_string(z));
  }
  EXPECT_EQ(model_.probes().size(), 4u);
}

TEST_F(CsvLayer, NulBytesAndBinaryGarbage) {
  ASSERT_TRUE(ReadCsvLayer(model_, 2, 1, 0, file("nul.csv", std::string("5\0P1,6 Q", 8) + "\n")));
  EXPECT_EQ(id(0, 0, 0), 5);  // the NUL ends the cell text
  EXPECT_EQ(pin(0, 0, 0), "");
  EXPECT_EQ(id(1, 0, 0), 6);
  EXPECT_EQ(pin(1, 0, 0), "Q");

  std::mt19937 rng(12345);
  std::string garbage(200000, '\0');
  for (char& c : garbage) c = static_cast<char>(rng() & 0xFF);
  EXPECT_TRUE(ReadCsvLayer(model_, 8, 8, 1, file("garbage.bin", garbage)));
  // Every probe name the garbage produced is a word with its coordinates.
  for (const auto& [k, name] : model_.probes()) {
    EXPECT_EQ(name.find('\0'), std::string::npos);
    EXPECT_EQ(name.find(' '), std::string::npos);
  }
}

}  // namespace
}  // namespace tavro
