// Engine records with fixed byte layouts. The GPU back end copies these bytes
// as they are, so field order and sizes are part of the interface and are
// checked at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavro {

// Grid descriptor. X, Y, Z cells; N = X*Y*Z; P = (X+1)(Y+1)(Z+1) extended cells.
struct GridDesc {
  uint64_t cellCount;      // N
  uint64_t extendedCount;  // P
  uint64_t countXY;        // cells of one Z face
  uint64_t countYZ;        // cells of one X face (index step per unit of x)
  uint64_t countXZ;        // cells of one Y face
  uint64_t countZXFaces;   // X*Y + Y*Z: end of the X-face range of the combined face index
  uint64_t countFaces;     // X*Z + Y*Z + X*Y
  int32_t nx;
  int32_t ny;
  int32_t nz;
  int32_t viewField;      // 0 = E, 1 = H
  int32_t viewComponent;  // 0 = signed magnitude, 1 = x, 2 = y, 3 = z
  float viewScale;
};
static_assert(sizeof(GridDesc) == 80);
static_assert(offsetof(GridDesc, nx) == 56 && offsetof(GridDesc, viewScale) == 76);

// E element: field components, signed magnitude and update coefficients.
// Cell (x,y,z) is element (x*(Y+1) + y)*(Z+1) + z; the layer x = X, y = Y,
// z = Z is a guard layer that stays zero.
struct ECell {
  float ex, ey, ez, emag;
  float cax, cay, caz;
  float cbx, cby, cbz;
};
static_assert(sizeof(ECell) == 40);

// H element. Cell (x,y,z) is element ((x+1)*(Y+1) + (y+1))*(Z+1) + (z+1);
// the layer at x = -1, y = -1, z = -1 is a guard layer that stays zero.
struct HCell {
  float hx, hy, hz, hmag;
  float chx, chy, chz;
};
static_assert(sizeof(HCell) == 28);

// Previous-step values of the first-order Mur boundary for one face position:
// slots 0..7 serve H, 8..15 serve E (meanings in boundary_mur.h).
struct MurStore {
  float s[16];
};
static_assert(sizeof(MurStore) == 64);

// Time-sampling record.
struct FDTD_SAM {
  float dx = 0.001f;
  float dy = 0.001f;
  float dz = 0.001f;
  float dt = 0.0f;
  float time = 0.0f;
  int32_t sourceCount = 1;
  int32_t probeCount = 1;
  int32_t stepLimit = 1000000;  // samples to record
  int32_t stepCount = 0;        // samples recorded so far
  int32_t cull = 0;             // 0 = record every step, k = every k-th step
  int32_t cullCounter = 0;
};
static_assert(sizeof(FDTD_SAM) == 44);
static_assert(offsetof(FDTD_SAM, sourceCount) == 20 && offsetof(FDTD_SAM, cullCounter) == 40);

enum SourceType : int32_t { kSrcCW = 0, kSrcGauss = 1, kSrcPulse = 2, kSrcSwitch = 3, kSrcDC = 4 };

// One source cell.
struct alignas(8) FDTD_SRC {
  int64_t cell;  // E-array element index of the source cell
  int32_t dir;   // driven component 0 = X, 1 = Y, 2 = Z
  int32_t type;  // SourceType
  float freq;    // Hz
  float volt;    // V; for SWITCH +1 (P) or -1 (N)
  float sgOn;    // SWITCH: conductivity when on [S/m]
  float sgOff;   // SWITCH: conductivity when off [S/m]
};
static_assert(sizeof(FDTD_SRC) == 32 && alignof(FDTD_SRC) == 8);
static_assert(offsetof(FDTD_SRC, dir) == 8 && offsetof(FDTD_SRC, freq) == 16 &&
              offsetof(FDTD_SRC, sgOff) == 28);

// One probe sample (time domain) or one spectrum point (frequency domain).
// Slots: 0 t|f; 1-4 E x,y,z,total; 5-8 H; 9-12 V; 13-16 I; 17-20 Z; 21-24 P.
struct ProbeSample {
  float v[25];
};
static_assert(sizeof(ProbeSample) == 100);

enum SampleSlot : int {
  kSlotTime = 0,
  kSlotEx = 1,
  kSlotEy = 2,
  kSlotEz = 3,
  kSlotE = 4,
  kSlotHx = 5,
  kSlotHy = 6,
  kSlotHz = 7,
  kSlotH = 8,
  kSlotVx = 9,
  kSlotVy = 10,
  kSlotVz = 11,
  kSlotV = 12,
  kSlotIx = 13,
  kSlotIy = 14,
  kSlotIz = 15,
  kSlotI = 16,
  kSlotZx = 17,
  kSlotZy = 18,
  kSlotZz = 19,
  kSlotZ = 20,
  kSlotPx = 21,
  kSlotPy = 22,
  kSlotPz = 23,
  kSlotP = 24,
};

// Physical constants of the set-up.
constexpr float kEps0 = 8.854188e-12f;
constexpr float kMu0 = 1.2566371e-6f;
constexpr double kLightSpeed = 299792448.0;
constexpr float kLightSpeedF = 299792448.0f;
constexpr double kCourant = 0.99;

constexpr int kMaterialCount = 65536;
constexpr int kStepLimitMax = 1000000;
constexpr int kSpectrumPoints = 2000;

}  // namespace tavro
