// Probes: the probe list built from the model, the sample store and the
// measurement pass of a time step.
#include "engine/probes.h"

#include <cstring>
#include <limits>

#include "engine/console.h"
#include "engine/pml.h"
#include "engine/probe_kernels.h"

namespace tavro {

int measureSetting(SimulationEngine& eng, const ModelRecord& model) {
  con() << "- measure setting...\n";
  FDTD_SAM& s = eng.sam;
  const uint64_t cells = model.cellCount();

  // Every named cell inside the area is a probe, numbered in cell order.
  uint64_t count = 0;
  for (const auto& [k, name] : model.probes())
    if (k < cells) ++count;
  if (count > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
    con() << "error: can't allocate memory for probeCells[" << count << "].\n";
    return 0;
  }
  s.probeCount = static_cast<int32_t>(count);
  s.stepCount = 0;

  // The old sample store belongs to the previous probe list.
  eng.samples.release();
  if (!memoryFits(count * sizeof(int64_t)) || !eng.probeCells.allocate(count)) {
    con() << "error: can't allocate memory for probeCells[" << count << "].\n";
    s.probeCount = 0;
    return 0;
  }

  // Spectrum points are cleared so that a probe whose spectrum was never
  // computed reads as zeros, not as stale memory.
  SpectrumStore& store = eng.spectrum;
  store.names.clear();
  const uint64_t points = count * static_cast<uint64_t>(kSpectrumPoints);
  if (!memoryFits(points * sizeof(ProbeSample)) || !store.points.allocate(points)) {
    con() << "error: can't allocate memory for spectrum[" << points << "].\n";
    eng.probeCells.release();
    s.probeCount = 0;
    return 0;
  }
  if (!store.points.empty()) std::memset(store.points.data(), 0, store.points.bytes());
  store.names.reserve(count);

  const uint64_t Y = static_cast<uint64_t>(model.areaY);
  const uint64_t Z = static_cast<uint64_t>(model.areaZ);
  const GridDesc grid = gridDescFor(eng, model.areaX, model.areaY, model.areaZ);
  uint64_t j = 0;
  for (const auto& [k, name] : model.probes()) {
    if (k >= cells) continue;
    eng.probeCells[j++] = static_cast<int64_t>(
        gridCellIndex(eng, grid, static_cast<int64_t>(k / (Y * Z)),
                      static_cast<int64_t>((k / Z) % Y), static_cast<int64_t>(k % Z)));
    store.names.push_back(name);
    con() << "(" << k / (Y * Z) << "," << (k / Z) % Y << "," << k % Z << ") " << name << "\n";
  }
  return 1;
}

int allocateSamples(SimulationEngine& eng) {
  const FDTD_SAM& s = eng.sam;
  if (s.stepLimit <= 0 || s.probeCount <= 0) {
    eng.samples.release();
    return 1;
  }
  const uint64_t records = static_cast<uint64_t>(s.probeCount) * static_cast<uint64_t>(s.stepLimit);
  const uint64_t bytes = records * sizeof(ProbeSample);
  if (!memoryFits(bytes) || !eng.samples.allocate(records)) {
    con() << "error: can't allocate memory for samples[" << records << "] (" << bytes
          << " bytes).\n";
    return 0;
  }
  std::memset(eng.samples.data(), 0, eng.samples.bytes());
  return 1;
}

bool measureDue(const SimulationEngine& eng, const FDTD_SAM& s) {
  if (s.probeCount <= 0 || !sampleDue(s) || s.stepCount < 0) return false;
  // Never write past the store (a set-up that failed after measure setting
  // leaves it smaller than the counters suggest).
  const uint64_t end =
      (static_cast<uint64_t>(s.stepCount) + 1) * static_cast<uint64_t>(s.probeCount);
  return eng.samples.size() >= end && eng.probeCells.size() >= static_cast<uint64_t>(s.probeCount);
}

void measure(SimulationEngine& eng) {
  const FDTD_SAM s = eng.sam;
  if (!measureDue(eng, s)) return;
  const GridDesc g = eng.grid.desc;
  const ECell* e = eng.grid.e.data();
  const HCell* h = eng.grid.h.data();
  const int64_t* cells = eng.probeCells.data();
  ProbeSample* samples = eng.samples.data();
  const int64_t n = s.probeCount;
#pragma omp parallel for schedule(static)
  for (int64_t p = 0; p < n; ++p) measureProbe(g, e, h, s, cells, samples, p);
}

}  // namespace tavro
