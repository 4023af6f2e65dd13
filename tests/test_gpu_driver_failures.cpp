// The program tavro with a stand-in driver library (tests/stub_cuda) that
// fails one chosen driver call: at start-up, allocation, upload, launch,
// synchronisation and the copy back. Every failure is named with the call
// and the driver's error name, the run ends with status 254 and leaves no
// result files behind, and nothing stays allocated on the device.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli_runner.h"

#if defined(TAVRO_STUB_CUDA_DIR)

namespace {

struct Row {
  const char* fail;      // STUB_CUDA_FAIL: entry point, call number, result
  int status;            // exit status
  const char* messages;  // the console lines the failure gives
};

// A 6 x 6 x 4 box, one source and one probe (two probes: a source cell is
// measured too), 20 steps, both result files.
// The preparation allocates and uploads 12 buffers; the first step of the
// batch run checks the free memory and allocates and uploads the 9 buffers
// of the compact stepping state. Each step launches 10 kernels (three
// boundary families twice, two field updates, source, measurement); the end
// of the run downloads 7 buffers of the state and the Mur stores, then the
// sample store.
const Row kRows[] = {
    {"", 0, ""},
    {"cuInit:1:100", 254,
     "error: can't initialize for CUDA.\ninfo: cuInit failed: CUDA_ERROR_NO_DEVICE.\n"},
    {"cuCtxCreate_v2:1:2", 254,
     "error: can't initialize for CUDA.\ninfo: cuCtxCreate_v2 failed: "
     "CUDA_ERROR_OUT_OF_MEMORY.\n"},
    {"cuModuleLoadDataEx:1:218", 254,
     "error: can't initialize for CUDA.\ninfo: cuModuleLoadDataEx failed: "
     "CUDA_ERROR_INVALID_PTX.\ninfo: JIT log: ptxas fatal   : stub refuses this module\n"},
    {"cuModuleGetFunction:5:500", 254,
     "error: can't initialize for CUDA.\ninfo: cuModuleGetFunction(source) failed: "
     "CUDA_ERROR_NOT_FOUND.\n"},
    {"cuMemAlloc_v2:3:2", 254,
     "error: can't allocate memory for CUDA.\ninfo: cuMemAlloc_v2(H array, 6860 bytes) "
     "failed: CUDA_ERROR_OUT_OF_MEMORY.\n"},
    {"cuMemcpyHtoD_v2:2:1", 254,
     "error: can't allocate memory for CUDA.\ninfo: cuMemcpyHtoD_v2(E array) failed: "
     "CUDA_ERROR_INVALID_VALUE.\n"},
    {"cuMemGetInfo_v2:1:3", 254,
     "error: can't allocate memory for CUDA.\ninfo: cuMemGetInfo_v2 failed: "
     "CUDA_ERROR_NOT_INITIALIZED.\n"},
    {"cuMemGetInfo_v2:2:3", 254,
     "\nerror: cuMemGetInfo_v2 failed: CUDA_ERROR_NOT_INITIALIZED.\n"
     "error: the GPU run stopped after 0 of 20 samples; no result files were written.\n"},
    {"cuMemAlloc_v2:13:2", 254,
     "\nerror: cuMemAlloc_v2(compact fields, 26496 bytes) failed: CUDA_ERROR_OUT_OF_MEMORY.\n"
     "error: the GPU run stopped after 0 of 20 samples; no result files were written.\n"},
    {"cuMemcpyHtoD_v2:15:1", 254,
     "\nerror: cuMemcpyHtoD_v2(coefficient table) failed: CUDA_ERROR_INVALID_VALUE.\n"
     "error: the GPU run stopped after 0 of 20 samples; no result files were written.\n"},
    {"cuLaunchKernel:40:719", 254,
     "\nerror: cuLaunchKernel(compact_meas) failed: CUDA_ERROR_LAUNCH_FAILED.\n"
     "error: the GPU run stopped after 3 of 20 samples; no result files were written.\n"},
    {"cuLaunchKernel:2:1", 254,
     "\nerror: cuLaunchKernel(compact_e_mur) failed: CUDA_ERROR_INVALID_VALUE.\n"
     "error: the GPU run stopped after 0 of 20 samples; no result files were written.\n"},
    {"cuCtxSynchronize:5:700", 254,
     "\nerror: cuCtxSynchronize failed: CUDA_ERROR_ILLEGAL_ADDRESS.\n"
     "error: the GPU run stopped after 4 of 20 samples; no result files were written.\n"},
    {"cuMemcpyDtoH_v2:1:700", 254,
     "\nerror: cuMemcpyDtoH_v2(compact fields) failed: CUDA_ERROR_ILLEGAL_ADDRESS.\n"
     "error: the GPU run stopped after 20 of 20 samples; no result files were written.\n"},
    {"cuMemcpyDtoH_v2:8:700", 254,
     "- Sending CUDA to CPU...\nerror: cuMemcpyDtoH_v2(sample store) failed: "
     "CUDA_ERROR_ILLEGAL_ADDRESS.\nerror: the GPU run failed; no result files were written.\n"},
    {"cuCtxSynchronize:21:700", 254,
     "- Sending CUDA to CPU...\nerror: cuCtxSynchronize failed: CUDA_ERROR_ILLEGAL_ADDRESS.\n"
     "error: the GPU run failed; no result files were written.\n"},
};

std::vector<std::filesystem::path> resultFiles(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const auto ext = e.path().extension();
    if (ext == ".txt" || ext == ".frq") out.push_back(e.path().filename());
  }
  return out;
}

