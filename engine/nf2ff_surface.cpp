#include "engine/nf2ff_surface.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "engine/console.h"
#include "engine/grid_index.h"

namespace tavro {

namespace {

constexpr int kInset = 3;  // cells between the default box and the area's faces

float eComponent(const ECell& c, int k) { return k == 0 ? c.ex : (k == 1 ? c.ey : c.ez); }
float hComponent(const HCell& c, int k) { return k == 0 ? c.hx : (k == 1 ? c.hy : c.hz); }

// Builds the samples of the two faces normal to axis a. With (b, c) the
// other axes in cyclic order and s = -1 on the lower face, +1 on the upper:
//   E_b at node (a, b + 1/2, c)   -> M along c, factor -s
//   E_c at node (a, b, c + 1/2)   -> M along b, factor +s
//   H_b at (a -+ 1/2, b, c + 1/2) -> J along c, factor +s (both sides, 1/2)
//   H_c at (a -+ 1/2, b + 1/2, c) -> J along b, factor -s (both sides, 1/2)
// (M = -n x E and J = n x H with n = s e_a and e_a x e_b = e_c.) Each face is
// integrated by the trapezoidal rule over the lattice of each component: a
// component whose points lie on the face's rim weighs half there. H lies half
// a cell off the face on either side; the two planes weigh half each.
class FaceBuilder {
 public:
  FaceBuilder(const GridDesc& g, int32_t layer, const SurfaceBox& box, const double cell[3],
              std::vector<SurfaceSample>& eOut, std::vector<SurfaceSample>& hOut)
      : g_(g), layer_(layer), cell_(cell), eOut_(eOut), hOut_(hOut) {
    lo_[0] = box.x0, lo_[1] = box.y0, lo_[2] = box.z0;
    hi_[0] = box.x1, hi_[1] = box.y1, hi_[2] = box.z1;
  }

  void faces(int a) {
    const int b = (a + 1) % 3, c = (a + 2) % 3;
    for (int side = 0; side < 2; ++side) {
      const int s = side == 0 ? -1 : 1;
      const int plane = side == 0 ? lo_[a] : hi_[a];
      const double area = cell_[b] * cell_[c];
      // E_b: b over cells, c over nodes.
      for (int ib = lo_[b]; ib < hi_[b]; ++ib)
        for (int ic = lo_[c]; ic <= hi_[c]; ++ic)
          add(false, a, b, c, plane, ib, ic, b, c, -s * area * rim(c, ic), 0, 1, 0);
      // E_c: b over nodes, c over cells.
      for (int ib = lo_[b]; ib <= hi_[b]; ++ib)
        for (int ic = lo_[c]; ic < hi_[c]; ++ic)
          add(false, a, b, c, plane, ib, ic, c, b, s * area * rim(b, ib), 0, 0, 1);
      // H_b and H_c on the planes half a cell below and above the face.
      for (int off = -1; off <= 0; ++off) {
        for (int ib = lo_[b]; ib <= hi_[b]; ++ib)
          for (int ic = lo_[c]; ic < hi_[c]; ++ic)
            add(true, a, b, c, plane + off, ib, ic, b, c, 0.5 * s * area * rim(b, ib), 1, 0, 1);
        for (int ib = lo_[b]; ib < hi_[b]; ++ib)
          for (int ic = lo_[c]; ic <= hi_[c]; ++ic)
            add(true, a, b, c, plane + off, ib, ic, c, b, -0.5 * s * area * rim(c, ic), 1, 1, 0);
      }
    }
  }

 private:
  // Half weight on the rim of the face along `axis`.
  double rim(int axis, int node) const {
    return node == lo_[axis] || node == hi_[axis] ? 0.5 : 1.0;
  }

  // A sample of component `comp` of the cell at (ia, ib, ic) along (a, b, c)
  // whose equivalent current runs along `axis`; (da, db, dc) is the
  // component's offset in half cells from the cell's corner node.
  void add(bool magnetic, int a, int b, int c, int ia, int ib, int ic, int comp, int axis,
           double weight, int da, int db, int dc) {
    int cellAt[3];
    cellAt[a] = ia, cellAt[b] = ib, cellAt[c] = ic;
    int half[3];
    half[a] = da, half[b] = db, half[c] = dc;
    SurfaceSample smp;
    smp.element = magnetic ? drawnElement(g_, layer_, cellAt[0] + 1, cellAt[1] + 1, cellAt[2] + 1)
                           : drawnElement(g_, layer_, cellAt[0], cellAt[1], cellAt[2]);
    smp.component = static_cast<uint8_t>(comp);
    smp.axis = static_cast<uint8_t>(axis);
    smp.magnetic = magnetic;
    for (int k = 0; k < 3; ++k) smp.pos[k] = 2 * (cellAt[k] - lo_[k]) + half[k];
    smp.weight = weight;
    (magnetic ? hOut_ : eOut_).push_back(smp);
  }

