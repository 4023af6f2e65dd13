// Field components in separate arrays, as the compact stepping state holds
// them, with the accessors that let the boundary functions of
// field_kernels.h take them in place of records.
#pragma once

#include <stdint.h>

#include "engine/grid_index.h"
#include "engine/hd.h"
#include "engine/records.h"

namespace tavro {

// The compact stepping state holds the components of E (H = false) and of H
// (H = true) in three arrays each, on the index rules of the records; the
// boundary functions of field_kernels.h take either records or these.
struct FieldCell {
  float* c[3];  // the element's x, y and z component
};
template <int C>
FDTD_HD float& component(const FieldCell& f) {
  return *f.c[C];
}
template <bool H>
struct FieldArrays {
  float* c[3];
  FDTD_HD FieldCell operator[](uint64_t i) const { return {{c[0] + i, c[1] + i, c[2] + i}}; }
};
FDTD_HD uint64_t fieldIndex(const GridDesc& g, FieldArrays<false>, int64_t x, int64_t y,
                            int64_t z) {
  return eIndex(g, x, y, z);
}
FDTD_HD uint64_t fieldIndex(const GridDesc& g, FieldArrays<true>, int64_t x, int64_t y, int64_t z) {
  return hIndex(g, x, y, z);
}
FDTD_HD int murSlotBase(FieldArrays<false>) { return 8; }
FDTD_HD int murSlotBase(FieldArrays<true>) { return 0; }

// Both fields of the compact state.
struct CompactFields {
  FieldArrays<false> e;
  FieldArrays<true> h;
};

}  // namespace tavro
