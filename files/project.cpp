#include "files/project.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <sstream>
#include <vector>

#include "engine/console.h"

namespace tavro {

namespace fs = std::filesystem;

namespace {

constexpr float kCopperSg = 5.8e7f;
constexpr float kInsulatorSg = 1e-13f;

// Byte offsets in the model file.
constexpr int kOffDxy = 72;
constexpr int kOffDz = 76;
constexpr int kOffFrequency = 80;
constexpr int kOffValue1 = 84;
constexpr int kOffValue2 = 88;
constexpr int kOffDirection = 92;
constexpr int kOffTypeMaterial = 93;
constexpr int kOffLegacyProbe = 94;
constexpr int kOffCells = kFileHeaderBytes;
constexpr int kOffVersion = kFileCellsEnd;

// Cell bytes of files before format 6 that marked sources by value.
constexpr uint8_t kLegacyDC = 253;
constexpr uint8_t kLegacySource1 = 254;
constexpr uint8_t kLegacySource2 = 255;

using FileImage = std::array<uint8_t, kFileBytes>;

void putNumber(uint8_t* at, float x) {
  const std::array<uint8_t, 4> b = EncodeNumber(x);
  std::memcpy(at, b.data(), b.size());
}

// Slot 6 is copper; slots 7 and 8 are the off and on states of a switch made
// of the source material s: slot 8 takes s entirely, slot 7 takes its er and
// ur with an insulator's conductivity.
void deriveSlots(Project& p) {
  const int s = p.sourceMaterial;
  p.sg[kCopperSlot] = kCopperSg;
  p.er[kCopperSlot] = 1.0f;
  p.ur[kCopperSlot] = 1.0f;
  p.sg[kSwitchOffSlot] = kInsulatorSg;
  p.sg[kSwitchOnSlot] = p.sg[s];
  p.er[kSwitchOffSlot] = p.er[s];
  p.er[kSwitchOnSlot] = p.er[s];
  p.ur[kSwitchOffSlot] = p.ur[s];
  p.ur[kSwitchOnSlot] = p.ur[s];
}

// Files before format 6 marked source cells by the byte values 253 to 255
// and kept the single probe position apart from the cells.
void convertLegacyCells(Project& p) {
  for (uint8_t& c : p.cells) {
    if (c == kLegacyDC)
      c = kCellDC | 0x0D;
    else if (c == kLegacySource1)
      c = kCellSource1 | 0x0E;
    else if (c == kLegacySource2)
      c = kCellSource2 | 0x0F;
  }
  const auto [i, j, k] = p.legacyProbe;
  // A position outside the cube names no cell; it is dropped.
  if (i < kCubeSize && j < kCubeSize && k < kCubeSize) p.cells[CubeIndex(i, j, k)] |= kCellProbe;
  p.legacyProbe = {0, 0, 0};
}

// Fills the stored fields of `p` from a file image of `length` bytes
// (kFileCellsEnd or more) and converts older formats.
void decodeImage(const FileImage& img, std::streamsize length, Project& p) {
  for (int s = 0; s < kStoredSlots; ++s) {
    const uint8_t* at = img.data() + s * 3 * kFileNumberBytes;
    p.sg[s] = DecodeNumber(at);
    p.er[s] = DecodeNumber(at + kFileNumberBytes);
    p.ur[s] = DecodeNumber(at + 2 * kFileNumberBytes);
  }
  p.dxy = DecodeNumber(img.data() + kOffDxy);
  p.dz = DecodeNumber(img.data() + kOffDz);
  p.frequency = DecodeNumber(img.data() + kOffFrequency);
  p.sourceValue1 = DecodeNumber(img.data() + kOffValue1);
  p.sourceValue2 = DecodeNumber(img.data() + kOffValue2);
  p.sourceDirection = img[kOffDirection];
  p.sourceType = img[kOffTypeMaterial] >> 4;
  p.sourceMaterial = img[kOffTypeMaterial] & 0x0F;
  std::copy_n(img.begin() + kOffLegacyProbe, 3, p.legacyProbe.begin());
  std::copy_n(img.begin() + kOffCells, kCubeCells, p.cells.begin());

  // A file without the version byte takes the last cell byte as its version.
  const int8_t version =
      static_cast<int8_t>(length > kOffVersion ? img[kOffVersion] : img[kOffVersion - 1]);
  if (version < 4) {
    // Before format 4 the frequency also chose the waveform: 0 a Gaussian,
    // a negative value a pulse train; sources were always copper.
    if (p.frequency == 0.0f) {
      p.sourceType = kSourceGauss;
    } else if (p.frequency < 0.0f) {
      p.frequency = -p.frequency;
      p.sourceType = kSourcePulse;
    }
    p.sourceMaterial = kCopperSlot;
    convertLegacyCells(p);
  } else if (version == 4) {
    if (p.sourceType == kSourceSwitch) p.sourceMaterial = kCopperSlot;
    convertLegacyCells(p);
  } else if (version == 5) {
    convertLegacyCells(p);
  }
}

// Copies everything a model file determines (stored and derived fields).
void commitFileFields(const Project& from, Project& to) {
  to.cells = from.cells;
  to.legacyProbe = from.legacyProbe;
  to.sg = from.sg;
  to.er = from.er;
  to.ur = from.ur;
  to.frequency = from.frequency;
  to.sourceValue1 = from.sourceValue1;
  to.sourceValue2 = from.sourceValue2;
  to.dxy = from.dxy;
  to.dz = from.dz;
  to.sourceType = from.sourceType;
  to.sourceMaterial = from.sourceMaterial;
  to.sourceDirection = from.sourceDirection;
}

void encodeImage(const Project& p, FileImage& img) {
  for (int s = 0; s < kStoredSlots; ++s) {
    uint8_t* at = img.data() + s * 3 * kFileNumberBytes;
    putNumber(at, p.sg[s]);
    putNumber(at + kFileNumberBytes, p.er[s]);
    putNumber(at + 2 * kFileNumberBytes, p.ur[s]);
  }
  putNumber(img.data() + kOffDxy, p.dxy);
  putNumber(img.data() + kOffDz, p.dz);
  putNumber(img.data() + kOffFrequency, p.frequency);
  putNumber(img.data() + kOffValue1, p.sourceValue1);
  putNumber(img.data() + kOffValue2, p.sourceValue2);
  img[kOffDirection] = static_cast<uint8_t>(p.sourceDirection);
  img[kOffTypeMaterial] = static_cast<uint8_t>(p.sourceType * 16 + p.sourceMaterial);
  img[kOffLegacyProbe] = img[kOffLegacyProbe + 1] = img[kOffLegacyProbe + 2] = 0;
  std::copy(p.cells.begin(), p.cells.end(), img.begin() + kOffCells);
  img[kOffVersion] = kFileVersion;
}

// After a successful read or write the project remembers the file's
// directory, so that the next bare name is looked up beside it.
void adoptPath(Project& p, const std::string& path) {
  SplitProjectPath(path, p.directory, p.baseName);
  p.fileName = p.baseName;
}

}  // namespace

Project::Project() { ResetProjectParameters(*this); }

void ResetProjectParameters(Project& p) {
  p.sg.fill(kInsulatorSg);
  p.er.fill(1.0f);
  p.ur.fill(1.0f);
  p.sg[1] = kCopperSg;
  p.sg[kCopperSlot] = kCopperSg;
  p.sg[kSwitchOnSlot] = kCopperSg;
  p.sg[kSwitchOffSlot] = kInsulatorSg;
  p.er[2] = 4.7f;
  p.dxy = 0.001f;
  p.dz = 0.001f;
  p.sourceType = kSourceGauss;
  p.frequency = 3e9f;
  p.sourceValue1 = 1.0f;
  p.sourceValue2 = -1.0f;
  p.sourceMaterial = 1;
  p.sourceDirection = 0;
  p.legacyProbe = {0, 0, 0};
}

void ClearProjectCells(Project& p) {
  uint8_t* c = p.cells.data();
#pragma omp parallel for schedule(static)
  for (int n = 0; n < kCubeCells; ++n) c[n] = 0;
}

// Encoding: find the decimal exponent a with 10^(a-1) <= |x| < 10^a, then
// m = x / 10^(a-6) rounded half away from zero, a mantissa of six or seven
// digits, split into base-100 digits b0 b1 b2 and the exponent b3 = a - 6.
// Negative values round like positive ones, so that a value read from a
// file is written back unchanged (rounding them toward +inf lost one unit of
// the last digit at every save: -1 became -0.99999, then -0.99998).
std::array<uint8_t, 4> EncodeNumber(float x) {
  if (std::isnan(x)) x = 0.0f;  // NaN has no decimal form
  int32_t m = 0;
  int e = 0;
  int a = -99;
  const double b = std::fabs(static_cast<double>(x));
  bool overflow = false;
  while (b >= std::pow(10.0, a)) {
    ++a;
    if (a > 99) {
      overflow = true;
      break;
    }
  }
  if (overflow) {
    // Only an infinity gets here; keep its sign.
    m = x < 0.0f ? -1 : 1;
    e = 100;
  } else {
    e = a - 6;
    const double scaled = static_cast<double>(x) / std::pow(10.0, e);
    m = static_cast<int32_t>(scaled < 0.0 ? scaled - 0.5 : scaled + 0.5);
  }
  const int32_t b0 = m / 10000;
  const int32_t b1 = m / 100 - b0 * 100;
  const int32_t b2 = m % 100;
  return {
      static_cast<uint8_t>(static_cast<int8_t>(b0)), static_cast<uint8_t>(static_cast<int8_t>(b1)),
      static_cast<uint8_t>(static_cast<int8_t>(b2)), static_cast<uint8_t>(static_cast<int8_t>(e))};
}

float DecodeNumber(const uint8_t* bytes) {
  const int32_t b0 = static_cast<int8_t>(bytes[0]);
  const int32_t b1 = static_cast<int8_t>(bytes[1]);
  const int32_t b2 = static_cast<int8_t>(bytes[2]);
  const int32_t b3 = static_cast<int8_t>(bytes[3]);
  const int32_t m = (b0 * 100 + b1) * 100 + b2;
  if (m == 0) return 0.0f;
  const float scale = static_cast<float>(std::pow(10.0, b3));
  return scale * static_cast<float>(m);
}

std::string ProjectPath(const Project& project, const std::string& name) {
  if (project.directory == ".") return name;
  return project.directory + "/" + name;
}

void SplitProjectPath(const std::string& path, std::string& directory, std::string& baseName) {
  std::string::size_type cut = path.rfind('/');
  if (cut == std::string::npos) cut = path.rfind('\\');
  // Built apart first: `path` may be one of the two outputs.
  std::string dir(1, '.');
  std::string base = path;
  if (cut != std::string::npos) {
    dir = path.substr(0, cut);
    base = path.substr(cut + 1);
  }
  directory = std::move(dir);
  baseName = std::move(base);
}

std::string ProjectTempPath(const std::string& path) { return path + ".tavro-tmp"; }

std::string CheckSourceParameters(const Project& p) {
  std::ostringstream why;
  if (p.sourceMaterial < 0 || p.sourceMaterial >= kProjectSlots)
    why << "bad source material(" << p.sourceMaterial << ")";
  else if (p.sourceType < kSourceCW || p.sourceType > kSourceSwitch)
    why << "bad source type(" << p.sourceType << ")";
  else if (p.sourceDirection < 0 || p.sourceDirection > kMaxSourceDirection)
    why << "bad source direction(" << p.sourceDirection << ")";
  return why.str();
}

// The project is changed only when the whole file has been read and
// accepted; on any failure only fileName (the path tried) is new.
bool ReadProject(Project& project, const std::string& name) {
  const std::string path = ProjectPath(project, name);
  project.fileName = path;

  std::error_code ec;
  std::ifstream in;
  if (!fs::is_directory(path, ec)) in.open(path, std::ios::binary);
  if (!in.is_open()) {
    con() << "error: FDTD file(" << path << ") is not found.\n";
    return false;
  }

  struct Scratch {
    FileImage image;
    Project project;
  };
  std::unique_ptr<Scratch> scratch(new (std::nothrow) Scratch);
  if (!scratch) {
    con() << "error: can't allocate memory for FDTD file(" << path << ").\n";
    return false;
  }
  // A longer file is read up to the version byte; what follows is ignored.
  in.read(reinterpret_cast<char*>(scratch->image.data()), kFileBytes);
  const std::streamsize length = in.gcount();
  in.close();
  if (length < kFileCellsEnd) {
    con() << "error: bad format of FDTD file(" << path << ").\n";
    return false;
  }

  Project& p = scratch->project;
  decodeImage(scratch->image, length, p);
  const std::string bad = CheckSourceParameters(p);
  if (!bad.empty()) {
    con() << "error: " << bad << " in FDTD file(" << path << ").\n";
    return false;
  }
  deriveSlots(p);
  commitFileFields(p, project);

  adoptPath(project, path);
  con() << "info: FDTD file(" << project.fileName << ") was read from " << project.directory
        << ".\n";
  return true;
}

// The file is written beside its target under a scratch name and renamed
// over the target only after a complete write, so a failed write never
// leaves a damaged model file behind.
bool WriteProject(Project& project, const std::string& name) {
  const std::string path = ProjectPath(project, name);
  project.fileName = path;

  std::error_code ec;
  fs::path target = path;
  if (fs::is_symlink(target, ec)) {
    // Write through a link to the file it names rather than replace the link.
    fs::path resolved = fs::canonical(target, ec);
    if (!ec) target = resolved;
  }
  const bool existed = fs::exists(target, ec);
  if (existed) {
    // Replacing by rename would succeed where opening for writing fails
    // (a read-only file); refuse what an in-place write would refuse.
    std::ofstream probe;
    if (!fs::is_directory(target, ec)) probe.open(target, std::ios::binary | std::ios::app);
    if (!probe.is_open()) {
      con() << "error: can't write to FDTD file(" << path << ").\n";
      return false;
    }
  }

  std::unique_ptr<FileImage> image(new (std::nothrow) FileImage);
  if (!image) {
    con() << "error: can't allocate memory for FDTD file(" << path << ").\n";
    return false;
  }
  encodeImage(project, *image);

  const std::string temp = ProjectTempPath(target.string());
  fs::remove(temp, ec);  // a stale scratch file from an interrupted write
  std::FILE* out = std::fopen(temp.c_str(), "wb");
  if (!out) {
    con() << "error: can't write to FDTD file(" << path << ").\n";
    return false;
  }
  bool ok = std::fwrite(image->data(), 1, image->size(), out) == image->size();
  ok = (std::fflush(out) == 0) && ok;
  ok = (std::fclose(out) == 0) && ok;
  if (ok && existed) {
    const fs::file_status old = fs::status(target, ec);
    if (!ec) fs::permissions(temp, old.permissions(), ec);
  }
  if (ok) {
    fs::rename(temp, target, ec);
    ok = !ec;
  }
  if (!ok) {
    fs::remove(temp, ec);
    con() << "error: can't finish writing to FDTD file(" << path << ").\n";
    return false;
  }

  adoptPath(project, path);
  con() << "info: FDTD file(" << project.fileName << ") was written into " << project.directory
        << ".\n";
  return true;
}

bool ProjectFileExists(Project& project, const std::string& name) {
  const std::string path = ProjectPath(project, name);
  project.fileName = path;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  in.close();
  con() << "warning: file(" << path << ") already exists.\n";
  return true;
}

bool ListProjectFiles(Project& project) {
  // The directory of a file at the root splits off as the empty text.
  const fs::path dir = project.directory.empty() ? fs::path("/") : fs::path(project.directory);
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec))
    names.push_back(it->path().filename().string());
  if (ec) {
    con() << "error: can't list directory(" << project.directory << ").\n";
    return false;
  }
  std::sort(names.begin(), names.end());
  con() << "info: FDTD files in directory " << project.directory << ".\n";
  for (const std::string& n : names)
    if (n.find(".fdtd") != std::string::npos) con() << "  " << n << "\n";
  return true;
}

}  // namespace tavro
