// SimulationEngine: the state of one simulation. The grid holder owns the
// grid descriptor, the field, boundary, colour and material arrays; the engine
// adds the sampling record, sources, probes, sample and spectrum stores and
// the run options given on the command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/buffer.h"
#include "engine/compact_state.h"
#include "engine/pml_layer.h"
#include "engine/port_set.h"
#include "engine/records.h"

namespace tavro {

// Absolute material values per cell, indexed by the plain cell index.
struct MaterialArrays {
  Buffer<float> sigmaX, sigmaY, sigmaZ;  // S/m
  Buffer<float> epsX, epsY, epsZ;        // F/m
  Buffer<float> muX, muY, muZ;           // H/m
};

// The descriptor of a grid of X x Y x Z cells (view selection cleared).
GridDesc describeGrid(int X, int Y, int Z);

struct GridHolder {
  GridDesc desc{};
  Buffer<ECell> e;            // P elements
  Buffer<HCell> h;            // P elements
  Buffer<float> murCoef;      // 2 per face position (grid_index.h, murCoefZ)
  Buffer<MurStore> murZ;      // countXY records, x*Y + y
  Buffer<MurStore> murX;      // countYZ records, y*Z + z
  Buffer<MurStore> murY;      // countXZ records, z*X + x
  Buffer<uint8_t> cellColor;  // N colour bytes
  MaterialArrays mat;

  // Releases and allocates the descriptor-sized arrays for X x Y x Z cells
  // (not cleared). Returns 1 on success, 0 when an allocation failed.
  int buildGrid(int X, int Y, int Z);
  // buildGrid, then the nine material arrays filled with vacuum-like values;
  // with fill = false they are left for the caller to write in full.
  int allocateMaterials(int X, int Y, int Z, bool fill = true);
};

// Frequency-domain results: 2000 points per probe, probe-major.
struct SpectrumStore {
  std::vector<std::string> names;  // probe names in probe order
  Buffer<ProbeSample> points;      // point k of probe p at p*2000 + k
};

struct SimulationEngine {
  SimulationEngine();

  GridHolder grid;
  SpectrumStore spectrum;
  uint32_t cudaFlag = 0;
  uint32_t gpuNumber = 0;
  std::string timeExtension;  // -timelog; empty = no time-domain files
  std::string freqExtension;  // -freqlog; empty = no frequency-domain files

  FDTD_SAM sam;
  Buffer<FDTD_SRC> sources;     // sourceCount records, cell order
  Buffer<int64_t> probeCells;   // probeCount plain indices, cell order
  Buffer<ProbeSample> samples;  // record s*probeCount + p
  PortSet ports;                // lumped ports (PORT cells); empty = none

  float minFreq = 0.0f;  // -minfreq; 0 = off
  // -avgmat: the set-up averages the materials onto the grid's edges and
  // faces (engine/edge_materials.h) instead of giving every component of a
  // cell that cell's own material.
  bool averageMaterials = false;
  // -pml: cells of the absorbing layer that the set-up puts around the drawn
  // area on all six faces, in place of the Mur boundary; 0 = off. The grid
  // is then larger than the drawn area; drawnCellIndex (grid_index.h) maps
  // drawn coordinates into it.
  int pmlCells = 0;
  PmlLayer pml;
  // The step limit given with -n. Every set-up starts from it, so that a
  // repeated set-up gives the same run (a minimum frequency reduces it).
  int32_t requestedStepLimit = kStepLimitMax;
  // Whether the Mur boundary acts on the near (x = 0) and the far (x = X-1)
  // face of the grid. A grid that holds one slab of a larger box (tavro_mpi)
  // turns off the faces that lie inside the box. The whole-face passes
  // (murE, murH) and murERange honour it.
  bool murNearX = true, murFarX = true;
  // The same for the absorbing layer along x: a slab has it only on the x
  // faces of the box that its planes reach. Drawn plane 0 of the grid is
  // then plane pmlBoxX0 of the box's pmlBoxX drawn planes (0: the grid is
  // the whole box), so that every cell takes the layer's coefficients of its
  // place in the box.
  bool pmlNearX = true, pmlFarX = true;
  int pmlBoxX0 = 0, pmlBoxX = 0;
  // Result files the last end of a run could not write.
  int failedResultFiles = 0;
  // A driver call of the GPU back end failed during this run: the device is
  // released, no further step runs and the end of the run writes no result
  // files. Cleared by the next set-up.
  bool gpuFailed = false;

  // How the CPU step visits the cells; the results never depend on it. The
  // step uses the widest vectors the processor has, up to maxLanes cells at a
  // time (16, 8 or 1), and sweeps the box in blocks of rows whose planes take
  // about sweepBlockBytes of cache. Tests narrow both to reach every path.
  int maxLanes = 16;
  int64_t sweepBlockBytes = 900 * 1024;
  // The compact stepping state of a batch run (compact_state.h); while it is
  // active the step functions step it and the records wait for syncRecords.
  CompactState compact;
};

}  // namespace tavro
