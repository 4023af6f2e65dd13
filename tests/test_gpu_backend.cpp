// The GPU back end where no GPU is needed: the engine's hand-over to an
// installed back end, the module the program carries, the device buffer
// sizes, and the program tavro without a driver.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>

#include <cstring>
#include <map>
#include <regex>

#include "app/run_driver.h"
#include "cli_runner.h"
#include "engine/colouring.h"
#include "engine/field_kernels.h"
#include "engine/field_update.h"
#include "engine/gpu_backend.h"
#include "model_fixture.h"
#if defined(TAVRO_GPU_PROGRAM)
#include "gpu/gpu_calls.h"
#include "gpu/gpu_context.h"
#endif

using namespace tavro;
using tavro::test::ConsoleCapture;

namespace {

// A back end that records what the engine hands it.
struct Recorder {
  GpuPrepareResult prepareResult = GpuPrepareResult::kReady;
  bool fieldsOk = true;
  std::vector<std::string> calls;
};
Recorder* g_rec = nullptr;

const GpuBackend kRecording = {
    [](SimulationEngine&) {
      g_rec->calls.push_back("prepare");
      return g_rec->prepareResult;
    },
    [](SimulationEngine&) {
      g_rec->calls.push_back("batch");
      return true;
    },
    [](SimulationEngine&, bool colour) {
      g_rec->calls.push_back(colour ? "interactive+colour" : "interactive");
      return true;
    },
    [](SimulationEngine&) {
      g_rec->calls.push_back("recolour");
      return true;
    },
    [](SimulationEngine&) {
      g_rec->calls.push_back("copyback");
      return true;
    },
    [] { return std::string("Test GPU #0"); },
    [] { return uint64_t{537001984}; },
    [] { return uint64_t{8589934592}; },
    [] { return std::string("info: cuInit failed: CUDA_ERROR_NO_DEVICE.\n"); },
    [] { g_rec->calls.push_back("discard"); },
    [](SimulationEngine&) {
      g_rec->calls.push_back("fetch");
      return true;
    },
    [](SimulationEngine&) {
      g_rec->calls.push_back("fields");
      return g_rec->fieldsOk;
    },
};

struct Installed {
  explicit Installed(Recorder& r) {
    g_rec = &r;
    InstallGpuBackend(&kRecording);
  }
  ~Installed() {
    InstallGpuBackend(nullptr);
    g_rec = nullptr;
  }
};

}  // namespace

TEST(GpuBackend, SetUpPreparesTheDeviceAndReportsItOrFails) {
  struct Row {
    GpuPrepareResult result;
    int ok;
    std::string tail;
  } rows[] = {
      {GpuPrepareResult::kReady, 1,
       "- Running with CUDA on Test GPU #0.\nCUDA memory 512.125[Mbytes] used in total "
       "8192[Mbytes]\n"},
      {GpuPrepareResult::kInitFailed, 0,
       "- measure setting...\nerror: can't initialize for CUDA.\n"
       "info: cuInit failed: CUDA_ERROR_NO_DEVICE.\n"},
      {GpuPrepareResult::kAllocFailed, 0,
       "- measure setting...\nerror: can't allocate memory for CUDA.\n"
       "info: cuInit failed: CUDA_ERROR_NO_DEVICE.\n"},
  };
  for (const Row& row : rows) {
    Recorder rec;
    rec.prepareResult = row.result;
    Installed installed(rec);
    SimulationEngine eng;
    eng.cudaFlag = 1;
    ModelRecord model;
    ASSERT_TRUE(test::vacuumModel(model, 4, 4, 4));
    std::string log;
    EXPECT_EQ(test::setQuiet(eng, model, &log), row.ok);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"discard", "prepare"}));
    ASSERT_GE(log.size(), row.tail.size());
    EXPECT_EQ(log.substr(log.size() - row.tail.size()), row.tail);
  }
}

