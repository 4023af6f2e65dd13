#include "engine/setup.h"

#include <omp.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/compact_state.h"
#include "engine/console.h"
#include "engine/edge_materials.h"
#include "engine/gpu_backend.h"
#include "engine/grid_index.h"
#include "engine/pml.h"
#include "engine/ports.h"
#include "engine/probes.h"
#include "engine/sources.h"

namespace tavro {

namespace {

bool usableSize(float d) { return std::isfinite(d) && d > 0.0f; }

// Courant limit with factor 0.99: the root in float32, the divisions in double.
float timeStep(float dx, float dy, float dz) {
  const float s = std::sqrt(1.0f / (dx * dx) + 1.0f / (dy * dy) + 1.0f / (dz * dz));
  return static_cast<float>(kCourant / static_cast<double>(s) / kLightSpeed);
}

// Truncation of a non-negative float to int32 that saturates instead of
// overflowing (a tiny minimum frequency would otherwise ask for more).
int32_t truncSaturated(float v) {
  if (!(v < 2147483520.0f)) return v != v ? 0 : std::numeric_limits<int32_t>::max();
  if (v < -2147483520.0f) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

// Decimation for a lowest analysed frequency: `stepLimit` samples taken every
// `cull`-th step cover one period of minFreq.
void decimation(float dt, float minFreq, int32_t& stepLimit, int32_t& cull) {
  // A run that records no sample has nothing to decimate.
  if (minFreq > 0.0f && stepLimit > 0) {
    cull = truncSaturated(1.0f / (dt * minFreq * static_cast<float>(stepLimit)) + 1.0f);
    stepLimit = truncSaturated(1.0f / (minFreq * dt * static_cast<float>(cull)));
  } else {
    cull = 0;
  }
}

uint64_t estimateBytes(uint64_t X, uint64_t Y, uint64_t Z, uint64_t sources, uint64_t probes,
                       int32_t stepLimit) {
  const uint64_t n = X * Y * Z;
  const uint64_t p = (X + 1) * (Y + 1) * (Z + 1);
  // A zero or negative step limit records nothing.
  const uint64_t limit = stepLimit > 0 ? static_cast<uint64_t>(stepLimit) : 0;
  return 85 * n + 80 * p + 64 * (X * Y + Y * Z + X * Z) + 32 * sources +
         (100 * limit + 200020) * probes + 124;
}

// The E and H elements that hold no cell: the E row y = Y and the E plane
// x = X, the H row y = -1 and the H plane x = -1 (the rows' own z guards are
// written with their cells). They stay zero.
void clearGuardElements(GridHolder& g) {
  const GridDesc& d = g.desc;
  const Strides st = stridesOf(d);
  ECell* e = g.e.data();
  HCell* h = g.h.data();
  const int64_t planes = d.nx + 1;
#pragma omp parallel for schedule(static)
  for (int64_t x = 0; x < planes; ++x) {
    if (x == d.nx)
      std::memset(static_cast<void*>(e + eIndex(d, x, 0, 0)), 0, st.sx * sizeof(ECell));
    else
      std::memset(static_cast<void*>(e + eIndex(d, x, d.ny, 0)), 0, st.sy * sizeof(ECell));
    if (x == 0)
      std::memset(static_cast<void*>(h), 0, st.sx * sizeof(HCell));
    else
      std::memset(static_cast<void*>(h + eIndex(d, x, 0, 0)), 0, st.sy * sizeof(HCell));
  }
}

uint32_t bitsOf(float v) { return std::bit_cast<uint32_t>(v); }

bool sameBits(const uint32_t* a, const uint32_t* b, int count) {
  for (int i = 0; i < count; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// Mean of a[z], a[z + 1], b[z], ..., d[z + 1], summed in this order: the
// permeability around an H node from the rows (x, y), (x, y + 1), (x + 1, y)
// and (x + 1, y + 1).
inline float meanOfEight(const float* a, const float* b, const float* c, const float* d,
                         int64_t z) {
  float s = 0.0f;
  s += a[z];
  s += a[z + 1];
  s += b[z];
  s += b[z + 1];
  s += c[z];
  s += c[z + 1];
  s += d[z];
  s += d[z + 1];
  return s * 0.125f;
}

// The whole E and H records of every cell, zero fields and the update
// coefficients from the material arrays, row by row in parallel (the first
// write of each page, in the rows that the step gives the same thread).
void writeCellRecords(GridHolder& g, float dt, float dx, float dy, float dz) {
  const GridDesc& d = g.desc;
  const double hdt = 0.5 * static_cast<double>(dt);
  const MaterialArrays& m = g.mat;
  const float *sgX = m.sigmaX.data(), *sgY = m.sigmaY.data(), *sgZ = m.sigmaZ.data();
  const float *epX = m.epsX.data(), *epY = m.epsY.data(), *epZ = m.epsZ.data();
  const float *muX = m.muX.data(), *muY = m.muY.data(), *muZ = m.muZ.data();
  ECell* e = g.e.data();
  HCell* h = g.h.data();
  const int64_t X = d.nx, Y = d.ny, Z = d.nz;
  const int64_t rows = X * Y;
  const uint64_t sxm = static_cast<uint64_t>(Y) * static_cast<uint64_t>(Z);
  const uint64_t sym = static_cast<uint64_t>(Z);

#pragma omp parallel for schedule(static)
  for (int64_t r = 0; r < rows; ++r) {
    const int64_t x = r / Y, y = r % Y;
    const uint64_t k0 = plainIndex(d, x, y, 0);
    ECell* er = e + eIndex(d, x, y, 0);
    HCell* hr = h + hIndex(d, x, y, 0);
    er[Z] = ECell{};
    hr[-1] = HCell{};
    // Inner cells use the mean permeability of the eight cells around the
    // H node; the last layer of any axis keeps its own.
    const bool innerRow = x < X - 1 && y < Y - 1;
    const int64_t meanEnd = innerRow ? Z - 1 : 0;
    // A cell whose inputs equal, bit for bit, those of the cell before it in
    // the row takes that cell's coefficients: the same arithmetic on the
    // same values, without its divisions (most of a model is uniform).
    ECell ec{};
    HCell hc{};
    uint32_t eKey[6] = {}, hKey[3] = {};
    bool haveE = false, haveH = false;
    for (int64_t z = 0; z < Z; ++z) {
      const uint64_t k = k0 + static_cast<uint64_t>(z);
      const float sx = sgX[k], sy = sgY[k], sz = sgZ[k];
      const uint32_t eIn[6] = {bitsOf(sx),     bitsOf(sy),     bitsOf(sz),
                               bitsOf(epX[k]), bitsOf(epY[k]), bitsOf(epZ[k])};
      if (!haveE || !sameBits(eIn, eKey, 6)) {
        const float DX =
            static_cast<float>(static_cast<double>(sx) * hdt + static_cast<double>(epX[k]));
        const float DY =
            static_cast<float>(static_cast<double>(sy) * hdt + static_cast<double>(epY[k]));
        const float DZ =
            static_cast<float>(static_cast<double>(sz) * hdt + static_cast<double>(epZ[k]));
        ec.cax = 1.0f - dt * sx / DX;
        ec.cay = 1.0f - sy * dt / DY;
        ec.caz = 1.0f - sz * dt / DZ;
        ec.cbx = dt / DX / dx;
        ec.cby = dt / DY / dy;
        ec.cbz = dt / DZ / dz;
        std::memcpy(eKey, eIn, sizeof eKey);
        haveE = true;
      }
      er[z] = ec;
      float MX = muX[k], MY = muY[k], MZ = muZ[k];
      if (z < meanEnd) {
        MX = meanOfEight(muX + k0, muX + k0 + sym, muX + k0 + sxm, muX + k0 + sxm + sym, z);
        MY = meanOfEight(muY + k0, muY + k0 + sym, muY + k0 + sxm, muY + k0 + sxm + sym, z);
        MZ = meanOfEight(muZ + k0, muZ + k0 + sym, muZ + k0 + sxm, muZ + k0 + sxm + sym, z);
      }
      const uint32_t hIn[3] = {bitsOf(MX), bitsOf(MY), bitsOf(MZ)};
      if (!haveH || !sameBits(hIn, hKey, 3)) {
        hc.chx = dt / MX / dx;
        hc.chy = dt / MY / dy;
        hc.chz = dt / MZ / dz;
        std::memcpy(hKey, hIn, sizeof hKey);
        haveH = true;
      }
      hr[z] = hc;
    }
  }
}

// What the run really allocates, for the check before the set-up allocates
// anything: per cell the nine material arrays and the colour byte (and the
// two flag arrays of -avgmat, held while its coefficients are made), per
// extended cell the E and H records, per face position the two Mur
// coefficients and the store record, then sources, probes with their
// samples and spectrum. The "used memory" line of the report keeps its own
// formula (estimateBytes), which users and tests compare.
uint64_t allocatedBytes(uint64_t X, uint64_t Y, uint64_t Z, uint64_t sources, uint64_t probes,
                        int32_t stepLimit, bool averaged) {
  const uint64_t n = X * Y * Z;
  const uint64_t p = (X + 1) * (Y + 1) * (Z + 1);
  const uint64_t limit = stepLimit > 0 ? static_cast<uint64_t>(stepLimit) : 0;
  const uint64_t perCell = 9 * sizeof(float) + 1 + (averaged ? 2 : 0);
  return perCell * n + (sizeof(ECell) + sizeof(HCell)) * p +
         (2 * sizeof(float) + sizeof(MurStore)) * (X * Y + Y * Z + X * Z) +
         sizeof(FDTD_SRC) * sources +
         (sizeof(ProbeSample) * (limit + kSpectrumPoints) + 8) * probes + sizeof(GridDesc) +
         sizeof(FDTD_SAM);
}

float toMbytes(uint64_t bytes) { return static_cast<float>(bytes >> 10) * 0.0009765625f; }

bool sameValue(float x, float y, float z) { return x == y && x == z; }

void printValue(const char* name, float x, float y, float z, const char* unit) {
  if (sameValue(x, y, z))
    con() << name << "=" << x << unit << " ";
  else
    con() << name << "={" << x << ":" << y << ":" << z << "}" << unit << " ";
}

bool usableMaterial(const Material& m) {
  return std::isfinite(m.sg) && std::isfinite(m.er) && std::isfinite(m.ur) && m.er > 0.0f &&
         m.ur > 0.0f;
}

// Material setting: per-cell absolute material values and the material lines.
int materialSetting(SimulationEngine& eng, ModelRecord& model) {
  con() << "- material setting...\n";
  std::vector<int32_t> used(kMaterialCount, 0);
  eng.sam.dx = model.unitX;
  eng.sam.dy = model.unitY;
  eng.sam.dz = model.unitZ;

  const int X = model.areaX, Y = model.areaY, Z = model.areaZ;
  // The boundary reads the layer next to each face, so every axis needs at
  // least two cells; a non-positive or non-finite cell size has no time step.
  if (X < 2 || Y < 2 || Z < 2) {
    con() << "error: calculation area (" << X << "," << Y << "," << Z
          << ") must have at least 2 grids along each axis.\n";
    return 0;
  }
  if (!usableSize(model.unitX) || !usableSize(model.unitY) || !usableSize(model.unitZ)) {
    con() << "error: grid size (" << model.unitX << "," << model.unitY << "," << model.unitZ
          << ") must be positive and finite.\n";
    return 0;
  }
  // Cell sizes far apart from any wave (1e-30 m, 1e30 m) leave no time step
  // that float32 can hold: the run would stand still or fill with NaN.
  const float dt = timeStep(model.unitX, model.unitY, model.unitZ);
  if (!std::isfinite(dt) || !(dt > 0.0f)) {
    con() << "error: grid size (" << model.unitX << "," << model.unitY << "," << model.unitZ
          << ") gives no usable time step (" << dt << "[sec]).\n";
    return 0;
  }
  const uint64_t n = model.cellCount();
  if (model.data.size() != n) {
    con() << "error: the calculation area has no cells; set -area or give a model.\n";
    return 0;
  }

  // Refuse a run that cannot fit before allocating anything of it.
  int32_t limit = eng.requestedStepLimit, cull = 0;
  decimation(dt, eng.minFreq, limit, cull);
  const GridDesc grown = gridDescFor(eng, X, Y, Z);
  const uint64_t need = allocatedBytes(grown.nx, grown.ny, grown.nz, model.pins().size(),
                                       model.probes().size(), limit, eng.averageMaterials) +
                        pmlBytes(eng, X, Y, Z);
  const unsigned long long avail = availableMemoryBytes();
  if (avail != 0 && need > avail) {
    con() << "error: the run needs " << toMbytes(need) << "[Mbytes] of memory but only "
          << toMbytes(avail) << "[Mbytes] are available.\n";
    return 0;
  }

  GridHolder& g = eng.grid;
  const int P = eng.pmlCells;
  // Without the layer the loop below writes every cell (and touches its
  // pages first, in parallel); the layer's cells keep the vacuum values.
  if (!g.allocateMaterials(grown.nx, grown.ny, grown.nz, P > 0)) {
    con() << "error: can't allocate memory for FDTD...\n";
    return 0;
  }
  MaterialArrays& m = g.mat;
  // The cells row by row in parallel (a row along z is contiguous in the
  // model and in the grid), each thread counting the use of the materials in
  // its own table; the tables add up afterwards. A run of cells of one ID
  // looks its values up once.
  const int64_t rows = int64_t{X} * Y;
  const int32_t* ids = model.data.data();
  float* const out[9] = {m.sigmaX.data(), m.sigmaY.data(), m.sigmaZ.data(),
                         m.epsX.data(),   m.epsY.data(),   m.epsZ.data(),
                         m.muX.data(),    m.muY.data(),    m.muZ.data()};
  bool badId = false;
#pragma omp parallel
  {
    std::vector<int32_t> mine(kMaterialCount, 0);
#pragma omp for schedule(static) reduction(|| : badId)
    for (int64_t r = 0; r < rows; ++r) {
      const int32_t* row = ids + r * Z;
      const uint64_t k0 =
          P == 0 ? static_cast<uint64_t>(r * Z) : gridCellIndex(eng, r / Y, r % Y, 0);
      float v[9] = {};
      uint32_t last = 0;
      bool have = false;
      for (int64_t z = 0; z < Z; ++z) {
        const uint32_t id = static_cast<uint32_t>(row[z]);
        if (!have || id != last) {
          if (id > 65535u) {
            // The set-up fails; the cell still gets defined (vacuum-like) values.
            badId = true;
            v[0] = v[1] = v[2] = 1e-13f;
            v[3] = v[4] = v[5] = kEps0;
            v[6] = v[7] = v[8] = kMu0;
          } else {
            const Material& mx = model.materialX[id];
            const Material& my = model.materialY[id];
            const Material& mz = model.materialZ[id];
            v[0] = mx.sg;
            v[1] = my.sg;
            v[2] = mz.sg;
            v[3] = kEps0 * mx.er;
            v[4] = kEps0 * my.er;
            v[5] = kEps0 * mz.er;
            v[6] = kMu0 * mx.ur;
            v[7] = kMu0 * my.ur;
            v[8] = kMu0 * mz.ur;
          }
          last = id;
          have = true;
        }
        if (id <= 65535u) ++mine[id];
        const uint64_t k = k0 + static_cast<uint64_t>(z);
        for (int a = 0; a < 9; ++a) out[a][k] = v[a];
      }
    }
#pragma omp critical
    for (int id = 0; id < kMaterialCount; ++id) used[id] += mine[id];
  }
  if (badId) return 0;
  reportMaterials(model, used);
  // A permittivity or permeability of zero divides by zero in the
  // coefficients; infinities and NaN poison every field they reach.
  for (int id = 0; id < kMaterialCount; ++id) {
    if (used[id] == 0) continue;
    if (!usableMaterial(model.materialX[id]) || !usableMaterial(model.materialY[id]) ||
        !usableMaterial(model.materialZ[id])) {
      con() << "error: material (" << id << ") needs finite values with positive er and ur.\n";
      return 0;
    }
  }
  return buildPml(eng);
}

}  // namespace

void specialMaterialReport(const ModelRecord& model, const std::vector<int32_t>& switchUse) {
  bool any = false;
  for (int32_t c : switchUse) any = any || c != 0;
  if (!any) return;
  con() << "- material setting for special source...\n";
  for (int id = 0; id < kMaterialCount; ++id) {
    if (switchUse[id] == 0) continue;
    const Material& mx = model.materialX[id];
    con() << "(" << id << ") sg=" << mx.sg << "[S/m] er=" << mx.er << " ur=" << mx.ur << " used "
          << switchUse[id] << "[grids]\n";
  }
}

namespace {

void calculationReport(const SimulationEngine& eng) {
  const FDTD_SAM& s = eng.sam;
  con() << "- calculation parameters...\n";
  const DrawnArea a = drawnArea(eng);
  con() << "area size : (" << a.nx << "," << a.ny << "," << a.nz << ")[grids]\n";
  if (eng.pmlCells > 0) {
    const uint64_t grown = memoryEstimateBytes(eng);
    const uint64_t plain = estimateBytes(
        static_cast<uint64_t>(a.nx), static_cast<uint64_t>(a.ny), static_cast<uint64_t>(a.nz),
        static_cast<uint64_t>(s.sourceCount), static_cast<uint64_t>(s.probeCount), s.stepLimit);
    reportPml(eng, grown > plain ? grown - plain : 0);
  }
  con() << "grid size : (" << s.dx << "," << s.dy << "," << s.dz << ")[m]\n";
  if (eng.averageMaterials) con() << "material : averaged onto the grid edges (-avgmat)\n";
  con() << "time resolution : " << s.dt << "[sec]\n";
  con() << "used memory : " << memoryEstimateMbytes(eng) << "[Mbytes]\n";
  if (s.cull != 0) con() << "min freq: " << eng.minFreq << "[Hz] (cull: " << s.cull << ")\n";
  // A period of the lowest frequency shorter than one time step leaves no
  // sample to take: say so rather than end an empty run as if it had worked.
  if (s.cull != 0 && s.stepLimit == 0 && eng.requestedStepLimit > 0)
    con() << "warning: min freq " << eng.minFreq << "[Hz] is above 1/dt (" << 1.0f / s.dt
          << "[Hz]): no sample fits one of its periods and no step runs.\n";
}

}  // namespace

void reportMaterials(const ModelRecord& model, const std::vector<int32_t>& used) {
  for (int id = 0; id < kMaterialCount; ++id) {
    if (used[id] == 0) continue;
    const Material& mx = model.materialX[id];
    const Material& my = model.materialY[id];
    const Material& mz = model.materialZ[id];
    con() << "(" << id << ") ";
    printValue("sg", mx.sg, my.sg, mz.sg, "[S/m]");
    printValue("er", mx.er, my.er, mz.er, "");
    printValue("ur", mx.ur, my.ur, mz.ur, "");
    con() << " used " << used[id] << "[grids]\n";
  }
}

SimulationEngine::SimulationEngine() {
  grid.allocateMaterials(1, 1, 1);
  resetRun(*this);
}

uint64_t memoryEstimateBytes(const SimulationEngine& eng) {
  const GridDesc& g = eng.grid.desc;
  const DrawnArea a = drawnArea(eng);
  return estimateBytes(static_cast<uint64_t>(g.nx), static_cast<uint64_t>(g.ny),
                       static_cast<uint64_t>(g.nz), static_cast<uint64_t>(eng.sam.sourceCount),
                       static_cast<uint64_t>(eng.sam.probeCount), eng.sam.stepLimit) +
         pmlBytes(eng, static_cast<uint64_t>(a.nx), static_cast<uint64_t>(a.ny),
                  static_cast<uint64_t>(a.nz));
}

float memoryEstimateMbytes(const SimulationEngine& eng) {
  return toMbytes(memoryEstimateBytes(eng));
}

uint64_t memoryEstimateFor(uint64_t X, uint64_t Y, uint64_t Z, uint64_t sources, uint64_t probes,
                           int32_t stepLimit) {
  return estimateBytes(X, Y, Z, sources, probes, stepLimit);
}

float reportMbytes(uint64_t bytes) { return toMbytes(bytes); }

void resetRun(SimulationEngine& eng) {
  FDTD_SAM& s = eng.sam;
  GridHolder& g = eng.grid;
  s.cullCounter = 0;
  s.stepCount = 0;
  s.time = 0.0f;
  s.dt = timeStep(s.dx, s.dy, s.dz);
  decimation(s.dt, eng.minFreq, s.stepLimit, s.cull);

  const GridDesc d = g.desc;
  clearGuardElements(g);
  writeCellRecords(g, s.dt, s.dx, s.dy, s.dz);
  const float dt = s.dt, dx = s.dx, dy = s.dy, dz = s.dz;
  const float cdt = dt * kLightSpeedF;
  const float murX = (cdt - dx) / (dx + cdt);
  const float murY = (cdt - dy) / (dy + cdt);
  const float murZ = (cdt - dz) / (dz + cdt);
  float* mur = g.murCoef.data();
  const int64_t faces = static_cast<int64_t>(d.countFaces);
#pragma omp parallel for schedule(static)
  for (int64_t f = 0; f < faces; ++f) {
    const uint64_t q = static_cast<uint64_t>(f);
    const float k = q < d.countXY ? murZ : (q < d.countZXFaces ? murX : murY);
    mur[2 * f] = k;
    mur[2 * f + 1] = k;
  }
  // -avgmat replaces the per-cell coefficients by the averaged ones.
  if (eng.averageMaterials) averagedCoefficients(eng);
  resetPml(eng);
  resetPorts(eng);

  std::memset(g.murZ.data(), 0, g.murZ.bytes());
  std::memset(g.murX.data(), 0, g.murX.bytes());
  std::memset(g.murY.data(), 0, g.murY.bytes());
  std::memset(g.cellColor.data(), 0, g.cellColor.bytes());
}

int set(SimulationEngine& eng, ModelRecord& model) {
  // A compact stepping state belongs to the old grid: its fields go back to
  // the records first, so that a refused set-up keeps the run as it was.
  endCompactRun(eng);
  // The device buffers go before the host grid changes: a refused set-up
  // leaves the device empty, never holding the buffers of the old grid.
  eng.gpuFailed = false;
  if (eng.cudaFlag && InstalledGpuBackend()) InstalledGpuBackend()->discard();
  if (!materialSetting(eng, model)) return 0;

  std::vector<int32_t> switchUse(kMaterialCount, 0);
  if (!sourceSetting(eng, model, switchUse)) return 0;
  if (!portSetting(eng, model)) return 0;
  specialMaterialReport(model, switchUse);

  if (!measureSetting(eng, model)) return 0;

  // Every set-up starts from the step limit given on the command line.
  eng.sam.stepLimit = eng.requestedStepLimit;
  resetRun(eng);
  if (eng.averageMaterials && !appendEdgeHolds(eng)) return 0;
  if (!allocateSamples(eng)) return 0;

  if (eng.cudaFlag) {
    // The device starts from the reset state just built on the host. A
    // program without a back end cannot honour the request either.
    const GpuBackend* gpu = InstalledGpuBackend();
    const GpuPrepareResult r = gpu ? gpu->prepare(eng) : GpuPrepareResult::kInitFailed;
    if (r == GpuPrepareResult::kInitFailed) {
      con() << "error: can't initialize for CUDA.\n";
      if (gpu) con() << gpu->failureCause();
      return 0;
    }
    if (r == GpuPrepareResult::kAllocFailed) {
      con() << "error: can't allocate memory for CUDA.\n";
      con() << gpu->failureCause();
      return 0;
    }
  }
  calculationReport(eng);
  if (eng.cudaFlag) {
    const GpuBackend* gpu = InstalledGpuBackend();
    con() << "- Running with CUDA on " << gpu->deviceLabel() << ".\n";
    con() << "CUDA memory " << GpuMbytes(gpu->usedBytes()) << "[Mbytes] used in total "
          << GpuMbytes(gpu->totalBytes()) << "[Mbytes]\n";
  }
  return 1;
}

}  // namespace tavro
