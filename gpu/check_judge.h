// The comparisons of tavro_gpu_check: two runs' values, each quantity and
// component judged against its own scale (the largest CPU magnitude of that
// quantity), so that a small quantity is never judged against a large one.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/records.h"

namespace tavro {

struct Diff {
  uint64_t values = 0, differing = 0;
  double maxAbs = 0.0, maxRef = 0.0;
  void add(float cpu, float gpu) {
    ++values;
    if (std::memcmp(&cpu, &gpu, sizeof cpu) != 0) ++differing;
    if (std::isfinite(cpu)) maxRef = std::max(maxRef, std::fabs(double(cpu)));
    if (std::isfinite(cpu) && std::isfinite(gpu))
      maxAbs = std::max(maxAbs, std::fabs(double(cpu) - double(gpu)));
    else if (std::isfinite(cpu) != std::isfinite(gpu) || std::memcmp(&cpu, &gpu, sizeof cpu) != 0)
      maxAbs = INFINITY;
  }
  // The largest difference over the quantity's own scale.
  double relative() const { return maxRef > 0.0 ? maxAbs / maxRef : (maxAbs > 0 ? INFINITY : 0); }
};

// Named quantities, printed in the order they first appear.
class Judge {
 public:
  Diff& operator[](const std::string& name) {
    auto it = index_.find(name);
    if (it != index_.end()) return sets_[it->second].second;
    index_[name] = sets_.size();
    sets_.emplace_back(name, Diff{});
    return sets_.back().second;
  }
  // One line per quantity:
  //   <name> identical <yes|no> maxdiff <relative> scale <peak> values <n> differing <m>
  void print() const {
    for (const auto& [name, d] : sets_)
      std::printf("%s identical %s maxdiff %.3g scale %.3g values %llu differing %llu\n",
                  name.c_str(), d.differing == 0 ? "yes" : "no", d.relative(), d.maxRef,
                  static_cast<unsigned long long>(d.values),
                  static_cast<unsigned long long>(d.differing));
  }

 private:
  std::vector<std::pair<std::string, Diff>> sets_;
  std::map<std::string, size_t> index_;
};

inline const char* sampleSlotName(int slot) {
  static const char* const names[25] = {"time", "ex", "ey", "ez", "e",  "hx", "hy", "hz", "h",
                                        "vx",   "vy", "vz", "v",  "ix", "iy", "iz", "i",  "zx",
                                        "zy",   "zz", "z",  "px", "py", "pz", "p"};
  return names[slot];
}

// n probe samples, slot by slot. An impedance is V over the total current,
// ill-conditioned where that current nearly vanishes: its slots are judged
// only on samples whose current is at least 1e-3 of the current's scale.
inline void judgeSamples(Judge& judge, const std::string& prefix, const ProbeSample* cpu,
                         const ProbeSample* gpu, size_t n) {
  double currentScale = 0.0;
  for (size_t k = 0; k < n; ++k)
    currentScale = std::max(currentScale, std::fabs(double(cpu[k].v[kSlotI])));
  for (size_t k = 0; k < n; ++k) {
    const bool zJudged = std::fabs(double(cpu[k].v[kSlotI])) >= 1e-3 * currentScale;
    for (int j = 0; j < 25; ++j) {
      if (j >= kSlotZx && j <= kSlotZ && !zJudged) continue;
      judge[prefix + "." + sampleSlotName(j)].add(cpu[k].v[j], gpu[k].v[j]);
    }
  }
}

// n records of `per` floats, slot by slot under the given names.
inline void judgeRecords(Judge& judge, const std::string& prefix, const float* cpu,
                         const float* gpu, size_t n, int per, const char* const* names) {
  for (size_t k = 0; k < n; ++k)
    for (int j = 0; j < per; ++j)
      judge[prefix + "." + names[j]].add(cpu[k * per + j], gpu[k * per + j]);
}

}  // namespace tavro
