// Project: the editor's 64 x 64 x 64 cube of cell codes with its material
// slots and source parameters, and its .fdtd model file.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tavro {

// Cell code bits.
constexpr uint8_t kCellSlotMask = 0x0F;
constexpr uint8_t kCellProbe = 0x10;
constexpr uint8_t kCellDC = 0x20;
constexpr uint8_t kCellSource1 = 0x40;
constexpr uint8_t kCellSource2 = 0x80;

constexpr int kCubeSize = 64;
constexpr int kCubeCells = kCubeSize * kCubeSize * kCubeSize;
constexpr int kProjectSlots = 9;

struct Project {
  int32_t margin = 8;
  std::string fileName;
  std::string directory = ".";
  std::string baseName;
  std::array<uint8_t, kCubeCells> cells{};  // cube cell (i,j,k) at i*4096 + j*64 + k
  std::array<uint8_t, 3> legacyProbe{};
  std::array<float, kProjectSlots> sg{};
  std::array<float, kProjectSlots> er{};
  std::array<float, kProjectSlots> ur{};
  float frequency = 3e9f;
  float sourceValue1 = 1.0f;
  float sourceValue2 = -1.0f;
  float dxy = 0.001f;
  float dz = 0.001f;
  int32_t sourceType = 1;
  int32_t sourceMaterial = 1;
  int32_t sourceDirection = 0;

  Project();
};

void ResetProjectParameters(Project& project);
void ClearProjectCells(Project& project);

bool ReadProject(Project& project, const std::string& name);
bool WriteProject(Project& project, const std::string& name);
bool ProjectFileExists(Project& project, const std::string& name);
bool ListProjectFiles(Project& project);

}  // namespace tavro
