// A microstrip line between two lumped ports, with materials averaged onto the
// grid (-avgmat): its effective permittivity against the Hammerstad-Jensen
// closed form, and its match to the 50 ohm ports.
//
// The line's propagation constant comes from two lines of different lengths
// with the same feeds. With T the transfer matrix of each two-port, feed A,
// line L and feed B give T = A L B, so T1^-1 T2 = B^-1 L(dl) B, whose trace is
// that of the bare line of length dl: 2 cosh(gamma dl). The port regions (the
// one-cell port edge, the strip's end) drop out, which a single line's S21
// phase cannot give. A line in air must come out at eps_eff = 1, whatever its
// cross-section: that row checks how conductors sit on the grid.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "engine/sparam.h"
#include "gui/editor_model.h"
#include "model_fixture.h"

namespace tavro {
namespace {

using cplx = std::complex<double>;
constexpr double kC0 = 299792458.0;
constexpr double kFmax = 3.2e9;

// Hammerstad-Jensen (1980) effective permittivity of a strip of no
// thickness, width u = w / h, on a substrate of relative permittivity er.
double hammerstadJensen(double u, double er) {
  const double a =
      1.0 + std::log((std::pow(u, 4) + std::pow(u / 52.0, 2)) / (std::pow(u, 4) + 0.432)) / 49.0 +
      std::log(1.0 + std::pow(u / 18.1, 3)) / 18.7;
  const double b = 0.564 * std::pow((er - 0.9) / (er + 3.0), 0.053);
  return (er + 1.0) / 2.0 + (er - 1.0) / 2.0 * std::pow(1.0 + 10.0 / u, -a * b);
}

// The width that the editor's read-out gives 50 ohm on a substrate of height h.
float fiftyOhmWidth(float er, float h) {
  float lo = 0.1f * h, hi = 10.0f * h;
  for (int i = 0; i < 60; ++i) {
    const float mid = 0.5f * (lo + hi);
    (MicrostripImpedance(er, mid, h) > 50.0f ? lo : hi) = mid;
  }
  return 0.5f * (lo + hi);
}

struct Line {
  Material substrate;
  float w, h;  // strip width and substrate height [m]
  int perH;    // cells across the substrate; the strip is 2 perH cells wide
};

// S11 and S21 of `cells` cells of line between two 50 ohm Z ports: copper
// ground, the substrate, the strip one cell thick; ports under the strip's
// ends, joined to it by a column of copper where the substrate is thicker
// than one cell. Ground and substrate end 4 cells inside the area's faces.
void lineS(const Line& line, int cells, std::vector<cplx>& s11, std::vector<cplx>& s21) {
  const int mx = 8, my = 12, mz = 10, inset = 4, g = 2, ws = 2 * line.perH;
  ModelRecord model;
  model.areaX = cells + 2 * mx;
  model.areaY = ws + 2 * my;
  model.areaZ = g + line.perH + 2 + mz;
  model.unitX = line.h / static_cast<float>(line.perH);
  model.unitY = line.w / static_cast<float>(ws);
  model.unitZ = line.h / static_cast<float>(line.perH);
  ASSERT_EQ(model.allocateCells(), 1);
  const Material cu{5.8e7f, 1.0f, 1.0f};
  model.materialX[1] = model.materialY[1] = model.materialZ[1] = cu;
  model.materialX[2] = model.materialY[2] = model.materialZ[2] = line.substrate;
  const int x1 = mx, x2 = mx + cells, yc = my + ws / 2, top = g + line.perH + 1;
  for (int x = inset; x < model.areaX - inset; ++x)
    for (int y = inset; y < model.areaY - inset; ++y) {
      model.data[model.index(x, y, g)] = 1;
      for (int z = g + 1; z < top; ++z) model.data[model.index(x, y, z)] = 2;
    }
  for (int x = x1; x <= x2; ++x)
    for (int y = my; y < my + ws; ++y) model.data[model.index(x, y, top)] = 1;
  for (int x : {x1, x2}) {
    model.setPin(model.index(x, yc, g + 1), "PORT Z 50");
    for (int z = g + 2; z < top; ++z) model.data[model.index(x, yc, z)] = 1;
  }
  SimulationEngine eng;
  eng.averageMaterials = true;
  eng.requestedStepLimit = 40000;
  ASSERT_EQ(test::setQuiet(eng, model), 1);
  SparamResult r = NewSparamResult(eng, kFmax);
  const PortRunEnd end = RunPortExcitation(eng, 0, kFmax, nullptr, nullptr);
  ASSERT_TRUE(end.decayed && !end.unstable);
  AddSparamColumn(eng, 0, r);
  for (int k = 0; k < kSparamPoints; ++k) {
    s11.push_back(r.at(k, 0, 0));
    s21.push_back(r.at(k, 1, 0));
  }
}

// Transfer matrix of a symmetric, reciprocal two-port.
std::array<cplx, 4> transfer(cplx s11, cplx s21) {
  return {(s21 * s21 - s11 * s11) / s21, s11 / s21, -s11 / s21, 1.0 / s21};
}

TEST(Microstrip, TwoLengthsGiveTheHammerstadJensenPermittivity) {
  struct Row {
    const char* name;
    Line line;
    double tol;       // relative, on eps_eff
    double worstS11;  // dB up to 3 GHz; 0 = not checked
  };
  const float h = 1e-3f, w = fiftyOhmWidth(4.7f, h);
  const Row rows[] = {
      // In air the line is TEM: eps_eff = 1 exactly; the strip two cells wide
      // on one cell of air, the coarsest the read-out describes.
      {"air", {{0.0f, 1.0f, 1.0f}, w, h, 1}, 0.02, 0.0},
      {"FR4", {{1e-3f, 4.7f, 1.0f}, w, h, 2}, 0.03, -15.0},
  };
  const int cells = 20, longer = 40;  // along the line, cells as long as high
  for (const Row& row : rows) {
    std::vector<cplx> a11, a21, b11, b21;
    lineS(row.line, cells, a11, a21);
    lineS(row.line, longer, b11, b21);
    ASSERT_EQ(a21.size(), static_cast<size_t>(kSparamPoints)) << row.name;
    const double want = hammerstadJensen(row.line.w / row.line.h, row.line.substrate.er);
    const double dl = (longer - cells) * row.line.h / row.line.perH;
    double worst = -400.0;
    for (int k = 0; k < kSparamPoints; ++k) {
      const double f = kFmax * (k + 1) / kSparamPoints;
      if (f > 3e9) break;
      worst = std::max(worst, 20.0 * std::log10(std::max(std::abs(a11[k]), std::abs(b11[k]))));
      if (f < 0.3e9) continue;
      const auto A = transfer(a11[k], a21[k]), B = transfer(b11[k], b21[k]);
      const cplx det = A[0] * A[3] - A[1] * A[2];
      const cplx trace = (A[3] * B[0] - A[1] * B[2] - A[2] * B[1] + A[0] * B[3]) / det;
      const double beta = std::abs(std::acosh(0.5 * trace).imag()) / dl;
      const double eps = std::pow(beta * kC0 / (2.0 * M_PI * f), 2);
      EXPECT_NEAR(eps, want, row.tol * want) << row.name << " at " << f;
    }
    if (row.worstS11 < 0.0) {
      EXPECT_LT(worst, row.worstS11) << row.name;
    }
  }
}

}  // namespace
}  // namespace tavro
