// Loading the compact stepping state from the records and writing it back.
#include "engine/compact_state.h"

#include <omp.h>

#include <array>
#include <cstring>
#include <unordered_map>

#include "engine/console.h"
#include "engine/engine.h"
#include "engine/field_kernels.h"
#include "engine/gpu_backend.h"
#include "engine/grid_index.h"
#include "engine/sources.h"

namespace tavro {

namespace {

// The nine coefficients of a cell as bits, so that sets compare exactly
// (a NaN or a negative zero is its own set).
using SetKey = std::array<uint32_t, kCoefSlots>;

struct SetKeyHash {
  size_t operator()(const SetKey& k) const {
    uint64_t h = 1469598103934665603ull;
    for (uint32_t v : k) h = (h ^ v) * 1099511628211ull;
    return static_cast<size_t>(h);
  }
};

SetKey keyOf(const ECell& e, const HCell* h) {
  const float v[kCoefSlots] = {e.cax,
                               e.cay,
                               e.caz,
                               e.cbx,
                               e.cby,
                               e.cbz,
                               h ? h->chx : 0.0f,
                               h ? h->chy : 0.0f,
                               h ? h->chz : 0.0f};
  SetKey k;
  std::memcpy(k.data(), v, sizeof v);
  return k;
}

constexpr int64_t kMaxSets = 65536;

bool servesModel(const SimulationEngine& eng, bool forDevice) {
  const GridDesc& d = eng.grid.desc;
  // The device kernels have no ports.
  if (RunsOnGpu(eng) && (!forDevice || !eng.ports.list.empty())) return false;
  if (d.cellCount == 0) return false;
  if (eng.grid.e.size() != d.extendedCount || eng.grid.h.size() != d.extendedCount) return false;
  if (eng.pmlCells > 0) {
    if (eng.pml.slabCount != 6) return false;
  } else if (eng.grid.murCoef.size() < 2 * d.countFaces) {
    return false;
  }
  for (int64_t i = 0; i < sourcesInUse(eng); ++i) {
    const int64_t cell = eng.sources[i].cell;
    if (cell < 0 || static_cast<uint64_t>(cell) >= d.extendedCount) return false;
  }
  for (const FDTD_PORT& p : eng.ports.list)
    if (p.cell < 0 || static_cast<uint64_t>(p.cell) >= d.extendedCount || p.dir < 0 || p.dir > 2)
      return false;
  return true;
}

// Whether E element i is a cell of the box (not a guard element).
bool insideBox(const GridDesc& d, uint64_t i, int64_t& x, int64_t& y, int64_t& z) {
  const Strides s = stridesOf(d);
  x = static_cast<int64_t>(i / s.sx);
  y = static_cast<int64_t>(i % s.sx / s.sy);
  z = static_cast<int64_t>(i % s.sy);
  return x < d.nx && y < d.ny && z < d.nz;
}

// Calls f(face index, x, y, z) for every face position and side with the
// face cell it stands for.
template <class F>
void forFaceCells(const GridDesc& d, F&& f) {
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  for (int side = 0; side < 2; ++side) {
    for (int64_t x = 0; x < X; ++x)
      for (int64_t y = 0; y < Y; ++y) f(murCoefZ(d, x, y, side), x, y, side ? Z - 1 : 0);
    for (int64_t y = 0; y < Y; ++y)
      for (int64_t z = 0; z < Z; ++z) f(murCoefX(d, y, z, side), side ? X - 1 : 0, y, z);
    for (int64_t x = 0; x < X; ++x)
      for (int64_t z = 0; z < Z; ++z) f(murCoefY(d, x, z, side), x, side ? Y - 1 : 0, z);
  }
}

// The sets of the cells, the SWITCH cells' own sets and the per-source
// records. False when the index cannot name them all.
bool buildSets(SimulationEngine& eng, CompactState& c) {
  const GridDesc& d = eng.grid.desc;
  const ECell* e = eng.grid.e.data();
  const HCell* h = eng.grid.h.data();
  std::unordered_map<SetKey, int64_t, SetKeyHash> index;
  std::vector<SetKey> sets;
  auto setOf = [&](const SetKey& k) {
    auto [it, added] = index.emplace(k, static_cast<int64_t>(sets.size()));
    if (added) sets.push_back(k);
    return it->second;
  };
  uint16_t* set = c.set.data();
  std::memset(set, 0, c.set.bytes());
  SetKey last{};
  int64_t lastSet = -1;
  for (int64_t x = 0; x < d.nx; ++x)
    for (int64_t y = 0; y < d.ny; ++y) {
      const uint64_t row = eIndex(d, x, y, 0), hrow = hIndex(d, x, y, 0);
      for (int64_t z = 0; z < d.nz; ++z) {
        const SetKey k = keyOf(e[row + z], h + hrow + z);
        if (lastSet < 0 || k != last) {
          lastSet = setOf(k);
          last = k;
          if (lastSet >= kMaxSets) return false;
        }
        set[row + z] = static_cast<uint16_t>(lastSet);
      }
    }

  // The ports of a cell act before its sources: the first of them keeps
  // the cell's magnitude.
  std::unordered_map<int64_t, int64_t> firstPort;
  for (size_t p = 0; p < eng.ports.list.size(); ++p) {
    const int64_t cell = eng.ports.list[p].cell;
    c.portFirst[p] = firstPort.emplace(cell, static_cast<int64_t>(p)).second ? 1 : 0;
    c.portMag[p] = e[cell].emag;
  }

  // A SWITCH rewrites the E coefficients of its cell: the cell gets a set
  // of its own, shared by the SWITCH sources of that cell.
  const int64_t n = sourcesInUse(eng);
  std::unordered_map<int64_t, int64_t> ownSet, firstSource;
  for (int64_t i = 0; i < n; ++i) {
    const FDTD_SRC& src = eng.sources[i];
    int64_t x, y, z;
    c.sourceInside[i] = insideBox(d, static_cast<uint64_t>(src.cell), x, y, z) ? 1 : 0;
    c.firstAtCell[i] =
        firstSource.emplace(src.cell, i).second && firstPort.count(src.cell) == 0 ? 1 : 0;
    c.sourceMag[i] = e[src.cell].emag;
    c.switchSet[i] = -1;
    if (src.type != kSrcSwitch) continue;
    auto [it, added] = ownSet.emplace(src.cell, static_cast<int64_t>(sets.size()));
    if (added) {
      int64_t x, y, z;
      const bool inside = insideBox(d, static_cast<uint64_t>(src.cell), x, y, z);
      sets.push_back(keyOf(e[src.cell], inside ? h + hIndex(d, x, y, z) : nullptr));
      if (static_cast<int64_t>(sets.size()) > kMaxSets) return false;
      set[src.cell] = static_cast<uint16_t>(it->second);
    }
    c.switchSet[i] = static_cast<int32_t>(it->second);
  }
  for (int64_t p = 0; p < static_cast<int64_t>(c.probeSource.size()); ++p) {
    int64_t x, y, z;
    cellCoords(d, static_cast<uint64_t>(eng.probeCells[p]), x, y, z);
    const int64_t cell = static_cast<int64_t>(eIndex(d, x, y, z));
    const auto it = firstSource.find(cell);
    c.probeSource[p] = it == firstSource.end() ? -1 : static_cast<int32_t>(it->second);
    const auto port = firstPort.find(cell);
    c.probePort[p] = port == firstPort.end() ? -1 : static_cast<int32_t>(port->second);
  }

  c.setCount = static_cast<int64_t>(sets.size());
  c.setStride = static_cast<uint64_t>((c.setCount + 15) / 16 * 16);
  if (!c.coef.allocate(c.setStride * kCoefSlots)) return false;
  std::memset(c.coef.data(), 0, c.coef.bytes());
  for (int64_t k = 0; k < c.setCount; ++k)
    for (int slot = 0; slot < kCoefSlots; ++slot)
      std::memcpy(c.coefs(slot) + k, &sets[static_cast<size_t>(k)][slot], sizeof(float));
  return true;
}

}  // namespace

void CompactState::release() {
  active = false;
  recordsCurrent = true;
  recordsReleased = false;
  fields.release();
  set.release();
  coef.release();
  switchSet.release();
  firstAtCell.release();
  sourceInside.release();
  probeSource.release();
  probePort.release();
  portFirst.release();
  portMag.release();
  sourceMag.release();
  faceMag.release();
  stride = setStride = 0;
  setCount = 0;
}

bool beginCompactRun(SimulationEngine& eng, bool forDevice) {
  CompactState& c = eng.compact;
  if (c.active) return true;
  c.release();
  if (!servesModel(eng, forDevice)) return false;
  const GridDesc& d = eng.grid.desc;
  const uint64_t P = d.extendedCount;
  // Arrays a whole number of pages apart plus 80 floats, so that the same
  // element of the six arrays falls on different cache sets.
  c.stride = (P + 1023) / 1024 * 1024 + 80;
  const uint64_t n = static_cast<uint64_t>(sourcesInUse(eng));
  const uint64_t ports = eng.ports.list.size();
  const uint64_t probes =
      eng.sam.probeCount > 0 && eng.probeCells.size() >= static_cast<uint64_t>(eng.sam.probeCount)
          ? static_cast<uint64_t>(eng.sam.probeCount)
          : 0;
  // The face magnitudes serve the Mur boundary; the absorbing layer leaves
  // the components of its cells as the magnitudes read them.
  const uint64_t faces = eng.pmlCells > 0 ? 0 : 2 * d.countFaces;
  const uint64_t bytes = 6 * c.stride * sizeof(float) + P * sizeof(uint16_t) +
                         faces * sizeof(float) + n * 10 + probes * 8 + ports * 5;
  if (!memoryFits(bytes) || !c.fields.allocate(6 * c.stride) || !c.set.allocate(P) ||
      !c.faceMag.allocate(faces) || !c.switchSet.allocate(n) || !c.firstAtCell.allocate(n) ||
      !c.sourceInside.allocate(n) || !c.sourceMag.allocate(n) || !c.probeSource.allocate(probes) ||
      !c.probePort.allocate(probes) || !c.portFirst.allocate(ports) || !c.portMag.allocate(ports) ||
      !buildSets(eng, c)) {
    c.release();
    return false;
  }
  const CompactFields f = c.fieldsView();
  GridHolder& g = eng.grid;
  const ECell* e = g.e.data();
  const HCell* h = g.h.data();
  if (faces > 0)
    forFaceCells(d, [&](uint64_t k, int64_t x, int64_t y, int64_t z) {
      c.faceMag[k] = h[hIndex(d, x, y, z)].hmag;
    });
  // On the CPU the records' pages go back to the system plane by plane as
  // the state takes their fields (the sets and kept magnitudes are already
  // read): the run holds the state instead of the records, and
  // syncRecords writes them again whole. The GPU back end keeps them.
  c.recordsReleased = !RunsOnGpu(eng);
  const int64_t planes = d.nx + 1;
  const uint64_t perPlane = P / static_cast<uint64_t>(planes);
#pragma omp parallel for schedule(static)
  for (int64_t x = 0; x < planes; ++x) {
    const uint64_t first = static_cast<uint64_t>(x) * perPlane;
    for (uint64_t i = first; i < first + perPlane; ++i) {
      f.e.c[0][i] = e[i].ex;
      f.e.c[1][i] = e[i].ey;
      f.e.c[2][i] = e[i].ez;
      f.h.c[0][i] = h[i].hx;
      f.h.c[1][i] = h[i].hy;
      f.h.c[2][i] = h[i].hz;
    }
    if (c.recordsReleased) {
      g.e.discardPages(first, perPlane);
      g.h.discardPages(first, perPlane);
    }
  }
  c.active = true;
  c.recordsCurrent = !c.recordsReleased;
  return true;
}

namespace {

// The E coefficients of set k into a record.
void setECoefs(ECell& r, const CompactState& c, int64_t k) {
  r.cax = c.coefs(kCax)[k];
  r.cay = c.coefs(kCay)[k];
  r.caz = c.coefs(kCaz)[k];
  r.cbx = c.coefs(kCbx)[k];
  r.cby = c.coefs(kCby)[k];
  r.cbz = c.coefs(kCbz)[k];
}

// Element plane p of the records from the state: the components of every
// element (guards included: a source may drive one), and the magnitudes of
// its cells, E of cells (p, y, z) and H of cells (p - 1, y, z), whose H
// elements lie in plane p. With `coefs` the cells' coefficients as well,
// from their sets, for records whose pages went back to the system (their
// guard elements read zero, as the set-up left them).
void writeRecordPlane(SimulationEngine& eng, int64_t p, bool coefs) {
  CompactState& c = eng.compact;
  const GridDesc& d = eng.grid.desc;
  const CompactFields f = c.fieldsView();
  ECell* e = eng.grid.e.data();
  HCell* h = eng.grid.h.data();
  const uint64_t perPlane = stridesOf(d).sx;
  const uint64_t first = static_cast<uint64_t>(p) * perPlane;
  for (uint64_t i = first; i < first + perPlane; ++i) {
    e[i].ex = f.e.c[0][i];
    e[i].ey = f.e.c[1][i];
    e[i].ez = f.e.c[2][i];
    h[i].hx = f.h.c[0][i];
    h[i].hy = f.h.c[1][i];
    h[i].hz = f.h.c[2][i];
  }
  const uint16_t* set = c.set.data();
  for (int64_t y = 0; y < d.ny; ++y)
    for (int64_t z = 0; z < d.nz; ++z) {
      if (p < d.nx) {
        const uint64_t i = eIndex(d, p, y, z);
        ECell& r = e[i];
        r.emag = signedMagnitude(r.ex, r.ey, r.ez);
        if (coefs) setECoefs(r, c, set[i]);
      }
      if (p > 0) {
        HCell& r = h[hIndex(d, p - 1, y, z)];
        r.hmag = signedMagnitude(r.hx, r.hy, r.hz);
        if (coefs) {
          const uint16_t k = set[eIndex(d, p - 1, y, z)];
          r.chx = c.coefs(kChx)[k];
          r.chy = c.coefs(kChy)[k];
          r.chz = c.coefs(kChz)[k];
        }
      }
    }
}

// The records from the state; with `discard` the state's pages of each
// plane go back to the system once the plane is written (the state ends).
void writeRecords(SimulationEngine& eng, bool discard) {
  CompactState& c = eng.compact;
  if (!c.active || c.recordsCurrent) return;
  const GridDesc& d = eng.grid.desc;
  ECell* e = eng.grid.e.data();
  HCell* h = eng.grid.h.data();
  const bool coefs = c.recordsReleased;
  const uint64_t perPlane = stridesOf(d).sx;
#pragma omp parallel for schedule(static)
  for (int64_t p = 0; p <= d.nx; ++p) {
    writeRecordPlane(eng, p, coefs);
    if (discard)
      for (uint64_t a = 0; a < 6; ++a)
        c.fields.discardPages(a * c.stride + static_cast<uint64_t>(p) * perPlane, perPlane);
  }
  if (!c.faceMag.empty())
    forFaceCells(d, [&](uint64_t k, int64_t x, int64_t y, int64_t z) {
      h[hIndex(d, x, y, z)].hmag = c.faceMag[k];
    });
  for (size_t p = 0; p < eng.ports.list.size(); ++p)
    if (c.portFirst[p]) e[eng.ports.list[p].cell].emag = c.portMag[p];
  for (int64_t i = 0; i < sourcesInUse(eng); ++i) {
    ECell& ec = e[eng.sources[i].cell];
    if (c.firstAtCell[i]) ec.emag = c.sourceMag[i];
    if (c.switchSet[i] < 0) continue;
    setECoefs(ec, c, c.switchSet[i]);
  }
  c.recordsCurrent = true;
  c.recordsReleased = false;
}

}  // namespace

void syncRecords(SimulationEngine& eng) { writeRecords(eng, false); }

void endCompactRun(SimulationEngine& eng) {
  writeRecords(eng, true);
  eng.compact.release();
}

}  // namespace tavro
