#include "engine/nf2ff_transform.h"

#include <algorithm>
#include <cmath>

namespace tavro {

namespace {

// The equivalent currents at one frequency: the complex moments (amplitude
// times signed surface element) of the samples, grouped by current and axis
// (J x, y, z, then M x, y, z). exp(j k r.r') is a product of one factor per
// axis, and the z factor depends on theta alone: so the moments of a group
// are first summed along z into columns (one per distinct x, y), once per
// theta, and the columns then summed for every phi.
struct Moment {
  int32_t column;  // index of its (x, y) column in the group
  int32_t z;       // half cells from the box's lower corner, plus one
  std::complex<double> value;
};

struct Group {
  std::vector<Moment> moments;
  std::vector<int32_t> columnX, columnY;  // half cells, plus one
};

struct Moments {
  Group group[6];
  int span[3] = {0, 0, 0};       // table length per axis in half cells
  double centre[3] = {0, 0, 0};  // the box's centre in the same units
  double cell[3] = {0, 0, 0};
  double k0 = 0.0;
};

Moments momentsAt(const FarFieldRecorder& rec, std::size_t f) {
  Moments m;
  const SurfaceBox& b = rec.box();
  const int size[3] = {b.x1 - b.x0, b.y1 - b.y0, b.z1 - b.z0};
  for (int k = 0; k < 3; ++k) {
    m.span[k] = 2 * size[k] + 3;
    m.centre[k] = size[k] + 1.0;
    m.cell[k] = rec.cell(k);
  }
  m.k0 = 2.0 * M_PI * rec.frequencies()[f] * std::sqrt(kFarMu0 * kFarEps0);
  std::vector<int32_t> columnOf(static_cast<std::size_t>(m.span[0] * m.span[1]));
  const std::vector<SurfaceSample>& s = rec.samples();
  for (int gi = 0; gi < 6; ++gi) {
    Group& g = m.group[gi];
    std::fill(columnOf.begin(), columnOf.end(), -1);
    for (std::size_t i = 0; i < s.size(); ++i) {
      if ((s[i].magnetic ? 0 : 3) + s[i].axis != gi) continue;
      const int32_t x = s[i].pos[0] + 1, y = s[i].pos[1] + 1;
      int32_t& col = columnOf[static_cast<std::size_t>(x * m.span[1] + y)];
      if (col < 0) {
        col = static_cast<int32_t>(g.columnX.size());
        g.columnX.push_back(x);
        g.columnY.push_back(y);
      }
      g.moments.push_back({col, s[i].pos[2] + 1, rec.amplitude(i, f) * s[i].weight});
    }
  }
  return m;
}

// Scratch space of one thread.
struct Scratch {
  std::vector<std::complex<double>> table[3];
  std::vector<std::complex<double>> columns[6];
  explicit Scratch(const Moments& m) {
    for (int k = 0; k < 3; ++k) table[k].resize(static_cast<std::size_t>(m.span[k]));
    for (int g = 0; g < 6; ++g) columns[g].resize(m.group[g].columnX.size());
  }
};

void fillTable(const Moments& m, int k, double direction, std::vector<std::complex<double>>& t) {
  const double step = m.k0 * direction * m.cell[k] * 0.5;
  for (int p = 0; p < m.span[k]; ++p)
    t[static_cast<std::size_t>(p)] = std::polar(1.0, step * (p - m.centre[k]));
}

// The far field in direction (theta, phi[j]) for every j into out[j].
void rowField(const Moments& m, Scratch& sc, double theta, const double* phi, std::size_t count,
              FarFieldPoint* out) {
  const double st = std::sin(theta), ct = std::cos(theta);
  fillTable(m, 2, ct, sc.table[2]);
  for (int g = 0; g < 6; ++g) {
    std::vector<std::complex<double>>& col = sc.columns[g];
    std::fill(col.begin(), col.end(), std::complex<double>(0.0, 0.0));
    for (const Moment& mo : m.group[g].moments)
      col[static_cast<std::size_t>(mo.column)] +=
          mo.value * sc.table[2][static_cast<std::size_t>(mo.z)];
  }
  const double eta = std::sqrt(kFarMu0 / kFarEps0);
  const std::complex<double> jk(0.0, m.k0 / (4.0 * M_PI));
  for (std::size_t j = 0; j < count; ++j) {
    const double sp = std::sin(phi[j]), cp = std::cos(phi[j]);
    fillTable(m, 0, st * cp, sc.table[0]);
    fillTable(m, 1, st * sp, sc.table[1]);
    std::complex<double> sum[6];
    for (int g = 0; g < 6; ++g) {
      const Group& gr = m.group[g];
      std::complex<double> acc(0.0, 0.0);
      for (std::size_t c = 0; c < gr.columnX.size(); ++c)
        acc += sc.columns[g][c] * (sc.table[0][static_cast<std::size_t>(gr.columnX[c])] *
                                   sc.table[1][static_cast<std::size_t>(gr.columnY[c])]);
      sum[g] = acc;
    }
    // N = sum[0..2], L = sum[3..5]; their theta and phi components.
    const double th[3] = {ct * cp, ct * sp, -st};
    const double ph[3] = {-sp, cp, 0.0};
    std::complex<double> nTh(0.0), nPh(0.0), lTh(0.0), lPh(0.0);
    for (int k = 0; k < 3; ++k) {
      nTh += sum[k] * th[k];
      nPh += sum[k] * ph[k];
      lTh += sum[3 + k] * th[k];
      lPh += sum[3 + k] * ph[k];
    }
    out[j].eTheta = -jk * (lPh + eta * nTh);
    out[j].ePhi = jk * (lTh - eta * nPh);
  }
}

}  // namespace

std::vector<FarFieldPoint> FarField(const FarFieldRecorder& rec, std::size_t f,
                                    const std::vector<double>& theta,
                                    const std::vector<double>& phi) {
  std::vector<FarFieldPoint> out(theta.size());
  if (f >= rec.frequencies().size() || theta.size() != phi.size()) return out;
  const Moments m = momentsAt(rec, f);
  const int64_t n = static_cast<int64_t>(theta.size());
#pragma omp parallel if (n > 1)
  {
    Scratch sc(m);
#pragma omp for schedule(static)
    for (int64_t i = 0; i < n; ++i)
      rowField(m, sc, theta[static_cast<std::size_t>(i)], &phi[static_cast<std::size_t>(i)], 1,
               &out[static_cast<std::size_t>(i)]);
  }
  return out;
}

double RadiationIntensity(const FarFieldPoint& p) {
  const double eta = std::sqrt(kFarMu0 / kFarEps0);
  return (std::norm(p.eTheta) + std::norm(p.ePhi)) / (2.0 * eta);
}

FarFieldPattern ComputePattern(const FarFieldRecorder& rec, std::size_t f) {
  FarFieldPattern pat;
  const int T = FarFieldPattern::kThetaCount, P = FarFieldPattern::kPhiCount;
  const double step = FarFieldPattern::kStepDeg * M_PI / 180.0;
  std::vector<double> phi(static_cast<std::size_t>(P));
  for (int ip = 0; ip < P; ++ip) phi[static_cast<std::size_t>(ip)] = ip * step;
  pat.points.assign(static_cast<std::size_t>(T * P), FarFieldPoint{});
  if (f < rec.frequencies().size()) {
    const Moments m = momentsAt(rec, f);
#pragma omp parallel
    {
      Scratch sc(m);
#pragma omp for schedule(static)
      for (int it = 0; it < T; ++it)
        rowField(m, sc, it * step, phi.data(), phi.size(),
                 &pat.points[static_cast<std::size_t>(it * P)]);
    }
  }
  // Trapezoidal rule in theta (its end points carry sin(theta) = 0), the
  // periodic sum in phi.
  double power = 0.0;
  for (int it = 0; it < T; ++it) {
    const double w = std::sin(it * step) * step * step * (it == 0 || it == T - 1 ? 0.5 : 1.0);
    for (int ip = 0; ip < P; ++ip)
      power += w * RadiationIntensity(pat.points[static_cast<std::size_t>(it * P + ip)]);
  }
  pat.power = power;
  pat.directivity.assign(pat.points.size(), 0.0);
  for (std::size_t i = 0; i < pat.points.size(); ++i) {
    const double d = power > 0.0 ? 4.0 * M_PI * RadiationIntensity(pat.points[i]) / power : 0.0;
    pat.directivity[i] = d;
    if (d > pat.maxDirectivity) {
      pat.maxDirectivity = d;
      pat.maxTheta = static_cast<double>(i / P) * FarFieldPattern::kStepDeg;
      pat.maxPhi = static_cast<double>(i % P) * FarFieldPattern::kStepDeg;
    }
  }
  return pat;
}

double ToDbi(double d) { return d > 0.0 ? 10.0 * std::log10(d) : -300.0; }

}  // namespace tavro
