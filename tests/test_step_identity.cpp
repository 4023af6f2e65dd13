// The fast time step against the plain one.
//
// The fast passes evaluate the same float32 formulas on sixteen or eight cells
// at a time, keep column copies of the fields and group the passes of a step
// differently; nothing about the arithmetic
// changes, so after any number of steps every float of E and H (coefficients
// included: a SWITCH source rewrites them), of the Mur stores and of the
// recorded samples must equal the plain step's bit for bit. Box sizes mix odd
// and even counts and z runs that are and are not multiples of eight, so that
// the cells left over at the end of a row are exercised.
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

#include "app/run_driver.h"
#include "engine/console.h"
#include "engine/field_update.h"
#include "model_fixture.h"

namespace tavro {
namespace {

// Bytes that differ between two buffers of the same records, counted in floats.
template <class T>
size_t differingFloats(const Buffer<T>& a, const Buffer<T>& b) {
  if (a.size() != b.size()) return SIZE_MAX;
  const float* pa = reinterpret_cast<const float*>(a.data());
  const float* pb = reinterpret_cast<const float*>(b.data());
  size_t n = 0;
  for (size_t i = 0; i < a.bytes() / sizeof(float); ++i)
    if (std::memcmp(pa + i, pb + i, sizeof(float)) != 0) ++n;
  return n;
}

// A box of X x Y x Z cells of 1 mm: a copper bar, a lossy anisotropic
// dielectric block, five kinds of source (one SWITCH toggling a cell between
// copper and vacuum) and probes inside, on a face and next to the sources.
bool busyModel(ModelRecord& model, int X, int Y, int Z) {
  if (!test::vacuumModel(model, X, Y, Z)) return false;
  model.materialX[1] = model.materialY[1] = model.materialZ[1] = Material{5.8e7f, 1.0f, 1.0f};
  model.materialX[2] = Material{0.02f, 4.0f, 1.0f};
  model.materialY[2] = Material{0.01f, 3.0f, 2.0f};
  model.materialZ[2] = Material{0.0f, 5.0f, 1.5f};
  for (int x = 2; x < X - 2; ++x) model.data[model.index(x, Y / 2, Z / 3)] = 1;
  for (int x = X / 2; x < X; ++x)
    for (int y = 0; y < Y / 2; ++y)
      for (int z = Z / 2; z < Z; ++z) model.data[model.index(x, y, z)] = 2;
  model.setPin(model.index(3, 4, 5), "CW Z 2 3e10");
  model.setPin(model.index(X / 2, Y / 3, 2), "GAUSS X 1");
  model.setPin(model.index(X - 3, Y - 3, Z - 4), "PULSE Y -1.5 2e10");
  model.setPin(model.index(1, Y - 2, Z / 2), "DC Z 0.5");
  model.data[model.index(X / 3, 2, Z - 3)] = 1;
  model.setPin(model.index(X / 3, 2, Z - 3), "SWITCH P 0 1e10");
  model.setProbe(model.index(3, 4, 5), "src");
  model.setProbe(model.index(X / 2, Y / 2, Z / 2), "mid");
  model.setProbe(model.index(0, Y / 2, Z / 2), "face");
  model.setProbe(model.index(X / 3, 2, Z - 3), "switch");
  return true;
}

void expectSameState(const SimulationEngine& a, const SimulationEngine& b,
                     const std::string& what) {
  EXPECT_EQ(differingFloats(a.grid.e, b.grid.e), 0u) << what << ": E";
  EXPECT_EQ(differingFloats(a.grid.h, b.grid.h), 0u) << what << ": H";
  EXPECT_EQ(differingFloats(a.grid.murX, b.grid.murX), 0u) << what << ": Mur X";
  EXPECT_EQ(differingFloats(a.grid.murY, b.grid.murY), 0u) << what << ": Mur Y";
  EXPECT_EQ(differingFloats(a.grid.murZ, b.grid.murZ), 0u) << what << ": Mur Z";
  EXPECT_EQ(differingFloats(a.samples, b.samples), 0u) << what << ": samples";
  EXPECT_EQ(a.sam.stepCount, b.sam.stepCount);
}

// Restores the thread count a test changed.
class ThreadCount {
 public:
  explicit ThreadCount(int n) : saved_(omp_get_max_threads()) { omp_set_num_threads(n); }
  ~ThreadCount() { omp_set_num_threads(saved_); }