TEST(GpuBackend, StepsAndColouringGoToTheDeviceOnlyWhenTheRunAskedForIt) {
  Recorder rec;
  Installed installed(rec);
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumBox(eng, model, 8, 8, 8));
  const FDTD_SAM before = eng.sam;

  // Without -cuda the installed back end is never called.
  stepBatch(eng);
  ColourCells(eng);
  EXPECT_TRUE(rec.calls.empty());

  eng.cudaFlag = 1;
  eng.sam = before;
  EXPECT_EQ(stepBatchSteps(eng, 2), 1);  // one device step per call
  stepBatch(eng);
  stepInteractive(eng);
  stepInteractive(eng, false);
  ColourCells(eng);
  EXPECT_EQ(rec.calls, (std::vector<std::string>{"batch", "batch", "interactive+colour",
                                                 "interactive", "recolour"}));
  // The host advances the counters after every device step.
  EXPECT_EQ(eng.sam.stepCount, before.stepCount + 4);
  FDTD_SAM expected = before;
  for (int i = 0; i < 4; ++i) advanceCounters(expected);
  EXPECT_EQ(eng.sam.time, expected.time);
}

// A hook of a GPU batch run (field snapshots) reads the host, so the
// device's fields come back before every call; a failed copy stops the run
// before the hook.
TEST(GpuBackend, BatchHooksReadTheFieldsBroughtBackFromTheDevice) {
  for (const bool copies : {true, false}) {
    Recorder rec;
    rec.fieldsOk = copies;
    Installed installed(rec);
    SimulationEngine eng;
    ModelRecord model;
    ASSERT_TRUE(test::vacuumBox(eng, model, 8, 8, 8));
    eng.cudaFlag = 1;
    eng.sam.stepLimit = 6;
    std::vector<std::string> before;  // the last call before each hook
    StepHook hook;
    hook.every = 2;
    hook.call = [&](int64_t) { before.push_back(rec.calls.back()); };
    ConsoleCapture console;
    EXPECT_EQ(RunBatch(eng, &hook), copies);
    EXPECT_EQ(before, copies ? std::vector<std::string>(3, "fields") : std::vector<std::string>());
    EXPECT_EQ(eng.gpuFailed, !copies);
    EXPECT_EQ(console.text().find("stopped after 2 of 6") != std::string::npos, !copies);
  }
}

TEST(GpuBackend, DeviceReportFigures) {
  EXPECT_EQ(GpuMbytes(537001984), 512.125f);
  EXPECT_EQ(GpuMbytes(8589934592ull), 8192.0f);
  EXPECT_EQ(GpuMbytes(1023), 0.0f);
}

namespace {

// A back end whose "device" holds buffers of the sizes of the host arrays it
// was prepared from, and that checks them against the host grid whenever it
// colours (the copy of the colour bytes back to the host).
struct FakeDevice {
  GpuPrepareResult prepareResult = GpuPrepareResult::kReady;
  std::vector<size_t> held;  // E, H and colour bytes; empty = nothing held
  int mismatches = 0;
};
FakeDevice* g_dev = nullptr;

std::vector<size_t> hostSizes(const SimulationEngine& eng) {
  return {eng.grid.e.bytes(), eng.grid.h.bytes(), eng.grid.cellColor.bytes()};
}

bool fakeColour(SimulationEngine& eng) {
  if (g_dev->held.empty()) return true;
  if (g_dev->held != hostSizes(eng)) {
    ++g_dev->mismatches;
    return false;
  }
  std::memset(eng.grid.cellColor.data(), 7, g_dev->held[2]);
  return true;
}

const GpuBackend kFakeDevice = {
    [](SimulationEngine& eng) {
      // A failed preparation releases what it made, as the CUDA back end does.
      g_dev->held.clear();
      if (g_dev->prepareResult == GpuPrepareResult::kReady) g_dev->held = hostSizes(eng);
      return g_dev->prepareResult;
    },
    [](SimulationEngine& eng) { return fakeColour(eng); },
    [](SimulationEngine& eng, bool) { return fakeColour(eng); },
    fakeColour,
    [](SimulationEngine&) { return true; },
    [] { return std::string("Fake GPU #0"); },
    [] { return uint64_t{0}; },
    [] { return uint64_t{0}; },
    [] { return std::string(); },
    [] { g_dev->held.clear(); },
    [](SimulationEngine&) { return true; },
    [](SimulationEngine&) { return true; },
};

}  // namespace