// The box's one layer: a source and a probe.
void writeLayer(const std::filesystem::path& dir) {
  std::ofstream csv(dir / "layer.csv");
  for (int y = 0; y < 6; ++y)
    csv << (y == 2 ? "0,0,0 CW:Z:1:3e9,0,0,0\n" : y == 4 ? "0,0,0,0 pa,0,0\n" : "0,0,0,0,0,0\n");
}

}  // namespace

TEST(GpuDriverFailures, EachFailedCallIsNamedAndLeavesNoResultFiles) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.fail);
    auto dir = tavro::test::scratchDir("gpu_stub");
    writeLayer(dir);
    const std::string env = std::string("LD_LIBRARY_PATH=") + TAVRO_STUB_CUDA_DIR +
                            " STUB_CUDA_FAIL=" + tavro::test::shellQuote(row.fail);
    const auto r = tavro::test::runProgram(
        {"-area", "6",        "6",   "4",      "-unit", "1e-3",      "1e-3",
         "1e-3",  "-n",       "20",  "-layer", "1",     "layer.csv", "-timelog",
         "txt",   "-freqlog", "frq", "-cuda",  "0",     "-batch"},
        dir, env, TAVRO_GPU_PROGRAM);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.err.find("stub:"), std::string::npos) << r.err;  // nothing left allocated
    if (row.status == 0) {
      EXPECT_EQ(r.err.find("error:"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("- Running with CUDA on Stub GPU #0.\n"), std::string::npos);
      EXPECT_EQ(resultFiles(dir).size(), 4u);  // the source cell is a probe too
      continue;
    }
    EXPECT_NE(r.err.find(row.messages), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("calculation complete"), std::string::npos);
    EXPECT_TRUE(resultFiles(dir).empty());
  }
}

