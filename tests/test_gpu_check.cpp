// scripts/gpu-check judged by its own dry runs (both sides on the CPU): a
// run without a GPU never agrees, a planted 1 % error in H alone fails the H
// quantities and nothing else, and an error planted only in large boxes
// fails the large timed box and not the small one.
#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "cli_runner.h"

#if defined(TAVRO_BUILD_DIR)

namespace {

struct CheckRun {
  std::string output;
  std::set<std::string> failed;  // "<model> <quantity>" of every FAIL line
};

CheckRun runGpuCheck(const std::string& env) {
  auto dir = tavro::test::scratchDir("gpu_check");
  const std::string cmd =
      "TAVRO_GPU_BUILD=" + tavro::test::shellQuote(TAVRO_BUILD_DIR) +
      " TAVRO_GPU_SKIP_BUILD=1 TAVRO_GPU_CHECK_CPU=1 " + env + " sh " +
      tavro::test::shellQuote(std::string(TAVRO_SOURCE_DIR) + "/scripts/gpu-check") + " >" +
      (dir / "out").string() + " 2>&1";
  CheckRun r;
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  r.output = tavro::test::readFile(dir / "out");
  const std::regex fail(R"((\S+)\s+(\S+)\s+\S+\s+\S+\s+FAIL\n)");
  for (std::sregex_iterator it(r.output.begin(), r.output.end(), fail), end; it != end; ++it)
    r.failed.insert((*it)[1].str() + " " + (*it)[2].str());
  return r;
}

}  // namespace

TEST(GpuCheck, DryRunsNeverAgreeAndFindPlantedErrors) {
#if defined(TAVRO_SANITIZED_BUILD)
  GTEST_SKIP() << "the script's judgement, not memory use, is checked here";
#endif
  struct Row {
    const char* what;
    std::string env;
    std::set<std::string> failed;
  } rows[] = {
      {"H 1 % off",
       "TAVRO_GPU_MODELS=edges TAVRO_GPU_SIZES= TAVRO_GPU_CHECK_PLANT=H",
       {"edges samples.hx", "edges samples.hy", "edges samples.hz", "edges samples.h",
        "edges field.hx", "edges field.hy", "edges field.hz", "edges field.hmag", "edges live.hx",
        "edges live.hy", "edges live.hz", "edges live.h"}},
      // The model and the small box agree: only the large box fails.
      {"E off in large boxes only",
       "TAVRO_GPU_MODELS=edges TAVRO_GPU_SIZES='12 20' TAVRO_GPU_CHECK_PLANT=far:20",
       {"timed20 timed.samples.ex", "timed20 timed.checksum.ex"}},
      // The absorbing layer's model, its auxiliary fields judged as well:
      // nothing planted, nothing fails (the dry run alone disagrees).
      {"layer", "TAVRO_GPU_MODELS=layer TAVRO_GPU_SIZES=", {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const CheckRun r = runGpuCheck(row.env);
    EXPECT_EQ(r.failed, row.failed) << r.output;
    if (std::string(row.what) == "layer") {
      EXPECT_NE(r.output.find("layer        layer.psi_e2"), std::string::npos) << r.output;
    }
    EXPECT_NE(r.output.find("dry run: the GPU did not run"), std::string::npos);
    EXPECT_TRUE(std::regex_search(r.output, std::regex("\ngpu \\S+ Gcells/s at 256\\^3 agree no ")))
        << r.output;
  }
}

#endif
