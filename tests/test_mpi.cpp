// tavro_mpi against tavro_cpu: the same result files, byte for byte, for
// every model and process count, and the single process's message and status
// for bad input, once; Ctrl-C keeps the samples recorded so far.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli_runner.h"

namespace fs = std::filesystem;
using namespace tavro::test;

namespace {

#ifdef TAVRO_MPI_PROGRAM
// mpirun as root needs both variables; three processes share two cores.
// The MPI library keeps allocations to the end of the process that the leak
// checker of the sanitized build would report.
#ifdef TAVRO_SANITIZED_BUILD
constexpr const char* kEnvironment =
    "OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMP_NUM_THREADS=1 "
    "ASAN_OPTIONS=detect_leaks=0 ";
#else
constexpr const char* kEnvironment =
    "OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1 OMP_NUM_THREADS=1 ";
#endif

std::string mpirun(int processes) {
  return kEnvironment + std::string(TAVRO_MPIEXEC) + " -q --oversubscribe -np " +
         std::to_string(processes);
}

RunResult runMpi(int processes, const std::vector<std::string>& args, const fs::path& dir) {
  return runProgram(args, dir, mpirun(processes), TAVRO_MPI_PROGRAM);
}

// Two layers of a 12 x 10 x 8 box: every source type, a lossy anisotropic
// dielectric, a copper wire along x, probes on the x faces and on both sides
// of the slab boundaries of 2 (x = 6) and 3 (x = 4, 8) processes.
void writeLayers(const fs::path& dir) {
  auto layer = [](auto cell) {
    std::string text;
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 12; ++x) text += cell(x, y) + (x == 11 ? "\n" : ",");
    return text;
  };
  std::ofstream(dir / "upper.csv") << layer([](int x, int y) -> std::string {
    if (x == 5 && y == 5) return "0 GAUSS:Z:1";
    if (x == 7 && y == 6) return "0 CW:Y:1:3e9";
    if (x == 0 && y == 4) return "0 face0";
    if (x == 11 && y == 8) return "0 face11";
    if (x == 5 && y == 7) return "1 below6";
    if (x == 6 && y == 7) return "0 at6";
    if (x == 4 && y == 4) return "2 at4";
    return x >= 3 && x <= 8 && y >= 2 && y <= 3 ? "2" : "0";
  });
  std::ofstream(dir / "lower.csv") << layer([](int x, int y) -> std::string {
    if (x == 2 && y == 5) return "0 PULSE:X:2:1e9";
    if (x == 9 && y == 5) return "0 DC:X:1";
    if (x == 8 && y == 2) return "0 SWITCH:P:2:2e9";
    if (x == 3 && y == 3) return "0 p33";
    return x >= 3 && x <= 8 && y == 5 ? "1" : "0";
  });
  // For the absorbing layer, on the z face: a lossy dielectric along the x
  // faces and the y = 0 face runs into the layer, a source next to a face,
  // probes in the corners and next to the layer.
  std::ofstream(dir / "edge.csv") << layer([](int x, int y) -> std::string {
    if (x == 1 && y == 8) return "0 GAUSS:Y:1";
    if (x == 0 && y == 9) return "2 corner";
    if (x == 11 && y == 0) return "2 farcorner";
    if (x == 10 && y == 9) return "0 nearlayer";
    // Next to the layer on both sides of the slab boundaries.
    if ((x >= 3 && x <= 8) && (y == 0 || y == 9))
      return (y == 0 ? "2 b" : "0 b") + std::to_string(x);
    return x == 0 || x == 11 || y == 0 ? "2" : "0";
  });
  // A box of 6 x 4 x 4 for slabs of two planes and a layer deeper than them.
  std::ofstream(dir / "thin.csv") << "2 first,0,0,0,0,2\n2,0 PULSE:Z:1:2e10,0,0,0,2\n"
                                  << "2,0,0 ring,0 CW:X:1:3e10,0,2 last\n2,2,2,2,2,2\n";
}

