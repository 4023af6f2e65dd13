#include "files/vtk_snapshot.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "engine/console.h"
#include "engine/grid_index.h"
#include "engine/pml.h"

namespace tavro {

std::string CheckVtkPrefix(const std::string& prefix) {
  namespace fs = std::filesystem;
  if (prefix.empty()) return "prefix is empty; it would write the hidden file .pvd";
  const std::string quoted = "prefix '" + prefix + "'";
  if (prefix[0] == '-')
    return quoted + " starts with '-' like an option; write ./" + prefix + " to mean a file";
  const fs::path path(prefix);
  const std::string base = path.filename().string();
  std::error_code ec;
  if (base.empty() || base == "." || base == ".." || fs::is_directory(path, ec))
    return quoted + " is a folder; name the files in it, as in " +
           (path / "snap").lexically_normal().string();
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  if (!fs::is_directory(folder, ec)) return quoted + " names no existing folder";
  if (::access(folder.c_str(), W_OK) != 0)
    return quoted + ": folder '" + folder.string() + "' is not writable";
  return {};
}

namespace {

// The collection file names its snapshots relative to its own directory.
std::string baseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes `text` to `path` under a temporary name and renames it over the
// target once complete, so that a reader never sees a half-written file.
class SnapshotFile {
 public:
  explicit SnapshotFile(const std::string& path) : path_(path), temp_(path + ".tmp") {
    file_ = std::fopen(temp_.c_str(), "wb");
    ok_ = file_ != nullptr;
  }
  ~SnapshotFile() {
    if (file_) std::fclose(file_);
    if (!done_) std::remove(temp_.c_str());
  }
  SnapshotFile(const SnapshotFile&) = delete;
  SnapshotFile& operator=(const SnapshotFile&) = delete;

  void write(const void* bytes, std::size_t n) {
    ok_ = ok_ && std::fwrite(bytes, 1, n, file_) == n;
  }
  void write(const std::string& s) { write(s.data(), s.size()); }

  bool finish() {
    if (file_) {
      ok_ = (std::fclose(file_) == 0) && ok_;
      file_ = nullptr;
    }
    ok_ = ok_ && std::rename(temp_.c_str(), path_.c_str()) == 0;
    done_ = ok_;
    if (!ok_) con() << "warning: can't write VTK file '" << path_ << "'.\n";
    return ok_;
  }

