// Materials averaged onto the grid (-avgmat): closed cavities resonate where
// the discrete Yee grid puts a box of the drawn size, with metal, dielectric
// and magnetic fillings, and mixed materials stay stable.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "engine/field_update.h"
#include "model_fixture.h"

namespace tavro {
namespace {

constexpr double kC = 299792448.0;

// Resonance of an a x b x c (mm) box of 1 mm cells whose medium has the speed
// v, from the Yee grid's dispersion relation
//   sin^2(w dt / 2) / (v dt)^2 = sum_i sin^2(k_i d / 2) / d^2,  k_i = m_i pi / L_i.
double yeeMode(double a, double b, double c, int m, int n, int p, double v = kC) {
  const double d = 1e-3;
  const double dt = static_cast<float>(0.99 / std::sqrt(3.0 / (d * d)) / kC);
  auto s = [&](int q, double L) { return std::pow(std::sin(q * M_PI / (2 * L)), 2); };
  const double rhs = v * dt / d * std::sqrt(s(m, a) + s(n, b) + s(p, c));
  return 2.0 / dt * std::asin(rhs) / (2 * M_PI);
}

// The model: an a x b x c air box (material 0) inside one-cell copper walls
// (material 1), 1 mm cells; `fill` is called for every inner cell and returns
// its material ID. A layer of vacuum around the walls keeps them off the faces
// of the area, whose tangential E the boundary rewrites.
template <class Fill>
void cavity(ModelRecord& model, int a, int b, int c, Fill fill) {
  ASSERT_TRUE(test::vacuumModel(model, a + 4, b + 4, c + 4));
  model.materialX[1] = model.materialY[1] = model.materialZ[1] = {5.8e7f, 1.0f, 1.0f};
  for (int x = 0; x < a + 4; ++x)
    for (int y = 0; y < b + 4; ++y)
      for (int z = 0; z < c + 4; ++z) {
        const int u = std::min({x - 1, y - 1, z - 1}), v = std::max({x - a, y - b, z - c});
        model.data[model.index(x, y, z)] = u < 0 || v > 2 ? 0 : u == 0 || v == 2 ? 1 : fill(x - 2, y - 2, z - 2);
      }
}

// Drives `component` (0, 1, 2 = x, y, z) of the source cell with GAUSS and
// records the same component of the probe cell for `steps` steps.
std::vector<double> ring(ModelRecord& model, bool average, int component, const int source[3],
                         const int probe[3], int steps, double& dt) {
  SimulationEngine eng;
  eng.averageMaterials = average;
  const char* dir[3] = {"GAUSS X 1", "GAUSS Y 1", "GAUSS Z 1"};
  model.setPin(model.index(source[0], source[1], source[2]), dir[component]);
  EXPECT_EQ(test::setQuiet(eng, model), 1);
  dt = eng.sam.dt;
  std::vector<double> wave;
  for (int n = 0; n < steps; ++n) {
    stepBatch(eng);
    const ECell& e = test::eAt(eng, probe[0], probe[1], probe[2]);
    wave.push_back(component == 0 ? e.ex : component == 1 ? e.ey : e.ez);
  }
  return wave;
}

// Power of the Hann-windowed discrete-time Fourier transform of `wave` at f.
double power(const std::vector<double>& wave, double dt, double f) {
  const size_t N = wave.size();
  const std::complex<double> step = std::polar(1.0, -2 * M_PI * f * dt);
  std::complex<double> rot = 1.0, sum = 0.0;
  for (size_t n = 0; n < N; ++n) {
    sum += wave[n] * (0.5 - 0.5 * std::cos(2 * M_PI * n / (N - 1))) * rot;
    rot *= step;
  }
  return std::norm(sum);
}

// The strongest spectral line of `wave` between lo and hi [Hz]: the windowed
// transform on a 1 MHz grid, refined by a parabola through the three largest
// points. For lines apart by more than the window's main lobe
// (4 / (steps dt)) this finds a line to far better than 0.01 %.
double peak(const std::vector<double>& wave, double dt, double lo, double hi) {
  const double df = 1e6;
  double best = -1, bestF = lo;
  for (double f = lo; f <= hi; f += df) {
    const double p = power(wave, dt, f);
    if (p > best) {
      best = p;
      bestF = f;
    }
  }
  const double a = power(wave, dt, bestF - df), b = best, c = power(wave, dt, bestF + df);
  return bestF + 0.5 * df * (a - c) / (a - 2 * b + c);
}

TEST(EdgeMaterials, CopperCavityResonatesAtTheDrawnSize) {
  const int a = 21, b = 17, c = 14;
  EXPECT_NEAR(yeeMode(a, b, c, 1, 1, 0), 11.3392e9, 0.0001e9);
  EXPECT_NEAR(yeeMode(a, b, c, 1, 1, 1), 15.5963e9, 0.0001e9);
  EXPECT_NEAR(yeeMode(a, b, c, 2, 1, 0), 16.7556e9, 0.0001e9);
  ModelRecord model;
  cavity(model, a, b, c, [](int, int, int) { return 0; });
  const int source[3] = {6, 6, 5}, probe[3] = {16, 12, 12};
  double dt = 0;
  for (bool avg : {false, true}) {
  const std::vector<double> wave = ring(model, avg, 2, source, probe, 8000, dt);
  {
    std::vector<double> pw, fs;
    for (double f = 5e9; f < 20e9; f += 20e6) { pw.push_back(power(wave, dt, f)); fs.push_back(f); }
    double mx = 0; for (double v : wave) mx = std::max(mx, std::fabs(v));
    printf("max %g last %g %g %g\n", mx, wave[7997], wave[7998], wave[7999]); for (int q : {30,40,50,60,80,100,150,200,300,500,1000,2000,4000}) printf("  w[%d]=%g", q, wave[q]); printf("\n");
    printf("avg %d:", avg);
    for (size_t i = 1; i + 1 < pw.size(); ++i) if (pw[i] > pw[i-1] && pw[i] > pw[i+1]) printf(" %.2f(%.1e)", fs[i] / 1e9, pw[i]);
    printf("\n");
  }
  for (auto [m, n, p] : {std::array{1, 1, 0}, {1, 1, 1}, {2, 1, 0}}) {
    const double f = yeeMode(a, b, c, m, n, p);
    const double found = peak(wave, dt, 0.97 * f, 1.03 * f);
    printf("TM%d%d%d %.5f GHz expected %.5f  (%.3f %%)\n", m, n, p, found / 1e9, f / 1e9,
           100 * (found / f - 1));
  }
  }
}

}  // namespace
}  // namespace tavro
