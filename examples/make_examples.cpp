// Writes the example model files. Each model is built cell by cell in the
// model's own axes (x, y, z), 0 to 63, and saved with the project writer.
//
//   tavro_make_examples [DIRECTORY]     (default: the current directory)
#include <string>

#include "engine/console.h"
#include "files/project.h"

namespace {

using tavro::Project;

constexpr int kLast = tavro::kCubeSize - 1;
constexpr int kAir = 0;     // slot 0: vacuum with a tiny conductivity
constexpr int kCopper = 1;  // slot 1: 5.8e7 S/m
constexpr int kFR4 = 2;     // slot 2: er 4.7

// The cube stores its y and z axes reversed.
void setCell(Project& p, int x, int y, int z, uint8_t code) {
  p.cells[tavro::CubeIndex(x, kLast - y, kLast - z)] = code;
}

Project freshProject(float cell) {
  Project p;
  tavro::ResetProjectParameters(p);
  tavro::ClearProjectCells(p);
  p.dxy = cell;
  p.dz = cell;
  return p;
}

// Half-wave dipole: a 1 mm square copper wire along Y, 33 mm long, fed in a
// one-cell air gap at its middle by a Gaussian pulse; the gap is also the
// probe, so the logs hold the gap voltage and the current around it across the
// band of the pulse. The wire is short enough for the 80-cell box to leave more
// than a quarter wavelength of air between its ends and the boundary.
Project dipole() {
  Project p = freshProject(0.001f);
  const int x = 32, z = 32, gap = 31;
  for (int y = 15; y <= 47; ++y) setCell(p, x, y, z, kCopper);
  setCell(p, x, gap, z, tavro::kCellSource1 | tavro::kCellProbe | kAir);
  p.sourceType = tavro::kSourceGauss;
  p.sourceDirection = 1;  // Y
  p.sourceMaterial = kAir;
  p.sourceValue1 = 1.0f;
  return p;
}

// Closed copper box: one-cell copper walls on all six faces of the cube
// (1 mm cells) around a 62 mm air cube; the walls run on through the margin.
// A Gaussian pulse along Z off the centre rings the cavity; the lowest modes
// (TM110 and its rotations) lie at c / (sqrt(2) * a) with the inner width a
// between 62 and 64 mm (where the walls' field points sit): 3.3 to 3.4 GHz.
Project cavity() {
  Project p = freshProject(0.001f);
  for (int x = 0; x <= kLast; ++x)
    for (int y = 0; y <= kLast; ++y)
      for (int z = 0; z <= kLast; ++z) {
        const bool wall = x == 0 || x == kLast || y == 0 || y == kLast || z == 0 || z == kLast;
        if (wall) setCell(p, x, y, z, kCopper);
      }
  setCell(p, 20, 24, 30, tavro::kCellSource1 | kAir);
  setCell(p, 42, 40, 34, tavro::kCellProbe | kAir);
  p.sourceType = tavro::kSourceGauss;
  p.sourceDirection = 2;  // Z
  p.sourceMaterial = kAir;
  return p;
}

// Microstrip-like line on 0.5 mm cells: copper ground (z = 0), one cell of FR4
// (z = 1, h = 0.5 mm, er 4.7) and a 1 mm wide copper strip (z = 2, y = 31..32)
// along the whole X axis, so ground, substrate and strip run on to the box
// edge. A 3 GHz, 1 V continuous wave drives the substrate under the strip
// at x = 4 along Z; a probe under the strip at x = 59, 27.5 mm on, sees the
// wave after about 27.5 mm / (c / sqrt(3.4)), some 170 ps (3.4 being the
// effective permittivity of a strip twice as wide as its substrate is thick).
Project microstrip() {
  Project p = freshProject(0.0005f);
  for (int x = 0; x <= kLast; ++x)
    for (int y = 0; y <= kLast; ++y) {
      setCell(p, x, y, 0, kCopper);
      setCell(p, x, y, 1, kFR4);
    }
  for (int x = 0; x <= kLast; ++x)
    for (int y = 31; y <= 32; ++y) setCell(p, x, y, 2, kCopper);
  setCell(p, 4, 31, 1, tavro::kCellSource1 | kFR4);
  setCell(p, 59, 31, 1, tavro::kCellProbe | kFR4);
  p.sourceType = tavro::kSourceCW;
  p.sourceDirection = 2;  // Z
  p.sourceMaterial = kFR4;
  p.sourceValue1 = 1.0f;
  p.frequency = 3e9f;
  return p;
}

bool save(Project p, const std::string& directory, const std::string& name) {
  p.directory = directory.empty() ? "." : directory;
  return tavro::WriteProject(p, name);
}

}  // namespace

int main(int argc, char** argv) {
  tavro::initConsole();
  const std::string directory = argc > 1 ? argv[1] : ".";
  bool ok = save(dipole(), directory, "dipole.fdtd");
  ok = save(cavity(), directory, "cavity.fdtd") && ok;
  ok = save(microstrip(), directory, "microstrip.fdtd") && ok;
  return ok ? 0 : 1;
}
