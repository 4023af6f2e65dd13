// Touchstone writer: the option line "# Hz S RI R <R>", one frequency per
// data line (continued over several lines for three ports and more, at most
// four pairs a line, each matrix row starting a new line), entries in the
// standard order: S11 S21 S12 S22 for two ports, row by row otherwise.
#include "files/touchstone.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "engine/console.h"

namespace tavro {

namespace {

std::string number(double v, const char* format) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

// The entries of one frequency in file order, as (row, column) pairs.
std::vector<std::pair<int, int>> entryOrder(int n) {
  std::vector<std::pair<int, int>> order;
  if (n == 2) return {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) order.push_back({i, j});
  return order;
}

bool sameReference(const SparamResult& r) {
  for (float R : r.R)
    if (R != r.R[0]) return false;
  return true;
}

// The data lines of every frequency, each line prefixed with `lead`.
void dataLines(std::ostream& out, const SparamResult& r, const char* lead) {
  const int n = r.ports;
  const auto order = entryOrder(n);
  for (int k = 0; k < kSparamPoints; ++k) {
    out << lead << number(r.frequency(k), "%.12g");
    for (size_t e = 0; e < order.size(); ++e) {
      // Three ports and more: a new line for each matrix row and after four pairs.
      if (n >= 3 && e > 0 && (order[e].second == 0 || e % 4 == 0)) out << "\n" << lead;
      const std::complex<double> v = r.at(k, order[e].first, order[e].second);
      out << " " << number(v.real(), "%.9e") << " " << number(v.imag(), "%.9e");
    }
    out << "\n";
  }
}

std::string heading(const SparamResult& r) {
  std::ostringstream h;
  h << "! TAVRO S-parameters of " << r.ports << " lumped port(s), excited up to "
    << number(r.fmax, "%.12g") << " Hz\n";
  return h.str();
}

// Writes `text` to `path` through `path`.tmp and a rename.
bool writeWhole(const std::string& path, const std::string& text) {
  const std::string tmp = path + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  bool ok = f != nullptr;
  const int opened = errno;
  if (ok) ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (ok) {
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    ok = !ec;
  }
  if (!ok) {
    std::remove(tmp.c_str());
    con() << "error: can't write '" << path << "'"
          << (f ? "" : std::string(" (") + std::strerror(opened) + ")") << ".\n";
  }
  return ok;
}

}  // namespace

std::string TouchstoneName(const std::string& prefix, int ports) {
  return prefix + ".s" + std::to_string(ports) + "p";
}

bool WriteTouchstone(const SparamResult& r, const std::string& path) {
  std::ostringstream out;
  out << heading(r);
  const bool v1 = sameReference(r);
  if (!v1) out << "[Version] 2.0\n";
  out << "# Hz S RI R " << number(r.R[0], "%.9g") << "\n";
  if (!v1) {
    out << "[Number of Ports] " << r.ports << "\n";
    if (r.ports == 2) out << "[Two-Port Data Order] 21_12\n";
    out << "[Number of Frequencies] " << kSparamPoints << "\n";
    out << "[Reference]";
    for (float R : r.R) out << " " << number(R, "%.9g");
    out << "\n[Network Data]\n";
  }
  dataLines(out, r, "");
  if (!v1) out << "[End]\n";
  return writeWhole(path, out.str());
}

bool WritePartialSparameters(const SparamResult& r, const std::string& path) {
  std::ostringstream out;
  out << heading(r) << "! INCOMPLETE: interrupted; excited ports:";
  for (int j = 0; j < r.ports; ++j)
    if (r.excited[static_cast<size_t>(j)]) out << " " << j + 1;
  out << " of " << r.ports << "; the columns of the other ports are nan.\n";
  out << "! reference resistances [ohm]:";
  for (float R : r.R) out << " " << number(R, "%.9g");
  out << "\n";
  dataLines(out, r, "! ");
  return writeWhole(path, out.str());
}

}  // namespace tavro
