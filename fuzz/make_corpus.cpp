// Writes the seed inputs of the fuzz targets, one folder per target:
//   tavro_fuzz_corpus DIRECTORY
// Model files come from the project writer; CSV layers and command lines are
// the forms the usage text describes; result-file seeds are small recordings.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "engine/console.h"
#include "files/project.h"

namespace {

namespace fs = std::filesystem;
using tavro::Project;

void put(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << bytes;
}

std::string slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// CSV seeds: three size bytes (columns + 1, rows + 1, layer + 1) and the file.
void csvSeeds(const fs::path& dir) {
  const std::string all = "\x07\x06\x02";  // 6 columns, 5 rows, layer 1
  put(dir / "plain", all + "0,1,1,1,1,0\n0,1,2,2,1,0\n0,1,2,2,1,0\n0,1,1,1,1,0\n0,0,0,0,0,0\n");
  put(dir / "sources", all +
                           "1 P1,0 CW:Y:20:3e9,0 GAUSS:Z:5,0 PULSE:X:1:1e9\n"
                           "0 DC:Z:1,2 SWITCH:P:1:1e9,2 SWITCH:N:1:2e9,\"1 Q\"\r\n"
                           "3 A extra words,,abc,-7,65536,2147483648\n");
  put(dir / "odd",
      all + "1 :::,0 CW:Q:1:1,0 CW:Y,0 GAUSS:Z:nan,0 CW:X:inf:1e40\n\0\x01\x02\n,,,\n");
  put(dir / "outside", std::string("\x09\x01\x05", 3) + "1,2,3\n");
}

// Model file seeds: the default project, one with every kind of marked cell,
// the same as a format 5 file with a legacy probe, and one without the
// version byte (read as format 0).
void modelSeeds(const fs::path& dir) {
  fs::create_directories(dir);
  Project p;
  tavro::setConsole(nullptr);
  tavro::WriteProject(p, (dir / "default.fdtd").string());
  p = Project();
  p.cells[tavro::CubeIndex(10, 10, 10)] = tavro::kCellProbe | 1;
  p.cells[tavro::CubeIndex(11, 10, 10)] = tavro::kCellSource1 | 2;
  p.cells[tavro::CubeIndex(12, 10, 10)] = tavro::kCellSource2 | 2;
  p.cells[tavro::CubeIndex(13, 10, 10)] = tavro::kCellDC;
  p.sourceType = tavro::kSourceSwitch;
  p.sourceDirection = 2;
  p.sourceMaterial = 2;
  tavro::WriteProject(p, (dir / "marked.fdtd").string());
  std::string image = slurp(dir / "marked.fdtd");
  image[94] = 1, image[95] = 2, image[96] = 3;  // legacy probe position
  image[97 + 5] = static_cast<char>(255);       // legacy source-2 byte
  image.back() = 5;
  put(dir / "format5.fdtd", image);
  image.pop_back();
  image.back() = 0;
  put(dir / "format0.fdtd", image);
}

std::string words(const std::vector<std::string>& w) {
  std::string s;
  for (size_t i = 0; i < w.size(); ++i) s += (i ? std::string(1, '\0') : "") + w[i];
  return s;
}

// Command-line seeds; a.csv and m.fdtd exist in the target's directory.
void commandLineSeeds(const fs::path& dir) {
  put(dir / "csv", words({"-batch", "-area", "6",  "5",  "4",        "-unit", "1e-3",     "1e-3",
                          "2e-3",   "-mat",  "1",  "CU", "-matx",    "2",     "1:4.7:1",  "-layer",
                          "1",      "a.csv", "-n", "6",  "-timelog", "t",     "-freqlog", "f"}));
  put(dir / "csv_option", words({"-area", "6", "6", "3", "-csv", "4", "3", "2", "a.csv", "-minfreq",
                                 "1e9", "-far", "-batch"}));
  put(dir / "model", words({"-far", "m.fdtd", "-n", "2000000", "-minfreq", "-5"}));
  put(dir / "errors", words({"-mat", "65536", "AIR", "-layer", "0", "a.csv", "-area", "1", "2"}));
  put(dir / "help", words({"-maty", "3", "nan:inf:-1", "-help"}));
}

// Result-file seeds: header (see fuzz_result_files.cpp) and float samples.
void resultSeeds(const fs::path& dir) {
  auto floats = [](std::vector<float> v) {
    std::string s(v.size() * 4, '\0');
    std::memcpy(s.data(), v.data(), s.size());
    return s;
  };
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // 2 probes, 20 samples, all recorded, regular times.
  put(dir / "regular", std::string("\x03\x16\x00\x16\x00\x48\x01\x00", 8) +
                           floats({1e-11f, 0.5f, -0.25f, 3.0f, 1e-3f, -2e-3f}));
  put(dir / "nonfinite_values", std::string("\x02\x0b\x00\x05\x00\x48\x01\x00", 8) +
                           floats({1e-12f, nan, inf, -inf, 0.0f, -0.0f, 1e-45f, 3e38f}));
  put(dir / "long", std::string("\x02\x04\x00\x00\x00\x38\x01\x00", 8) + floats({2e-12f, 1.0f}));
  put(dir / "short", std::string("\x04\x03\x00\x02\x00\x07\x02\x01", 8) + floats({1.0f}));
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path root = argc > 1 ? argv[1] : ".";
  csvSeeds(root / "fuzz_csv_layer");
  modelSeeds(root / "fuzz_model_file");
  commandLineSeeds(root / "fuzz_command_line");
  resultSeeds(root / "fuzz_result_files");
  return 0;
}
