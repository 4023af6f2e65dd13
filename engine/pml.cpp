#include "engine/pml.h"

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <vector>

#include "engine/console.h"
#include "engine/field_kernels.h"
#include "engine/field_lanes.h"
#include "engine/field_passes.h"
#include "engine/grid_index.h"
#include "engine/pml_rows.h"

namespace tavro {

namespace {

constexpr double kEta0 = 376.730313;

// Where a grid lies along x in the box: its position 0 is the box grid's
// position `shift`; the box has `drawn` drawn planes and `n` grid positions
// (with the layer on both sides). A grid that is the whole box has shift 0.
struct XPlace {
  int64_t shift, drawn, n;
};

XPlace xPlace(const SimulationEngine& eng, int64_t drawnX) {
  const int P = eng.pmlCells;
  const int64_t drawn = eng.pmlBoxX > 0 ? eng.pmlBoxX : drawnX;
  return {P + eng.pmlBoxX0 - layerBeforeX(eng), drawn, drawn + 2 * P};
}

// The slab of `axis` on the low (side 0) or high side of the box: P + 1
// positions, because on each side the interface derivative half a cell
// outside the drawn area belongs to the layer too. In the coordinates of a
// grid of n cells whose position 0 along `axis` is the box's `shift`, of
// the box's `boxN`: the part within the grid, empty where the grid does not
// reach the box's side.
void slabBox(PmlSlab& s, int axis, int side, int cells, const int64_t n[3], int64_t shift,
             int64_t boxN) {
  s.axis = axis;
  for (int a = 0; a < 3; ++a) {
    s.lo[a] = 0;
    s.hi[a] = n[a];
  }
  const int64_t t = cells + 1;
  const int64_t from = side == 0 ? 0 : boxN - t, to = side == 0 ? t : boxN;
  s.lo[axis] = std::clamp<int64_t>(from - shift, 0, n[axis]);
  s.hi[axis] = std::clamp<int64_t>(to - shift, s.lo[axis], n[axis]);
}

// The box of slab k (axis k / 2, side k % 2) in a grid of n cells placed
// along x by `xp`.
void slabBoxAt(PmlSlab& s, int k, int cells, const int64_t n[3], const XPlace& xp) {
  const int axis = k / 2;
  slabBox(s, axis, k % 2, cells, n, axis == 0 ? xp.shift : 0, axis == 0 ? xp.n : n[axis]);
}

// The layer's arrays in a grid of n cells placed along x by `xp`: the psi
// records of its slabs and the coefficient tables.
uint64_t layerBytes(int cells, const int64_t n[3], const XPlace& xp) {
  uint64_t records = 0;
  for (int k = 0; k < 6; ++k) {
    PmlSlab s;
    slabBoxAt(s, k, cells, n, xp);
    records += s.cells();
  }
  const uint64_t tables = 2 * static_cast<uint64_t>(n[0] + n[1] + n[2]) * sizeof(PmlCoef);
  return records * kPsiBlocks * sizeof(float) + tables;
}

// Depth into the layer, in cells, of a node at grid position `pos` along an
// axis whose drawn cells are [P, P + N): positive inside the layer.
double depthAt(double pos, int P, int64_t N) {
  const double lowFace = P, highFace = static_cast<double>(P + N - 1);
  if (pos < lowFace) return lowFace - pos;
  if (pos > highFace) return pos - highFace;
  return 0.0;
}

// The corrections of one run of n consecutive cells along z for the
// derivative along axis A, starting at H (E) element h (e) and the cell's
// psi pair `psi`. Along x and y the coefficient of the run's position is `coef[0]`;
// along z every cell takes its own, coef[i]. `stride` is the element step
// along A. Each cell's psi follows the previous one's. The z slabs'
// corrections come last in a cell, so their runs bring the signed magnitude
// up to date as well.
template <int A>
inline void hRun(HCell* h, const ECell* e, int64_t n, uint64_t stride, const PmlCoef* coef,
                 PsiPair psi) {
  for (int64_t i = 0; i < n; ++i) {
    HCell& c = h[i];
    const ECell& o = e[i];
    const ECell& m = e[static_cast<uint64_t>(i) + stride];
    if constexpr (A == 0)
      pmlHCorrect(c.hy, c.hz, c.chx, coef[0], psi.first[i], psi.second[i], m.ez - o.ez,
                  m.ey - o.ey);
    else if constexpr (A == 1)
      pmlHCorrect(c.hz, c.hx, c.chy, coef[0], psi.first[i], psi.second[i], m.ex - o.ex,
                  m.ez - o.ez);
    else
      pmlHCorrect(c.hx, c.hy, c.chz, coef[i], psi.first[i], psi.second[i], m.ey - o.ey,
                  m.ex - o.ex);
    if constexpr (A == 2) c.hmag = signedMagnitude(c.hx, c.hy, c.hz);
  }
}

template <int A>
inline void eRun(ECell* e, const HCell* h, int64_t n, uint64_t stride, const PmlCoef* coef,
                 PsiPair psi) {
  for (int64_t i = 0; i < n; ++i) {
    ECell& c = e[i];
    const HCell& o = h[i];
    const HCell& p = *(h + i - static_cast<int64_t>(stride));
    if constexpr (A == 0)
      pmlECorrect(c.ez, c.ey, c.cbx, coef[0], psi.first[i], psi.second[i], o.hy - p.hy,
                  o.hz - p.hz);
    else if constexpr (A == 1)
      pmlECorrect(c.ex, c.ez, c.cby, coef[0], psi.first[i], psi.second[i], o.hz - p.hz,
                  o.hx - p.hx);
    else
      pmlECorrect(c.ey, c.ex, c.cbz, coef[i], psi.first[i], psi.second[i], o.hx - p.hx,
                  o.hy - p.hy);
    if constexpr (A == 2) c.emag = signedMagnitude(c.ex, c.ey, c.ez);
  }
}

#if TAVRO_HAVE_AVX2_PATH
#pragma GCC push_options
#pragma GCC target("avx2")

// hRun and eRun eight cells at a time, one per lane; the cells left over at
// the end go through the scalar run.
template <int A>
inline __attribute__((flatten)) void hRunAvx2(HCell* h, const ECell* e, int64_t n, uint64_t stride,
                                              const PmlCoef* coef, PsiPair psi) {
  const int64_t ahead = static_cast<int64_t>(stride) * kE;
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    float* hp = reinterpret_cast<float*>(h + i);
    const float* ep = reinterpret_cast<const float*>(e + i);
    Lanes hx, hy, hz, hmag, chx, chy, chz, skip;
    loadColumns(hp, kH, hx, hy, hz, hmag);
    loadColumns(hp + 3, kH, skip, chx, chy, chz);  // floats 3..6: within the element
    Lanes ex, ey, ez, nx, ny, nz;
    loadColumns(ep, kE, ex, ey, ez, skip);
    loadColumns(ep + ahead, kE, nx, ny, nz, skip);
    Lanes s1 = _mm256_loadu_ps(psi.first + i), s2 = _mm256_loadu_ps(psi.second + i);
    const CoefLanes p = coefLanes<A>(coef, i);
    if constexpr (A == 0)
      pmlHCorrectValues(hy, hz, chx, p.b, p.c, p.k, s1, s2, nz - ez, ny - ey);
    else if constexpr (A == 1)
      pmlHCorrectValues(hz, hx, chy, p.b, p.c, p.k, s1, s2, nx - ex, nz - ez);
    else
      pmlHCorrectValues(hx, hy, chz, p.b, p.c, p.k, s1, s2, ny - ey, nx - ex);
    if constexpr (A == 2) setSignedMagnitude<LaneMath>(hmag, hx, hy, hz);
    storeColumns(hp, kH, hx, hy, hz, hmag);
    _mm256_storeu_ps(psi.first + i, s1);
    _mm256_storeu_ps(psi.second + i, s2);
  }
  hRun<A>(h + i, e + i, n - i, stride, A == 2 ? coef + i : coef, psiFrom(psi, i));
}

template <int A>
inline __attribute__((flatten)) void eRunAvx2(ECell* e, const HCell* h, int64_t n, uint64_t stride,
                                              const PmlCoef* coef, PsiPair psi) {
  const int64_t back = static_cast<int64_t>(stride) * kH;
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    float* ep = reinterpret_cast<float*>(e + i);
    const float* hp = reinterpret_cast<const float*>(h + i);
    Lanes ex, ey, ez, emag, cbx, cby, cbz, skip;
    loadColumns(ep, kE, ex, ey, ez, emag);
    loadColumns(ep + 6, kE, skip, cbx, cby, cbz);  // floats 6..9: within the element
    Lanes hx, hy, hz, px, py, pz;
    loadColumns(hp, kH, hx, hy, hz, skip);
    loadColumns(hp - back, kH, px, py, pz, skip);
    Lanes s1 = _mm256_loadu_ps(psi.first + i), s2 = _mm256_loadu_ps(psi.second + i);
    const CoefLanes p = coefLanes<A>(coef, i);
    if constexpr (A == 0)
      pmlECorrectValues(ez, ey, cbx, p.b, p.c, p.k, s1, s2, hy - py, hz - pz);
    else if constexpr (A == 1)
      pmlECorrectValues(ex, ez, cby, p.b, p.c, p.k, s1, s2, hz - pz, hx - px);
    else
      pmlECorrectValues(ey, ex, cbz, p.b, p.c, p.k, s1, s2, hx - px, hy - py);
    if constexpr (A == 2) setSignedMagnitude<LaneMath>(emag, ex, ey, ez);
    storeColumns(ep, kE, ex, ey, ez, emag);
    _mm256_storeu_ps(psi.first + i, s1);
    _mm256_storeu_ps(psi.second + i, s2);
  }
  eRun<A>(e + i, h + i, n - i, stride, A == 2 ? coef + i : coef, psiFrom(psi, i));
}

