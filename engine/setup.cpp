#include "engine/setup.h"

#include <omp.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

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

// The E and H records cleared, plane by plane in parallel: the threads
// touch the pages first in the planes that the step gives them.
void clearFieldRecords(GridHolder& g) {
  const Strides st = stridesOf(g.desc);
  const int64_t planes = g.desc.nx + 1;
  ECell* e = g.e.data();
  HCell* h = g.h.data();
#pragma omp parallel for schedule(static)
  for (int64_t x = 0; x < planes; ++x) {
    std::memset(static_cast<void*>(e + x * st.sx), 0, st.sx * sizeof(ECell));
    std::memset(static_cast<void*>(h + x * st.sx), 0, st.sx * sizeof(HCell));
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
  const uint64_t P2 = 2 * static_cast<uint64_t>(eng.pmlCells);
  const uint64_t need = allocatedBytes(X + P2, Y + P2, Z + P2, model.pins().size(),
                                       model.probes().size(), limit, eng.averageMaterials) +
                        pmlBytes(eng.pmlCells, X, Y, Z);
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
  if (!g.allocateMaterials(X + 2 * P, Y + 2 * P, Z + 2 * P, P > 0)) {
    con() << "error: can't allocate memory for FDTD...\n";
    return 0;
  }
  MaterialArrays& m = g.mat;
  // The cells in parallel, each thread counting the use of the materials in
  // its own table; the tables add up afterwards.
  const int64_t cells = static_cast<int64_t>(n);
  bool badId = false;
#pragma omp parallel
  {
    std::vector<int32_t> mine(kMaterialCount, 0);
#pragma omp for schedule(static) reduction(|| : badId)
    for (int64_t km = 0; km < cells; ++km) {
      const uint32_t id = static_cast<uint32_t>(model.data[static_cast<uint64_t>(km)]);
      const uint64_t k = P == 0 ? static_cast<uint64_t>(km)
                                : gridCellIndex(eng, km / (int64_t{Y} * Z), km / Z % Y, km % Z);
      if (id > 65535u) {
        // The set-up fails; the cell still gets defined (vacuum-like) values.
        badId = true;
        m.sigmaX[k] = m.sigmaY[k] = m.sigmaZ[k] = 1e-13f;
        m.epsX[k] = m.epsY[k] = m.epsZ[k] = kEps0;
        m.muX[k] = m.muY[k] = m.muZ[k] = kMu0;
        continue;
      }
      const Material& mx = model.materialX[id];
      const Material& my = model.materialY[id];
      const Material& mz = model.materialZ[id];
      m.sigmaX[k] = mx.sg;
      m.sigmaY[k] = my.sg;
      m.sigmaZ[k] = mz.sg;
      m.epsX[k] = kEps0 * mx.er;
      m.epsY[k] = kEps0 * my.er;
      m.epsZ[k] = kEps0 * mz.er;
      m.muX[k] = kMu0 * mx.ur;
      m.muY[k] = kMu0 * my.ur;
      m.muZ[k] = kMu0 * mz.ur;
      ++mine[id];
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
         pmlBytes(eng.pmlCells, static_cast<uint64_t>(a.nx), static_cast<uint64_t>(a.ny),
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
  clearFieldRecords(g);
  const float dt = s.dt, dx = s.dx, dy = s.dy, dz = s.dz;
  const double hdt = 0.5 * static_cast<double>(dt);
  const float cdt = dt * kLightSpeedF;
  const float murX = (cdt - dx) / (dx + cdt);
  const float murY = (cdt - dy) / (dy + cdt);
  const float murZ = (cdt - dz) / (dz + cdt);
  const MaterialArrays& m = g.mat;
  ECell* e = g.e.data();
  HCell* h = g.h.data();
  float* mur = g.murCoef.data();
  const int64_t n = static_cast<int64_t>(d.cellCount);

#pragma omp parallel for schedule(static)
  for (int64_t k = 0; k < n; ++k) {
    int64_t x, y, z;
    cellCoords(d, static_cast<uint64_t>(k), x, y, z);
    const float sx = m.sigmaX[k], sy = m.sigmaY[k], sz = m.sigmaZ[k];
    const float DX =
        static_cast<float>(static_cast<double>(sx) * hdt + static_cast<double>(m.epsX[k]));
    const float DY =
        static_cast<float>(static_cast<double>(sy) * hdt + static_cast<double>(m.epsY[k]));
    const float DZ =
        static_cast<float>(static_cast<double>(sz) * hdt + static_cast<double>(m.epsZ[k]));
    float MX = m.muX[k], MY = m.muY[k], MZ = m.muZ[k];
    // Inner cells use the mean permeability of the eight cells around the
    // H node; the last layer of any axis keeps its own.
    if (x < d.nx - 1 && y < d.ny - 1 && z < d.nz - 1) {
      float ax = 0.0f, ay = 0.0f, az = 0.0f;
      for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
          for (int l = 0; l < 2; ++l) {
            const uint64_t q = plainIndex(d, x + i, y + j, z + l);
            ax += m.muX[q];
            ay += m.muY[q];
            az += m.muZ[q];
          }
      MX = ax * 0.125f;
      MY = ay * 0.125f;
      MZ = az * 0.125f;
    }
    ECell& ec = e[eIndex(d, x, y, z)];
    ec.cax = 1.0f - dt * sx / DX;
    ec.cay = 1.0f - sy * dt / DY;
    ec.caz = 1.0f - sz * dt / DZ;
    ec.cbx = dt / DX / dx;
    ec.cby = dt / DY / dy;
    ec.cbz = dt / DZ / dz;
    HCell& hc = h[hIndex(d, x, y, z)];
    hc.chx = dt / MX / dx;
    hc.chy = dt / MY / dy;
    hc.chz = dt / MZ / dz;
  }
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
  // The GPU kernels have no absorbing layer yet.
  if (eng.cudaFlag && eng.pmlCells > 0) {
    con() << "error: -pml does not run with -cuda yet; leave out one of them.\n";
    return 0;
  }
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
