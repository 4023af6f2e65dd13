// Sources: the source texts of the model become FDTD_SRC records, and the
// source pass applies them. The waveforms are in field_kernels.h.
#include "engine/sources.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>

#include "engine/console.h"
#include "engine/field_kernels.h"
#include "engine/pml.h"
#include "engine/ports.h"

namespace tavro {

namespace {

struct SourceWord {
  const char* word;
  SourceType type;
  int fields;  // fields the text needs: type word, direction or mode, values
};

constexpr SourceWord kSourceWords[] = {
    {"CW", kSrcCW, 4},         {"GAUSS", kSrcGauss, 3}, {"PULSE", kSrcPulse, 4},
    {"SWITCH", kSrcSwitch, 4}, {"DC", kSrcDC, 3},
};

// Longest numeric prefix (the rule of strtod) as float32; 0 when there is none.
float leadingFloat(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  return end == begin ? 0.0f : static_cast<float>(v);
}

// Longest decimal integer prefix (0 when there is none); 64 bits, so that a
// long number stays out of the ID range instead of wrapping into it.
long long leadingInteger(const std::string& text) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const long long v = std::strtoll(begin, &end, 10);
  return end == begin ? 0 : v;
}

// True when the text is one whole number as the value of a source: a decimal
// integer, or for a float what strtod reads except hexadecimal. "inf" and
// "nan" pass here and are refused below as non-finite values.
bool isWholeValue(const std::string& text, bool integer) {
  const char* begin = text.c_str();
  char* end = nullptr;
  if (integer)
    (void)std::strtoll(begin, &end, 10);
  else
    (void)std::strtod(begin, &end);
  return end != begin && *end == '\0' && text.find_first_of("xX") == std::string::npos;
}

// Conductivity of a SWITCH state: at least kSwitchFloor, so the resistivity
// interpolation never divides by zero (a NaN is floored too).
float switchConductivity(const Material& m) { return m.sg > 0.0f ? m.sg : kSwitchFloor; }

// Fills `src` from the split text of cell k at (x, y, z), printing the
// source's console line. Returns false after an error message.
bool parseSource(ModelRecord& model, uint64_t k, int fields, int64_t x, int64_t y, int64_t z,
                 FDTD_SRC& src, std::vector<int32_t>& switchUse) {
  const std::array<std::string, 5>& t = model.tokens;
  const std::string& text = model.pin(k);
  std::ostream& out = con();
  out << "(" << x << "," << y << "," << z << ") ";

  const SourceWord* kind = nullptr;
  for (const SourceWord& w : kSourceWords)
    if (t[0] == w.word) kind = &w;
  if (!kind) {
    out << "\rerror: bad source type is found. '" << text << "'\n";
    return false;
  }
  src.type = kind->type;
  out << kind->word << " ";

  if (src.type == kSrcSwitch) {
    if (t[1] == "P") {
      src.volt = 1.0f;
    } else if (t[1] == "N") {
      src.volt = -1.0f;
    } else {
      out << "\rerror: bad source type. '" << text << "'\n";
      return false;
    }
  } else {
    if (t[1] == "X") {
      src.dir = 0;
    } else if (t[1] == "Y") {
      src.dir = 1;
    } else if (t[1] == "Z") {
      src.dir = 2;
    } else {
      out << "\rerror: bad source direction. '" << text << "'\n";
      return false;
    }
  }
  out << t[1] << " ";

  // A missing value would be read from the tokens of an earlier cell's text.
  if (fields < kind->fields) {
    out << "\nerror: source (" << x << "," << y << "," << z << ") '" << text << "' has " << fields
        << " fields; " << kind->word << " needs " << kind->fields << ".\n";
    return false;
  }

  // A value with more text ("5GHz") would be read as its numeric prefix.
  for (int f = 2; f < kind->fields; ++f) {
    if (!isWholeValue(t[f], src.type == kSrcSwitch && f == 2)) {
      out << "\nerror: source (" << x << "," << y << "," << z << ") '" << text
          << "' has a bad number '" << t[f] << "'.\n";
      return false;
    }
  }

  switch (src.type) {
    case kSrcCW:
    case kSrcPulse:
      src.volt = leadingFloat(t[2]);
      src.freq = leadingFloat(t[3]);
      out << "V=" << src.volt << "[V] F=" << src.freq << "[Hz]\n";
      break;
    case kSrcGauss:
    case kSrcDC:
      src.volt = leadingFloat(t[2]);
      src.freq = 0.0f;
      out << "V=" << src.volt << "[V]\n";
      break;
    case kSrcSwitch: {
      long long on = model.data[k];
      long long off = leadingInteger(t[2]);
      src.freq = leadingFloat(t[3]);
      if (off < 0 || off >= kMaterialCount) {
        out << "\nerror: unknown ID(" << off << ") for " << text << ".\n";
        return false;
      }
      ++switchUse[off];
      if (src.volt < 0.0f) std::swap(on, off);  // mode N: the named material is "on"
      src.sgOn = switchConductivity(model.materialX[on]);
      src.sgOff = switchConductivity(model.materialX[off]);
      out << "ID_on=" << on << " ID_off=" << off << " F=" << src.freq << "[Hz]\n";
      break;
    }
    default:
      break;
  }
  // An infinite or NaN value fills the whole box with it; a pulse train or a
  // switch without a positive frequency has no period.
  const bool periodic = src.type == kSrcPulse || src.type == kSrcSwitch;
  if (!std::isfinite(src.volt) || !std::isfinite(src.freq) || (periodic && !(src.freq > 0.0f))) {
    out << "error: source (" << x << "," << y << "," << z << ") '" << text
        << "' needs finite values and, for PULSE and SWITCH, a positive frequency.\n";
    return false;
  }
  return true;
}

}  // namespace