// The signed magnitude of n cells, eight at a time.
template <class Cell>
inline __attribute__((flatten)) void magnitudeAvx2(Cell* cells, int64_t n) {
  constexpr int kFloats = sizeof(Cell) / sizeof(float);
  int64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    float* p = reinterpret_cast<float*>(cells + i);
    Lanes a, b, c, m;
    loadColumns(p, kFloats, a, b, c, m);
    setSignedMagnitude<LaneMath>(m, a, b, c);
    storeColumns(p, kFloats, a, b, c, m);
  }
  for (; i < n; ++i) {
    float* p = reinterpret_cast<float*>(cells + i);
    p[3] = signedMagnitude(p[0], p[1], p[2]);
  }
}

#pragma GCC pop_options
#endif

// The layer's corrections of rows y0 <= y < y1 of plane x, one row at a
// time and within it one run per slab: the whole row for each x and y slab
// the row lies in, then the cells at its ends in the z slabs. A cell in
// several slabs takes their corrections in the order x low, x high, y low,
// y high, z low, z high. The signed magnitude follows from the final
// components: the z runs set it for their cells, and a pass over the cells
// between them for a row that an x or y slab has corrected.
struct RowCorrector {
  GridDesc d;
  Strides st;
  PmlLayer& L;
  ECell* e;
  HCell* h;
  bool wide;  // eight cells at a time (AVX2)