std::vector<std::string> csvModel(std::vector<std::string> extra) {
  std::vector<std::string> a = {"-batch", "-n",        "240",      "-area", "12",        "10",
                                "8",      "-unit",     "1e-3",     "1e-3",  "1e-3",      "-mat",
                                "1",      "CU",        "-mat",     "2",     "0.05:4:1",  "-matx",
                                "2",      "0.1:3:2",   "-layer",   "4",     "upper.csv", "-layer",
                                "2",      "lower.csv", "-timelog", "t",     "-freqlog",  "f"};
  a.insert(a.end(), extra.begin(), extra.end());
  return a;
}

// The 6 x 4 x 4 box of thin.csv in two layers with a layer of `cells`.
std::vector<std::string> thinModel(const char* cells) {
  return {"-batch", "-n",       "200",      "-area",    "6",    "4",        "4",
          "-unit",  "1e-3",     "1e-3",     "1e-3",     "-mat", "2",        "0.05:4:1",
          "-layer", "1",        "thin.csv", "-layer",   "2",    "thin.csv", "-pml",
          cells,    "-timelog", "t",        "-freqlog", "f"};
}

// Every file of `dir` but the inputs.
std::vector<fs::path> results(const fs::path& dir) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() != ".csv") out.push_back(e.path().filename());
  std::sort(out.begin(), out.end());
  return out;
}
#endif

}  // namespace

TEST(Mpi, ResultFilesMatchTheSingleProcess) {
#ifndef TAVRO_MPI_PROGRAM
  GTEST_SKIP() << "tavro_mpi is not built (no MPI)";
#else
  const std::string dipole = std::string(TAVRO_SOURCE_DIR) + "/examples/dipole.fdtd";
  const struct {
    const char* name;
    std::vector<std::string> args;
  } models[] = {
      {"sources and materials", csvModel({})},
      {"decimation", csvModel({"-minfreq", "2e9"})},
      {"averaged materials", csvModel({"-avgmat"})},
      {"model file", {"-batch", "-n", "150", "-timelog", "t", "-freqlog", "f", dipole}},
      {"absorbing layer", csvModel({"-pml", "3", "-layer", "7", "edge.csv"})},
      {"layer and averaged materials",
       csvModel({"-pml", "2", "-avgmat", "-minfreq", "2e9", "-layer", "7", "edge.csv"})},
      {"thin slabs, layer of one cell", thinModel("1")},
      {"thin slabs, layer deeper than a slab", thinModel("5")},
  };
  for (const auto& model : models) {
    const auto single = scratchDir("mpi_single");
    writeLayers(single);
    const RunResult ref = runProgram(model.args, single);
    ASSERT_EQ(ref.status, 0) << model.name << "\n" << ref.err;
    const std::vector<fs::path> files = results(single);
    ASSERT_FALSE(files.empty()) << model.name;
    for (int processes : {1, 2, 3}) {
      const auto dir = scratchDir("mpi_split");
      writeLayers(dir);
      const RunResult r = runMpi(processes, model.args, dir);
      ASSERT_EQ(r.status, 0) << model.name << " np " << processes << "\n" << r.err;
      EXPECT_EQ(results(dir), files) << model.name << " np " << processes;
      for (const fs::path& f : files)
        EXPECT_EQ(readFile(dir / f), readFile(single / f))
            << model.name << " np " << processes << ": " << f;
    }
  }
#endif
}