 private:
  int saved_;
};

TEST(StepIdentity, FastStepEqualsPlainStepBitForBit) {
  struct Size {
    int x, y, z;
  };
  // z = 21: two blocks of eight and five cells left; z = 16: whole blocks;
  // z = 7: a row shorter than one block; z = 33 with odd x and y. Boxes of
  // 7 and 5 cells along x give the threads of a team of three ranges of two
  // planes, or too few planes to sweep H and E together.
  const Size sizes[] = {{19, 14, 21}, {16, 24, 16}, {12, 9, 7},
                        {9, 11, 33},  {7, 8, 12},   {5, 12, 10}};
  // Every vector width (16 and 8 lanes where the processor has them, 1) and
  // the sweep in blocks of two or three rows as well as in one block.
  // The compact stepping state (compact) on the same paths.
  struct Path {
    int lanes;
    int64_t blockBytes;
    bool compact;
  };
  const Path paths[] = {
      {16, 900 * 1024, false}, {16, 1, false},         {8, 900 * 1024, false}, {8, 1, false},
      {1, 1, false},           {16, 900 * 1024, true}, {8, 1, true},           {1, 1, true}};
  for (const Size& s : sizes)
    for (int threads : {1, 3})
      for (const Path& path : paths) {
        const std::string what =
            std::to_string(s.x) + "x" + std::to_string(s.y) + "x" + std::to_string(s.z) + ", " +
            std::to_string(threads) + " threads, " + std::to_string(path.lanes) + " lanes, " +
            std::to_string(path.blockBytes) + " block bytes" + (path.compact ? ", compact" : "");
        ModelRecord model;
        ASSERT_TRUE(busyModel(model, s.x, s.y, s.z));
        SimulationEngine fast, plain;
        fast.maxLanes = path.lanes;
        fast.sweepBlockBytes = path.blockBytes;
        fast.requestedStepLimit = plain.requestedStepLimit = 90;
        ASSERT_EQ(test::setQuiet(fast, model), 1) << what;
        ASSERT_EQ(test::setQuiet(plain, model), 1) << what;
        ThreadCount team(threads);
        ASSERT_EQ(path.compact && beginCompactRun(fast), path.compact) << what;
        for (int i = 0; i < 90; ++i) {
          stepBatch(fast);
          stepBatchReference(plain);
        }
        endCompactRun(fast);
        expectSameState(fast, plain, what);
        // The run really moved: the fields are not all zero.
        float largest = 0.0f;
        for (const ECell& c : fast.grid.e) largest = std::max(largest, std::fabs(c.emag));
        EXPECT_GT(largest, 0.0f) << what;
      }
}

TEST(StepIdentity, TwoStepSweepEqualsTwoPlainSteps) {
  // Two steps per sweep: the second step follows the first one plane behind
  // and one row lower, sources, samples and the E boundary run per plane and
  // block, and the threads hand over the planes at the ends of their ranges.
  // Sizes give teams of 1 to 3 threads ranges of six to twelve planes,
  // blocks of three rows and more, and a decimated sampling (cull 3) whose
  // samples fall on the first, the second or neither step of a sweep. With
  // the absorbing layer (pml cells) the reference is the single swept step,
  // which the layer's own tests check against its plain passes; the layer's
  // auxiliary fields must match too.
  struct Case {
    int x, y, z, threads;
    int64_t blockBytes;
    int lanes;
    int32_t cull;
    int pml;
    bool compact = false;
  };
  const Case cases[] = {
      {19, 14, 21, 3, 900 * 1024, 16, 0, 0}, {19, 14, 21, 3, 1, 16, 3, 0},
      {24, 9, 16, 2, 1, 16, 0, 0},           {12, 3, 7, 2, 900 * 1024, 16, 0, 0},
      {13, 10, 33, 1, 1, 16, 0, 0},          {18, 11, 12, 3, 1, 8, 3, 0},
      {18, 11, 12, 1, 900 * 1024, 1, 0, 0},  {13, 10, 9, 2, 1, 16, 3, 4},
      {13, 10, 9, 1, 900 * 1024, 16, 0, 4},  {11, 9, 12, 2, 1, 8, 0, 4},
      {11, 9, 12, 3, 900 * 1024, 1, 0, 4},   {19, 14, 21, 3, 900 * 1024, 16, 3, 0, true},
      {24, 9, 16, 2, 1, 16, 0, 0, true},     {12, 3, 7, 2, 900 * 1024, 16, 0, 0, true},
      {18, 11, 12, 3, 1, 8, 3, 0, true},     {13, 10, 33, 1, 1, 1, 0, 0, true},
      {13, 10, 9, 2, 1, 16, 3, 4, true},     {11, 9, 12, 3, 900 * 1024, 1, 0, 4, true},
      {11, 9, 12, 1, 1, 8, 0, 2, true}};
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.x) + "x" + std::to_string(c.y) + "x" +
                             std::to_string(c.z) + ", " + std::to_string(c.threads) + " threads, " +
                             std::to_string(c.lanes) + " lanes, " + std::to_string(c.blockBytes) +
                             " block bytes, cull " + std::to_string(c.cull) + ", pml " +
                             std::to_string(c.pml) + (c.compact ? ", compact" : "");
    ModelRecord model;
    ASSERT_TRUE(busyModel(model, c.x, c.y, c.z));
    SimulationEngine fast, plain;
    fast.maxLanes = c.lanes;
    fast.sweepBlockBytes = c.blockBytes;
    fast.pmlCells = plain.pmlCells = c.pml;
    fast.requestedStepLimit = plain.requestedStepLimit = 80;
    ASSERT_EQ(test::setQuiet(fast, model), 1) << what;
    ASSERT_EQ(test::setQuiet(plain, model), 1) << what;
    fast.sam.cull = plain.sam.cull = c.cull;
    ThreadCount team(c.threads);
    ASSERT_EQ(c.compact && beginCompactRun(fast), c.compact) << what;
    // 40 sweeps of two steps, one single step in between to shift the parity;
    // the compact state writes the records back half way and goes on.
    for (int i = 0; i < 81; ++i) {
      ASSERT_EQ(stepBatchSteps(fast, i == 20 ? 1 : 2), i == 20 ? 1 : 2) << what;
      for (int k = i == 20 ? 1 : 2; k > 0; --k)
        c.pml > 0 ? stepBatch(plain) : stepBatchReference(plain);
      if (i == 40 && c.compact) {
        syncRecords(fast);
        expectSameState(fast, plain, what + ", half way");
      }
    }
    endCompactRun(fast);
    expectSameState(fast, plain, what);
    for (int s = 0; s < fast.pml.slabCount; ++s)
      EXPECT_EQ(differingFloats(fast.pml.slabs[s].psi, plain.pml.slabs[s].psi), 0u) << what;
    EXPECT_EQ(fast.sam.cullCounter, plain.sam.cullCounter) << what;
    EXPECT_EQ(std::memcmp(&fast.sam.time, &plain.sam.time, sizeof(float)), 0) << what;
  }
}

