// Far-field patterns of three small antennas in vacuum against their analytic
// patterns: the short electric dipole (sin^2 theta, 1.76 dBi, radiated power
// of a current element), the half-wave dipole (2.15 dBi) and the small loop
// (the dual of the short dipole: the same pattern with E along phi).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "engine/field_update.h"
#include "engine/nf2ff_transform.h"
#include "model_fixture.h"

namespace tavro {
namespace {

using test::setQuiet;

constexpr double kDeg = M_PI / 180.0;
constexpr float kCell = 0.005f;  // 5 mm: 60 cells a wavelength at 1 GHz
constexpr double kFreq = 1e9;

struct Source {
  int x, y, z;
  const char* text;
};

// Runs `steps` time steps of a vacuum box with the given sources (and cells
// of ID 1, a good conductor) and records the default far-field surface.
struct Antenna {
  ModelRecord model;
  SimulationEngine eng;
  FarFieldRecorder rec;
  FarFieldRecorder other;  // on otherBox, when it is given
  SurfaceBox otherBox{};

  bool run(int X, int Y, int Z, const std::vector<Source>& sources,
           const std::vector<std::array<int, 3>>& metal, int steps) {
    if (!test::vacuumModel(model, X, Y, Z, kCell)) return false;
    model.materialX[1] = model.materialY[1] = model.materialZ[1] = Material{5.8e7f, 1.0f, 1.0f};
    for (const auto& m : metal) model.data[model.index(m[0], m[1], m[2])] = 1;
    for (const Source& s : sources) model.setPin(model.index(s.x, s.y, s.z), s.text);
    if (setQuiet(eng, model) != 1) return false;
    if (!rec.prepare(eng, {kFreq}, DefaultSurfaceBox(X, Y, Z))) return false;
    if (otherBox.x1 > 0 && !other.prepare(eng, {kFreq}, otherBox)) return false;
    for (int s = 0; s < steps; ++s) {
      stepBatch(eng);
      rec.record(eng);
      other.record(eng);
    }
    return true;
  }

  // Directivity [dBi] and |rE_theta|, |rE_phi| in one direction.
  double dbi(double thetaDeg, double phiDeg, const FarFieldPattern& pat) const {
    const FarFieldPoint p = FarField(rec, 0, {thetaDeg * kDeg}, {phiDeg * kDeg})[0];
    return ToDbi(4.0 * M_PI * RadiationIntensity(p) / pat.power);
  }
};

// The pattern of a z-directed short dipole (or of the loop, its dual):
// sin^2(theta) in every phi plane.
void expectShortDipolePattern(const Antenna& a, const FarFieldPattern& pat) {
  EXPECT_NEAR(a.dbi(90, 0, pat), 10.0 * std::log10(1.5), 0.15);
  for (double phi : {0.0, 30.0, 45.0, 90.0, 135.0, 200.0, 270.0, 333.0}) {
    SCOPED_TRACE(phi);
    const double equator = a.dbi(90, phi, pat);
    EXPECT_NEAR(equator, a.dbi(90, 0, pat), 0.2);
    EXPECT_NEAR(a.dbi(30, phi, pat) - equator, -6.02, 0.3);
    EXPECT_NEAR(a.dbi(150, phi, pat) - equator, -6.02, 0.3);
  }
  EXPECT_LT(a.dbi(0, 0, pat) - a.dbi(90, 0, pat), -20.0);
  EXPECT_LT(a.dbi(180, 0, pat) - a.dbi(90, 0, pat), -20.0);
  EXPECT_NEAR(pat.maxTheta, 90.0, 0.01);
}

TEST(FarField, ShortDipoleMatchesTheCurrentElement) {
  Antenna a;
  a.otherBox = {2, 4, 5, 17, 15, 19};  // off centre, of another shape
  const int steps = 3000;
  ASSERT_TRUE(a.run(22, 22, 22, {{11, 11, 11, "CW Z 1 1e9"}}, {}, steps));
  const FarFieldPattern pat = ComputePattern(a.rec, 0);
  expectShortDipolePattern(a, pat);
  // E lies along theta: its phi part is the numerical rest.
  const FarFieldPoint p = FarField(a.rec, 0, {90 * kDeg}, {20 * kDeg})[0];
  EXPECT_LT(std::abs(p.ePhi), 1e-3 * std::abs(p.eTheta));

  // The source takes dt * J / eps0 = 2 V / dz off Ez each step: a current
  // element of moment I l = 2 V eps0 dx dy / dt, which radiates
  // eta k^2 (I l)^2 / (12 pi) into free space.
  const double il = 2.0 * kFarEps0 * kCell * kCell / a.eng.sam.dt;
  const double eta = std::sqrt(kFarMu0 / kFarEps0);
  const double k = 2.0 * M_PI * kFreq * std::sqrt(kFarMu0 * kFarEps0);
  const double delivered = eta * k * k * il * il / (12.0 * M_PI);
  EXPECT_NEAR(pat.power / delivered, 1.0, 0.02);

  // Any box around the source gives the same far field: the positions and
  // phases of the surface points are right.
  const std::vector<double> theta = {10 * kDeg, 60 * kDeg, 90 * kDeg, 125 * kDeg};
  const std::vector<double> phi = {0.0, 77 * kDeg, 200 * kDeg, 300 * kDeg};
  const std::vector<FarFieldPoint> mine = FarField(a.rec, 0, theta, phi);
  const std::vector<FarFieldPoint> theirs = FarField(a.other, 0, theta, phi);
  for (std::size_t i = 0; i < theta.size(); ++i)
    EXPECT_NEAR(std::abs(theirs[i].eTheta) / std::abs(mine[i].eTheta), 1.0, 0.01) << i;
}

TEST(FarField, SmallLoopIsTheDualOfTheShortDipole) {
  // A square of 3 x 3 cells in the plane z = 9, one source in the middle
  // of each side, driven in turn around the loop: a magnetic dipole along z,
  // E along phi. (A cell holds one source, so the corners stay undriven.)
  Antenna a;
  ASSERT_TRUE(a.run(18, 18, 18,
                    {{9, 8, 9, "CW X 1 1e9"},
                     {11, 9, 9, "CW Y 1 1e9"},
                     {9, 11, 9, "CW X -1 1e9"},
                     {8, 9, 9, "CW Y -1 1e9"}},
                    {}, 2000));
  const FarFieldPattern pat = ComputePattern(a.rec, 0);
  expectShortDipolePattern(a, pat);
  const FarFieldPoint p = FarField(a.rec, 0, {90 * kDeg}, {20 * kDeg})[0];
  EXPECT_LT(std::abs(p.eTheta), 1e-2 * std::abs(p.ePhi));
}

TEST(FarField, HalfWaveDipole) {
  // A wire of Ez edges 30 cells (half a wavelength) long, fed in its middle.
  std::vector<std::array<int, 3>> wire;
  for (int z = 7; z < 37; ++z)
    if (z != 22) wire.push_back({10, 10, z});
  Antenna a;
  ASSERT_TRUE(a.run(20, 20, 44, {{10, 10, 22, "CW Z 1 1e9"}}, wire, 2000));
  const FarFieldPattern pat = ComputePattern(a.rec, 0);
  EXPECT_NEAR(ToDbi(pat.maxDirectivity), 2.15, 0.2);
  EXPECT_NEAR(pat.maxTheta, 90.0, 0.01);
}

}  // namespace
}  // namespace tavro
