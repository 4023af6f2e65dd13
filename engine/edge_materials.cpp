#include "engine/edge_materials.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/console.h"
#include "engine/grid_index.h"

namespace tavro {

namespace {

// Headroom on the time-step limit of a conductor face (see below).
constexpr double kFaceMargin = 1.02;

struct AxisArrays {
  const float* sigma[3];
  const float* eps[3];
  const float* mu[3];
};

// What the set-up knows of one E edge or H face: its mean material, the
// denominator of its update, and whether the cells that share it differ
// (it straddles an interface) or conduct.
struct Share {
  float den;
  bool mixed;
  bool conductor;
};

// Whether cell q conducts along all three axes: its loss per step outweighs
// its storage.
bool conductorCell(const AxisArrays& m, uint64_t q, double halfDt) {
  for (int t = 0; t < 3; ++t)
    if (!(static_cast<double>(m.sigma[t][q]) * halfDt > static_cast<double>(m.eps[t][q])))
      return false;
  return true;
}

// Per cell 1 + a where the cell is a one-cell wire along axis a, else 0. Such
// a cell is a conductor with a conductor before or after it along a and none
// of the four cells beside it across a conducts (cells outside the area do
// not). A corner, a single cell and every thicker body are not wires.
std::vector<uint8_t> thinWireCells(const AxisArrays& m, const GridDesc& g, double halfDt) {
  const int64_t n = static_cast<int64_t>(g.cellCount);
  const int64_t size[3] = {g.nx, g.ny, g.nz};
  std::vector<uint8_t> wire(static_cast<size_t>(n), 0);
#pragma omp parallel for schedule(static)
  for (int64_t k = 0; k < n; ++k) {
    if (!conductorCell(m, static_cast<uint64_t>(k), halfDt)) continue;
    int64_t c[3];
    cellCoords(g, static_cast<uint64_t>(k), c[0], c[1], c[2]);
    // Conducting neighbours along each axis, either side.
    int along[3] = {0, 0, 0};
    for (int t = 0; t < 3; ++t)
      for (int side : {-1, 1}) {
        int64_t p[3] = {c[0], c[1], c[2]};
        p[t] += side;
        if (p[t] < 0 || p[t] >= size[t]) continue;
        if (conductorCell(m, plainIndex(g, p[0], p[1], p[2]), halfDt)) ++along[t];
      }
    for (int a = 0; a < 3; ++a)
      if (along[a] > 0 && along[(a + 1) % 3] == 0 && along[(a + 2) % 3] == 0)
        wire[static_cast<size_t>(k)] = static_cast<uint8_t>(1 + a);
  }
  return wire;
}

// Mean conductivity and permittivity along axis a of the cells sharing the E
// edge that leaves node c along a: the cells c, c - e_b, c - e_d, c - e_b - e_d
// (b, d the other two axes) that lie inside the area. Wire cells (`wire`
// not 0) take no part: a wire is a line of held edges, not a body (at least
// one cell beside a wire is no wire; where the area's faces leave none, all
// take part). Returns whether the cells differ.
bool edgeMean(const AxisArrays& m, const GridDesc& g, const std::vector<uint8_t>& wire,
              const int64_t c[3], int a, float& sg, float& eps) {
  const int b = (a + 1) % 3, d = (a + 2) % 3;
  double s = 0.0, e = 0.0;
  int count = 0;
  bool mixed = false;
  for (int pass = 0; pass < 2 && count == 0; ++pass)
    for (int i = 0; i < 2; ++i)
      for (int j = 0; j < 2; ++j) {
        int64_t p[3] = {c[0], c[1], c[2]};
        p[b] -= i;
        p[d] -= j;
        if (p[b] < 0 || p[d] < 0) continue;
        const uint64_t q = plainIndex(g, p[0], p[1], p[2]);
        if (pass == 0 && wire[q] != 0) continue;
        if (count > 0) mixed = mixed || m.sigma[a][q] != sg || m.eps[a][q] != eps;
        sg = m.sigma[a][q];
        eps = m.eps[a][q];
        s += sg;
        e += eps;
        ++count;
      }
  sg = static_cast<float>(s / count);
  eps = static_cast<float>(e / count);
  return mixed;
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
// along a (see the header for the rule), as a share of ch.
Share faceMean(const AxisArrays& m, const GridDesc& g, const int64_t c[3], int a, double halfDt) {
  const uint64_t q = plainIndex(g, c[0], c[1], c[2]);
  if (c[a] == 0) return {m.mu[a][q], false, false};
  int64_t p[3] = {c[0], c[1], c[2]};
  --p[a];
  const uint64_t r = plainIndex(g, p[0], p[1], p[2]);
  const bool cq = conductorFor(m, q, a, halfDt), cr = conductorFor(m, r, a, halfDt);
  if (cq != cr) return {cq ? m.mu[a][r] : m.mu[a][q], false, false};
  const double u = m.mu[a][q], v = m.mu[a][r];
  return {static_cast<float>(2.0 * u * v / (u + v)), u != v, false};
}

// Whether E edge a of cell p conducts; edges on the guard layers never move.
bool conducts(const std::vector<uint8_t>& flags, const GridDesc& g, const int64_t p[3], int a) {
  const int64_t n[3] = {g.nx, g.ny, g.nz};
  for (int i = 0; i < 3; ++i)
    if (p[i] < 0 || p[i] >= n[i]) return true;
  return (flags[plainIndex(g, p[0], p[1], p[2])] >> a) & 1;
}

// Whether H component h of cell p is held at zero: all four E edges around
// its face conduct (or it lies on the guard layer).
bool deadFace(const std::vector<uint8_t>& flags, const GridDesc& g, const int64_t p[3], int h) {
  if (p[0] < 0 || p[1] < 0 || p[2] < 0) return true;
  const int u = (h + 1) % 3, v = (h + 2) % 3;
  int64_t q[3] = {p[0], p[1], p[2]};
  if (!conducts(flags, g, q, u) || !conducts(flags, g, q, v)) return false;
  q[v] = p[v] + 1;
  if (!conducts(flags, g, q, u)) return false;
  q[v] = p[v];
  q[u] = p[u] + 1;
  return conducts(flags, g, q, v);
}

// Whether both H of component h read by a difference along a from cell c
// (at c and c - e_a) are held.
bool heldPair(const std::vector<uint8_t>& flags, const GridDesc& g, const int64_t c[3], int a,
              int h) {
  int64_t p[3] = {c[0], c[1], c[2]};
  if (!deadFace(flags, g, p, h)) return false;
  --p[a];
  return deadFace(flags, g, p, h);
}

// What the averaged rule makes of the three E edges of one cell.
struct CellEdges {
  float sg[3], eps[3];
  Share edge[3];
  float shared[3];  // denominator behind cb_a
  // Conductor edges that the shared coefficients cannot hold at zero: the
  // cell's open components keep their open denominators, and a hold pass
  // keeps these edges at zero after every E update.
  bool rim;
};

// The grid-wide facts the rule reads: the materials, the one-cell wires and
// which E edges conduct.
struct EdgeContext {
  AxisArrays m;
  GridDesc g;
  double hdt;
  std::vector<uint8_t> wire, flags;
};

EdgeContext edgeContext(const SimulationEngine& eng) {
  const MaterialArrays& mat = eng.grid.mat;
  EdgeContext x{{{mat.sigmaX.data(), mat.sigmaY.data(), mat.sigmaZ.data()},
                 {mat.epsX.data(), mat.epsY.data(), mat.epsZ.data()},
                 {mat.muX.data(), mat.muY.data(), mat.muZ.data()}},
                eng.grid.desc,
                0.5 * static_cast<double>(eng.sam.dt),
                {},
                {}};
  x.wire = thinWireCells(x.m, x.g, x.hdt);
  const int64_t n = static_cast<int64_t>(x.g.cellCount);
  x.flags.assign(static_cast<size_t>(n), 0);
#pragma omp parallel for schedule(static)
  for (int64_t k = 0; k < n; ++k) {
    int64_t c[3];
    cellCoords(x.g, static_cast<uint64_t>(k), c[0], c[1], c[2]);
    uint8_t f = 0;
    for (int a = 0; a < 3; ++a) {
      float sg, eps;
      edgeMean(x.m, x.g, x.wire, c, a, sg, eps);
      if (static_cast<double>(sg) * x.hdt > static_cast<double>(eps)) f |= uint8_t(1u << a);
    }
    x.flags[static_cast<size_t>(k)] = f;
  }
  return x;
}

CellEdges cellEdges(const EdgeContext& x, const int64_t c[3]) {
  CellEdges r{};
  // The edge means and their denominators, as the plain set-up forms them
  // from a cell's own material.
  for (int a = 0; a < 3; ++a) {
    const bool mixed = edgeMean(x.m, x.g, x.wire, c, a, r.sg[a], r.eps[a]);
    r.edge[a].den =
        static_cast<float>(static_cast<double>(r.sg[a]) * x.hdt + static_cast<double>(r.eps[a]));
    r.edge[a].mixed = mixed;
    r.edge[a].conductor = static_cast<double>(r.sg[a]) * x.hdt > static_cast<double>(r.eps[a]);
  }
  // The components that do not conduct share one denominator, so that
  // each update takes both of its differences with the same weight: the
  // mean of those that straddle an interface, else their common one.
  float open = 0.0f, straddle = 0.0f, most = 0.0f;
  int opens = 0, straddles = 0;
  for (int a = 0; a < 3; ++a) {
    most = std::max(most, r.edge[a].den);
    if (r.edge[a].conductor) continue;
    open = r.edge[a].den;
    ++opens;
    if (r.edge[a].mixed) {
      straddle += r.edge[a].den;
      ++straddles;
    }
  }
  if (straddles > 0) open = straddle / static_cast<float>(straddles);
  // cb_a serves the two components other than a. Shared by a conductor
  // edge and an open one it takes the open denominator, which holds the
  // conductor edge by itself only where its difference along a reads H held
  // at zero (a face of a conductor); elsewhere (rims, corners) the edge is
  // held by the hold pass instead.
  bool safe = true;
  for (int a = 0; a < 3; ++a) {
    const int b = (a + 1) % 3, d = (a + 2) % 3;
    if (r.edge[b].conductor && r.edge[d].conductor) {
      r.shared[a] = most;
      continue;
    }
    // With no interface in the cell the open edges keep the plain rule:
    // the coefficient of a difference along a from the axis-a material.
    r.shared[a] = straddles == 0 && !r.edge[a].conductor ? r.edge[a].den : open;
    for (int e : {b, d}) {
      if (!r.edge[e].conductor) continue;
      // Its difference along a must read held H; its other difference,
      // when shared with another conductor edge, must read moving H, so
      // that the held faces and the edges on them form a closed set whose
      // update takes one weight per edge.
      const int other = 3 - a - e;
      safe = safe && heldPair(x.flags, x.g, c, a, 3 - a - e);
      if (r.edge[3 - e - other].conductor) safe = safe && !heldPair(x.flags, x.g, c, other, a);
    }
  }
  if (opens == 0)
    for (float& v : r.shared) v = most;
  r.rim = !safe && opens > 0;
  if (r.rim) {
    // Every cb of a rim cell that serves an open component takes one
    // denominator, so that each open update weighs both its differences
    // alike (the axis rule could give the two differences of one component
    // different weights here, which would not conserve energy).
    float common = open;
    if (straddles == 0) {
      float sum = 0.0f;
      for (const Share& s : r.edge)
        if (!s.conductor) sum += s.den;
      common = sum / static_cast<float>(opens);
    }
    for (int a = 0; a < 3; ++a)
      r.shared[a] = r.edge[(a + 1) % 3].conductor && r.edge[(a + 2) % 3].conductor ? most : common;
  }
  return r;
}

}  // namespace

void averagedCoefficients(SimulationEngine& eng) {
  const EdgeContext x = edgeContext(eng);
  const GridDesc g = x.g;
  const float dt = eng.sam.dt;
  const float size[3] = {eng.sam.dx, eng.sam.dy, eng.sam.dz};
  ECell* e = eng.grid.e.data();
  HCell* h = eng.grid.h.data();
  const int64_t n = static_cast<int64_t>(g.cellCount);

#pragma omp parallel for schedule(static)
  for (int64_t k = 0; k < n; ++k) {
    int64_t c[3];
    cellCoords(g, static_cast<uint64_t>(k), c[0], c[1], c[2]);
    // H: the face means; ch_a serves the two components other than a.
    Share face[3];
    for (int a = 0; a < 3; ++a) face[a] = faceMean(x.m, g, c, a, x.hdt);
    // As for E: one permeability for the cell where a face straddles an
    // interface (the mean of those that do), else the plain axis rule.
    float mixed = 0.0f;
    int mixedCount = 0;
    for (const Share& f : face)
      if (f.mixed) {
        mixed += f.den;
        ++mixedCount;
      }
    for (Share& f : face)
      if (mixedCount > 0) f.den = mixed / static_cast<float>(mixedCount);
    const CellEdges r = cellEdges(x, c);
    float ca[3];
    for (int a = 0; a < 3; ++a) {
      ca[a] = 1.0f - dt * r.sg[a] / r.edge[a].den;
      // A component that meets a smaller denominator than its own keeps its
      // permittivity, (1 + ca) least / 2 >= eps, so that its update stays
      // passive. A conductor edge that takes the open denominator lies on a
      // conductor face and reads only H held there; it keeps three quarters,
      // and the rest becomes loss, which damps what reaches the face (a
      // lossless face would integrate any static field into it), while the
      // face, a surface, stays within its own time-step limit.
      const float least = std::min(r.shared[(a + 1) % 3], r.shared[(a + 2) % 3]);
      const float keep = r.edge[a].conductor ? 1.5f : 2.0f;
      if (least < r.edge[a].den)
        ca[a] = std::min(1.0f, std::max(ca[a], keep * r.eps[a] / least - 1.0f));
      // That limit: the face's edges and the H normal to it form a lossy
      // two-dimensional grid, E1 = ca E0 + (dt / least) curl H, stable for
      // (dt^2 / (least mu)) 4 (1/du^2 + 1/dv^2) <= 2 (1 + ca). Cells much
      // flatter than long (a face of small du, dv and a time step set by a
      // large third size) need more than three quarters kept.
      if (r.edge[a].conductor && least < r.edge[a].den) {
        const double du = size[a], dv = std::min(size[(a + 1) % 3], size[(a + 2) % 3]);
        const double mu = std::min({face[0].den, face[1].den, face[2].den});
        const double need = 2.0 * static_cast<double>(dt) * dt / (static_cast<double>(least) * mu) *
                                (1.0 / (du * du) + 1.0 / (dv * dv)) * kFaceMargin -
                            1.0;
        ca[a] = std::min(1.0f, std::max(ca[a], static_cast<float>(need)));
      }
    }
    ECell& ec = e[eIndex(g, c[0], c[1], c[2])];
    ec.cax = ca[0];
    ec.cay = ca[1];
    ec.caz = ca[2];
    ec.cbx = dt / r.shared[0] / size[0];
    ec.cby = dt / r.shared[1] / size[1];
    ec.cbz = dt / r.shared[2] / size[2];

    HCell& hc = h[hIndex(g, c[0], c[1], c[2])];
    hc.chx = dt / face[0].den / size[0];
    hc.chy = dt / face[1].den / size[1];
    hc.chz = dt / face[2].den / size[2];
  }
}

bool appendEdgeHolds(SimulationEngine& eng) {
  const EdgeContext x = edgeContext(eng);
  const GridDesc g = x.g;
  // Per cell the edges to hold: bit a for edge a.
  std::vector<uint8_t> held(static_cast<size_t>(g.cellCount), 0);
  const int64_t n = static_cast<int64_t>(g.cellCount);
#pragma omp parallel for schedule(static)
  for (int64_t k = 0; k < n; ++k) {
    const uint8_t wire = x.wire[static_cast<size_t>(k)];
    uint8_t bits = wire != 0 ? static_cast<uint8_t>(1u << (wire - 1)) : 0;
    int64_t c[3];
    cellCoords(g, static_cast<uint64_t>(k), c[0], c[1], c[2]);
    const CellEdges r = cellEdges(x, c);
    if (r.rim)
      for (int a = 0; a < 3; ++a)
        if (r.edge[a].conductor) bits |= uint8_t(1u << a);
    held[static_cast<size_t>(k)] = bits;
  }
  size_t holds = 0;
  for (uint8_t b : held) holds += static_cast<size_t>(__builtin_popcount(b));
  if (holds == 0) return true;

  size_t given = eng.sources.size();
  if (eng.sam.sourceCount >= 0 && static_cast<size_t>(eng.sam.sourceCount) < given)
    given = static_cast<size_t>(eng.sam.sourceCount);
  Buffer<FDTD_SRC> list;
  if (given + holds > static_cast<size_t>(INT32_MAX) || !list.allocate(given + holds)) {
    con() << "error: can't allocate memory for sources[" << given + holds << "].\n";
    return false;
  }
  for (size_t i = 0; i < given; ++i) list[i] = eng.sources[i];
  size_t next = given;
  for (uint64_t k = 0; k < g.cellCount; ++k) {
    for (int a = 0; a < 3; ++a) {
      if (!((held[k] >> a) & 1)) continue;
      int64_t px, py, pz;
      cellCoords(g, k, px, py, pz);
      FDTD_SRC hold{};
      hold.cell = static_cast<int64_t>(eIndex(g, px, py, pz));
      hold.dir = a;
      hold.type = kSrcDC;
      hold.volt = 0.0f;
      list[next++] = hold;
    }
  }
  eng.sources = std::move(list);
  eng.sam.sourceCount = static_cast<int32_t>(given + holds);
  return true;
}

}  // namespace tavro