  const GridDesc& g_;
  int32_t layer_;
  const double* cell_;
  std::vector<SurfaceSample>& eOut_;
  std::vector<SurfaceSample>& hOut_;
  int lo_[3], hi_[3];
};

}  // namespace

SurfaceBox DefaultSurfaceBox(int X, int Y, int Z) {
  return {kInset, kInset, kInset, X - kInset, Y - kInset, Z - kInset};
}

bool CheckSurfaceBox(const SurfaceBox& b, int X, int Y, int Z) {
  const bool inside =
      b.x0 >= 1 && b.y0 >= 1 && b.z0 >= 1 && b.x1 <= X - 1 && b.y1 <= Y - 1 && b.z1 <= Z - 1;
  const bool proper = b.x0 < b.x1 && b.y0 < b.y1 && b.z0 < b.z1;
  if (inside && proper) return true;
  con() << "error: far-field box (" << b.x0 << "," << b.y0 << "," << b.z0 << ")-(" << b.x1 << ","
        << b.y1 << "," << b.z1 << ") ";
  if (!proper)
    con() << "is empty: each upper corner must lie above the lower one.\n";
  else
    con() << "lies outside the area (" << X << "," << Y << "," << Z << "): its faces must lie 1 to "
          << X - 1 << ", 1 to " << Y - 1 << " and 1 to " << Z - 1 << ".\n";
  return false;
}

uint64_t drawnElement(const GridDesc& g, int32_t layer, int64_t x, int64_t y, int64_t z) {
  return eIndex(g, x + layer, y + layer, z + layer);
}

void drawnArea(const GridDesc& g, int32_t layer, int& X, int& Y, int& Z) {
  X = g.nx - 2 * layer;
  Y = g.ny - 2 * layer;
  Z = g.nz - 2 * layer;
}

bool FarFieldRecorder::prepare(const SimulationEngine& eng, const std::vector<double>& freqs,
                               const SurfaceBox& box) {
  freqs_.clear();
  samples_.clear();
  acc_.clear();
  steps_ = 0;
  const GridDesc& g = eng.grid.desc;
  int X = 0, Y = 0, Z = 0;
  drawnArea(g, eng.pmlCells, X, Y, Z);
  if (!CheckSurfaceBox(box, X, Y, Z)) return false;
  box_ = box;
  cell_[0] = eng.sam.dx, cell_[1] = eng.sam.dy, cell_[2] = eng.sam.dz;
  dt_ = eng.sam.dt;
  const uint64_t nx = box.x1 - box.x0 + 1, ny = box.y1 - box.y0 + 1, nz = box.z1 - box.z0 + 1;
  // Six components per node of the surface at most (two E, two H on either side).
  const uint64_t count = 6 * 2 * (nx * ny + ny * nz + nz * nx);
  const uint64_t bytes = count * (sizeof(SurfaceSample) + freqs.size() * 16);
  if (!memoryFits(bytes)) {
    con() << "error: can't allocate memory for the far-field surface (" << bytes << " bytes).\n";
    return false;
  }
  try {
    std::vector<SurfaceSample> eSide, hSide;
    FaceBuilder faces(g, eng.pmlCells, box, cell_, eSide, hSide);
    for (int a = 0; a < 3; ++a) faces.faces(a);
    firstH_ = eSide.size();
    samples_ = std::move(eSide);
    samples_.insert(samples_.end(), hSide.begin(), hSide.end());
    acc_.assign(samples_.size() * freqs.size(), {0.0, 0.0});
    freqs_ = freqs;
  } catch (const std::bad_alloc&) {
    samples_.clear();
    acc_.clear();
    con() << "error: can't allocate memory for the far-field surface (" << bytes << " bytes).\n";
    return false;
  }
  return true;
}

void FarFieldRecorder::restart() {
  std::fill(acc_.begin(), acc_.end(), std::complex<double>(0.0, 0.0));
  steps_ = 0;
}

void FarFieldRecorder::record(const SimulationEngine& eng) {
  if (freqs_.empty()) return;
  ++steps_;
  const std::size_t F = freqs_.size();
  // exp(-j w t) at E's time and at H's, half a step earlier.
  std::vector<std::complex<double>> phE(F), phH(F);
  for (std::size_t f = 0; f < F; ++f) {
    const double w = 2.0 * M_PI * freqs_[f];
    phE[f] = std::polar(1.0, -w * dt_ * static_cast<double>(steps_));
    phH[f] = std::polar(1.0, -w * dt_ * (static_cast<double>(steps_) - 0.5));
  }
  const ECell* e = eng.grid.e.data();
  const HCell* h = eng.grid.h.data();
  // While the compact stepping state is active it holds the fields.
  const bool compact = eng.compact.active;
  const CompactFields cf =
      compact ? const_cast<CompactState&>(eng.compact).fieldsView() : CompactFields{};
  const int64_t n = static_cast<int64_t>(samples_.size());
  const int64_t firstH = static_cast<int64_t>(firstH_);
  const std::complex<double>* pe = phE.data();
  const std::complex<double>* ph = phH.data();
#pragma omp parallel for schedule(static) if (n > 8192)
  for (int64_t i = 0; i < n; ++i) {
    const SurfaceSample& s = samples_[static_cast<std::size_t>(i)];
    const bool isH = i >= firstH;
    const double v = compact
                         ? (isH ? cf.h.c[s.component][s.element] : cf.e.c[s.component][s.element])
                     : isH ? hComponent(h[s.element], s.component)
                           : eComponent(e[s.element], s.component);
    const std::complex<double>* p = isH ? ph : pe;
    std::complex<double>* a = &acc_[static_cast<std::size_t>(i) * F];
    for (std::size_t f = 0; f < F; ++f) a[f] += v * p[f];
  }
}

std::complex<double> FarFieldRecorder::amplitude(std::size_t i, std::size_t f) const {
  if (steps_ == 0) return {0.0, 0.0};
  return acc_[i * freqs_.size() + f] * (2.0 / static_cast<double>(steps_));
}

}  // namespace tavro
