// The time step on the compact stepping state (compact_state.h): the same
// order of work as on the records (field_update.cpp, field_pair.cpp), the
// same per-cell functions, on the component arrays. What the records keep
// per cell and the arrays do not, the signed magnitude, is kept aside where
// something changes a component after its update: the H face cells before
// the Mur boundary, the source cells before their sources.
#include "engine/compact_step.h"

#include <omp.h>

#include "engine/boundary_mur.h"
#include "engine/compact_rows.h"
#include "engine/field_pair_team.h"
#include "engine/field_sweep.h"
#include "engine/pml.h"
#include "engine/ports.h"
#include "engine/probe_kernels.h"
#include "engine/probes.h"
#include "engine/sources.h"

namespace tavro {

namespace {

// The magnitudes of H of the face cells of rows r of plane x, as the update
// left them: the two Z-face cells of every row, whole rows on an X face and
// the rows of the Y faces.
void keepFaceMags(CompactState& c, const GridDesc& d, int64_t x, Rows r) {
  const CompactFields f = c.fieldsView();
  float* m = c.faceMag.data();
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  auto mag = [&](uint64_t i) { return signedMagnitude(f.h.c[0][i], f.h.c[1][i], f.h.c[2][i]); };
  for (int64_t y = r.y0; y < r.y1; ++y) {
    const uint64_t hb = hIndex(d, x, y, 0);
    m[murCoefZ(d, x, y, 0)] = mag(hb);
    m[murCoefZ(d, x, y, 1)] = mag(hb + static_cast<uint64_t>(Z - 1));
    for (int side = 0; side < 2; ++side) {
      if (x == (side ? X - 1 : 0))
        for (int64_t z = 0; z < Z; ++z) m[murCoefX(d, y, z, side)] = mag(hb + z);
      if (y == (side ? Y - 1 : 0))
        for (int64_t z = 0; z < Z; ++z) m[murCoefY(d, x, z, side)] = mag(hb + z);
    }
  }
}

// The position of H cell (x, y, z) in faceMag, -1 inside the box.
int64_t faceMagAt(const GridDesc& d, int64_t x, int64_t y, int64_t z) {
  if (z == 0 || z == d.nz - 1) return static_cast<int64_t>(murCoefZ(d, x, y, z == 0 ? 0 : 1));
  if (x == 0 || x == d.nx - 1) return static_cast<int64_t>(murCoefX(d, y, z, x == 0 ? 0 : 1));
  if (y == 0 || y == d.ny - 1) return static_cast<int64_t>(murCoefY(d, x, z, y == 0 ? 0 : 1));
  return -1;
}

// The compact state as the measurement's view; the probe's own cell takes
// a kept magnitude where one is kept.
struct CompactView {
  CompactFields f;
  uint64_t keptE = UINT64_MAX, keptH = UINT64_MAX;
  float eMag = 0.0f, hMag = 0.0f;
  FieldValues eAt(uint64_t i) const {
    const float x = f.e.c[0][i], y = f.e.c[1][i], z = f.e.c[2][i];
    return {x, y, z, i == keptE ? eMag : signedMagnitude(x, y, z)};
  }
  FieldValues hAt(uint64_t i) const {
    const float x = f.h.c[0][i], y = f.h.c[1][i], z = f.h.c[2][i];
    return {x, y, z, i == keptH ? hMag : signedMagnitude(x, y, z)};
  }
};

void measureProbeCompact(SimulationEngine& eng, const FDTD_SAM& sam, int64_t p) {
  CompactState& c = eng.compact;
  const GridDesc& d = eng.grid.desc;
  const uint64_t cell = static_cast<uint64_t>(eng.probeCells[p]);
  int64_t x, y, z;
  cellCoords(d, cell, x, y, z);
  CompactView v{c.fieldsView()};
  const int32_t src = c.probeSource[p], port = c.probePort[p];
  if (port >= 0 || src >= 0) {
    v.keptE = eIndex(d, x, y, z);
    v.eMag = port >= 0 ? c.portMag[port] : c.sourceMag[src];
  }
  const int64_t face = eng.pmlCells > 0 ? -1 : faceMagAt(d, x, y, z);
  if (face >= 0) {
    v.keptH = hIndex(d, x, y, z);
    v.hMag = c.faceMag[face];
  }
  probeSampleOf(d, v, sam, cell, sampleRecord(sam, eng.samples.data(), p));
}

// Source i at the state's time: a SWITCH rewrites its cell's own set, the
// others drive their component; the first source of a cell keeps the
// magnitude the update left there.
void applySourceCompact(SimulationEngine& eng, const FDTD_SAM& sam, int64_t i) {
  CompactState& c = eng.compact;
  const CompactFields f = c.fieldsView();
  const FDTD_SRC& src = eng.sources[i];
  const uint64_t cell = static_cast<uint64_t>(src.cell);
  if (c.firstAtCell[i] && c.sourceInside[i])
    c.sourceMag[i] = signedMagnitude(f.e.c[0][cell], f.e.c[1][cell], f.e.c[2][cell]);
  if (src.type == kSrcSwitch) {
    ECell t{};
    switchCoefficients(t, Switch(sam, src), sam);
    const int64_t k = c.switchSet[i];
    const float v[6] = {t.cax, t.cay, t.caz, t.cbx, t.cby, t.cbz};
    for (int s = kCax; s <= kCbz; ++s) c.coefs(s)[k] = v[s - kCax];
    return;
  }
  drive(f.e.c[src.dir == 0 ? 0 : (src.dir == 1 ? 1 : 2)][cell], sam, src);
}

// Port p at the state's time, storing its V and I at recording index
// `index`; the first port of a cell keeps the magnitude the update left.
void applyPortCompact(SimulationEngine& eng, const FDTD_SAM& sam, int64_t p, int64_t index) {
  CompactState& c = eng.compact;
  const CompactFields f = c.fieldsView();
  const FDTD_PORT& port = eng.ports.list[static_cast<size_t>(p)];
  const uint64_t cell = static_cast<uint64_t>(port.cell);
  if (c.portFirst[p])
    c.portMag[p] = signedMagnitude(f.e.c[0][cell], f.e.c[1][cell], f.e.c[2][cell]);
  applyPortAt(eng, sam, static_cast<size_t>(p), index, f.e.c[port.dir][cell]);
}

// Rows per block: `planes` planes of the six arrays and the sets of a block
// stay in the core's cache; at least minRows rows.
int64_t compactBlockCount(const GridDesc& d, int64_t blockBytes, int planes, int64_t minRows) {
  const int64_t rowBytes = planes * (d.nz + 1) * int64_t{6 * sizeof(float) + sizeof(uint16_t)};
  const int64_t rows = blockBytes / rowBytes;
  const int64_t byCache = rows < minRows ? d.ny / minRows : (d.ny + rows - 1) / rows;
  const int64_t n = byCache < d.ny / minRows ? byCache : d.ny / minRows;
  return n < 1 ? 1 : n;
}

void hRowsCompact(SimulationEngine& eng, int64_t x, Rows r, int lanes) {
  for (int64_t y = r.y0; y < r.y1; ++y) hRowCompact(eng.compact, eng.grid.desc, x, y, lanes);
}

// E of rows r of plane x, with the absorbing layer's corrections.
void ePlaneCompact(SimulationEngine& eng, int64_t x, Rows r, int lanes) {
  for (int64_t y = r.y0; y < r.y1; ++y) eRowCompact(eng.compact, eng.grid.desc, x, y, lanes);
  if (eng.pmlCells > 0) pmlERowsCompact(eng, x, r.y0, r.y1);
}

// H of rows r of plane x, then the absorbing layer's corrections or their
// face magnitudes and the H boundary after them.
void hPlaneCompact(SimulationEngine& eng, int64_t x, Rows r, int lanes) {
  hRowsCompact(eng, x, r, lanes);
  if (eng.pmlCells > 0) return pmlHRowsCompact(eng, x, r.y0, r.y1);
  keepFaceMags(eng.compact, eng.grid.desc, x, r);
  murHAfterPlane(eng, eng.compact.fieldsView(), x, r.y0, r.y1);
}

// The sweep of PlaneSweep (field_sweep.h) on the compact state: H of a
// plane, its H boundary, E of the planes that became final.
class CompactSweep {
 public:
  CompactSweep(SimulationEngine& eng, int lanes, int, int64_t) : eng_(eng), lanes_(lanes) {}

