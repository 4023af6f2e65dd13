// The slabs of a box split along x among the processes of a tavro_mpi run:
// which x planes each process owns and which it holds, and the model record
// of those planes.
#pragma once

#include <string>

#include "engine/model_record.h"

namespace tavro {

// Planes whose stepping state comes from the neighbouring slab before every
// sweep of two steps (see HaloExchange).
constexpr int kHaloPlanes = 2;

// Planes of the model a slab holds beyond its own on each side where a
// neighbour lies: the halo planes and one more, so that every set-up rule
// that looks at the next cell (the averaged permeability of an H node,
// -avgmat's edge and face means, thin wires) gives the halo planes and the
// owned ones the coefficients they have in the whole box.
constexpr int kModelHalo = kHaloPlanes + 1;

// One process's part of a box of X planes.
struct Slab {
  int ranks = 1, rank = 0;
  int areaX = 0;       // x planes of the whole box
  int x0 = 0, x1 = 0;  // owned planes [x0, x1)
  int lo = 0, hi = 0;  // held planes [lo, hi): the owned ones and the halo

  bool hasLeft() const { return x0 > 0; }
  bool hasRight() const { return x1 < areaX; }
  // Local plane index of global plane x.
  int local(int x) const { return x - lo; }
};

// Splits X planes as evenly as possible among `ranks`, the first X % ranks
// ranks taking one more. Every slab needs two planes at least (the Mur
// boundary of an x face reads the face plane and the one next to it); when
// the box has fewer, `why` tells so and the result is false.
bool SplitSlabs(int X, int ranks, int rank, Slab& slab, std::string& why);

// The model of the held planes: cells, display flags, the material tables,
// the cell size and the source texts, with the probe texts of the owned
// planes only (each probe belongs to the one slab that owns its cell; the
// halo planes run their sources so that they step as their owner does).
// Returns false after the allocation message.
bool SlabModel(const ModelRecord& whole, const Slab& slab, ModelRecord& part);

}  // namespace tavro