  explicit RowCorrector(SimulationEngine& eng)
      : d(eng.grid.desc),
        st(stridesOf(d)),
        L(eng.pml),
        e(eng.grid.e.data()),
        h(eng.grid.h.data()),
        wide(laneCount(eng) >= 8) {}

  // Calls run(axis, z0, n, coefficient, psi) for every slab run of row (x,
  // y) in the order above, with the psi of H (h) or of E, then mag(z0, n) for the cells between the
  // z slabs when an x or y slab has corrected them.
  template <class Run, class Mag>
  void forRuns(const std::vector<PmlCoef>* coef, int64_t x, int64_t y, bool h, Run&& run,
               Mag&& mag) const {
    const bool whole = forPmlRuns(L, d, coef, x, y, h, run);
    const int64_t lowEnd = L.slabs[4].hi[2], highStart = L.slabs[5].lo[2];
    if (whole && lowEnd < highStart) mag(lowEnd, highStart - lowEnd);
  }

  // The signed magnitude of n cells: components 0..2 of the record, the
  // magnitude 3.
  template <class Cell>
  void magnitude(Cell* cells, int64_t n) const {
#if TAVRO_HAVE_AVX2_PATH
    if (wide) return magnitudeAvx2(cells, n);
#endif
    for (int64_t i = 0; i < n; ++i) {
      float* p = reinterpret_cast<float*>(cells + i);
      p[3] = signedMagnitude(p[0], p[1], p[2]);
    }
  }

