// Project: the editor's 64 x 64 x 64 cube of cell codes with its material
// slots and source parameters, and its .fdtd model file.
//
// The model file is a fixed-size binary file of 262242 bytes: the six user
// material slots, the grid and source parameters, three legacy probe bytes,
// the 262144 cell bytes and a format version byte (6). Numbers are stored in
// a four-byte decimal form (see EncodeNumber).
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

// Slots 0 to 5 are the user's materials and are stored in the model file;
// slot 6 is copper (DC sources), slots 7 and 8 are derived from the source
// material (the off and on states of a switch).
constexpr int kStoredSlots = 6;
constexpr int kCopperSlot = 6;
constexpr int kSwitchOffSlot = 7;
constexpr int kSwitchOnSlot = 8;

// Source types and the largest valid direction.
constexpr int32_t kSourceCW = 0;
constexpr int32_t kSourceGauss = 1;
constexpr int32_t kSourcePulse = 2;
constexpr int32_t kSourceSwitch = 3;
constexpr int32_t kMaxSourceDirection = 2;

// Model file layout.
constexpr int kFileNumberBytes = 4;
constexpr int kFileHeaderBytes = 97;                          // numbers, 2 bytes, legacy probe
constexpr int kFileCellsEnd = kFileHeaderBytes + kCubeCells;  // 262241: no version byte
constexpr int kFileBytes = kFileCellsEnd + 1;                 // 262242
constexpr uint8_t kFileVersion = 6;

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

// Cube index of cube cell (i, j, k).
constexpr int CubeIndex(int i, int j, int k) { return (i * kCubeSize + j) * kCubeSize + k; }

void ResetProjectParameters(Project& project);
void ClearProjectCells(Project& project);

bool ReadProject(Project& project, const std::string& name);
bool WriteProject(Project& project, const std::string& name);
bool ProjectFileExists(Project& project, const std::string& name);
bool ListProjectFiles(Project& project);

// The four-byte decimal number form: signed bytes b0..b3 hold the value
// m * 10^b3 with the mantissa m = (b0*100 + b1)*100 + b2 (six or seven
// decimal digits). Negative values are rounded toward zero in the last digit,
// so -1.0 reads back as -0.99999. A NaN is stored as 0; an infinity as
// +-1e100, which reads back as the same infinity.
std::array<uint8_t, 4> EncodeNumber(float x);
float DecodeNumber(const uint8_t* bytes);

// The path of `name` relative to the project's directory ("." = the name
// alone, otherwise directory + "/" + name).
std::string ProjectPath(const Project& project, const std::string& name);

// Splits a path at its last "/" (or, with none, its last "\") into directory
// and base name; with no separator the directory is ".".
void SplitProjectPath(const std::string& path, std::string& directory, std::string& baseName);

// The scratch file a model file is written to before it replaces `path`.
std::string ProjectTempPath(const std::string& path);

// Checks the source parameters a conversion indexes with: the material slot
// (0 to 8), the type (0 to 3) and the direction (0 to 2). Returns an empty
// text when they are valid, otherwise a description such as
// "bad source material(9)".
std::string CheckSourceParameters(const Project& project);

}  // namespace tavro
