// The editor's text entry: SI-prefixed numbers, the edit states that store
// them, and the load and save commands with the overwrite question.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/console.h"
#include "gui/overlay_text.h"
#include "gui/text_entry.h"

namespace fs = std::filesystem;
using namespace tavro;

namespace {

TEST(ParseEngineering, PrefixesScaleOtherSuffixesAreIgnored) {
  const struct {
    const char* text;
    float value;
  } cases[] = {
      {"3G", 3e9f},     {"1m", 0.001f}, {"2.5u", 2.5e-6f}, {"10mm", 10.0f},
      {"1e-3", 1.0f},   {"k5", 0.0f},   {"", 0.0f},        {"-4.7", -4.7f},
      {"+2k", 2000.0f}, {"1M", 1e6f},   {"58.0M", 5.8e7f}, {"100f", 1e-13f},
      {"1Y", 1e24f},    {"1y", 1e-24f}, {"-", 0.0f},       {".5 k", 500.0f},
  };
  for (const auto& c : cases) EXPECT_FLOAT_EQ(ParseEngineering(c.text), c.value) << c.text;
}

// Every prefix both ways, from a list of its own: the format writes 2.5 and
// -471 times 10^(3k) with the prefix of k, and the parse reads that back.
TEST(ParseEngineering, EveryPrefixRoundTripsThroughTheFormat) {
  const char* prefixes[] = {"y", "z", "a", "f", "p", "n", "u", "m", "",
                            "k", "M", "G", "T", "P", "E", "Z", "Y"};
  const std::pair<double, const char*> numbers[] = {{2.5, "2.50"}, {-471.0, "-471"}};
  for (int k = -8; k <= 8; ++k)
    for (const auto& [mantissa, digits] : numbers) {
      const float value = static_cast<float>(mantissa * std::pow(10.0, 3 * k));
      const std::string text = std::string(digits) + prefixes[k + 8];
      EXPECT_EQ(FormatEngineering(value), text) << value;
      EXPECT_FLOAT_EQ(ParseEngineering(text), value) << text;
    }
}

TEST(WindowTitle, NamesTheProjectOnlyWhenItHasOne) {
  Project p;
  const std::string plain = WindowTitle(p);
  EXPECT_EQ(plain.rfind("TAVRO version 2.15 ", 0), 0u);
  EXPECT_EQ(plain.find(" : "), std::string::npos);
  p.baseName = "patch.fdtd";
  EXPECT_EQ(WindowTitle(p), plain + " : patch.fdtd");
}

class Entry : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tavro_entry_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    project_.directory = dir_.string();
    setConsole(&log_);
  }
  void TearDown() override {
    setConsole(nullptr);
    fs::remove_all(dir_);
  }
  // Types the keys of `text` one by one; returns whether the last asked for
  // a new title.
  bool type(const std::string& text) {
    bool retitle = false;
    for (unsigned char k : text) retitle = EntryKey(project_, {state_, pending_, line_}, k);
    return retitle;
  }
  std::string fileBytes(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
  std::ostringstream log_;
  Project project_;
  int32_t state_ = 0, pending_ = 0;
  std::string line_;
};

TEST_F(Entry, EnterStoresIntoTheFieldOfTheEditState) {
  const struct {
    int32_t state;
    const char* keys;
    float value;
    float& (*field)(Project&);
  } cases[] = {
      {kEditDxy, "2m\r", 0.002f, [](Project& p) -> float& { return p.dxy; }},
      {kEditFrequency, "1.5G\r", 1.5e9f, [](Project& p) -> float& { return p.frequency; }},
      {kEditSource2, "-3m\r", -0.003f, [](Project& p) -> float& { return p.sourceValue2; }},
      {kEditDC, "5\r", 5.0f, [](Project& p) -> float& { return p.sourceValue1; }},
      {kEditSigma + 3, "58M\r", 5.8e7f, [](Project& p) -> float& { return p.sg[3]; }},
      {kEditSigma + 1, "3n\r", 3e-9f, [](Project& p) -> float& { return p.sg[1]; }},
      {kEditEr + 5, "9.8\r", 9.8f, [](Project& p) -> float& { return p.er[5]; }},
      {kEditUr + 0, "1k\r", 1000.0f, [](Project& p) -> float& { return p.ur[0]; }},
      {kEditDz, "x9\r", 0.001f, [](Project& p) -> float& { return p.dz; }},  // refused: kept
      {kEditSigma + 2, "5.8e7\r", 5.8e7f, [](Project& p) -> float& { return p.sg[2]; }},
  };
  for (const auto& c : cases) {
    project_ = Project();
    state_ = c.state;
    type(c.keys);
    EXPECT_FLOAT_EQ(c.field(project_), c.value) << c.keys;
    EXPECT_EQ(state_, 0);
    EXPECT_TRUE(line_.empty());
  }
}

