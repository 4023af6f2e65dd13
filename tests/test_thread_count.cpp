// The thread count of the parallel loops: the OpenMP setting of the
// environment is honoured and capped at 12 threads.
//
// The thread count of a process is fixed when the OpenMP runtime starts, so
// each case runs this test program again in a child process with its own
// OMP_NUM_THREADS. The child runs the program entry on a tiny batch model
// and then reports the thread count that the parallel loops of the engine
// get (they all use the default team size), read from inside a parallel
// region. Nothing here depends on timing.
#include <gtest/gtest.h>
#include <omp.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "cli_runner.h"

namespace tavro {
namespace {

constexpr const char* kReportVariable = "TAVRO_TEST_THREAD_REPORT";

// Child side: only active when the parent names a report file.
TEST(ThreadCount, ChildReport) {
  const char* report = std::getenv(kReportVariable);
  if (!report) GTEST_SKIP() << "runs only as the child of ThreadCount.HonoursTheSettingUpTo12";
  std::vector<std::string> words = {"tavro", "-batch", "-area", "4", "4", "4", "-n", "3"};
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  const int status = ProgramMain(static_cast<int>(argv.size()), argv.data());
  int team = 0;
#pragma omp parallel
  {
#pragma omp single
    team = omp_get_num_threads();
  }
  std::ofstream(report) << status << " " << omp_get_max_threads() << " " << team << "\n";
}

struct Report {
  int status = -1, maxThreads = -1, team = -1;
};

// Runs the child with OMP_NUM_THREADS set to `setting` (unset when empty).
Report runChild(const std::string& setting) {
  const auto dir = test::scratchDir("threads");
  const auto report = dir / "report.txt";
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::string cmd = "cd " + test::shellQuote(dir.string()) + " && env -u OMP_NUM_THREADS ";
  if (!setting.empty()) cmd += "OMP_NUM_THREADS=" + test::shellQuote(setting) + " ";
  cmd += std::string(kReportVariable) + "=" + test::shellQuote(report.string()) + " " +
         test::shellQuote(self) + " --gtest_filter=ThreadCount.ChildReport >/dev/null 2>&1";
  Report r;
  if (std::system(cmd.c_str()) != 0) return r;
  std::ifstream in(report);
  in >> r.status >> r.maxThreads >> r.team;
  return r;
}

TEST(ThreadCount, HonoursTheSettingUpTo12) {
  struct Case {
    const char* setting;
    int expected;
  };
  const int procs = omp_get_num_procs();
  const Case cases[] = {{"1", 1}, {"3", 3}, {"12", 12}, {"40", 12}, {"", procs < 12 ? procs : 12}};
  for (const Case& c : cases) {
    const Report r = runChild(c.setting);
    EXPECT_EQ(r.status, 0) << "OMP_NUM_THREADS=" << c.setting;
    EXPECT_EQ(r.maxThreads, c.expected) << "OMP_NUM_THREADS=" << c.setting;
    EXPECT_EQ(r.team, c.expected) << "OMP_NUM_THREADS=" << c.setting;
  }
}

}  // namespace
}  // namespace tavro
