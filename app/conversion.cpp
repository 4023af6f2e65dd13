#include "app/conversion.h"

#include <sstream>
#include <string>

#include "engine/console.h"

namespace tavro {

namespace {

constexpr int kNormalMargin = 8;
constexpr int kFarFieldMargin = 64;
constexpr int kLast = kCubeSize - 1;

// The cube stores its second and third axes reversed (the editor shows them
// bottom to top): cube cell (i, j, k) of the model's orientation is byte
// (i, 63 - j, 63 - k).
uint8_t cubeCell(const Project& p, int i, int j, int k) {
  return p.cells[CubeIndex(i, kLast - j, kLast - k)];
}

// The source text of a source cell, in the CSV cell syntax with blanks for
// colons. DC and source-1 cells take the first value, source-2 cells the
// second; a switch is on in its own material and off in slot 7.
std::string sourceText(const Project& p, uint8_t v) {
  static const char kDirections[] = {'X', 'Y', 'Z'};
  const char d = kDirections[p.sourceDirection];
  const bool first = (v & (kCellDC | kCellSource1)) != 0;
  const float value = first ? p.sourceValue1 : p.sourceValue2;
  std::ostringstream t;
  if (v & kCellDC) {
    t << "DC " << d << ' ' << value;
    return t.str();
  }
  switch (p.sourceType) {
    case kSourceCW:
      t << "CW " << d << ' ' << value << ' ' << p.frequency;
      break;
    case kSourceGauss:
      t << "GAUSS " << d << ' ' << value;
      break;
    case kSourcePulse:
      t << "PULSE " << d << ' ' << value << ' ' << p.frequency;
      break;
    default:  // kSourceSwitch
      t << "SWITCH " << (first ? 'P' : 'N') << ' ' << kSwitchOffSlot << ' ' << p.frequency;
      break;
  }
  return t.str();
}

void fillHide(ModelRecord& model, int32_t value) {
  int32_t* h = model.hide.data();
  const int64_t n = static_cast<int64_t>(model.cellCount());
#pragma omp parallel for schedule(static)
  for (int64_t c = 0; c < n; ++c) h[c] = value;
}

// Extends the cube's face materials into the margin: afterwards
// data(x, y, z) = data(clamp(x), clamp(y), clamp(z)) with each coordinate
// clamped to m .. m + 63. The X layers are filled over the cube's y, z range,
// the Y layers over all x, the Z layers over all x and y, so each pass reads
// what the one before wrote and the three must run in this order.
void extendMargin(ModelRecord& model, int m) {
  int32_t* d = model.data.data();
  const int side = model.areaX;
  const int lo = m, hi = m + kLast;
  const ModelRecord& r = model;
#pragma omp parallel for schedule(static)
  for (int t = 0; t < m; ++t) {
    for (int y = lo; y <= hi; ++y)
      for (int z = lo; z <= hi; ++z) {
        d[r.index(t, y, z)] = d[r.index(lo, y, z)];
        d[r.index(hi + 1 + t, y, z)] = d[r.index(hi, y, z)];
      }
  }
#pragma omp parallel for schedule(static)
  for (int t = 0; t < m; ++t) {
    for (int x = 0; x < side; ++x)
      for (int z = lo; z <= hi; ++z) {
        d[r.index(x, t, z)] = d[r.index(x, lo, z)];
        d[r.index(x, hi + 1 + t, z)] = d[r.index(x, hi, z)];
      }
  }
#pragma omp parallel for schedule(static)
  for (int t = 0; t < m; ++t) {
    for (int x = 0; x < side; ++x)
      for (int y = 0; y < side; ++y) {
        d[r.index(x, y, t)] = d[r.index(x, y, lo)];
        d[r.index(x, y, hi + 1 + t)] = d[r.index(x, y, hi)];
      }
  }
}

// Far-field display thinning: cube cells are drawn when their index is a
// multiple of 5 or of 7, margin cells when it is a multiple of 7.
void thinFarField(ModelRecord& model) {
  int32_t* h = model.hide.data();
  const int64_t n = static_cast<int64_t>(model.cellCount());
#pragma omp parallel for schedule(static)
  for (int64_t c = 0; c < n; ++c) {
    if (c % 5 != 0 && h[c] == 0) h[c] = 1;
    if (c % 7 == 0 && h[c] == 1) h[c] = 0;
  }
}

}  // namespace

bool set_data(Project& project, ModelRecord& model, int farField) {
  // The source material indexes the slots and the type and direction choose
  // the source text; a project with values outside their ranges is refused
  // before anything changes.
  const std::string bad = CheckSourceParameters(project);
  if (!bad.empty()) {
    con() << "error: " << bad << " in the model.\n";
    return false;
  }

  const int s = project.sourceMaterial;
  project.sg[kSwitchOnSlot] = project.sg[s];
  project.er[kSwitchOffSlot] = project.er[kSwitchOnSlot] = project.er[s];
  project.ur[kSwitchOffSlot] = project.ur[kSwitchOnSlot] = project.ur[s];
  project.margin = farField ? kFarFieldMargin : kNormalMargin;

  for (int k = 0; k < kProjectSlots; ++k) {
    const Material mat{project.sg[k], project.er[k], project.ur[k]};
    model.materialZ[k] = mat;
    model.materialY[k] = mat;
    model.materialX[k] = mat;
  }

  const int m = project.margin;
  model.areaX = model.areaY = model.areaZ = 2 * m + kCubeSize;
  if (!model.allocateCells()) return false;
  model.unitX = model.unitY = project.dxy;
  model.unitZ = project.dz;

  fillHide(model, 1);

  // Cube cell (i, j, k) is model cell (m + i, m + j, m + k). DC cells are
  // copper (slot 6); source cells take the source material.
  int32_t* d = model.data.data();
  int32_t* h = model.hide.data();
  const Project& p = project;
  const ModelRecord& r = model;
#pragma omp parallel for schedule(static)
  for (int i = 0; i < kCubeSize; ++i)
    for (int j = 0; j < kCubeSize; ++j)
      for (int k = 0; k < kCubeSize; ++k) {
        const uint8_t v = cubeCell(p, i, j, k);
        const uint64_t e = r.index(m + i, m + j, m + k);
        int32_t id = v & kCellSlotMask;
        if (v & kCellDC) id = kCopperSlot;
        if (v & (kCellSource1 | kCellSource2)) id = p.sourceMaterial;
        d[e] = id;
        h[e] = 0;
      }

  // The texts live in maps, so they are set here in one thread; only the
  // few marked cells carry one. A source text replaces a probe's pin text
  // while the cell keeps its probe name.
  for (int i = 0; i < kCubeSize; ++i)
    for (int j = 0; j < kCubeSize; ++j)
      for (int k = 0; k < kCubeSize; ++k) {
        const uint8_t v = cubeCell(p, i, j, k);
        if ((v & (kCellProbe | kCellDC | kCellSource1 | kCellSource2)) == 0) continue;
        const uint64_t e = model.index(m + i, m + j, m + k);
        if (v & kCellProbe) {
          std::string name =
              "P_" + std::to_string(i) + "_" + std::to_string(j) + "_" + std::to_string(k);
          model.setPin(e, name);
          model.setProbe(e, std::move(name));
        }
        if (v & (kCellDC | kCellSource1 | kCellSource2)) model.setPin(e, sourceText(p, v));
      }

  if (farField)
    thinFarField(model);
  else
    extendMargin(model, m);
  return true;
}

bool MakeDemoProject(const Project& project, ModelRecord& model) {
  const int m = project.margin;
  model.areaX = model.areaY = model.areaZ = 2 * m + kCubeSize;
  if (!model.allocateCells()) return false;

  fillHide(model, 1);
  int32_t* h = model.hide.data();
  const ModelRecord& r = model;
#pragma omp parallel for schedule(static)
  for (int x = m; x < m + kCubeSize; ++x)
    for (int y = m; y < m + kCubeSize; ++y)
      for (int z = m; z < m + kCubeSize; ++z) h[r.index(x, y, z)] = 0;

  model.unitX = model.unitY = model.unitZ = 0.005f;

  // Two opposite 3 GHz sources of 20 V along Y, one cell either side of the
  // probe at the centre.
  const int c = m + kCubeSize / 2;
  model.setPin(model.index(c + 1, c, c), "CW Y 20 3e9");
  model.setPin(model.index(c - 1, c, c), "CW Y -20 3e9");
  model.setPin(model.index(c, c, c), "DEMO");
  model.setProbe(model.index(c, c, c), "DEMO");
  return true;
}

}  // namespace tavro
