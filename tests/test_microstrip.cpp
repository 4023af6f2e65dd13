// A microstrip line between two lumped ports, with materials averaged onto the
// grid (-avgmat): its effective permittivity against the Hammerstad-Jensen
// closed form, and its match to the 50 ohm ports.
//
// The line's propagation constant comes from two lines of different lengths
// with the same feeds. With T the transfer matrix of each two-port, feed A,
// line L and feed B give T = A L B, so T1^-1 T2 = B^-1 L(dl) B, whose trace is
// that of the bare line of length dl: 2 cosh(gamma dl). The port regions drop
// out, which a single line's S21 phase cannot give. A line in air must come
// out at eps_eff = 1 whatever its cross-section: that row checks how
// conductors sit on the grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "engine/sparam.h"
#include "gui/editor_model.h"
#include "model_fixture.h"

namespace tavro {
namespace {

using cplx = std::complex<double>;
constexpr double kFmax = 3.2e9;

// Hammerstad-Jensen (1980) effective permittivity of a strip of no
// thickness, width u = w / h, on a substrate of relative permittivity er.
double hammerstadJensen(double u, double er) {
  const double u4 = std::pow(u, 4);
  const double a = 1.0 + std::log((u4 + std::pow(u / 52.0, 2)) / (u4 + 0.432)) / 49.0 +
                   std::log(1.0 + std::pow(u / 18.1, 3)) / 18.7;
  const double b = 0.564 * std::pow((er - 0.9) / (er + 3.0), 0.053);
  return (er + 1.0) / 2.0 + (er - 1.0) / 2.0 * std::pow(1.0 + 10.0 / u, -a * b);
}

// S11 and S21 of `cells` cells of line (strip width w, substrate height h of
// `perH` cells, cells h / perH long) between two 50 ohm Z ports: copper
// ground, the substrate, the strip one cell thick and 2 perH cells wide;
// ports under the strip's ends, joined to it by copper where the substrate
// is thicker than one cell. Ground and substrate end 4 cells inside the area.
void lineS(Material sub, float w, float h, int perH, int cells, std::vector<cplx>& s) {
  const int mx = 8, my = 12, g = 2, ws = 2 * perH, top = g + perH + 1;
  ModelRecord m;
  ASSERT_TRUE(test::vacuumModel(m, cells + 2 * mx, ws + 2 * my, top + 11, h / perH));
  m.unitY = w / ws;
  m.materialX[1] = m.materialY[1] = m.materialZ[1] = {5.8e7f, 1.0f, 1.0f};
  m.materialX[2] = m.materialY[2] = m.materialZ[2] = sub;
  for (int x = 4; x < m.areaX - 4; ++x)
    for (int y = 4; y < m.areaY - 4; ++y)
      for (int z = g; z < top; ++z) m.data[m.index(x, y, z)] = z == g ? 1 : 2;
  for (int x = mx; x <= mx + cells; ++x)
    for (int y = my; y < my + ws; ++y) m.data[m.index(x, y, top)] = 1;
  for (int x : {mx, mx + cells}) {
    m.setPin(m.index(x, my + perH, g + 1), "PORT Z 50");
    for (int z = g + 2; z < top; ++z) m.data[m.index(x, my + perH, z)] = 1;
  }
  SimulationEngine eng;
  eng.averageMaterials = true;
  eng.requestedStepLimit = 40000;
  ASSERT_EQ(test::setQuiet(eng, m), 1);
  SparamResult r = NewSparamResult(eng, kFmax);
  const PortRunEnd end = RunPortExcitation(eng, 0, kFmax, nullptr, nullptr);
  ASSERT_TRUE(end.decayed && !end.unstable);
  AddSparamColumn(eng, 0, r);
  for (int k = 0; k < kSparamPoints; ++k) s.insert(s.end(), {r.at(k, 0, 0), r.at(k, 1, 0)});
}

TEST(Microstrip, TwoLengthsGiveTheHammerstadJensenPermittivity) {
  // FR4 1 mm thick, 1.823 mm wide: the editor's read-out gives it 50 ohm.
  const float h = 1e-3f, w = 1.823e-3f;
  ASSERT_NEAR(MicrostripImpedance(4.7f, w, h), 50.0f, 0.05f);
  struct Row {
    const char* name;
    Material sub;
    int perH;
    double worstS11;  // dB up to 3 GHz; 0 = not checked
  };
  // In air the strip two cells wide on one cell of air, the coarsest the
  // read-out describes; the FR4 line on two cells across the substrate.
  const Row rows[] = {{"air", {0.0f, 1.0f, 1.0f}, 1, 0.0}, {"FR4", {1e-3f, 4.7f, 1.0f}, 2, -15.0}};
  for (const Row& row : rows) {
    std::vector<cplx> a, b;  // S11, S21 per frequency
    lineS(row.sub, w, h, row.perH, 20, a);
    lineS(row.sub, w, h, row.perH, 40, b);
    ASSERT_EQ(b.size(), 2u * kSparamPoints) << row.name;
    const double want = hammerstadJensen(w / h, row.sub.er), dl = 20.0 * h / row.perH;
    double worst = -400.0;
    for (int k = 0; kFmax * (k + 1) / kSparamPoints <= 3e9; ++k) {
      const double f = kFmax * (k + 1) / kSparamPoints;
      const cplx s11 = a[2 * k], s21 = a[2 * k + 1], t11 = b[2 * k], t21 = b[2 * k + 1];
      worst = std::max(worst, 20.0 * std::log10(std::max(std::abs(s11), std::abs(t11))));
      // trace(T1^-1 T2) for symmetric reciprocal two-ports (det T = 1).
      const cplx trace = (s21 * s21 + t21 * t21 - (s11 - t11) * (s11 - t11)) / (s21 * t21);
      const double eps = std::pow(
          std::abs(std::acosh(0.5 * trace).imag()) * 299792458.0 / (2.0 * M_PI * f * dl), 2);
      if (f >= 0.3e9) {
        EXPECT_NEAR(eps, want, 0.03 * want) << row.name << " at " << f;
      }
    }
    if (row.worstS11 < 0.0) {
      EXPECT_LT(worst, row.worstS11) << row.name;
    }
  }
}

}  // namespace
}  // namespace tavro
