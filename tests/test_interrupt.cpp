// A batch run stopped by SIGINT or SIGTERM: the program ends with status
// 128 + signal after writing complete result files of what it recorded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli_runner.h"

namespace {

namespace fs = std::filesystem;
using tavro::test::readFile;
using tavro::test::scratchDir;

constexpr int kStepLimit = 5000;

// Starts the program in `dir` with its console in dir/.stderr.
pid_t startProgram(const fs::path& dir, const std::vector<std::string>& args) {
  std::vector<std::string> words{TAVRO_CPU_PROGRAM};
  words.insert(words.end(), args.begin(), args.end());
  return tavro::test::spawn(words, dir, dir / ".stderr");
}

// Waits until `text` appears in the file (true) or `seconds` pass (false).
bool waitForText(const fs::path& file, const std::string& text, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (readFile(file).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

std::vector<std::string> lines(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Runs a long model, sends `sig` once it is stepping and checks what is left.
void interruptRun(int sig, const std::string& name) {
  const auto dir = scratchDir(name);
  // A 64-cell cube with one source and one probe: each of the 5000 steps
  // takes long enough that the run is still going when the signal comes.
  std::ofstream(dir / "layer.csv") << "0,0,0\n0 GAUSS:Z:1,0 P,0\n0,0,0\n";
  const pid_t pid =
      startProgram(dir, {"-batch", "-area", "64", "64", "64", "-layer", "24", "layer.csv", "-n",
                         std::to_string(kStepLimit), "-timelog", "tlog", "-freqlog", "flog"});
  ASSERT_GT(pid, 0);
  // The progress line shows 1 % once 50 steps have been taken.
  const bool stepping = waitForText(dir / ".stderr", " 1% done.", 60.0);
  ASSERT_EQ(::kill(pid, sig), 0);
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  ASSERT_TRUE(stepping) << readFile(dir / ".stderr");

  ASSERT_TRUE(WIFEXITED(raw)) << "ended by signal " << WTERMSIG(raw);
  EXPECT_EQ(WEXITSTATUS(raw), 128 + sig);
  const std::string err = readFile(dir / ".stderr");
  std::smatch m;
  const std::regex warning("\nwarning: calculation interrupted after ([0-9]+) of " +
                           std::to_string(kStepLimit) +
                           " samples; writing the samples recorded so far\\.\n");
  ASSERT_TRUE(std::regex_search(err, m, warning)) << err;
  const int recorded = std::stoi(m[1].str());
  EXPECT_GT(recorded, 0);
  EXPECT_LT(recorded, kStepLimit);
  EXPECT_NE(err.find("- Output tlog files...\n- Output flog files...\n"), std::string::npos);
  EXPECT_EQ(err.find("- FDTD calculation complete."), std::string::npos);

  // Both files are complete: the time file holds exactly the recorded
  // samples, their times rising, and the spectrum all 2000 points of the
  // grid made from the recorded samples (up to the sampling rate for a short
  // recording, from the reciprocal of its duration for a long one).
  const std::vector<std::string> time = lines(dir / "P_1_1_24.tlog");
  ASSERT_EQ(time.size(), 2u + static_cast<size_t>(recorded));
  for (int s = 1; s < recorded; ++s)
    ASSERT_GT(std::stod(time[2 + s]), std::stod(time[1 + s])) << "row " << s;
  const std::vector<std::string> freq = lines(dir / "P_1_1_24.flog");
  ASSERT_EQ(freq.size(), 2u + 2000u);
  if (recorded <= 2933)
    EXPECT_NEAR(std::stod(freq.back()) * std::stod(time[3]), 1.0, 1e-5);
  else
    EXPECT_NEAR(std::stod(freq[2]) * std::stod(time.back()), 1.0, 1e-5);
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  fs::remove_all(dir);
}

TEST(Interrupt, SigintEndsTheRunWithCompleteResultFiles) { interruptRun(SIGINT, "interrupt_int"); }

TEST(Interrupt, SigtermEndsTheRunWithCompleteResultFiles) {
  interruptRun(SIGTERM, "interrupt_term");
}

}  // namespace