  void hRows(int64_t x, int64_t y0, int64_t y1) const {
    for (int64_t y = y0; y < y1; ++y) {
      HCell* hr = h + hIndex(d, x, y, 0);
      const ECell* er = e + eIndex(d, x, y, 0);
      const uint64_t stride[3] = {st.sx, st.sy, 1};
      forRuns(
          L.hCoef, x, y, true,
          [&](auto axis, int64_t z0, int64_t n, const PmlCoef* c, PsiPair psi) {
            constexpr int A = decltype(axis)::value;
#if TAVRO_HAVE_AVX2_PATH
            if (wide) return hRunAvx2<A>(hr + z0, er + z0, n, stride[A], c, psi);
#endif
            hRun<A>(hr + z0, er + z0, n, stride[A], c, psi);
          },
          [&](int64_t z0, int64_t n) { magnitude(hr + z0, n); });
    }
  }

  void eRows(int64_t x, int64_t y0, int64_t y1) const {
    for (int64_t y = y0; y < y1; ++y) {
      ECell* er = e + eIndex(d, x, y, 0);
      const HCell* hr = h + hIndex(d, x, y, 0);
      const uint64_t stride[3] = {st.sx, st.sy, 1};
      forRuns(
          L.eCoef, x, y, false,
          [&](auto axis, int64_t z0, int64_t n, const PmlCoef* c, PsiPair psi) {
            constexpr int A = decltype(axis)::value;
#if TAVRO_HAVE_AVX2_PATH
            if (wide) return eRunAvx2<A>(er + z0, hr + z0, n, stride[A], c, psi);
#endif
            eRun<A>(er + z0, hr + z0, n, stride[A], c, psi);
          },
          [&](int64_t z0, int64_t n) { magnitude(er + z0, n); });
    }
  }
};

}  // namespace

int layerBeforeX(const SimulationEngine& eng) { return eng.pmlNearX ? eng.pmlCells : 0; }

int layerAfterX(const SimulationEngine& eng) { return eng.pmlFarX ? eng.pmlCells : 0; }

DrawnArea drawnArea(const SimulationEngine& eng) {
  const GridDesc& d = eng.grid.desc;
  const int p = 2 * eng.pmlCells;
  return {d.nx - layerBeforeX(eng) - layerAfterX(eng), d.ny - p, d.nz - p};
}

GridDesc drawnDesc(const SimulationEngine& eng) {
  GridDesc d = eng.grid.desc;
  const DrawnArea a = drawnArea(eng);
  d.nx = a.nx;
  d.ny = a.ny;
  d.nz = a.nz;
  d.cellCount = a.cellCount();
  return d;
}

uint64_t gridCellIndex(const SimulationEngine& eng, const GridDesc& g, int64_t x, int64_t y,
                       int64_t z) {
  // drawnCellIndex puts the layer before x as well; a slab may have less.
  return drawnCellIndex(g, eng.pmlCells, x - eng.pmlCells + layerBeforeX(eng), y, z);
}

uint64_t gridCellIndex(const SimulationEngine& eng, int64_t x, int64_t y, int64_t z) {
  return gridCellIndex(eng, eng.grid.desc, x, y, z);
}

GridDesc gridDescFor(const SimulationEngine& eng, int X, int Y, int Z) {
  const int p = 2 * eng.pmlCells;
  return describeGrid(X + layerBeforeX(eng) + layerAfterX(eng), Y + p, Z + p);
}

uint64_t drawnEIndex(const GridDesc& g, int32_t layer, int64_t x, int64_t y, int64_t z) {
  int64_t gx, gy, gz;
  cellCoords(g, drawnCellIndex(g, layer, x, y, z), gx, gy, gz);
  return eIndex(g, gx, gy, gz);
}

uint64_t drawnEIndex(const SimulationEngine& eng, const GridDesc& g, int64_t x, int64_t y,
                     int64_t z) {
  int64_t gx, gy, gz;
  cellCoords(g, gridCellIndex(eng, g, x, y, z), gx, gy, gz);
  return eIndex(g, gx, gy, gz);
}

