// The impedance columns of the frequency file.
//
// Physics checked: a series R-C load fed by a Gaussian current keeps the
// charge it received, so its voltage settles at Q / C; its impedance is
// R + 1 / (j w C) at every frequency, whatever the length of the recording.
// A probe whose recording does not settle keeps the plain ratio of the sums
// (the files of such probes stay as they were). End to end, a dipole fed in
// a one-cell gap gives the Z of the differences of its time file, for two
// run lengths; under -avgmat a dipole of one-cell wires is a wire of no
// thickness, which resonates where a half-wave line of its length does.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <fstream>
#include <sstream>

#include "cli_runner.h"
#include "engine/engine.h"
#include "files/spectrum.h"

namespace tavro {
namespace {

using cplx = std::complex<double>;
constexpr double kPi = 3.14159265358979323846;

// Probe 0 of a recording of n samples every dt: I a Gaussian current (taken
// half a step before V, as the engine samples it), V = R I + Q(t) / C, plus
// `ring` times a slow cosine on both (a field that does not settle).
void seriesRC(SimulationEngine& eng, int n, float dt, double R, double C, double ring) {
  eng.sam.probeCount = 1;
  eng.sam.stepLimit = eng.sam.stepCount = n;
  eng.sam.dt = dt;
  ASSERT_TRUE(eng.samples.allocate(static_cast<size_t>(n)));
  ASSERT_TRUE(eng.spectrum.points.allocate(kSpectrumPoints));
  eng.spectrum.names.assign(1, "P");
  const double t0 = 60.0 * dt, tau = 15.0 * dt, w = 2.0 * kPi * 1e9;
  float t = 0.0f;
  for (int j = 0; j < n; ++j, t += dt) {
    ProbeSample& s = eng.samples[static_cast<size_t>(j)];
    for (float& v : s.v) v = 0.0f;
    const double ti = t - 0.5 * dt;
    const double i = std::exp(-std::pow((ti - t0) / tau, 2.0));
    const double iv = std::exp(-std::pow((t - t0) / tau, 2.0));
    const double q = 0.5 * tau * std::sqrt(kPi) * (1.0 + std::erf((t - t0) / tau));
    s.v[kSlotTime] = t;
    s.v[kSlotIz] = static_cast<float>(i + ring * std::cos(w * ti));
    s.v[kSlotVz] = static_cast<float>(R * iv + q / C + ring * 50.0 * std::cos(w * t));
  }
}

cplx impedanceAt(const SimulationEngine& eng, int k) {
  const float* v = eng.spectrum.points[static_cast<size_t>(k)].v;
  return {v[kSlotZx], v[kSlotZy]};
}

TEST(Impedance, SettlingLoadReadsItsImpedanceForAnyRecordingLength) {
  const double R = 50.0, C = 1e-12;
  const float dt = 2e-12f;
  for (int n : {4000, 9000}) {
    SimulationEngine eng;
    seriesRC(eng, n, dt, R, C, 0.0);
    ComputeSpectrum(eng, 0);
    int checked = 0;
    for (int k = 0; k < kSpectrumPoints; ++k) {
      const double f = eng.spectrum.points[static_cast<size_t>(k)].v[0];
      if (f < 1e9 || f > 10e9) continue;
      const cplx expected(R, -1.0 / (2.0 * kPi * f * C));
      EXPECT_NEAR(std::abs(impedanceAt(eng, k) - expected) / std::abs(expected), 0.0, 0.01)
          << "n " << n << " f " << f;
      ++checked;
    }
    EXPECT_GT(checked, 100);
  }
}

// A probe that only rings keeps the plain ratio: Z equals (Vr + j Vi) /
// (Ir + j Ii) of its own columns, and the half-step rotation is not applied.
TEST(Impedance, ProbeThatDoesNotSettleKeepsThePlainRatio) {
  SimulationEngine eng;
  seriesRC(eng, 4000, 2e-12f, 0.0, 1e30, 1.0);  // no charge kept: V = 50 cos, I = cos lagging
  ComputeSpectrum(eng, 0);
  for (int k = 0; k < kSpectrumPoints; k += 7) {
    const float* v = eng.spectrum.points[static_cast<size_t>(k)].v;
    const cplx V(v[kSlotVx], v[kSlotVy]), I(v[kSlotIx], v[kSlotIy]);
    if (std::abs(I) == 0.0) continue;
    EXPECT_NEAR(std::abs(impedanceAt(eng, k) - V / I), 0.0, 1e-4 * std::abs(V / I)) << k;
  }
}

std::vector<std::vector<double>> readRows(const std::filesystem::path& file) {
  std::vector<std::vector<double>> rows;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream ss(line);
    std::vector<double> row;
    for (double v; ss >> v;) row.push_back(v);
    rows.push_back(row);
  }
  return rows;
}

// The frequency file's Z against the transform of the differences of the
// time file's V and I (I moved half a step on), over `lo`..`hi`; returns the
// largest relative deviation and the resonance (Zi rising through 0).
struct Reading {
  double deviation = 0.0, resonance = 0.0, resistance = 0.0;
};
Reading compareWithTimeFile(const std::filesystem::path& txt, const std::filesystem::path& frq,
                            double lo, double hi) {
  const auto time = readRows(txt), freq = readRows(frq);
  const double dt = time.at(1).at(0);
  Reading r;
  double prevF = 0.0, prevZi = 0.0, prevZr = 0.0;
  for (const auto& row : freq) {
    const double f = row.at(0);
    if (f < lo || f > hi) continue;
    cplx sv[3], si[3];
    for (size_t j = 0; j + 1 < time.size(); ++j) {
      const cplx e = std::exp(cplx(0.0, -2.0 * kPi * f * time[j][0]));
      for (int a = 0; a < 3; ++a) {
        sv[a] += (time[j + 1][1 + a] - time[j][1 + a]) * e;
        si[a] += (time[j + 1][4 + a] - time[j][4 + a]) * e;
      }
    }
    cplx num;
    double den = 0.0;
    for (int a = 0; a < 3; ++a) {
      num += sv[a] * std::conj(si[a]);
      den += std::norm(si[a]);
    }
    const cplx hand = num / den * std::exp(cplx(0.0, -kPi * f * dt));
    const cplx file(row.at(8), row.at(9));
    r.deviation = std::max(r.deviation, std::abs(file - hand) / std::abs(hand));
    if (prevF > 0.0 && prevZi < 0.0 && file.imag() >= 0.0 && r.resonance == 0.0) {
      const double s = -prevZi / (file.imag() - prevZi);
      r.resonance = prevF + s * (f - prevF);
      r.resistance = prevZr + s * (file.real() - prevZr);
    }
    prevF = f;
    prevZi = file.imag();
    prevZr = file.real();
  }
  return r;
}

// A dipole along Y of two arms of `arm` one-cell copper wires around a
// one-cell gap fed by GAUSS:Y:1, `margin` cells from the boundary. Runs it for
// n steps in `dir` and returns the gap probe's files there (no extension).
std::filesystem::path runDipole(const std::filesystem::path& dir, int arm, int margin, int n,
                                bool avg) {
  const int w = 2 * margin + 1, h = 2 * arm + 1 + 2 * margin;
  std::ofstream csv(dir / "dipole.csv");
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      if (x > 0) csv << ",";
      const bool wire = x == margin && y >= margin && y < margin + 2 * arm + 1;
      csv << (!wire ? "0" : y == margin + arm ? "0 GAUSS:Y:1" : "1");
    }
    csv << "\n";
  }
  csv.close();
  std::vector<std::string> args = {"-batch",
                                   "-n",
                                   std::to_string(n),
                                   "-area",
                                   std::to_string(w),
                                   std::to_string(h),
                                   std::to_string(w),
                                   "-unit",
                                   "1e-3",
                                   "1e-3",
                                   "1e-3",
                                   "-mat",
                                   "1",
                                   "CU",
                                   "-layer",
                                   std::to_string(margin),
                                   "dipole.csv",
                                   "-timelog",
                                   "txt",
                                   "-freqlog",
                                   "frq"};
  if (avg) args.insert(args.begin() + 1, "-avgmat");
  auto r = test::runProgram(args, dir);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string m = std::to_string(margin);
  return dir / ("GAUSS_" + m + "_" + std::to_string(margin + arm) + "_" + m);
}

