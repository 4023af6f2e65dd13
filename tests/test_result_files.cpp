// Waveform result files: exact headers, column orders, row counts, number
// format, and failures that must be reported instead of skipped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "engine/console.h"
#include "engine/engine.h"
#include "files/result_files.h"

namespace tavro {
namespace {

namespace fs = std::filesystem;

class ResultFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tavro_results_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    setConsole(&console_);
    // Two probes, three samples; slot i of sample s of probe p holds a value
    // that names all three, negative for odd slots.
    eng_.sam.probeCount = 2;
    eng_.sam.stepLimit = 3;
    eng_.sam.stepCount = 3;
    eng_.spectrum.names = {"P1_0_0_0", "P2_1_2_3"};
    ASSERT_TRUE(eng_.samples.allocate(6));
    ASSERT_TRUE(eng_.spectrum.points.allocate(2 * kSpectrumPoints));
    for (int s = 0; s < 3; ++s)
      for (int p = 0; p < 2; ++p)
        for (int i = 0; i < 25; ++i) eng_.samples[s * 2 + p].v[i] = value(s, p, i);
    for (int p = 0; p < 2; ++p)
      for (int k = 0; k < kSpectrumPoints; ++k)
        for (int i = 0; i < 25; ++i)
          eng_.spectrum.points[p * kSpectrumPoints + k].v[i] = value(k, p, i);
  }
  void TearDown() override {
    setConsole(nullptr);
    fs::remove_all(dir_);
  }
  static float value(int s, int p, int i) {
    return (i % 2 ? -1.0f : 1.0f) * (1.25f + static_cast<float>(i)) *
           std::pow(10.0f, static_cast<float>(s % 40 - 20 + p));
  }
  static std::string format(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6e", static_cast<double>(v));
    return buf;
  }
  static std::vector<std::string> lines(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  std::string row(const ProbeSample& s, std::initializer_list<int> slots) {
    std::string out;
    for (int slot : slots) {
      if (!out.empty()) out.push_back(' ');
      out.append(format(s.v[slot]));
    }
    return out;
  }

  fs::path dir_;
  std::ostringstream console_;
  SimulationEngine eng_;
};

TEST_F(ResultFiles, TimeDomainLayout) {
  const fs::path path = dir_ / "P2_1_2_3.time";
  ASSERT_TRUE(WriteTimeDomainFile(eng_, 1, path.string()));
  EXPECT_EQ(console_.str(), "");
  const auto l = lines(path);
  ASSERT_EQ(l.size(), 2u + 3u);
  EXPECT_EQ(l[0], "# P2_1_2_3 : TAVRO time-domain waveform (Tavro FDTD simulator)");
  EXPECT_EQ(l[1],
            "#time[sec] Vx[V] Vy[V] Vz[V] Ix[A] Iy[A] Iz[A] Zx[ohm] Zy[ohm] Zz[ohm] Ex[V/m] "
            "Ey[V/m] Ez[V/m] Hx[A/m] Hy[A/m] Hz[A/m] Px[W] Py[W] Pz[W]");
  for (int s = 0; s < 3; ++s)
    EXPECT_EQ(l[2 + s], row(eng_.samples[s * 2 + 1],
                            {0, 9, 10, 11, 13, 14, 15, 17, 18, 19, 1, 2, 3, 5, 6, 7, 21, 22, 23}));
  // The format itself: slot 0 of sample 0, probe 1 is 1.25e-19; slot 9 negative.
  EXPECT_EQ(l[2].substr(0, 26), "1.250000e-19 -1.025000e-18");
  EXPECT_EQ(std::count(l[2].begin(), l[2].end(), ' '), 18);
  EXPECT_NE(l[2].back(), ' ');
}

TEST_F(ResultFiles, TimeDomainHasTheRecordedRowsAndNoTemporaryLeft) {
  eng_.sam.stepCount = 1;  // an interrupted run: only the recorded row
  const fs::path path = dir_ / "a.time";
  std::ofstream(path) << "an older, longer result that must be replaced completely\n";
  ASSERT_TRUE(WriteTimeDomainFile(eng_, 0, path.string()));
  EXPECT_EQ(lines(path).size(), 3u);
  EXPECT_FALSE(fs::exists(path.string() + ".tmp"));
}

TEST_F(ResultFiles, FrequencyDomainLayout) {
  const fs::path path = dir_ / "P1_0_0_0.freq";
  ASSERT_TRUE(WriteFrequencyDomainFile(eng_, 0, path.string()));
  const auto l = lines(path);
  ASSERT_EQ(l.size(), 2u + kSpectrumPoints);
  EXPECT_EQ(l[0], "# P1_0_0_0 : TAVRO frequency-domain waveform (Tavro FDTD simulator)");
  EXPECT_EQ(l[1],
            "#frequency[Hz] Vm[V] Vr[V] Vi[V] Im[A] Ir[A] Ii[A] Zm[ohm] Zr[ohm] Zi[ohm] Ex[V/m] "
            "Ey[V/m] Ez[V/m] Hx[A/m] Hy[A/m] Hz[A/m] Pm[W] Pr[W] Pi[W]");
  for (int k : {0, 1, 1234, 1999})
    EXPECT_EQ(l[2 + k], row(eng_.spectrum.points[k],
                            {0, 12, 9, 10, 16, 13, 14, 20, 17, 18, 1, 2, 3, 5, 6, 7, 24, 21, 22}));
}

TEST_F(ResultFiles, FailedWritesWarnAndLeaveNoTemporary) {
  const std::string missingDir = (dir_ / "no_such_dir" / "x.time").string();
  EXPECT_FALSE(WriteTimeDomainFile(eng_, 0, missingDir));
  // A directory in the way of the target: the temporary is written, the
  // rename fails, the directory stays and the temporary is removed.
  const fs::path blocked = dir_ / "blocked.freq";
  fs::create_directories(blocked / "inside");
  EXPECT_FALSE(WriteFrequencyDomainFile(eng_, 1, blocked.string()));
  EXPECT_TRUE(fs::is_directory(blocked / "inside"));
  EXPECT_FALSE(fs::exists(blocked.string() + ".tmp"));
  EXPECT_FALSE(WriteTimeDomainFile(eng_, 2, (dir_ / "c.time").string()));  // no such probe
  EXPECT_EQ(console_.str(), "warning: can't write result file(" + missingDir +
                                ").\nwarning: can't write result file(" + blocked.string() +
                                ").\nwarning: can't write result file(" +
                                (dir_ / "c.time").string() + ").\n");
}

TEST_F(ResultFiles, FullDeviceReportsFailure) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  // Writing through a link to /dev/full fails at the first block written.
  fs::create_symlink("/dev/full", dir_ / "full.time.tmp");
  EXPECT_FALSE(WriteTimeDomainFile(eng_, 0, (dir_ / "full.time").string()));
  EXPECT_FALSE(fs::exists(dir_ / "full.time"));
  EXPECT_NE(console_.str().find("warning: can't write result file("), std::string::npos);
}

}  // namespace
}  // namespace tavro