// The entry's strict reading: exponents beside the prefixes; garbage,
// unknown suffixes, NaN, infinity and (where needed) values not above zero
// are refused.
TEST(ReadEntryNumber, AcceptsExponentsAndPrefixesRefusesTheRest) {
  const struct {
    const char* text;
    bool positive;
    const char* refusal;  // nullptr: accepted with `value`
    float value;
  } cases[] = {
      {"5.8e7", true, nullptr, 5.8e7f},
      {"1e-3", true, nullptr, 1e-3f},
      {"1.5e1", true, nullptr, 15.0f},
      {"2.5E+2k", true, nullptr, 2.5e5f},
      {"3G", true, nullptr, 3e9f},
      {"1E", true, nullptr, 1e18f},  // E with no digits after it is exa
      {"-4.7m", false, nullptr, -4.7e-3f},
      {".5", true, nullptr, 0.5f},
      {"0", false, nullptr, 0.0f},
      {"abc", false, "is not a number", 0},
      {"nan", false, "is not a number", 0},
      {"inf", false, "is not a number", 0},
      {"e5", false, "is not a number", 0},
      {"-", false, "is not a number", 0},
      {"3GG", false, "unknown unit prefix", 0},
      {"10mm", false, "unknown unit prefix", 0},
      {"1e", false, "unknown unit prefix", 0},
      {"1 k", false, "unknown unit prefix", 0},
      {"1e39", false, "out of range", 0},
      {"1e300", false, "out of range", 0},
      {"999999999999999999999999999999999999999999999", false, "out of range", 0},
      {"1000Y", false, "out of range", 0},  // more than the panel can show
      {"999Y", false, nullptr, 999e24f},
      {"0", true, "must be above zero", 0},
      {"-2", true, "must be above zero", 0},
  };
  for (const auto& c : cases) {
    float value = -123.0f;
    const std::string why = ReadEntryNumber(c.text, c.positive, value);
    if (c.refusal) {
      EXPECT_NE(why.find(c.refusal), std::string::npos) << c.text << ": " << why;
      EXPECT_EQ(value, -123.0f) << c.text;  // untouched
    } else {
      EXPECT_EQ(why, "") << c.text;
      EXPECT_FLOAT_EQ(value, c.value) << c.text;
    }
  }
}

// A refused number keeps the field, closes the entry and hands the reason to
// the window; the rules follow the field (er needs a positive value, S/m
// takes zero but not a negative one, a source value either sign).
TEST_F(Entry, RefusedNumbersKeepTheOldValueAndSayWhy) {
  const struct {
    int32_t state;
    const char* keys;
    bool refused;
  } cases[] = {
      {kEditEr + 1, "0\r", true},     {kEditUr + 1, "-1\r", true},
      {kEditDxy, "abc\r", true},      {kEditFrequency, "3GG\r", true},
      {kEditSigma + 1, "-1\r", true}, {kEditSigma + 1, "0\r", false},
      {kEditSource1, "-2\r", false},  {kEditSource1, "nan\r", true},
      {kEditDz, "1e-46\r", true},  // underflows to zero: not above zero
  };
  for (const auto& c : cases) {
    project_ = Project();
    project_.sg[1] = 5.0f;
    const Project before = project_;
    std::string notice;
    state_ = c.state;
    for (unsigned char k : std::string(c.keys))
      EntryKey(project_, {state_, pending_, line_, &notice}, k);
    EXPECT_EQ(state_, 0) << c.keys;
    const bool kept = project_.er == before.er && project_.ur == before.ur &&
                      project_.sg == before.sg && project_.dxy == before.dxy &&
                      project_.dz == before.dz && project_.frequency == before.frequency &&
                      project_.sourceValue1 == before.sourceValue1;
    EXPECT_EQ(kept, c.refused) << c.keys;
    EXPECT_EQ(notice.empty(), !c.refused) << c.keys << notice;
    if (c.refused) {
      EXPECT_NE(log_.str().find(notice + "\n"), std::string::npos) << notice;
    }
  }
}

TEST_F(Entry, EditingKeysAndEmptyEnter) {
  state_ = kEditDxy;
  type(
      "12\x08"
      "3\x01\x7f");  // backspace removes, control keys are ignored
  EXPECT_EQ(line_, "13");
  line_.clear();
  type("\x08\r");  // backspace on an empty line, then Enter on it
  EXPECT_EQ(state_, 0);
  EXPECT_FLOAT_EQ(project_.dxy, 0.001f);  // unchanged
}

TEST_F(Entry, SaveAsksBeforeReplacingAFileAndLoadReadsItBack) {
  state_ = kEditSave;
  project_.sg[1] = 1.0f;
  EXPECT_TRUE(type("a.fdtd\r"));
  EXPECT_EQ(fileBytes("a.fdtd").size(), static_cast<size_t>(kFileBytes));
  EXPECT_EQ(project_.baseName, "a.fdtd");
  EXPECT_EQ(state_, 0);

  // Saving again onto it: the question, and the file stays as it was until y.
  project_.sg[1] = 2.0f;
  const std::string first = fileBytes("a.fdtd");
  state_ = kEditSave;
  EXPECT_FALSE(type("a.fdtd\r"));
  EXPECT_NE(log_.str().find("warning: file(" + (dir_ / "a.fdtd").string() + ") already exists.\n"),
            std::string::npos);
  EXPECT_EQ(pending_, 1);
  EXPECT_EQ(state_, kEditSave);
  EXPECT_EQ(line_, "a.fdtd");
  EXPECT_FALSE(type("\r"));  // Enter asks again
  EXPECT_EQ(pending_, 1);
  EXPECT_FALSE(type("n"));  // any key but y abandons
  EXPECT_EQ(pending_, 0);
  EXPECT_EQ(state_, 0);
  EXPECT_TRUE(line_.empty());
  EXPECT_EQ(fileBytes("a.fdtd"), first);

  state_ = kEditSave;
  type("a.fdtd\r");
  EXPECT_TRUE(type("y"));
  EXPECT_NE(fileBytes("a.fdtd"), first);

  project_.sg[1] = 3.0f;
  project_.baseName.clear();
  state_ = kEditLoad;
  EXPECT_TRUE(type("a.fdtd\r"));
  EXPECT_FLOAT_EQ(project_.sg[1], 2.0f);
  EXPECT_EQ(project_.baseName, "a.fdtd");

  state_ = kEditLoad;  // a missing file: no new title, the entry closes
  EXPECT_FALSE(type("missing.fdtd\r"));
  EXPECT_EQ(state_, 0);
}

}  // namespace