TEST(Impedance, DipoleFileMatchesTheTransformOfItsTimeFileForTwoLengths) {
  double resonance[2] = {0.0, 0.0};
  const int steps[2] = {2500, 5000};
  for (int i = 0; i < 2; ++i) {
    auto dir = test::scratchDir("impedance_dipole" + std::to_string(i));
    const auto probe = runDipole(dir, 14, 6, steps[i], false);
    const Reading r =
        compareWithTimeFile(probe.string() + ".txt", probe.string() + ".frq", 3e9, 6e9);
    EXPECT_LT(r.deviation, 0.01) << steps[i] << " steps";
    resonance[i] = r.resonance;
    // The plain convention thickens the wire: far below a thin line's 4.68 GHz.
    EXPECT_GT(r.resonance, 3.6e9);
    EXPECT_LT(r.resonance, 4.1e9);
    EXPECT_GT(r.resistance, 20.0);
  }
  EXPECT_NEAR(resonance[1] / resonance[0], 1.0, 0.004);  // within one grid spacing
}

TEST(Impedance, ThinWireDipoleUnderAveragedMaterialsDecaysAndResonatesAsAThinLine) {
  auto dir = test::scratchDir("impedance_thin");
  const auto probe = runDipole(dir, 14, 6, 3000, true);
  const Reading r = compareWithTimeFile(probe.string() + ".txt", probe.string() + ".frq", 3e9, 6e9);
  EXPECT_LT(r.deviation, 0.01);
  // 29 mm of thin line: 4.68 GHz with a distant boundary; this small box moves
  // it by about a percent.
  EXPECT_NEAR(r.resonance, 4.68e9, 0.08e9);
  EXPECT_GT(r.resistance, 40.0);
  EXPECT_LT(r.resistance, 110.0);
  // The gap's current has died away: nothing is left ringing or driven.
  const auto rows = readRows(probe.string() + ".txt");
  double peak = 0.0, tail = 0.0;
  for (size_t j = 0; j < rows.size(); ++j) {
    const double i = std::fabs(rows[j][5]);
    peak = std::max(peak, i);
    if (j + 200 >= rows.size()) tail = std::max(tail, i);
  }
  EXPECT_LT(tail, 1e-3 * peak);
}

}  // namespace
}  // namespace tavro
