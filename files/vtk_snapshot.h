// Field snapshots for ParaView: E and H (vectors) and the material IDs of the
// cells as VTK XML image data (.vti, raw binary appended data), tied into one
// animation by a .pvd collection file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/model_record.h"

namespace tavro {

// Writes one snapshot of the engine's fields and the model's material IDs to
// `path`. Every cell (x, y, z) is one image cell of size dx x dy x dz; E and
// H are the values stored for that cell. Returns true when the file was
// written completely; otherwise prints a warning naming it and returns false.
bool WriteVtkImage(const SimulationEngine& eng, const ModelRecord& model, const std::string& path);

// Checks a snapshot prefix before a run: it must name a file (not a folder,
// not empty, not a word starting with '-', which reads as a mistyped option)
// in an existing folder that can be written. Returns an empty text when it
// does, otherwise the reason ("prefix '/' is a folder; ...").
std::string CheckVtkPrefix(const std::string& prefix);

// A series of snapshots named <prefix>_<step>.vti, listed with their
// simulated times in <prefix>.pvd. The collection file is rewritten after
// every snapshot, so that a series cut short still opens.
class VtkSeries {
 public:
  explicit VtkSeries(std::string prefix) : prefix_(std::move(prefix)) {}

  // Writes the snapshot of time step `step` and the updated collection file.
  bool snapshot(const SimulationEngine& eng, const ModelRecord& model, int64_t step);

  const std::string& prefix() const { return prefix_; }
  std::string collectionPath() const { return prefix_ + ".pvd"; }
  // The snapshot files written so far, in order.
  const std::vector<std::string>& files() const { return files_; }

 private:
  struct Entry {
    float time;
    std::string file;
  };
  std::string prefix_;
  std::vector<Entry> entries_;
  std::vector<std::string> files_;
};

}  // namespace tavro