// The window's Run sets up a second model in the same process: whatever
// becomes of it, the device holds the buffers of the host grid or nothing,
// and colouring never meets buffers of another grid.
TEST(GpuBackend, SecondSetUpKeepsDeviceAndHostGridsTogether) {
  struct Row {
    const char* what;
    GpuPrepareResult prepare;
    const char* pin;  // a source text of the second model
    int ok;
  } rows[] = {
      {"accepted", GpuPrepareResult::kReady, "CW Z 1 1e9", 1},
      {"allocation refused", GpuPrepareResult::kAllocFailed, "CW Z 1 1e9", 0},
      {"start-up refused", GpuPrepareResult::kInitFailed, "CW Z 1 1e9", 0},
      {"model refused after the grid was rebuilt", GpuPrepareResult::kReady, "PULSE Z 1", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeDevice dev;
    g_dev = &dev;
    InstallGpuBackend(&kFakeDevice);
    SimulationEngine eng;
    eng.cudaFlag = 1;
    ModelRecord first, second;
    ASSERT_TRUE(test::vacuumModel(first, 8, 8, 8));
    ASSERT_EQ(test::setQuiet(eng, first), 1);
    ASSERT_EQ(dev.held, hostSizes(eng));

    ASSERT_TRUE(test::vacuumModel(second, 4, 5, 6));
    second.setPin(second.index(1, 1, 1), row.pin);
    dev.prepareResult = row.prepare;
    EXPECT_EQ(test::setQuiet(eng, second), row.ok);
    EXPECT_TRUE(dev.held.empty() || dev.held == hostSizes(eng));
    EXPECT_EQ(dev.held.empty(), row.ok == 0);
    ColourCells(eng);
    if (row.ok) stepInteractive(eng);
    EXPECT_EQ(dev.mismatches, 0);
    EXPECT_FALSE(eng.gpuFailed);
    InstallGpuBackend(nullptr);
    g_dev = nullptr;
  }
}

#if defined(TAVRO_GPU_PROGRAM)

namespace {

// Entry points of a PTX text with the byte sizes of their parameters.
std::map<std::string, std::vector<size_t>> ptxEntries(const std::string& ptx) {
  std::map<std::string, std::vector<size_t>> out;
  const std::regex entry(R"(\.entry\s+(\w+)\s*\(([^)]*)\))");
  // A record passed by value is an aligned array of bytes: ".b8 name[80]".
  const std::regex param(R"(\.param\s+(?:\.align\s+\d+\s+)?\.[usb](\d+)\s+\w+(?:\[(\d+)\])?)");
  for (std::sregex_iterator it(ptx.begin(), ptx.end(), entry), end; it != end; ++it) {
    std::vector<size_t>& sizes = out[(*it)[1]];
    const std::string params = (*it)[2];
    for (std::sregex_iterator p(params.begin(), params.end(), param); p != end; ++p)
      sizes.push_back(std::stoul((*p)[1]) / 8 * ((*p)[2].matched ? std::stoul((*p)[2]) : 1));
  }
  return out;
}

// The body of one entry point.
std::string ptxBody(const std::string& ptx, const std::string& name) {
  const size_t at = ptx.find(".entry " + name + "(");
  const size_t next = ptx.find(".entry ", at + 1);
  return ptx.substr(at, next == std::string::npos ? std::string::npos : next - at);
}

}  // namespace

TEST(GpuModule, CarriesTheKernelsWithTheHostsArgumentLists) {
  const std::string ptx = kGpuModulePtx;
  EXPECT_EQ(ptx, test::readFile(TAVRO_PTX_FILE));
  EXPECT_NE(ptx.find(".address_size 64"), std::string::npos);
  EXPECT_TRUE(std::regex_search(ptx, std::regex(R"(\.target sm_\d+)")));
  const auto entries = ptxEntries(ptx);
  EXPECT_EQ(entries.size(), size_t{kKernelCount});
  for (int k = 0; k < kKernelCount; ++k) {
    SCOPED_TRACE(kGpuKernelNames[k]);
    ASSERT_EQ(entries.count(kGpuKernelNames[k]), 1u);
    size_t host[kMaxKernelArgs];
    const int n = GpuKernelArgSizes(k, host);
    EXPECT_EQ(entries.at(kGpuKernelNames[k]), std::vector<size_t>(host, host + n));
    // The field, boundary, measurement and colour arithmetic is free of
    // fused multiply-adds, as on the CPU (the source kernels' sin and exp
    // come from the device library).
    const std::string body = ptxBody(ptx, kGpuKernelNames[k]);
    if (k != kSource && k != kCompactSource) {
      EXPECT_EQ(body.find("fma."), std::string::npos);
    }
    // The compact state's cell, face and layer kernels take the descriptor
    // by value (no barrier), find their cell without dividing, and read the
    // fields they do not write (the coefficients) through the read-only path.
    if ((k >= kCompactH && k <= kCompactEMur) || k == kCompactHPml || k == kCompactEPml) {
      EXPECT_EQ(body.find("bar.sync"), std::string::npos);
      EXPECT_FALSE(std::regex_search(body, std::regex(R"((div|rem)\.[su]\d+)")));
      EXPECT_NE(body.find("ld.global.nc"), std::string::npos);
    }
  }
}

TEST(GpuModule, BufferSizesFollowTheRecordLayouts) {
  struct Row {
    int X, Y, Z;
    bool withSourceAndProbes;
  } rows[] = {{3, 4, 5, true}, {6, 2, 3, false}};
  for (const Row& r : rows) {
    SimulationEngine eng;
    eng.requestedStepLimit = 10;
    ModelRecord model;
    ASSERT_TRUE(test::vacuumModel(model, r.X, r.Y, r.Z));
    if (r.withSourceAndProbes) {
      model.setPin(model.index(1, 1, 1), "CW Z 1 1e9");
      model.setProbe(model.index(1, 2, 1), "a");
      model.setProbe(model.index(2, 2, 2), "b");
    }
    ASSERT_EQ(test::setQuiet(eng, model), 1);
    size_t sizes[kBufferCount];
    GpuBufferSizes(eng, sizes);
    const size_t N = size_t(r.X) * r.Y * r.Z, P = size_t(r.X + 1) * (r.Y + 1) * (r.Z + 1);
    const size_t sources = r.withSourceAndProbes ? 1 : 0, probes = r.withSourceAndProbes ? 2 : 0;
    const size_t expected[kBufferCount] = {
        80,
        40 * P,
        28 * P,
        8 * (size_t(r.X) * r.Y + size_t(r.Y) * r.Z + size_t(r.X) * r.Z),
        64 * size_t(r.X) * r.Y,
        64 * size_t(r.Y) * r.Z,
        64 * size_t(r.X) * r.Z,
        44,
        32 * sources,
        8 * probes,
        100 * 10 * probes,
        N};
    EXPECT_EQ(std::vector<size_t>(sizes, sizes + kBufferCount),
              std::vector<size_t>(expected, expected + kBufferCount));
  }
}

namespace {

// Whether the loader finds a CUDA driver other than the tests' stand-in
// (which a test of this process may have loaded).
bool realDriverInstalled() {
  void* lib = dlopen("libcuda.so.1", RTLD_NOW);
  if (!lib) return false;
  link_map* map = nullptr;
  const bool stub = dlinfo(lib, RTLD_DI_LINKMAP, &map) == 0 && map &&
                    std::string(map->l_name).find("stub_cuda") != std::string::npos;
  dlclose(lib);
  return !stub;
}

}  // namespace

TEST(GpuProgram, CudaOptionWithoutADriver) {
  auto dir = test::scratchDir("gpu_program");
  const std::string banner = test::kBanner;
  auto r = test::runProgram({"-help"}, dir, "", TAVRO_GPU_PROGRAM);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, banner + test::readFile(std::filesystem::path(TAVRO_SOURCE_DIR) / "tests" /
                                           "golden" / "usage_cuda.txt"));
  r = test::runProgram({"-cuda", "-1", "-batch"}, dir, "", TAVRO_GPU_PROGRAM);
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, banner + "error: GPU# have to be more than 0.\n");

  if (realDriverInstalled())
    GTEST_SKIP() << "a CUDA driver is installed; scripts/gpu-check runs the GPU";
  r = test::runProgram({"-area", "4", "4", "4", "-cuda", "0", "-batch"}, dir, "",
                       TAVRO_GPU_PROGRAM);
  EXPECT_EQ(r.status, 254);
  // The line of the failure, then its cause.
  EXPECT_NE(r.err.find("- measure setting...\nerror: can't initialize for CUDA.\n"
                       "info: the CUDA driver could not be loaded: libcuda.so.1"),
            std::string::npos)
      << r.err;
}