uint64_t drawnEIndex(const SimulationEngine& eng, int64_t x, int64_t y, int64_t z) {
  return drawnEIndex(eng, eng.grid.desc, x, y, z);
}

uint64_t drawnHIndex(const SimulationEngine& eng, int64_t x, int64_t y, int64_t z) {
  int64_t gx, gy, gz;
  cellCoords(eng.grid.desc, gridCellIndex(eng, x, y, z), gx, gy, gz);
  return hIndex(eng.grid.desc, gx, gy, gz);
}

void drawnCoords(const SimulationEngine& eng, uint64_t k, int64_t& x, int64_t& y, int64_t& z) {
  cellCoords(eng.grid.desc, k, x, y, z);
  x -= layerBeforeX(eng);
  y -= eng.pmlCells;
  z -= eng.pmlCells;
}

uint64_t pmlBytes(int cells, uint64_t X, uint64_t Y, uint64_t Z) {
  if (cells <= 0) return 0;
  const uint64_t p = 2 * static_cast<uint64_t>(cells);
  const int64_t n[3] = {static_cast<int64_t>(X + p), static_cast<int64_t>(Y + p),
                        static_cast<int64_t>(Z + p)};
  return layerBytes(cells, n, XPlace{0, static_cast<int64_t>(X), n[0]});
}

uint64_t pmlBytes(const SimulationEngine& eng, uint64_t X, uint64_t Y, uint64_t Z) {
  const int P = eng.pmlCells;
  if (P <= 0) return 0;
  const uint64_t p = 2 * static_cast<uint64_t>(P);
  const int64_t n[3] = {static_cast<int64_t>(X) + layerBeforeX(eng) + layerAfterX(eng),
                        static_cast<int64_t>(Y + p), static_cast<int64_t>(Z + p)};
  return layerBytes(P, n, xPlace(eng, static_cast<int64_t>(X)));
}

int buildPml(SimulationEngine& eng) {
  PmlLayer& L = eng.pml;
  const int P = eng.pmlCells;
  for (PmlSlab& s : L.slabs) s.psi.release();
  L.slabCount = 0;
  if (P <= 0) return 1;

  // Materials: every layer cell copies the drawn cell nearest to it (the
  // coordinates clamped into the area). A slab has the layer along x only
  // where it holds the box's face plane, so its clamp is the box's.
  GridHolder& g = eng.grid;
  const GridDesc d = g.desc;
  const DrawnArea a = drawnArea(eng);
  const int64_t before = layerBeforeX(eng);
  MaterialArrays& m = g.mat;
  Buffer<float>* arrays[9] = {&m.sigmaX, &m.sigmaY, &m.sigmaZ, &m.epsX, &m.epsY,
                              &m.epsZ,   &m.muX,    &m.muY,    &m.muZ};
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
#pragma omp parallel for collapse(2) schedule(static)
  for (int64_t x = 0; x < X; ++x)
    for (int64_t y = 0; y < Y; ++y)
      for (int64_t z = 0; z < Z; ++z) {
        const int64_t cx = std::clamp<int64_t>(x - before, 0, a.nx - 1);
        const int64_t cy = std::clamp<int64_t>(y - P, 0, a.ny - 1);
        const int64_t cz = std::clamp<int64_t>(z - P, 0, a.nz - 1);
        if (cx == x - before && cy == y - P && cz == z - P) continue;  // a drawn cell
        const uint64_t to = plainIndex(d, x, y, z);
        const uint64_t from = gridCellIndex(eng, cx, cy, cz);
        for (Buffer<float>* arr : arrays) (*arr)[to] = (*arr)[from];
      }

  const int64_t n[3] = {X, Y, Z};
  const XPlace xp = xPlace(eng, a.nx);
  for (int k = 0; k < 6; ++k) {
    PmlSlab& s = L.slabs[k];
    slabBoxAt(s, k, P, n, xp);
    const uint64_t floats = kPsiBlocks * s.cells();
    if (!memoryFits(floats * sizeof(float)) || !s.psi.allocate(floats)) {
      con() << "error: can't allocate memory for the absorbing layer (" << s.cells()
            << " cells).\n";
      for (PmlSlab& r : L.slabs) r.psi.release();
      return 0;
    }
  }
  L.slabCount = 6;
  return 1;
}