TEST(StepIdentity, TwoStepSweepFallsBackToSingleStepsOnSmallBoxes) {
  // Too few planes for the team (three threads need eighteen) or too few
  // rows: one step, still the plain step's values.
  struct Case {
    int x, y, threads;
  };
  for (const Case& c : {Case{17, 8, 3}, Case{20, 2, 1}}) {
    ModelRecord model;
    ASSERT_TRUE(test::vacuumModel(model, c.x, c.y, 9));
    model.setPin(model.index(c.x / 2, 1, 4), "CW Z 1 3e10");
    model.setProbe(model.index(c.x / 2, 1, 4), "p");
    SimulationEngine fast, plain;
    ASSERT_EQ(test::setQuiet(fast, model), 1);
    ASSERT_EQ(test::setQuiet(plain, model), 1);
    ThreadCount team(c.threads);
    for (int i = 0; i < 10; ++i) {
      EXPECT_EQ(stepBatchSteps(fast, 2), 1);
      stepBatchReference(plain);
    }
    expectSameState(fast, plain, std::to_string(c.x) + " x " + std::to_string(c.y));
  }
}

TEST(StepIdentity, BatchRunTakesTwoStepsWithoutChangingItsSamplesOrProgress) {
  // The batch run sweeps two steps at a time where it can; an odd sample
  // limit, with and without decimation, ends on a single step. The samples,
  // the counters and every progress line (time and percentage before each
  // step) must be those of single plain steps.
  for (int32_t cull : {0, 2}) {
    ModelRecord model;
    ASSERT_TRUE(busyModel(model, 14, 8, 9));
    SimulationEngine fast, plain;
    fast.requestedStepLimit = plain.requestedStepLimit = 7;
    ASSERT_EQ(test::setQuiet(fast, model), 1);
    ASSERT_EQ(test::setQuiet(plain, model), 1);
    fast.sam.cull = plain.sam.cull = cull;
    ThreadCount team(2);
    std::ostringstream expected;
    int shown = -1;
    while (plain.sam.stepCount < plain.sam.stepLimit) {
      const int percent = plain.sam.stepCount * 100 / plain.sam.stepLimit;
      if (percent != shown)
        expected << "\r- FDTD calculation " << plain.sam.time << "sec " << percent << "% done.";
      shown = percent;
      stepBatchReference(plain);
    }
    expected << "\r" << std::string(78, ' ') << "\r";
    std::ostringstream console;
    setConsole(&console);
    const bool complete = RunBatch(fast);
    setConsole(nullptr);
    EXPECT_TRUE(complete);
    EXPECT_EQ(console.str(), expected.str()) << "cull " << cull;
    expectSameState(fast, plain, "batch run, cull " + std::to_string(cull));
    EXPECT_EQ(std::memcmp(&fast.sam.time, &plain.sam.time, sizeof(float)), 0);
  }
}

