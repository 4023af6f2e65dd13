#include "engine/edge_materials.h"

#include <algorithm>
#include <cstdint>

#include "engine/grid_index.h"

namespace tavro {

namespace {

struct AxisArrays {
  const float* sigma[3];
  const float* eps[3];
  const float* mu[3];
};

// Mean conductivity and permittivity along axis a of the cells sharing the E
// edge that leaves node c along a: the cells c, c - e_b, c - e_d, c - e_b - e_d
// (b, d the other two axes) that lie inside the area.
void edgeMean(const AxisArrays& m, const GridDesc& g, const int64_t c[3], int a, float& sg,
              float& eps) {
  const int b = (a + 1) % 3, d = (a + 2) % 3;
  double s = 0.0, e = 0.0;
  int count = 0;
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      int64_t p[3] = {c[0], c[1], c[2]};
      p[b] -= i;
      p[d] -= j;
      if (p[b] < 0 || p[d] < 0) continue;
      const uint64_t q = plainIndex(g, p[0], p[1], p[2]);
      s += m.sigma[a][q];
      e += m.eps[a][q];
      ++count;
    }
  sg = static_cast<float>(s / count);
  eps = static_cast<float>(e / count);
}

// A cell is a conductor for a face normal to a when its loss per step
// outweighs its storage along both axes of the face.
bool conductorFor(const AxisArrays& m, uint64_t q, int a, double halfDt) {
  for (int t : {(a + 1) % 3, (a + 2) % 3})
    if (!(static_cast<double>(m.sigma[t][q]) * halfDt > static_cast<double>(m.eps[t][q])))
      return false;
  return true;
}

// Permeability along a of the face between cell c and the cell before it
// along a (see the header for the rule).
float faceMean(const AxisArrays& m, const GridDesc& g, const int64_t c[3], int a, double halfDt) {
  const uint64_t q = plainIndex(g, c[0], c[1], c[2]);
  if (c[a] == 0) return m.mu[a][q];
  int64_t p[3] = {c[0], c[1], c[2]};
  --p[a];
  const uint64_t r = plainIndex(g, p[0], p[1], p[2]);
  const bool cq = conductorFor(m, q, a, halfDt), cr = conductorFor(m, r, a, halfDt);
  if (cq != cr) return cq ? m.mu[a][r] : m.mu[a][q];
  const double u = m.mu[a][q], v = m.mu[a][r];
  return static_cast<float>(2.0 * u * v / (u + v));
}

}  // namespace

void averagedCoefficients(SimulationEngine& eng) {
  GridHolder& grid = eng.grid;
  const GridDesc g = grid.desc;
  const MaterialArrays& mat = grid.mat;
  const AxisArrays m{{mat.sigmaX.data(), mat.sigmaY.data(), mat.sigmaZ.data()},
                     {mat.epsX.data(), mat.epsY.data(), mat.epsZ.data()},
                     {mat.muX.data(), mat.muY.data(), mat.muZ.data()}};
  const float dt = eng.sam.dt;
  const float size[3] = {eng.sam.dx, eng.sam.dy, eng.sam.dz};
  const double hdt = 0.5 * static_cast<double>(dt);
  ECell* e = grid.e.data();
  HCell* h = grid.h.data();
  const int64_t n = static_cast<int64_t>(g.cellCount);

#pragma omp parallel for schedule(static)
  for (int64_t k = 0; k < n; ++k) {
    int64_t c[3];
    cellCoords(g, static_cast<uint64_t>(k), c[0], c[1], c[2]);

    // E: the edge means and their denominators, as the plain set-up forms
    // them from a cell's own material.
    float sg[3], eps[3], den[3];
    for (int a = 0; a < 3; ++a) {
      edgeMean(m, g, c, a, sg[a], eps[a]);
      den[a] = static_cast<float>(static_cast<double>(sg[a]) * hdt + static_cast<double>(eps[a]));
    }
    // cb_a serves the two components other than a.
    float shared[3];
    for (int a = 0; a < 3; ++a) shared[a] = std::min(den[(a + 1) % 3], den[(a + 2) % 3]);
    const float least = std::min({den[0], den[1], den[2]});
    float ca[3];
    for (int a = 0; a < 3; ++a) {
      ca[a] = 1.0f - dt * sg[a] / den[a];
      // A component that meets a smaller denominator than its own keeps at
      // least its own permittivity: (1 + ca) least / 2 >= eps.
      if (least < den[a]) ca[a] = std::min(1.0f, std::max(ca[a], 2.0f * eps[a] / least - 1.0f));
    }
    ECell& ec = e[eIndex(g, c[0], c[1], c[2])];
    ec.cax = ca[0];
    ec.cay = ca[1];
    ec.caz = ca[2];
    ec.cbx = dt / shared[0] / size[0];
    ec.cby = dt / shared[1] / size[1];
    ec.cbz = dt / shared[2] / size[2];

    // H: the face means; ch_a serves the two components other than a.
    float mu[3];
    for (int a = 0; a < 3; ++a) mu[a] = faceMean(m, g, c, a, hdt);
    HCell& hc = h[hIndex(g, c[0], c[1], c[2])];
    hc.chx = dt / std::min(mu[1], mu[2]) / size[0];
    hc.chy = dt / std::min(mu[0], mu[2]) / size[1];
    hc.chz = dt / std::min(mu[0], mu[1]) / size[2];
  }
}

}  // namespace tavro
