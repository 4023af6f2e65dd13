// CSV layer input: one Z layer of cells from an X-Y matrix of cell texts.
//
// Cell grammar: ID [PROBE], with ID a decimal integer (material ID) and PROBE
// one word whose ":"-separated fields name a probe or describe a source
// (NAME, CW:D:V:F, GAUSS:D:V, PULSE:D:V:F, DC:D:V, SWITCH:M:ID:F). The word is
// stored with ":" replaced by blanks as the cell's pin text; the probe name is
// its first field followed by _x_y_z.
#include "files/csv_layer.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>

#include "engine/console.h"

namespace tavro {

namespace {

// Longest line (and so cell and word) the reader uses, in characters.
constexpr std::size_t kMaxLine = 65535;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// One line of the file without its newline and without a trailing carriage
// return (CRLF files). Returns false at the end of the file. `cut` is set
// when the line was longer than kMaxLine: its first kMaxLine characters are
// kept and the rest is skipped up to the newline, so the next call reads the
// next line.
bool readLine(std::FILE* f, std::string& line, bool& cut) {
  line.clear();
  cut = false;
  int c = std::getc(f);
  if (c == EOF) return false;
  char last = 0;
  std::size_t length = 0;
  for (; c != EOF && c != '\n'; c = std::getc(f)) {
    last = static_cast<char>(c);
    if (line.size() < kMaxLine + 1) line.push_back(last);
    ++length;
  }
  if (last == '\r') {
    --length;
    if (line.size() > length) line.resize(length);
  }
  if (line.size() > kMaxLine) {
    line.resize(kMaxLine);
    cut = true;
  }
  return true;
}

// Decimal integer with optional sign after leading blanks, as the material ID
// of a cell. Values beyond the int32 range saturate (the set-up then refuses
// them like any other ID outside 0..65535). Returns false when there is none.
bool readInteger(std::string_view text, std::size_t& pos, int32_t& value) {
  std::size_t i = pos;
  while (i < text.size() && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
  int64_t v = 0;
  const int64_t limit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    if (v < limit) v = v * 10 + (text[i] - '0');
  if (negative)
    value = static_cast<int32_t>(v >= limit ? std::numeric_limits<int32_t>::min() : -v);
  else
    value = static_cast<int32_t>(v >= limit ? std::numeric_limits<int32_t>::max() : v);
  pos = i;
  return true;
}

// The next blank-delimited word from `pos`; empty when there is none.
std::string_view readWord(std::string_view text, std::size_t pos) {
  while (pos < text.size() && isBlank(text[pos])) ++pos;
  std::size_t end = pos;
  while (end < text.size() && !isBlank(text[end])) ++end;
  return text.substr(pos, end - pos);
}

// True when the text holds more than blanks, double quotes and commas: a
// cell (or a row of cells) that would set something if it were read.
bool hasContent(std::string_view text) {
  for (char c : text)
    if (!isBlank(c) && c != ',' && c != '"') return true;
  return false;
}

// Cells with content in the rest of a row after the last column read.
int64_t cellsWithContent(std::string_view rest) {
  int64_t count = 0;
  while (true) {
    const std::size_t comma = rest.find(',');
    if (hasContent(rest.substr(0, comma))) ++count;
    if (comma == std::string_view::npos) return count;
    rest.remove_prefix(comma + 1);
  }
}

// Reads one cell text into cell (x, y, z).
void readCell(ModelRecord& model, std::string& cell, int x, int y, int z) {
  // A NUL byte ends the text, as it would a C string.
  const std::size_t nul = cell.find('\0');
  if (nul != std::string::npos) cell.resize(nul);
  for (char& c : cell)
    if (c == '"') c = ' ';

  const uint64_t k = model.index(x, y, z);
  std::size_t pos = 0;
  int32_t id = 0;
  if (!readInteger(cell, pos, id)) {
    model.data[k] = 0;
    model.setPin(k, std::string());
    return;
  }
  model.data[k] = id;

  const std::string_view word = readWord(cell, pos);
  // A word made only of ":" has no field at all: the cell reads as a bare ID.
  if (word.find_first_not_of(':') == std::string_view::npos) return;

  std::string pin(word);
  for (char& c : pin)
    if (c == ':') c = ' ';
  model.setPin(k, std::move(pin));
  model.splitPin(k);
  model.setProbe(k, model.tokens[0] + "_" + std::to_string(x) + "_" + std::to_string(y) + "_" +
                        std::to_string(z));
}

}  // namespace

bool ReadCsvLayer(ModelRecord& model, int X, int Y, int Z, const std::string& path) {
  if (X > model.areaX || Y > model.areaY || Z >= model.areaZ || X < 0 || Y < 0 || Z < 0) {
    con() << "error: size of CSV[" << X << "," << Y << "," << Z << "] is out of calculation area["
          << model.areaX << "," << model.areaY << "," << model.areaZ << "].\n";
    return false;
  }
  if (model.data.size() != model.cellCount()) {
    con() << "error: no calculation area is allocated for CSV '" << path << "'.\n";
    return false;
  }
  // Only regular files and pipes hold a layer: a directory has no text and a
  // device such as /dev/zero never ends its first line.
  std::error_code ec;
  const auto type = std::filesystem::status(path, ec).type();
  const bool readable =
      type == std::filesystem::file_type::regular || type == std::filesystem::file_type::fifo;
  std::FILE* f = readable ? std::fopen(path.c_str(), "rb") : nullptr;
  if (!f) {
    con() << "error: can't find CSV '" << path << "'.\n";
    return false;
  }

  std::string line, cell;
  line.reserve(kMaxLine + 1);
  bool atEnd = false;
  int64_t extraCells = 0, extraRows = 0;
  for (int y = 0; y < Y; ++y) {
    bool cut = false;
    // Rows past the end of the file read as empty lines.
    if (atEnd || !readLine(f, line, cut)) {
      atEnd = true;
      line.clear();
    }
    // A UTF-8 byte-order mark (spreadsheet exports) is no part of the first cell.
    if (y == 0 && line.starts_with(kByteOrderMark)) line.erase(0, kByteOrderMark.size());
    if (cut)
      con() << "warning: row " << y << " of CSV '" << path << "' is longer than " << kMaxLine
            << " characters; only its first " << kMaxLine << " are read.\n";
    std::size_t pos = 0;
    for (int x = 0; x < X; ++x) {
      // The cell runs to the next "," or to the end of the line; a cell beyond
      // the end of the line is empty.
      if (pos <= line.size()) {
        std::size_t comma = line.find(',', pos);
        if (comma == std::string::npos) comma = line.size();
        cell.assign(line, pos, comma - pos);
        pos = comma + 1;
      } else {
        cell.clear();
      }
      readCell(model, cell, x, y, Z);
    }
    if (pos <= line.size()) extraCells += cellsWithContent(std::string_view(line).substr(pos));
  }
  // Rows after the last one read are counted, not read, for the warning.
  while (!atEnd) {
    bool cut = false;
    atEnd = !readLine(f, line, cut);
    if (!atEnd && hasContent(line)) ++extraRows;
  }
  const bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError) {
    con() << "error: can't read CSV '" << path << "'.\n";
    return false;
  }
  if (extraCells > 0 || extraRows > 0)
    con() << "warning: CSV '" << path << "' is larger than the " << X << " x " << Y
          << " cells of layer " << Z << "; ignored: " << extraCells << " cell(s) beyond column "
          << X - 1 << ", " << extraRows << " row(s) beyond row " << Y - 1 << ".\n";
  return true;
}

}  // namespace tavro
