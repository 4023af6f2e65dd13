// Lumped ports and S-parameters: the terminations of one port against their
// circuit values, a two-port's reciprocity and passivity, the refusals of bad
// port texts, the step forms with ports, and the Touchstone files read back
// by a reader written here from the format.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_runner.h"
#include "engine/field_update.h"
#include "engine/ports.h"
#include "engine/sparam.h"
#include "model_fixture.h"

namespace tavro {
namespace {

using cplx = std::complex<double>;

// Every port's column of S for a model already built.
bool sparameters(ModelRecord& model, double fmax, SparamResult& r, std::string* log = nullptr) {
  SimulationEngine eng;
  eng.requestedStepLimit = 40000;
  if (test::setQuiet(eng, model, log) != 1) return false;
  r = NewSparamResult(eng, fmax);
  for (int j = 0; j < r.ports; ++j) {
    const PortRunEnd end = RunPortExcitation(eng, j, fmax, nullptr, nullptr);
    if (!end.decayed || end.unstable) return false;
    AddSparamColumn(eng, j, r);
  }
  return true;
}

TEST(Ports, TerminationsGiveTheirCircuitReflection) {
  // A Z port of 50 ohm in the middle of a 10 mm vacuum box; its 1 mm cell of
  // conductivity sg is the load sg A / d in parallel with the port.
  struct Row {
    const char* name;
    float sg;
    bool atLeast;  // |S11| >= tol instead of |S11 - target| <= tol
    cplx target;
    double tol;
  };
  const Row rows[] = {{"open", 0.0f, true, 0.0, 0.97},
                      {"50 ohm", 20.0f, false, 0.0, 0.05},
                      {"25 ohm", 40.0f, false, -1.0 / 3.0, 0.03},
                      {"copper", 5.8e7f, false, -1.0, 0.05}};
  for (const Row& row : rows) {
    ModelRecord model;
    ASSERT_TRUE(test::vacuumModel(model, 10, 10, 10));
    model.materialX[1] = model.materialY[1] = model.materialZ[1] = Material{row.sg, 1.0f, 1.0f};
    model.data[model.index(5, 5, 5)] = 1;
    model.setPin(model.index(5, 5, 5), "PORT Z 50");
    SparamResult r;
    ASSERT_TRUE(sparameters(model, 2e9, r)) << row.name;
    ASSERT_EQ(r.ports, 1);
    for (int k = 0; r.frequency(k) <= 200e6; ++k) {
      const cplx s = r.at(k, 0, 0);
      if (row.atLeast)
        EXPECT_GE(std::abs(s), row.tol) << row.name << " at " << r.frequency(k);
      else
        EXPECT_LE(std::abs(s - row.target), row.tol) << row.name << " at " << r.frequency(k);
    }
  }
}

// A strip one cell above a ground plane in a 1 mm grid, fed at both ends by
// ports of resistances r1 and r2 between ground and strip.
void stripLine(ModelRecord& model, const std::string& r1, const std::string& r2) {
  ASSERT_TRUE(test::vacuumModel(model, 30, 20, 14));
  model.materialX[1] = model.materialY[1] = model.materialZ[1] = Material{5.8e7f, 1.0f, 1.0f};
  model.materialX[2] = model.materialY[2] = model.materialZ[2] = Material{1e-3f, 4.7f, 1.0f};
  for (int x = 6; x < 24; ++x)
    for (int y = 6; y < 14; ++y) {
      model.data[model.index(x, y, 4)] = 1;
      model.data[model.index(x, y, 5)] = 2;
    }
  for (int x = 8; x < 22; ++x) model.data[model.index(x, 10, 6)] = 1;
  model.setPin(model.index(8, 10, 5), "PORT Z " + r1);
  model.setPin(model.index(21, 10, 5), "PORT Z " + r2);
}

TEST(Ports, TwoPortIsReciprocalAndPassive) {
  for (const char* r2 : {"50", "30"}) {
    ModelRecord model;
    stripLine(model, "50", r2);
    SparamResult r;
    ASSERT_TRUE(sparameters(model, 10e9, r));
    double largest = 0.0;
    for (int k = 0; k < kSparamPoints; ++k) largest = std::max(largest, std::abs(r.at(k, 1, 0)));
    ASSERT_GT(largest, 0.3) << "the line couples the ports";
    // With differing resistances the power waves of the two ports use their
    // own R, and S stays symmetric (power-wave S of a reciprocal network).
    for (int k = 0; k < kSparamPoints; ++k) {
      const cplx s11 = r.at(k, 0, 0), s21 = r.at(k, 1, 0), s12 = r.at(k, 0, 1), s22 = r.at(k, 1, 1);
      EXPECT_LE(std::abs(s21 - s12), 0.01 * largest) << "R2 " << r2 << " at " << r.frequency(k);
      EXPECT_LE(std::norm(s11) + std::norm(s21), 1.01) << "at " << r.frequency(k);
      EXPECT_LE(std::norm(s22) + std::norm(s12), 1.01) << "at " << r.frequency(k);
    }
  }
}

TEST(Ports, BadPortTextsAreRefusedNamingTheText) {
  struct Row {
    std::vector<std::pair<int, std::string>> pins;  // x of the cell (y = z = 4), text
    std::string message;
  };
  const Row rows[] = {
      {{{4, "PORT Q 50"}}, "'PORT Q 50': the direction must be X, Y or Z"},
      {{{4, "PORT Z 0"}}, "'PORT Z 0': the resistance must be a positive"},
      {{{4, "PORT Z -5"}}, "'PORT Z -5': the resistance"},
      {{{4, "PORT Z fifty"}}, "'PORT Z fifty': the resistance"},
      {{{4, "PORT Z 50ohm"}}, "'PORT Z 50ohm': the resistance"},
      {{{4, "PORT Z"}}, "'PORT Z': it needs PORT"},
      {{{4, "PORT Z 50 0"}}, "'PORT Z 50 0': the port number must be"},
      {{{4, "PORT Z 50 2"}, {5, "PORT Z 50 2"}}, "port #2 is given twice"},
      {{{4, "PORT Z 50 3"}}, "the 1 ports must be numbered 1 to 1"},
      {{{0, "PORT Z 50"}}, "lies on the boundary"},
  };
  for (const Row& row : rows) {
    ModelRecord model;
    ASSERT_TRUE(test::vacuumModel(model, 8, 8, 8));
    for (const auto& [x, text] : row.pins) model.setPin(model.index(x, 4, 4), text);
    SimulationEngine eng;
    eng.requestedStepLimit = 10;
    std::string log;
    EXPECT_EQ(test::setQuiet(eng, model, &log), 0) << row.message;
    EXPECT_NE(log.find("error: "), std::string::npos) << log;
    EXPECT_NE(log.find(row.message), std::string::npos) << log;
  }
}

TEST(Ports, NumberingReportAndProbeNames) {
  // Numbered ports keep their number; the others follow in cell order.
  ModelRecord model;
  ASSERT_TRUE(test::vacuumModel(model, 8, 8, 8));
  model.setPin(model.index(2, 4, 4), "PORT X 50");
  model.setPin(model.index(3, 4, 4), "PORT Y 75 1");
  model.setPin(model.index(4, 4, 4), "PORT Z 50");
  SimulationEngine eng;
  eng.requestedStepLimit = 10;
  std::string log;
  ASSERT_EQ(test::setQuiet(eng, model, &log), 1) << log;
  EXPECT_NE(log.find("(3,4,4) PORT Y R=75[ohm] #1\n(2,4,4) PORT X R=50[ohm] #2\n"
                     "(4,4,4) PORT Z R=50[ohm] #3\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(eng.spectrum.names,
            (std::vector<std::string>{"PORT2_2_4_4", "PORT1_3_4_4", "PORT3_4_4_4"}));
  EXPECT_EQ(eng.sam.sourceCount, 0);
}

TEST(Ports, TwoStepSweepAndSingleStepsRecordTheSame) {
  // An excited port on the two-step sweep (on the records or the compact
  // state, with a single step in between) and on the plain step: the same
  // fields, magnitudes, samples of the probes on the port cells and
  // recorded V and I, bit for bit.
  const int saved = omp_get_max_threads();
  struct Case {
    int threads;
    bool compact;
    int pml;
  };
  for (const Case& c : {Case{1, false, 0}, Case{2, false, 0}, Case{1, true, 0}, Case{2, true, 3}}) {
    const std::string what = std::to_string(c.threads) + " threads" +
                             (c.compact ? ", compact" : "") + ", pml " + std::to_string(c.pml);
    omp_set_num_threads(c.threads);
    ModelRecord model;
    stripLine(model, "50", "50");
    SimulationEngine fast, plain;
    fast.requestedStepLimit = plain.requestedStepLimit = 100;
    fast.pmlCells = plain.pmlCells = c.pml;
    ASSERT_EQ(test::setQuiet(fast, model), 1);
    ASSERT_EQ(test::setQuiet(plain, model), 1);
    for (SimulationEngine* e : {&fast, &plain}) {
      e->ports.record = true;
      excitePort(*e, 0, 30e9);
    }
    ASSERT_EQ(c.compact && beginCompactRun(fast), c.compact) << what;
    for (int i = 0; i < 31; ++i) {
      ASSERT_EQ(stepBatchSteps(fast, i == 10 ? 1 : 2), i == 10 ? 1 : 2);
      for (int k = i == 10 ? 1 : 2; k > 0; --k)
        c.pml > 0 ? stepBatch(plain) : stepBatchReference(plain);
    }
    endCompactRun(fast);
    ASSERT_EQ(fast.ports.step, 61) << what;
    ASSERT_EQ(plain.ports.step, 61) << what;
    for (int p = 0; p < 2; ++p) {
      EXPECT_EQ(fast.ports.v[p], plain.ports.v[p]) << what;
      EXPECT_EQ(fast.ports.i[p], plain.ports.i[p]) << what;
    }
    EXPECT_EQ(std::memcmp(fast.grid.e.data(), plain.grid.e.data(), fast.grid.e.bytes()), 0) << what;
    EXPECT_EQ(std::memcmp(fast.samples.data(), plain.samples.data(), fast.samples.bytes()), 0)
        << what;
    EXPECT_NE(plain.ports.v[1][59], 0.0f) << "the pulse reached the far port";
  }
  omp_set_num_threads(saved);
}

// --- Touchstone files, read back by the format's rules ---------------------

struct Touchstone {
  std::string version = "1.1";
  std::string options;  // the option line after "#"
  std::vector<double> reference;
  int ports = 0;
  std::vector<double> f;
  std::vector<std::vector<cplx>> data;  // per frequency, in file order
};

// Comments start at "!"; keywords are in brackets; data values run over
// continuation lines until 2 N^2 numbers follow a frequency.
Touchstone readTouchstone(const std::string& text, int ports) {
  Touchstone t;
  t.ports = ports;
  std::istringstream in(text);
  std::string line;
  std::vector<double> values;
  bool inData = true;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('!'));
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    if (line[0] == '#') {
      t.options = line.substr(1);
      continue;
    }
    if (line[0] == '[') {
      std::istringstream w(line.substr(line.find(']') + 1));
      const std::string key = line.substr(0, line.find(']') + 1);
      if (key == "[Version]") w >> t.version, inData = false;
      if (key == "[Reference]")
        for (double r; w >> r;) t.reference.push_back(r);
      if (key == "[Network Data]") inData = true;
      if (key == "[End]") inData = false;
      continue;
    }
    if (!inData) continue;
    std::istringstream w(line);
    for (double v; w >> v;) values.push_back(v);
  }
  const size_t per = 1 + 2 * static_cast<size_t>(ports) * ports;
  for (size_t at = 0; at + per <= values.size(); at += per) {
    t.f.push_back(values[at]);
    std::vector<cplx> row;
    for (size_t e = at + 1; e < at + per; e += 2) row.push_back({values[e], values[e + 1]});
    t.data.push_back(row);
  }
  if (values.size() % per != 0) t.f.clear();
  return t;
}

TEST(Ports, SparamOptionWritesTouchstoneFiles) {
  // Equal resistances: version 1.1 with R in the option line; differing
  // ones: version 2.0 with [Reference]. Entries S11 S21 S12 S22.
  struct Row {
    const char* r2;
    const char* version;
    std::vector<double> reference;
  };
  const Row rows[] = {{"50", "1.1", {}}, {"75", "2.0", {50.0, 75.0}}};
  for (const Row& row : rows) {
    auto dir = test::scratchDir("ports_touchstone");
    // Two ports 3 mm apart in a 12 x 7 x 7 mm vacuum box, layer 3.
    std::ofstream(dir / "pair.csv") << "0,0,0,0,0,0,0\n0,0,0,0,0,0,0\n0,0,0,0,0,0,0\n"
                                       "0,0,0,0 PORT:Z:50,0,0,0,0 PORT:Z:"
                                    << row.r2 << "\n";
    const test::RunResult r =
        test::runProgram({"-area", "12", "7", "7", "-unit", "1e-3", "1e-3", "1e-3", "-layer", "3",
                          "pair.csv", "-n", "20000", "-sparam", "5e9", "out"},
                         dir);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("(3,3,3) PORT Z R=50[ohm] #1\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("- port 2 of 2: energy below -50dB of its peak after "), std::string::npos)
        << r.err;
    const Touchstone t = readTouchstone(test::readFile(dir / "out.s2p"), 2);
    EXPECT_EQ(t.version, row.version);
    EXPECT_EQ(t.options, std::string(" Hz S RI R 50"));
    EXPECT_EQ(t.reference, row.reference);
    ASSERT_EQ(t.f.size(), 1000u);
    for (int k = 1; k <= 1000; ++k) EXPECT_EQ(t.f[k - 1], 5e9 * k / 1000) << k;
    // Reciprocity shows in the file's order: entries 1 and 2 are S21, S12.
    for (const auto& d : t.data) EXPECT_LE(std::abs(d[1] - d[2]), 0.02);
  }
}

TEST(Ports, SparamRefusals) {
  auto dir = test::scratchDir("ports_refusals");
  std::ofstream(dir / "plain.csv") << "0,0,0\n0,0 P,0\n0,0,0\n";
  struct Row {
    std::vector<std::string> args;
    std::string message;
  };
  const Row rows[] = {
      {{"-sparam", "2e9", "out"}, "error: -sparam needs at least one port"},
      {{"-sparam", "0", "out"}, "error: -sparam needs a positive frequency (0)"},
      {{"-sparam", "2GHz", "out"}, "error: -sparam needs a number"},
  };
  for (const Row& row : rows) {
    std::vector<std::string> args = {"-area", "3",         "3",  "3",  "-layer",
                                     "1",     "plain.csv", "-n", "100"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const test::RunResult r = test::runProgram(args, dir);
    EXPECT_NE(r.status, 0) << row.message;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.s0p"));
  }
}

}  // namespace
}  // namespace tavro
