// Materials set for one axis or for all three by an axis word (the Python
// module's set_material).
#include <gtest/gtest.h>

#include "engine/material_axes.h"

namespace tavro {
namespace {

// Each word sets the tables it names and no others; a word that names no
// axis changes nothing. The neighbouring ID stays as it was throughout.
TEST(MaterialAxes, EachWordSetsItsOwnTablesOnly) {
  const struct {
    const char* axes;
    bool ok;
    bool set[3];  // x, y, z
  } rows[] = {
      {"x", true, {true, false, false}},    {"y", true, {false, true, false}},
      {"z", true, {false, false, true}},    {"", true, {true, true, true}},
      {"xyz", true, {true, true, true}},    {"w", false, {false, false, false}},
      {"xy", false, {false, false, false}},
  };
  const Material before{1.0f, 2.0f, 3.0f}, after{4.0f, 5.0f, 6.0f};
  for (const auto& row : rows) {
    ModelRecord model;
    const std::vector<Material>* tables[3] = {&model.materialX, &model.materialY, &model.materialZ};
    for (int id : {7, 8}) SetMaterialOnAxes(model, id, before, "");
    EXPECT_EQ(SetMaterialOnAxes(model, 7, after, row.axes), row.ok) << row.axes;
    for (int a = 0; a < 3; ++a) {
      const Material& got = (*tables[a])[7];
      const Material& want = row.set[a] ? after : before;
      EXPECT_TRUE(got.sg == want.sg && got.er == want.er && got.ur == want.ur)
          << "'" << row.axes << "' axis "
          << "xyz"[a];
      EXPECT_EQ((*tables[a])[8].ur, before.ur) << row.axes;
    }
  }
}

}  // namespace
}  // namespace tavro
