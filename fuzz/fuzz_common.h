// Helpers shared by the fuzz targets: a quiet console, a scratch directory of
// the process and input bytes written to a file in it.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <streambuf>
#include <string>

#include "engine/console.h"

namespace tavro::fuzz {

// Discards everything but still makes the stream format every value, so the
// message code runs as it does for a user.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c == traits_type::eof() ? 0 : c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

inline std::ostream& nullConsole() {
  static NullBuffer buffer;
  static std::ostream stream(&buffer);
  return stream;
}

// A fresh directory under the temporary directory, removed at normal exit.
inline const std::filesystem::path& scratchDir() {
  static const std::filesystem::path dir = [] {
    std::string templ = (std::filesystem::temp_directory_path() / "tavro_fuzz_XXXXXX").string();
    if (!::mkdtemp(templ.data())) std::abort();
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(scratchDir(), ec);
    });
    return std::filesystem::path(templ);
  }();
  return dir;
}

// Writes `size` bytes to `name` in the scratch directory; returns its path.
inline std::string writeScratch(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = (scratchDir() / name).string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
  return path;
}

// Stops the fuzzer with a message when an invariant of the code under test
// does not hold (libFuzzer reports the abort as a crash with the input).
#define FUZZ_CHECK(cond)                                                                 \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

}  // namespace tavro::fuzz