void resetPml(SimulationEngine& eng) {
  PmlLayer& L = eng.pml;
  if (eng.pmlCells <= 0 || L.slabCount == 0) return;
  const int P = eng.pmlCells;
  const GridDesc& d = eng.grid.desc;
  const DrawnArea a = drawnArea(eng);
  // Along x the positions of a slab's planes in the box.
  const XPlace xp = xPlace(eng, a.nx);
  const int64_t n[3] = {d.nx, d.ny, d.nz};
  const int64_t drawn[3] = {xp.drawn, a.ny, a.nz};
  const int64_t shift[3] = {xp.shift, 0, 0};
  const double cell[3] = {eng.sam.dx, eng.sam.dy, eng.sam.dz};
  const PmlGrading& gr = L.grading;
  const double dt = eng.sam.dt;
  for (int axis = 0; axis < 3; ++axis) {
    const double sigmaMax = gr.sigmaFactor * 0.8 * (gr.order + 1.0) / (kEta0 * cell[axis]);
    // One spare record past the last position, for vector loads; it stands
    // for no layer.
    const PmlCoef none{1.0f, 0.0f, 0.0f};
    L.hCoef[axis].assign(static_cast<size_t>(n[axis]) + 1, none);
    L.eCoef[axis].assign(static_cast<size_t>(n[axis]) + 1, none);
    for (int64_t i = 0; i < n[axis]; ++i) {
      const double pos = static_cast<double>(i + shift[axis]);
      const double dh = depthAt(pos + 0.5, P, drawn[axis]) / P;
      const double de = depthAt(pos, P, drawn[axis]) / P;
      L.hCoef[axis][static_cast<size_t>(i)] =
          pmlCoefAt(dh, gr.order, sigmaMax, gr.kappaMax, gr.alphaMax, dt, kEps0);
      L.eCoef[axis][static_cast<size_t>(i)] =
          pmlCoefAt(de, gr.order, sigmaMax, gr.kappaMax, gr.alphaMax, dt, kEps0);
    }
  }
  for (PmlSlab& s : L.slabs)
    if (!s.psi.empty()) std::memset(s.psi.data(), 0, s.psi.bytes());
}

void reportPml(const SimulationEngine& eng, uint64_t bytes) {
  if (eng.pmlCells <= 0) return;
  const PmlGrading& gr = eng.pml.grading;
  con() << "absorbing layer : " << eng.pmlCells << "[grids] CPML, sigma " << gr.sigmaFactor
        << "*optimum rho^" << gr.order << ", kappa 1.." << gr.kappaMax << ", alpha " << gr.alphaMax
        << "..0[S/m], " << static_cast<float>(bytes >> 10) * 0.0009765625f
        << "[Mbytes] more memory\n";
}

void pmlHRows(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1) {
  RowCorrector(eng).hRows(x, y0, y1);
}

void pmlERows(SimulationEngine& eng, int64_t x, int64_t y0, int64_t y1) {
  RowCorrector(eng).eRows(x, y0, y1);
}

void fieldPassesPmlTeam(SimulationEngine& eng) {
  // Each plane's corrections follow its update at once, while the plane is
  // still in cache. H of plane x reads E of planes x and x+1, which the H
  // pass leaves alone; E of plane x reads H of planes x-1 and x, final after
  // the barrier that ends the H pass.
  const int64_t X = eng.grid.desc.nx, Y = eng.grid.desc.ny;
#pragma omp for schedule(static)
  for (int64_t x = 0; x < X; ++x) {
    updateHPlane(eng, x);
    pmlHRows(eng, x, 0, Y);
  }
#pragma omp for schedule(static)
  for (int64_t x = 0; x < X; ++x) {
    updateEPlane(eng, x);
    pmlERows(eng, x, 0, Y);
  }
}

void fieldPassesPml(SimulationEngine& eng) {
#pragma omp parallel
  fieldPassesPmlTeam(eng);
}

}  // namespace tavro
