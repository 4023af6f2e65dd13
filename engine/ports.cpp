// Lumped ports: parsing the PORT cell texts, numbering, the per-step port
// pass and the excitation of the S-parameter runs. The per-cell arithmetic
// is in port_kernels.h.
#include "engine/ports.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "engine/console.h"
#include "engine/grid_index.h"
#include "engine/pml.h"

namespace tavro {

namespace {

// A port as read from its cell, before numbering.
struct PortText {
  uint64_t k;  // plain cell index
  int64_t x, y, z;
  int32_t dir;
  float R;
  long long number;  // 0 = none given
};

bool wholeNumber(const std::string& t, double& v) {
  const char* begin = t.c_str();
  char* end = nullptr;
  v = std::strtod(begin, &end);
  return end != begin && *end == '\0' && t.find_first_of("xX") == std::string::npos;
}

bool wholeInteger(const std::string& t, long long& v) {
  const char* begin = t.c_str();
  char* end = nullptr;
  v = std::strtoll(begin, &end, 10);
  return end != begin && *end == '\0';
}

// Reads the split text of cell k ("PORT D R [N]"). Prints the error naming
// the cell's text and returns false when it is no valid port.
bool readPort(const ModelRecord& model, uint64_t k, int fields, PortText& p) {
  const auto& t = model.tokens;
  const std::string& text = model.pin(k);
  auto refuse = [&](const char* why) {
    con() << "error: bad port (" << p.x << "," << p.y << "," << p.z << ") '" << text << "': " << why
          << ".\n";
    return false;
  };
  if (fields < 3) return refuse("it needs PORT:<D>:<R> or PORT:<D>:<R>:<N>");
  if (fields > 4) return refuse("it has more than four fields");
  if (t[1] == "X")
    p.dir = 0;
  else if (t[1] == "Y")
    p.dir = 1;
  else if (t[1] == "Z")
    p.dir = 2;
  else
    return refuse("the direction must be X, Y or Z");
  double r = 0.0;
  if (!wholeNumber(t[2], r) || !std::isfinite(r) || !(r > 0.0) ||
      !std::isfinite(static_cast<float>(r)) || !(static_cast<float>(r) > 0.0f))
    return refuse("the resistance must be a positive number of ohms");
  p.R = static_cast<float>(r);
  p.number = 0;
  if (fields == 4 && (!wholeInteger(t[3], p.number) || p.number < 1 || p.number > 1000000))
    return refuse("the port number must be a whole number of 1 or more");
  return true;
}

}  // namespace

bool isPortText(const ModelRecord& model) { return model.tokens[0] == "PORT"; }

int portSetting(SimulationEngine& eng, ModelRecord& model) {
  PortSet& ps = eng.ports;
  ps.list.clear();
  ps.v.clear();
  ps.i.clear();
  ps.record = false;
  ps.step = 0;
  const uint64_t cells = model.cellCount();
  const uint64_t Y = static_cast<uint64_t>(model.areaY), Z = static_cast<uint64_t>(model.areaZ);
  std::vector<PortText> found;
  for (const auto& [k, text] : model.pins()) {
    if (k >= cells) break;
    const int fields = model.splitPin(k);
    if (fields < 2 || !isPortText(model)) continue;
    PortText p{};
    p.k = k;
    p.x = static_cast<int64_t>(k / (Y * Z));
    p.y = static_cast<int64_t>((k / Z) % Y);
    p.z = static_cast<int64_t>(k % Z);
    if (!readPort(model, k, fields, p)) return 0;
    // The boundary rewrites tangential E on the faces between the steps,
    // which the port's stored field would not see.
    if (eng.pmlCells == 0 && (p.x == 0 || p.y == 0 || p.z == 0 || p.x == model.areaX - 1 ||
                              p.y == model.areaY - 1 || p.z == model.areaZ - 1)) {
      con() << "error: port (" << p.x << "," << p.y << "," << p.z << ") '" << model.pin(k)
            << "' lies on the boundary of the calculation area; move it inside.\n";
      return 0;
    }
    found.push_back(p);
  }
  if (found.empty()) return 1;
  if (eng.cudaFlag) {
    con() << "error: ports (PORT cells) do not run with -cuda yet; run them on the CPU.\n";
    return 0;
  }

  // Numbered ports keep their numbers; the others follow the highest of
  // those in cell order. The numbers must then run from 1 without a gap.
  long long next = 0;
  for (const PortText& p : found) next = std::max(next, p.number);
  for (PortText& p : found)
    if (p.number == 0) p.number = ++next;
  const size_t n = found.size();
  std::vector<const PortText*> byNumber(n, nullptr);
  for (const PortText& p : found) {
    if (p.number > static_cast<long long>(n)) {
      con() << "error: port #" << p.number << " at (" << p.x << "," << p.y << "," << p.z << ") '"
            << model.pin(p.k) << "': the " << n << " ports must be numbered 1 to " << n << ".\n";
      return 0;
    }
    const PortText*& slot = byNumber[static_cast<size_t>(p.number - 1)];
    if (slot) {
      con() << "error: port #" << p.number << " is given twice: (" << slot->x << "," << slot->y
            << "," << slot->z << ") and (" << p.x << "," << p.y << "," << p.z << ") '"
            << model.pin(p.k) << "'.\n";
      return 0;
    }
    slot = &p;
  }

  const GridDesc grid = gridDescFor(eng, model.areaX, model.areaY, model.areaZ);
  const float size[3] = {model.unitX, model.unitY, model.unitZ};
  const char* axis[3] = {"X", "Y", "Z"};
  for (const PortText* p : byNumber) {
    FDTD_PORT r{};
    // The E element of the cell, by the same rule as the sources'.
    r.cell = static_cast<int64_t>(drawnEIndex(eng, grid, p->x, p->y, p->z));
    r.dir = p->dir;
    r.number = static_cast<int32_t>(p->number);
    r.R = p->R;
    r.d = size[p->dir];
    ps.list.push_back(r);
    con() << "(" << p->x << "," << p->y << "," << p->z << ") PORT " << axis[p->dir] << " R=" << p->R
          << "[ohm] #" << p->number << "\n";
    model.setProbe(p->k, "PORT" + std::to_string(p->number) + "_" + std::to_string(p->x) + "_" +
                             std::to_string(p->y) + "_" + std::to_string(p->z));
  }
  return 1;
}

void resetPorts(SimulationEngine& eng) {
  PortSet& ps = eng.ports;
  const FDTD_SAM& s = eng.sam;
  const double dt = s.dt;
  const double size[3] = {s.dx, s.dy, s.dz};
  for (FDTD_PORT& p : ps.list) {
    const ECell& c = eng.grid.e[static_cast<size_t>(p.cell)];
    const double d = size[p.dir];
    const double area = size[(p.dir + 1) % 3] * size[(p.dir + 2) % 3];
    // The denominator D = eps + sigma dt / 2 with which the E update of this
    // component takes curl H: cb_a = dt / (D d_a) of the axis after dir, one
    // of the two axes of its H differences (with averaged materials it can
    // differ from the one of dir itself).
    const int a = (p.dir + 1) % 3;
    const double cb = a == 0 ? c.cbx : (a == 1 ? c.cby : c.cbz);
    const double D = dt / (cb * size[a]);
    const double G = d / (static_cast<double>(p.R) * area);
    const double Dp = D + 0.5 * G * dt;
    p.keep = static_cast<float>(D / Dp);
    p.back = static_cast<float>(0.5 * G * dt / Dp);
    p.drive = static_cast<float>(dt / (static_cast<double>(p.R) * area * Dp));
    p.prevE = 0.0f;
  }
  ps.step = 0;
  for (auto& v : ps.v) v.clear();
  for (auto& i : ps.i) i.clear();
}

void reservePortSteps(SimulationEngine& eng, int steps) {
  PortSet& ps = eng.ports;
  if (!ps.record) return;
  const size_t n = ps.list.size();
  ps.v.resize(n);
  ps.i.resize(n);
  const size_t need = static_cast<size_t>(ps.step + steps);
  for (size_t p = 0; p < n; ++p) {
    if (ps.v[p].size() < need) {
      ps.v[p].resize(need);
      ps.i[p].resize(need);
    }
  }
}

void applyPortAt(SimulationEngine& eng, const FDTD_SAM& sam, size_t p, int64_t index) {
  FDTD_PORT& r = eng.ports.list[p];
  ECell& c = eng.grid.e[static_cast<size_t>(r.cell)];
  applyPortAt(eng, sam, p, index, r.dir == 0 ? c.ex : (r.dir == 1 ? c.ey : c.ez));
}

void applyPortAt(SimulationEngine& eng, const FDTD_SAM& sam, size_t p, int64_t index, float& f) {
  PortSet& ps = eng.ports;
  float v = 0.0f, i = 0.0f;
  applyPortTo(f, sam, ps.list[p], v, i);
  if (ps.record) {
    ps.v[p][static_cast<size_t>(index)] = v;
    ps.i[p][static_cast<size_t>(index)] = i;
  }
}

void applyPorts(SimulationEngine& eng) {
  PortSet& ps = eng.ports;
  if (ps.list.empty()) return;
  reservePortSteps(eng, 1);
  for (size_t p = 0; p < ps.list.size(); ++p) applyPortAt(eng, eng.sam, p, ps.step);
  ++ps.step;
}

void excitePort(SimulationEngine& eng, int excited, double fmax) {
  // A Gaussian whose spectrum exp(-(pi f tau)^2) falls to a tenth (-20 dB)
  // at fmax, starting e^-20 below its peak.
  const double tau = std::sqrt(std::log(10.0)) / (M_PI * fmax);
  for (size_t p = 0; p < eng.ports.list.size(); ++p) {
    FDTD_PORT& r = eng.ports.list[p];
    const bool on = static_cast<int>(p) == excited;
    r.amp = on ? 1.0f : 0.0f;
    r.tau = static_cast<float>(tau);
    r.t0 = static_cast<float>(std::sqrt(20.0) * tau);
  }
}

double boxEnergy(const SimulationEngine& eng) {
  const GridHolder& g = eng.grid;
  const GridDesc& d = g.desc;
  const MaterialArrays& m = g.mat;
  const int64_t n = static_cast<int64_t>(d.cellCount);
  if (m.epsX.size() < static_cast<size_t>(n)) return 0.0;
  const bool compact = eng.compact.active;
  const CompactFields f =
      compact ? const_cast<CompactState&>(eng.compact).fieldsView() : CompactFields{};
  double sum = 0.0;
#pragma omp parallel for schedule(static) reduction(+ : sum)
  for (int64_t k = 0; k < n; ++k) {
    int64_t x, y, z;
    cellCoords(d, static_cast<uint64_t>(k), x, y, z);
    const uint64_t ei = eIndex(d, x, y, z), hi = hIndex(d, x, y, z);
    const ECell& e = g.e[ei];
    const HCell& h = g.h[hi];
    const float ex = compact ? f.e.c[0][ei] : e.ex, ey = compact ? f.e.c[1][ei] : e.ey,
                ez = compact ? f.e.c[2][ei] : e.ez, hx = compact ? f.h.c[0][hi] : h.hx,
                hy = compact ? f.h.c[1][hi] : h.hy, hz = compact ? f.h.c[2][hi] : h.hz;
    sum += static_cast<double>(m.epsX[k]) * ex * ex + static_cast<double>(m.epsY[k]) * ey * ey +
           static_cast<double>(m.epsZ[k]) * ez * ez + static_cast<double>(m.muX[k]) * hx * hx +
           static_cast<double>(m.muY[k]) * hy * hy + static_cast<double>(m.muZ[k]) * hz * hz;
  }
  const FDTD_SAM& s = eng.sam;
  return 0.5 * sum * static_cast<double>(s.dx) * s.dy * s.dz;
}

}  // namespace tavro
