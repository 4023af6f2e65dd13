// The compact stepping state of a batch run on the CPU. The records (ECell,
// HCell) carry nine coefficients and two magnitudes beside the six field
// components, so a step that streams them moves 204 bytes per cell. The
// compact state holds the components in six plain arrays on the records'
// index rules, and per cell a 16-bit index into a table of the distinct
// coefficient sets (a vacuum box has one, a model a handful, -avgmat some
// hundreds); a SWITCH cell has a set of its own, rewritten as it switches.
// The signed magnitudes are computed where they are read, from the
// components. Where something changes a component after its update (the Mur
// boundary on the faces of H, the sources on their cells) the magnitude of
// the update is kept aside, so the values read are those of the records.
//
// A run begins it (loading it from the records), steps it through the same
// step functions, and ends it (writing it back): results never depend on
// whether it was used. Models it does not serve (more coefficient sets than
// the index can name) and the GPU step the records as before.
#pragma once

#include <cstdint>

#include "engine/buffer.h"
#include "engine/field_arrays.h"
#include "engine/records.h"

namespace tavro {

struct SimulationEngine;

// Coefficients of a set, in table order.
enum CoefSlot : int { kCax, kCay, kCaz, kCbx, kCby, kCbz, kChx, kChy, kChz, kCoefSlots };

struct CompactState {
  bool active = false;
  // The records still equal the state: no step since it was loaded or the
  // records were last brought up to date.
  bool recordsCurrent = true;
  // The six components: array a (ex, ey, ez, hx, hy, hz) from base + a *
  // stride, element i of the records at i.
  Buffer<float> fields;
  uint64_t stride = 0;
  Buffer<uint16_t> set;  // per E element (cell); guard elements 0
  Buffer<float> coef;    // slot s of set k at s * setStride + k
  uint64_t setStride = 0;
  int64_t setCount = 0;
  // Per source: the set of its cell when it is a SWITCH (else -1), whether
  // it is the first source of its cell in list order, and the magnitude of
  // E that the update left in its cell before the sources (first ones only).
  Buffer<int32_t> switchSet;
  Buffer<uint8_t> firstAtCell, sourceInside;
  Buffer<float> sourceMag;
  // Per lumped port: whether it is the first port of its cell, and the
  // magnitude of E that the update left in its cell before the ports (first
  // ones only). Ports act before the sources: a source on a port's cell is
  // never the first of its cell.
  Buffer<uint8_t> portFirst;
  Buffer<float> portMag;
  // Per probe: the first source of its cell, -1 when none; the first port of
  // its cell, -1 when none.
  Buffer<int32_t> probeSource, probePort;
  // The magnitude of H that the update left in the face cells before the
  // Mur boundary, two per position of the combined face index (murCoefZ,
  // murCoefX, murCoefY).
  Buffer<float> faceMag;

  CompactFields fieldsView() {
    float* b = fields.data();
    return {{{b, b + stride, b + 2 * stride}}, {{b + 3 * stride, b + 4 * stride, b + 5 * stride}}};
  }
  const float* coefs(int slot) const { return coef.data() + slot * setStride; }
  float* coefs(int slot) { return coef.data() + slot * setStride; }
  void release();
};

// Loads the compact state from the records when the engine's model and run
// allow it (CPU, at most 65536 coefficient sets, memory for it); returns
// whether it is active.
bool beginCompactRun(SimulationEngine& eng);
// Writes fields, magnitudes and SWITCH coefficients back into the records
// when steps ran since they were last current; the state stays active.
void syncRecords(SimulationEngine& eng);
// syncRecords, then releases the state: the records step again.
void endCompactRun(SimulationEngine& eng);

}  // namespace tavro