// The same box with a 2-cell absorbing layer: the first step uploads the
// 8 non-empty buffers of the state, then per slab its coefficient table
// and its psi records; the end of the run downloads the state, the Mur
// stores, then the six slabs' psi. With -vtk every snapshot brings the
// state back first (its first copy the fields). The window, which would
// step the records kernels (no layer), is refused before the set-up.
TEST(GpuDriverFailures, AbsorbingLayerRunsAndFailures) {
  struct PmlRow {
    std::vector<std::string> extra;  // after -pml 2 -cuda 0
    const char* fail;
    int status;
    const char* messages;
  };
  const PmlRow rows[] = {
      {{"-batch"}, "", 0, ""},
      {{"-batch"},
       "cuMemcpyHtoD_v2:22:1",
       254,
       "error: cuMemcpyHtoD_v2(layer psi) failed: CUDA_ERROR_INVALID_VALUE.\n"
       "error: the GPU run stopped after 0 of 20 samples; no result files were written.\n"},
      {{"-batch"},
       "cuMemcpyDtoH_v2:7:700",
       254,
       "error: cuMemcpyDtoH_v2(layer psi) failed: CUDA_ERROR_ILLEGAL_ADDRESS.\n"
       "error: the GPU run stopped after 20 of 20 samples; no result files were written.\n"},
      {{"-batch"}, "cuLaunchKernel:9:719", 254, "error: cuLaunchKernel(compact_e_pml) failed"},
      {{"-batch", "-vtk", "5", "snap"}, "", 0, ""},
      {{"-batch", "-vtk", "5", "snap"},
       "cuMemcpyDtoH_v2:1:700",
       254,
       "error: cuMemcpyDtoH_v2(compact fields) failed: CUDA_ERROR_ILLEGAL_ADDRESS.\n"
       "error: the GPU run stopped after 5 of 20 samples; no result files were written.\n"},
      {{},
       "",
       255,
       "error: -pml with -cuda runs in batch runs only (-batch); leave out -cuda or add "
       "-batch.\n"},
  };
  for (const PmlRow& row : rows) {
    SCOPED_TRACE(std::string(row.fail) + " " + std::to_string(row.extra.size()));
    auto dir = tavro::test::scratchDir("gpu_stub_pml");
    writeLayer(dir);
    std::vector<std::string> args = {"-area",     "6",        "6",   "4",        "-unit",  "1e-3",
                                     "1e-3",      "1e-3",     "-n",  "20",       "-layer", "1",
                                     "layer.csv", "-timelog", "txt", "-freqlog", "frq",    "-pml",
                                     "2",         "-cuda",    "0"};
    args.insert(args.end(), row.extra.begin(), row.extra.end());
    const std::string env = std::string("LD_LIBRARY_PATH=") + TAVRO_STUB_CUDA_DIR +
                            " STUB_CUDA_FAIL=" + tavro::test::shellQuote(row.fail);
    const auto r = tavro::test::runProgram(args, dir, env, TAVRO_GPU_PROGRAM);
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_EQ(r.err.find("stub:"), std::string::npos) << r.err;
    if (row.status == 0) {
      EXPECT_EQ(r.err.find("error:"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find("absorbing layer : 2[grids]"), std::string::npos) << r.err;
      EXPECT_EQ(resultFiles(dir).size(), 4u);
      EXPECT_EQ(std::filesystem::exists(dir / "snap_000020.vti"), row.extra.size() > 1);
      continue;
    }
    EXPECT_NE(r.err.find(row.messages), std::string::npos) << r.err;
    EXPECT_TRUE(resultFiles(dir).empty());
  }
}

TEST(GpuDriverFailures, MissingDeviceNumberIsNamed) {
  auto dir = tavro::test::scratchDir("gpu_stub_device");
  const auto r = tavro::test::runProgram({"-area", "4", "4", "4", "-cuda", "1", "-batch"}, dir,
                                         std::string("LD_LIBRARY_PATH=") + TAVRO_STUB_CUDA_DIR,
                                         TAVRO_GPU_PROGRAM);
  EXPECT_EQ(r.status, 254);
  EXPECT_NE(r.err.find("error: can't initialize for CUDA.\ninfo: cuDeviceGet(1) failed: "
                       "CUDA_ERROR_INVALID_DEVICE.\n"),
            std::string::npos)
      << r.err;
}

#endif
