#include "engine/halo_planes.h"

#include "engine/grid_index.h"

namespace tavro {

namespace {

uint64_t planeElements(const GridDesc& d) { return stridesOf(d).sx; }

void pack(const ECell* c, uint64_t n, float* out) {
  for (uint64_t i = 0; i < n; ++i, out += 3) {
    out[0] = c[i].ex;
    out[1] = c[i].ey;
    out[2] = c[i].ez;
  }
}
void pack(const HCell* c, uint64_t n, float* out) {
  for (uint64_t i = 0; i < n; ++i, out += 3) {
    out[0] = c[i].hx;
    out[1] = c[i].hy;
    out[2] = c[i].hz;
  }
}
void unpack(ECell* c, uint64_t n, const float* in) {
  for (uint64_t i = 0; i < n; ++i, in += 3) {
    c[i].ex = in[0];
    c[i].ey = in[1];
    c[i].ez = in[2];
  }
}
void unpack(HCell* c, uint64_t n, const float* in) {
  for (uint64_t i = 0; i < n; ++i, in += 3) {
    c[i].hx = in[0];
    c[i].hy = in[1];
    c[i].hz = in[2];
  }
}

}  // namespace

std::size_t haloPlaneFloats(const GridDesc& d) { return 3 * planeElements(d); }

// The elements of one plane lie next to each other: E plane x starts at
// element (x, 0, 0), H plane x at element (x, -1, -1).
void packEPlane(const GridHolder& g, int64_t x, float* out) {
  pack(g.e.data() + eIndex(g.desc, x, 0, 0), planeElements(g.desc), out);
}
void unpackEPlane(GridHolder& g, int64_t x, const float* in) {
  unpack(g.e.data() + eIndex(g.desc, x, 0, 0), planeElements(g.desc), in);
}
void packHPlane(const GridHolder& g, int64_t x, float* out) {
  pack(g.h.data() + hIndex(g.desc, x, -1, -1), planeElements(g.desc), out);
}
void unpackHPlane(GridHolder& g, int64_t x, const float* in) {
  unpack(g.h.data() + hIndex(g.desc, x, -1, -1), planeElements(g.desc), in);
}

}  // namespace tavro