#endif

#if defined(TAVRO_GPU_PROGRAM) && defined(TAVRO_STUB_CUDA_DIR)

// The CUDA back end itself over the stand-in driver, loaded into this
// process (the back end's dlopen of libcuda.so.1 then finds it by its name):
// its buffers follow the host grid through the window's set-ups, and a host
// grid it does not hold is refused instead of copied over.
TEST(GpuContext, DeviceBuffersFollowTheHostGrid) {
  void* stub = dlopen(TAVRO_STUB_CUDA_DIR "/libcuda.so.1", RTLD_NOW | RTLD_GLOBAL);
  ASSERT_NE(stub, nullptr) << dlerror();
  InstallCudaBackend();
  SimulationEngine eng;
  eng.cudaFlag = 1;
  auto holds = [&] { return DeviceHoldsGrid(TheGpuContext(), eng); };

  ModelRecord first, refused, second;
  ASSERT_TRUE(test::vacuumModel(first, 8, 8, 8));
  first.setProbe(first.index(2, 2, 2), "a");
  std::string log;
  ASSERT_EQ(test::setQuiet(eng, first, &log), 1) << log;
  EXPECT_TRUE(holds());
  stepBatch(eng);

  // A model refused after the host grid was rebuilt: the device is empty and
  // colouring leaves it so.
  ASSERT_TRUE(test::vacuumModel(refused, 4, 4, 4));
  refused.setPin(refused.index(1, 1, 1), "PULSE Z 1");
  EXPECT_EQ(test::setQuiet(eng, refused), 0);
  EXPECT_FALSE(TheGpuContext().allocated);
  ColourCells(eng);
  EXPECT_FALSE(eng.gpuFailed);

  ASSERT_TRUE(test::vacuumModel(second, 5, 4, 6));
  ASSERT_EQ(test::setQuiet(eng, second), 1);
  EXPECT_TRUE(holds());
  stepInteractive(eng);
  EXPECT_FALSE(eng.gpuFailed);

  // A host grid rebuilt behind the back end's back is not the device's.
  ASSERT_EQ(eng.grid.buildGrid(9, 9, 9), 1);
  {
    test::ConsoleCapture capture;
    ColourCells(eng);
    EXPECT_EQ(capture.text(), "error: the GPU holds no buffers of this run.\n");
  }
  EXPECT_TRUE(eng.gpuFailed);
  InstallGpuBackend(nullptr);
}

#endif