TEST(Mpi, BadInputGivesTheSingleProcessMessageOnce) {
#ifndef TAVRO_MPI_PROGRAM
  GTEST_SKIP() << "tavro_mpi is not built (no MPI)";
#else
  const struct {
    const char* name;
    std::vector<std::string> args;
    int processes;
    std::string message;  // empty: the single process's
    int status;           // -1: the single process's
  } cases[] = {
      {"missing model file", {"-batch", "missing.fdtd"}, 3, "", -1},
      {"missing layer",
       {"-batch", "-area", "8", "8", "8", "-layer", "2", "missing.csv"},
       2,
       "",
       -1},
      {"bad source text", {"-batch", "-area", "8", "8", "8", "-layer", "2", "bad.csv"}, 2, "", -1},
      {"more processes than planes",
       {"-batch", "-area", "5", "8", "8"},
       3,
       "error: 3 processes need at least 6 x planes (2 each); the area has 5, so run at most 2 "
       "processes.\n",
       255},
      {"option it does not run",
       {"-batch", "-area", "8", "8", "8", "-vtk", "2", "snap"},
       2,
       "error: tavro_mpi does not run -vtk; run the model with tavro_cpu.\n",
       255},
      {"the layer with an option it does not run",
       {"-batch", "-area", "8", "8", "8", "-pml", "4", "-sparam", "1e10", "sp"},
       2,
       "error: tavro_mpi does not run -sparam; run the model with tavro_cpu.\n",
       255},
  };
  for (const auto& c : cases) {
    const auto dir = scratchDir("mpi_bad");
    std::ofstream(dir / "bad.csv") << "0,0 CW:Q:1:1e9\n";
    std::string message = c.message;
    int status = c.status;
    if (message.empty()) {
      const RunResult single = runProgram(c.args, dir);
      const std::size_t at = single.err.rfind("error: ");
      ASSERT_NE(at, std::string::npos) << c.name << "\n" << single.err;
      message = single.err.substr(at);
      status = single.status;
    }
    const RunResult r = runMpi(c.processes, c.args, dir);
    EXPECT_EQ(r.status, status) << c.name << "\n" << r.err;
    const std::size_t first = r.err.find(message);
    ASSERT_NE(first, std::string::npos) << c.name << "\n" << r.err;
    EXPECT_EQ(r.err.find(message, first + 1), std::string::npos) << c.name << "\n" << r.err;
    EXPECT_EQ(r.err.find(kBanner, 1), std::string::npos) << c.name << ": one banner\n" << r.err;
  }
#endif
}

TEST(Mpi, CtrlCWritesTheSamplesRecordedSoFar) {
#ifndef TAVRO_MPI_PROGRAM
  GTEST_SKIP() << "tavro_mpi is not built (no MPI)";
#else
  const auto dir = scratchDir("mpi_interrupt");
  std::ofstream(dir / "layer.csv") << "0,0,0\n0 GAUSS:Z:1,0 P,0\n0,0,0\n";
  std::vector<std::string> words = {"/bin/sh", "-c",
                                    "exec env OMPI_MCA_odls_base_sigkill_timeout=3 " + mpirun(2) +
                                        " " + TAVRO_MPI_PROGRAM +
                                        " -area 48 48 48 -layer 24 layer.csv -n 100000 "
                                        "-timelog t"};
  // mpirun passes SIGTERM on and kills what still runs after
  // odls_base_sigkill_timeout seconds (it waits them out): 1 by default, 3
  // here, time enough even for the sanitized build to write its files.
  const pid_t pid = spawn(words, dir, dir / ".stderr");
  ASSERT_GT(pid, 0);
  bool stepping = false;
  for (int i = 0; i < 600 && !stepping; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stepping = readFile(dir / ".stderr").find(" 1% done.") != std::string::npos;
  }
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  int raw = 0;
  ASSERT_EQ(::waitpid(pid, &raw, 0), pid);
  const std::string err = readFile(dir / ".stderr");
  ASSERT_TRUE(stepping) << err;
  EXPECT_NE(err.find("\nwarning: calculation interrupted after "), std::string::npos) << err;
  EXPECT_NE(err.find("- Output t files...\n"), std::string::npos) << err;
  // The time file holds the header lines and every recorded sample.
  const std::string time = readFile(dir / "P_1_1_24.t");
  EXPECT_GT(std::count(time.begin(), time.end(), '\n'), 100) << err;
#endif
}