int sourceSetting(SimulationEngine& eng, ModelRecord& model, std::vector<int32_t>& switchUse) {
  // Cells with an empty text split into no fields, so the texts present are
  // all the cells there are to look at (those of the area: iterating the
  // cells would never reach a text stored beyond it).
  const uint64_t cells = model.cellCount();
  int64_t count = 0;
  for (const auto& [k, text] : model.pins())
    if (k < cells && model.splitPin(k) >= 2 && !isPortText(model)) ++count;

  con() << "- source setting...\n";
  eng.sources.release();
  eng.sam.sourceCount = 0;
  if (!eng.sources.allocate(static_cast<size_t>(count))) {
    con() << "error: can't allocate memory for sources[" << count << "].\n";
    return 0;
  }
  eng.sam.sourceCount = static_cast<int32_t>(count);

  const uint64_t Y = static_cast<uint64_t>(model.areaY), Z = static_cast<uint64_t>(model.areaZ);
  const GridDesc grid = gridDescFor(eng, model.areaX, model.areaY, model.areaZ);
  size_t next = 0;
  for (const auto& [k, text] : model.pins()) {
    if (k >= cells) break;
    const int fields = model.splitPin(k);
    if (fields < 2 || isPortText(model)) continue;  // ports: ports.cpp
    const int64_t x = static_cast<int64_t>(k / (Y * Z));
    const int64_t y = static_cast<int64_t>((k / Z) % Y);
    const int64_t z = static_cast<int64_t>(k % Z);
    FDTD_SRC& src = eng.sources[next++];
    src = FDTD_SRC{};
    src.cell = static_cast<int64_t>(drawnEIndex(eng, grid, x, y, z));
    if (!parseSource(model, k, fields, x, y, z, src, switchUse)) {
      // Leave no half-filled list behind for a step to apply.
      eng.sources.release();
      eng.sam.sourceCount = 0;
      return 0;
    }
  }
  return 1;
}

void applySources(SimulationEngine& eng) {
  ECell* e = eng.grid.e.data();
  const FDTD_SAM& sam = eng.sam;
  const FDTD_SRC* src = eng.sources.data();
  const int64_t n = sourcesInUse(eng);
  for (int64_t i = 0; i < n; ++i) applySource(e, sam, src[i]);
}

}  // namespace tavro
