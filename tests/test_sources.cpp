// Source texts -> source records with their console lines and errors, and the
// source waveforms.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "engine/field_kernels.h"
#include "engine/field_update.h"
#include "engine/sources.h"
#include "model_fixture.h"

namespace tavro {
namespace {

using Pins = std::vector<std::pair<std::array<int, 3>, std::string>>;

// Runs the source setting alone on a 4 x 4 x 4 model with the given texts;
// returns its result and the console text.
int parseSources(SimulationEngine& eng, ModelRecord& model, const Pins& pins, std::string& log,
                 std::vector<int32_t>* use = nullptr) {
  test::vacuumModel(model, 4, 4, 4);
  for (const auto& [c, text] : pins) model.setPin(model.index(c[0], c[1], c[2]), text);
  std::vector<int32_t> counters(kMaterialCount, 0);
  test::ConsoleCapture capture;
  const int ok = sourceSetting(eng, model, use ? *use : counters);
  log = capture.text();
  return ok;
}

TEST(Sources, RecordsAndConsoleLinesInCellOrder) {
  SimulationEngine eng;
  ModelRecord model;
  model.materialX[2].sg = 5.8e7f;
  model.materialX[3].sg = 2.0f;
  std::vector<int32_t> use(kMaterialCount, 0);
  std::string log;
  const Pins pins = {{{3, 3, 3}, "SWITCH N 3 1e8"}, {{1, 2, 3}, "DC Z 1"},
                     {{0, 1, 0}, "GAUSS Y 2 7"},    {{0, 0, 1}, "CW X 1.5 1e9"},
                     {{2, 2, 2}, "probe1"},         {{1, 0, 0}, "PULSE Z -3 2.5e9 extra"},
                     {{2, 0, 0}, "SWITCH P 3 1e8"}};
  test::vacuumModel(model, 4, 4, 4);
  for (const auto& [c, text] : pins) model.setPin(model.index(c[0], c[1], c[2]), text);
  model.data[model.index(2, 0, 0)] = 2;
  {
    test::ConsoleCapture capture;
    ASSERT_EQ(sourceSetting(eng, model, use), 1);
    log = capture.text();
  }
  EXPECT_EQ(log,
            "- source setting...\n"
            "(0,0,1) CW X V=1.5[V] F=1e+09[Hz]\n"
            "(0,1,0) GAUSS Y V=2[V]\n"
            "(1,0,0) PULSE Z V=-3[V] F=2.5e+09[Hz]\n"
            "(1,2,3) DC Z V=1[V]\n"
            "(2,0,0) SWITCH P ID_on=2 ID_off=3 F=1e+08[Hz]\n"
            "(3,3,3) SWITCH N ID_on=3 ID_off=0 F=1e+08[Hz]\n");
  ASSERT_EQ(eng.sam.sourceCount, 6);
  ASSERT_EQ(eng.sources.size(), 6u);
  const FDTD_SRC* s = eng.sources.data();
  EXPECT_EQ(s[0].cell, (0 * 5 + 0) * 5 + 1);
  EXPECT_EQ(s[3].cell, (1 * 5 + 2) * 5 + 3);
  EXPECT_EQ(s[5].cell, (3 * 5 + 3) * 5 + 3);
  EXPECT_EQ(s[0].type, kSrcCW);
  EXPECT_EQ(s[0].dir, 0);
  EXPECT_EQ(s[0].freq, 1e9f);
  EXPECT_EQ(s[1].type, kSrcGauss);
  EXPECT_EQ(s[1].dir, 1);
  EXPECT_EQ(s[1].freq, 0.0f);  // a fourth field is not read
  EXPECT_EQ(s[2].type, kSrcPulse);
  EXPECT_EQ(s[2].volt, -3.0f);
  EXPECT_EQ(s[3].type, kSrcDC);
  EXPECT_EQ(s[3].dir, 2);
  // SWITCH P: on = the cell's own material, off = the named one.
  EXPECT_EQ(s[4].type, kSrcSwitch);
  EXPECT_EQ(s[4].volt, 1.0f);
  EXPECT_EQ(s[4].sgOn, 5.8e7f);
  EXPECT_EQ(s[4].sgOff, 2.0f);
  // SWITCH N exchanges them; the cell's own conductivity 0 becomes 1e-10.
  EXPECT_EQ(s[5].volt, -1.0f);
  EXPECT_EQ(s[5].sgOn, 2.0f);
  EXPECT_EQ(s[5].sgOff, 1e-10f);
  EXPECT_EQ(use[3], 2);  // the named IDs, counted per SWITCH cell
  EXPECT_EQ(use[0] + use[2], 0);
}

// Each refused text: the line printed so far, the message, set-up fails.
TEST(Sources, RefusedTextsAndTheirMessages) {
  struct Case {
    Pins pins;
    std::string log;
  };
  const std::string head = "- source setting...\n";
  const Case cases[] = {
      {{{{1, 2, 3}, "cw X 1 1e9"}}, "(1,2,3) \rerror: bad source type is found. 'cw X 1 1e9'\n"},
      {{{{1, 2, 3}, "CW x 1 1e9"}}, "(1,2,3) CW \rerror: bad source direction. 'CW x 1 1e9'\n"},
      {{{{1, 2, 3}, "DC XY 1"}}, "(1,2,3) DC \rerror: bad source direction. 'DC XY 1'\n"},
      {{{{1, 2, 3}, "SWITCH Q 1 1e9"}},
       "(1,2,3) SWITCH \rerror: bad source type. 'SWITCH Q 1 1e9'\n"},
      {{{{1, 2, 3}, "SWITCH P 65536 1e9"}},
       "(1,2,3) SWITCH P \nerror: unknown ID(65536) for SWITCH P 65536 1e9.\n"},
      {{{{1, 2, 3}, "SWITCH N -1 1e9"}},
       "(1,2,3) SWITCH N \nerror: unknown ID(-1) for SWITCH N -1 1e9.\n"},
      {{{{1, 2, 3}, "SWITCH N 99999999999 1e9"}},
       "(1,2,3) SWITCH N \nerror: unknown ID(99999999999) for SWITCH N 99999999999 1e9.\n"},
      // Too few fields: the frequency must not come from the earlier cell.
      {{{{0, 0, 0}, "CW Z 1 5e9"}, {{1, 2, 3}, "CW Z 1"}},
       "(0,0,0) CW Z V=1[V] F=5e+09[Hz]\n"
       "(1,2,3) CW Z \nerror: source (1,2,3) 'CW Z 1' has 3 fields; CW needs 4.\n"},
      {{{{0, 0, 0}, "GAUSS Z 1"}, {{0, 0, 2}, "DC Y"}},
       "(0,0,0) GAUSS Z V=1[V]\n"
       "(0,0,2) DC Y \nerror: source (0,0,2) 'DC Y' has 2 fields; DC needs 3.\n"},
      {{{{0, 3, 0}, "SWITCH P 3"}},
       "(0,3,0) SWITCH P \nerror: source (0,3,0) 'SWITCH P 3' has 3 fields; SWITCH needs 4.\n"},
      // Values that are not finite, and periodic sources without a period.
      {{{{1, 0, 0}, "CW Y inf 1e9"}},
       "(1,0,0) CW Y V=inf[V] F=1e+09[Hz]\nerror: source (1,0,0) 'CW Y inf 1e9' needs finite "
       "values and, for PULSE and SWITCH, a positive frequency.\n"},
      {{{{1, 0, 0}, "GAUSS Y nan"}},
       "(1,0,0) GAUSS Y V=nan[V]\nerror: source (1,0,0) 'GAUSS Y nan' needs finite values and, "
       "for PULSE and SWITCH, a positive frequency.\n"},
      {{{{1, 0, 0}, "PULSE Y 1 0"}},
       "(1,0,0) PULSE Y V=1[V] F=0[Hz]\nerror: source (1,0,0) 'PULSE Y 1 0' needs finite values "
       "and, for PULSE and SWITCH, a positive frequency.\n"},
      {{{{1, 0, 0}, "CW Y 1 1e999"}},
       "(1,0,0) CW Y V=1[V] F=inf[Hz]\nerror: source (1,0,0) 'CW Y 1 1e999' needs finite values "
       "and, for PULSE and SWITCH, a positive frequency.\n"},
  };
  for (const Case& c : cases) {
    SimulationEngine eng;
    ModelRecord model;
    std::string log;
    EXPECT_EQ(parseSources(eng, model, c.pins, log), 0) << c.pins.back().second;
    EXPECT_EQ(log, head + c.log);
    EXPECT_EQ(eng.sam.sourceCount, 0);  // no half-filled list is left to apply
    EXPECT_TRUE(eng.sources.empty());
  }
  // The whole set-up fails on such a text.
  SimulationEngine eng;
  ModelRecord model;
  test::vacuumModel(model, 4, 4, 4);
  model.setPin(model.index(1, 1, 1), "PULSE Z 1");
  EXPECT_EQ(test::setQuiet(eng, model), 0);
}

// DC assigns E = -V/d every step: V = 1 along Z in 1 mm cells holds ez at
// -1000 V/m whatever the fields around it do.
TEST(Sources, DcHoldsItsCellField) {
  SimulationEngine eng;
  ModelRecord model;
  test::vacuumModel(model, 8, 8, 8);
  model.setPin(model.index(4, 4, 4), "DC Z 1");
  ASSERT_EQ(test::setQuiet(eng, model), 1);
  for (int i = 0; i < 5; ++i) {
    stepBatch(eng);
    EXPECT_EQ(test::eAt(eng, 4, 4, 4).ez, -1.0f / 0.001f);
    EXPECT_NEAR(test::eAt(eng, 4, 4, 4).ez, -1000.0f, 1e-3f);
  }
  EXPECT_NE(test::eAt(eng, 4, 4, 5).ez, 0.0f);  // and its field spreads
}

FDTD_SAM samAt(float steps) {
  FDTD_SAM s;
  s.dt = 1.9065752e-12f;
  s.time = steps * s.dt;
  return s;
}

FDTD_SRC source(SourceType type, float volt, float freq) {
  FDTD_SRC s{};
  s.type = type;
  s.dir = 2;
  s.volt = volt;
  s.freq = freq;
  return s;
}

TEST(Sources, ContinuousWave) {
  const float d = 0.001f;
  const FDTD_SRC cw = source(kSrcCW, 1.0f, 1e9f);
  EXPECT_EQ(cwWave(d, samAt(0.0f), cw), 0.0f);  // sin 0
  FDTD_SAM quarter = samAt(0.0f);
  quarter.time = 0.25e-9f;
  EXPECT_NEAR(cwWave(d, quarter, cw), 2000.0f, 0.01f);
  quarter.time = 1000.25e-9f;  // the phase is reduced to one period first
  EXPECT_NEAR(cwWave(d, quarter, cw), 2000.0f, 2.0f);
}

// The Gaussian peaks at t0 = 32.3 dt with value 2V/d and falls to 1/e at
// t0 +- 0.29 t0 (about 9.37 dt); sampled at whole steps its largest value is
// at step 32.
TEST(Sources, GaussianPeakAndWidth) {
  const float d = 0.001f;
  const FDTD_SRC g = source(kSrcGauss, 1.0f, 0.0f);
  EXPECT_NEAR(gaussWave(d, samAt(32.3f), g), 2000.0f, 2000.0f * 1e-5f);
  EXPECT_NEAR(gaussWave(d, samAt(32.3f + 9.367f), g), 2000.0f / std::exp(1.0f), 0.1f);
  EXPECT_NEAR(gaussWave(d, samAt(32.3f - 9.367f), g), 2000.0f / std::exp(1.0f), 0.1f);
  int best = 0;
  for (int n = 0; n < 100; ++n)
    if (gaussWave(d, samAt(n), g) > gaussWave(d, samAt(best), g)) best = n;
  EXPECT_EQ(best, 32);
  EXPECT_LT(gaussWave(d, samAt(0.0f), g), 2000.0f * 1e-5f);
}

TEST(Sources, PulsePeriodAndRise) {
  const float dt = samAt(0.0f).dt;
  // T = 200 steps: the rise 0.2 T is capped at 20 steps; h = 100.
  PulsePhase q = pulsePhase(samAt(0.0f), source(kSrcPulse, 1.0f, 1.0f / (200.0f * dt)));
  EXPECT_EQ(q.r, 20.0f);
  EXPECT_NEAR(q.h, 100.0f, 1e-3f);
  // T = 50 steps: r = 10, h = 25.
  const FDTD_SRC p50 = source(kSrcPulse, 1.0f, 1.0f / (50.0f * dt));
  q = pulsePhase(samAt(0.0f), p50);
  EXPECT_NEAR(q.r, 10.0f, 1e-4f);
  EXPECT_NEAR(q.h, 25.0f, 1e-4f);
  const float d = 0.001f;
  // V > 0: half-way up the rise S(0) = 1/2, then the plateau, then low.
  EXPECT_NEAR(Pulse(d, samAt(5.0f), p50), 1000.0f, 0.1f);
  EXPECT_NEAR(Pulse(d, samAt(17.0f), p50), 1990.0f, 0.01f);
  EXPECT_NEAR(Pulse(d, samAt(30.0f), p50), 1000.0f, 0.1f);
  EXPECT_NEAR(Pulse(d, samAt(40.0f), p50), 10.0f, 0.01f);
  EXPECT_NEAR(Pulse(d, samAt(55.0f), p50), 1000.0f, 0.1f);  // next period
  // V < 0: during the first r steps a small -0.01 V/d, then the train in the
  // opposite sense.
  const FDTD_SRC neg = source(kSrcPulse, -2.0f, 1.0f / (50.0f * dt));
  EXPECT_FLOAT_EQ(Pulse(d, samAt(5.0f), neg), 20.0f);
  EXPECT_NEAR(Pulse(d, samAt(17.0f), neg), 20.0f, 0.01f);
  EXPECT_NEAR(Pulse(d, samAt(40.0f), neg), 3980.0f, 0.1f);
  EXPECT_NEAR(Pulse(d, samAt(55.0f), neg), 2000.0f, 0.2f);
}

// The conductivity goes from sgOn to sgOff and back, the resistivity
// interpolated linearly over the r steps of each transition.
TEST(Sources, SwitchConductivity) {
  const float dt = samAt(0.0f).dt;
  FDTD_SRC s = source(kSrcSwitch, 1.0f, 1.0f / (50.0f * dt));
  s.sgOn = 5.8e7f;
  s.sgOff = 1e-10f;
  EXPECT_EQ(Switch(samAt(0.0f), s), s.sgOn);
  EXPECT_EQ(Switch(samAt(17.0f), s), s.sgOff);
  EXPECT_EQ(Switch(samAt(40.0f), s), s.sgOn);
  EXPECT_NEAR(Switch(samAt(5.0f), s), 2e-10f, 1e-14f);  // mid-rise: 1/(0.5/off + 0.5/on)
  EXPECT_NEAR(Switch(samAt(30.0f), s), 2e-10f, 1e-14f);

  // Applied to a cell: with sigma 1e-10 the cell is vacuum, with a metal's
  // conductivity the field is reversed and damped each step (ca -> -1).
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumBox(eng, model, 4, 4, 4));
  const ECell vacuum = test::eAt(eng, 1, 1, 1);
  s.cell = static_cast<int64_t>(eIndex(eng.grid.desc, 1, 1, 1));
  s.sgOn = 1e-10f;
  applySource(eng.grid.e.data(), eng.sam, s);
  const ECell& c = test::eAt(eng, 1, 1, 1);
  EXPECT_FLOAT_EQ(c.cax, vacuum.cax);
  EXPECT_FLOAT_EQ(c.cbx, vacuum.cbx);
  EXPECT_FLOAT_EQ(c.cbz, vacuum.cbz);
  s.sgOn = 5.8e7f;
  applySource(eng.grid.e.data(), eng.sam, s);
  EXPECT_NEAR(c.caz, -1.0f, 1e-3f);
  EXPECT_LT(c.cby, vacuum.cby * 1e-3f);
}

// Two sources of one cell act in list order: DC assigns, CW then subtracts.
TEST(Sources, ListOrderWithinOneCell) {
  SimulationEngine eng;
  ModelRecord model;
  ASSERT_TRUE(test::vacuumBox(eng, model, 4, 4, 4));
  FDTD_SRC dc = source(kSrcDC, 1.0f, 0.0f), cw = source(kSrcCW, 1.0f, 1e9f);
  dc.cell = cw.cell = static_cast<int64_t>(eIndex(eng.grid.desc, 2, 2, 2));
  eng.sam.time = 0.25e-9f;
  for (bool dcFirst : {true, false}) {
    ASSERT_TRUE(eng.sources.allocate(2));
    eng.sources[0] = dcFirst ? dc : cw;
    eng.sources[1] = dcFirst ? cw : dc;
    eng.sam.sourceCount = 2;
    applySources(eng);
    EXPECT_NEAR(test::eAt(eng, 2, 2, 2).ez, dcFirst ? -3000.0f : -1000.0f, 0.05f);
  }
}

}  // namespace
}  // namespace tavro