TEST(StepIdentity, VeryLongRowsStillEqualThePlainStep) {
  // Rows of 8200 cells: the column copies of even the smallest block would
  // outgrow the core's cache, so the sweep transposes every neighbour from
  // the records instead; the results must not change.
  ModelRecord model;
  ASSERT_TRUE(busyModel(model, 8, 6, 8200));
  SimulationEngine fast, plain;
  fast.requestedStepLimit = plain.requestedStepLimit = 20;
  ASSERT_EQ(test::setQuiet(fast, model), 1);
  ASSERT_EQ(test::setQuiet(plain, model), 1);
  ThreadCount team(2);
  for (int i = 0; i < 20; ++i) {
    stepBatch(fast);
    stepBatchReference(plain);
  }
  expectSameState(fast, plain, "8 x 6 x 8200");
}

TEST(StepIdentity, FastPassesEqualPlainPassesOnRandomFields) {
  // Fields of random sign and magnitude, with some components exactly zero
  // and some cells whose components sum to exactly zero, so that every branch
  // of the signed magnitude is taken in every lane position.
  ModelRecord model;
  ASSERT_TRUE(busyModel(model, 13, 10, 29));
  SimulationEngine fast, plain;
  ASSERT_EQ(test::setQuiet(fast, model), 1);
  ASSERT_EQ(test::setQuiet(plain, model), 1);
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  std::uniform_int_distribution<int> kind(0, 9);
  auto pick = [&] { return kind(rng) == 0 ? 0.0f : std::ldexp(value(rng), kind(rng) - 5); };
  const GridDesc& d = fast.grid.desc;
  for (int x = 0; x < d.nx; ++x)
    for (int y = 0; y < d.ny; ++y)
      for (int z = 0; z < d.nz; ++z) {
        ECell& e = test::eAt(fast, x, y, z);
        HCell& h = test::hAt(fast, x, y, z);
        e.ex = pick();
        e.ey = pick();
        e.ez = kind(rng) == 1 ? -(e.ex + e.ey) : pick();
        h.hx = pick();
        h.hy = pick();
        h.hz = kind(rng) == 1 ? -(h.hx + h.hy) : pick();
        test::eAt(plain, x, y, z) = e;
        test::hAt(plain, x, y, z) = h;
      }
  ThreadCount team(2);
  for (int i = 0; i < 3; ++i) {
    fast.maxLanes = i == 0 ? 16 : (i == 1 ? 8 : 1);
    updateH(fast);
    updateHPlain(plain);
    EXPECT_EQ(differingFloats(fast.grid.h, plain.grid.h), 0u) << "H pass " << i;
    updateE(fast);
    updateEPlain(plain);
    EXPECT_EQ(differingFloats(fast.grid.e, plain.grid.e), 0u) << "E pass " << i;
  }
}

}  // namespace
}  // namespace tavro