 private:
  std::string path_, temp_;
  std::FILE* file_ = nullptr;
  bool ok_ = false;
  bool done_ = false;
};

// Writes one appended array: its 64-bit byte count, then the values of all
// cells in VTK's order (x fastest, z slowest), produced row by row.
template <class T, int C, class F>
void appendArray(SnapshotFile& out, const GridDesc& d, F&& cellValues) {
  const uint64_t n = d.cellCount * C;
  const uint64_t bytes = n * sizeof(T);
  out.write(&bytes, sizeof bytes);
  std::vector<T> row(static_cast<std::size_t>(d.nx) * C);
  for (int64_t z = 0; z < d.nz; ++z)
    for (int64_t y = 0; y < d.ny; ++y) {
      for (int64_t x = 0; x < d.nx; ++x) cellValues(x, y, z, &row[static_cast<std::size_t>(x) * C]);
      out.write(row.data(), row.size() * sizeof(T));
    }
}

}  // namespace

bool WriteVtkImage(const SimulationEngine& eng, const ModelRecord& model, const std::string& path) {
  // The drawn area only: an absorbing layer around it is not written.
  const GridDesc d = drawnDesc(eng);
  const FDTD_SAM& s = eng.sam;
  const uint64_t n = d.cellCount;
  // The IDs come from the model as it stands; a model changed since the
  // set-up to another area has none that fit the grid.
  const bool haveIds =
      model.data.size() == n && model.areaX == d.nx && model.areaY == d.ny && model.areaZ == d.nz;
  const uint64_t vecBytes = 8 + n * 3 * sizeof(float);
  std::ostringstream head;
  head.imbue(std::locale::classic());
  head.precision(9);
  head << "<?xml version=\"1.0\"?>\n"
       << "<VTKFile type=\"ImageData\" version=\"1.0\" byte_order=\"LittleEndian\" "
          "header_type=\"UInt64\">\n"
       << "  <ImageData WholeExtent=\"0 " << d.nx << " 0 " << d.ny << " 0 " << d.nz
       << "\" Origin=\"0 0 0\" Spacing=\"" << s.dx << " " << s.dy << " " << s.dz << "\">\n"
       << "    <FieldData>\n"
       << "      <DataArray type=\"Float32\" Name=\"TimeValue\" NumberOfTuples=\"1\" "
          "format=\"ascii\">"
       << s.time << "</DataArray>\n"
       << "    </FieldData>\n"
       << "    <Piece Extent=\"0 " << d.nx << " 0 " << d.ny << " 0 " << d.nz << "\">\n"
       << "      <PointData>\n      </PointData>\n"
       << "      <CellData Vectors=\"E\" Scalars=\"material\">\n"
       << "        <DataArray type=\"Float32\" Name=\"E\" NumberOfComponents=\"3\" "
          "format=\"appended\" offset=\"0\"/>\n"
       << "        <DataArray type=\"Float32\" Name=\"H\" NumberOfComponents=\"3\" "
          "format=\"appended\" offset=\""
       << vecBytes << "\"/>\n";
  if (haveIds)
    head << "        <DataArray type=\"Int32\" Name=\"material\" format=\"appended\" offset=\""
         << 2 * vecBytes << "\"/>\n";
  head << "      </CellData>\n"
       << "    </Piece>\n"
       << "  </ImageData>\n"
       << "  <AppendedData encoding=\"raw\">\n   _";

  SnapshotFile out(path);
  out.write(head.str());
  const ECell* e = eng.grid.e.data();
  const HCell* h = eng.grid.h.data();
  appendArray<float, 3>(out, d, [&](int64_t x, int64_t y, int64_t z, float* v) {
    const ECell& c = e[drawnEIndex(eng, x, y, z)];
    v[0] = c.ex;
    v[1] = c.ey;
    v[2] = c.ez;
  });
  appendArray<float, 3>(out, d, [&](int64_t x, int64_t y, int64_t z, float* v) {
    const HCell& c = h[drawnHIndex(eng, x, y, z)];
    v[0] = c.hx;
    v[1] = c.hy;
    v[2] = c.hz;
  });
  if (haveIds)
    appendArray<int32_t, 1>(out, d, [&](int64_t x, int64_t y, int64_t z, int32_t* v) {
      v[0] = model.data[model.index(static_cast<int>(x), static_cast<int>(y), static_cast<int>(z))];
    });
  out.write(std::string("\n  </AppendedData>\n</VTKFile>\n"));
  return out.finish();
}

bool VtkSeries::snapshot(const SimulationEngine& eng, const ModelRecord& model, int64_t step) {
  char number[32];
  std::snprintf(number, sizeof number, "_%06lld.vti", static_cast<long long>(step));
  const std::string file = prefix_ + number;
  if (!WriteVtkImage(eng, model, file)) return false;
  files_.push_back(file);
  entries_.push_back({eng.sam.time, baseName(file)});

  std::ostringstream pvd;
  pvd.imbue(std::locale::classic());
  pvd.precision(9);
  pvd << "<?xml version=\"1.0\"?>\n"
      << "<VTKFile type=\"Collection\" version=\"1.0\" byte_order=\"LittleEndian\">\n"
      << "  <Collection>\n";
  for (const Entry& en : entries_)
    pvd << "    <DataSet timestep=\"" << en.time << "\" part=\"0\" file=\"" << en.file << "\"/>\n";
  pvd << "  </Collection>\n</VTKFile>\n";
  SnapshotFile out(collectionPath());
  out.write(pvd.str());
  return out.finish();
}

}  // namespace tavro