  void begin(Rows r, int64_t first, int64_t, bool withFirstE) {
    r_ = r;
    first_ = first;
    withFirstE_ = withFirstE;
  }

  template <class Done>
  void plane(int64_t x, Done&& done) {
    hPlaneCompact(eng_, x, r_, lanes_);
    finalEPlanes(x, eng_.grid.desc.nx, [&](int64_t p) {
      if (p < first_ || (p == first_ && !withFirstE_)) return;
      ePlaneCompact(eng_, p, r_, lanes_);
      done(p);
    });
  }

 private:
  SimulationEngine& eng_;
  int lanes_;
  Rows r_{0, 0};
  int64_t first_ = 0;
  bool withFirstE_ = false;
};

// The compact side of the two-step sweep (field_pair_team.h).
struct CompactOps {
  using Sweep = CompactSweep;
  static void murERange(SimulationEngine& eng, int64_t a, int64_t b) {
    if (eng.pmlCells == 0) tavro::murERange(eng, eng.compact.fieldsView(), a, b);
  }
  static int64_t blockCount(const GridDesc& d, int64_t bytes) {
    return compactBlockCount(d, bytes, 4, 3);
  }
  static void finishEPlane(SimulationEngine& eng, const PairPlan& plan, int k, int64_t x, Rows r) {
    const FDTD_SAM& sam = plan.sam[k];
    const int64_t portStep = eng.ports.step + k;
    forCellsIn(plan.ports, x, r, [&](int64_t p) { applyPortCompact(eng, sam, p, portStep); });
    forCellsIn(plan.sources, x, r, [&](int64_t i) { applySourceCompact(eng, sam, i); });
    if (plan.measureStep[k])
      forCellsIn(plan.probes, x, r, [&](int64_t p) { measureProbeCompact(eng, sam, p); });
    if (k == 0 && eng.pmlCells == 0) murEAfterPlane(eng, eng.compact.fieldsView(), x, r.y0, r.y1);
  }
  static void handOverH(SimulationEngine& eng, int64_t x, Rows r, int lanes) {
    hPlaneCompact(eng, x, r, lanes);
  }
  static void handOverE(SimulationEngine& eng, const PairPlan& plan, int k, int64_t x, Rows r,
                        int lanes) {
    ePlaneCompact(eng, x, r, lanes);
    finishEPlane(eng, plan, k, x, r);
  }
};

// Items 1 to 4 of a step, as fieldPassesCpu does them on the records.
void compactPasses(SimulationEngine& eng, int lanes) {
  const CompactFields f = eng.compact.fieldsView();
#pragma omp parallel
  {
    const GridDesc& d = eng.grid.desc;
    const int64_t X = d.nx, Y = d.ny;
    const int64_t team = omp_get_num_threads(), t = omp_get_thread_num();
    if (X >= 4 && X >= 2 * team) {
      const int64_t a = X * t / team, b = X * (t + 1) / team;
      if (eng.pmlCells == 0) murERange(eng, f, a, b);
#pragma omp barrier
      const int64_t blocks = compactBlockCount(d, eng.sweepBlockBytes, 3, 2);
      CompactSweep sweep(eng, lanes, 0, 0);
      for (int64_t k = 0; k < blocks; ++k) {
        sweep.begin({Y * k / blocks, Y * (k + 1) / blocks}, a, b - 1, false);
        for (int64_t x = a; x < b; ++x) sweep.plane(x, [](int64_t) {});
      }
#pragma omp barrier
      ePlaneCompact(eng, a, {0, Y}, lanes);
    } else if (eng.pmlCells > 0) {
#pragma omp for schedule(static)
      for (int64_t x = 0; x < X; ++x) hPlaneCompact(eng, x, {0, Y}, lanes);
#pragma omp for schedule(static)
      for (int64_t x = 0; x < X; ++x) ePlaneCompact(eng, x, {0, Y}, lanes);
    } else {
      murETeam(eng, f);
#pragma omp for schedule(static)
      for (int64_t x = 0; x < X; ++x) hRowsCompact(eng, x, {0, Y}, lanes);
#pragma omp for schedule(static)
      for (int64_t x = 0; x < X; ++x) keepFaceMags(eng.compact, d, x, {0, Y});
      murHTeam(eng, f);
#pragma omp for schedule(static)
      for (int64_t x = 0; x < X; ++x) ePlaneCompact(eng, x, {0, Y}, lanes);
    }
  }
}

}  // namespace

void stepCompact(SimulationEngine& eng) {
  compactPasses(eng, laneCount(eng));
  if (!eng.ports.list.empty()) {
    reservePortSteps(eng, 1);
    for (size_t p = 0; p < eng.ports.list.size(); ++p)
      applyPortCompact(eng, eng.sam, static_cast<int64_t>(p), eng.ports.step);
    ++eng.ports.step;
  }
  for (int64_t i = 0; i < sourcesInUse(eng); ++i) applySourceCompact(eng, eng.sam, i);
  const FDTD_SAM s = eng.sam;
  if (measureDue(eng, s)) {
#pragma omp parallel for schedule(static)
    for (int64_t p = 0; p < s.probeCount; ++p) measureProbeCompact(eng, s, p);
  }
  advanceCounters(eng.sam);
  eng.compact.recordsCurrent = false;
}

bool stepPairCompact(SimulationEngine& eng) {
  thread_local PairPlan plans;
  PairPlan& plan = plans;
  if (!planPair(eng, omp_get_max_threads(), plan)) return false;
  const int lanes = laneCount(eng);
  reservePortSteps(eng, 2);
#pragma omp parallel
  pairTeam<CompactOps>(eng, lanes, plan);
  if (!eng.ports.list.empty()) eng.ports.step += 2;
  eng.sam = plan.sam[1];
  advanceCounters(eng.sam);
  eng.compact.recordsCurrent = false;
  return true;
}

}  // namespace tavro
