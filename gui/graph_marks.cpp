#include "gui/graph_marks.h"

#include <algorithm>

namespace tavro {

float NyquistFrequency(const SimulationEngine& eng, uint32_t n) {
  const int probes = eng.sam.probeCount;
  if (n < 2 || probes <= 0) return 0.0f;
  const float t0 = eng.samples[0].v[kSlotTime];
  const float t1 = eng.samples[static_cast<size_t>(probes)].v[kSlotTime];
  return t1 > t0 ? 0.5f / (t1 - t0) : 0.0f;
}

int FirstPointAbove(const ProbeSample* points, int count, float f) {
  for (int i = 0; i < count; ++i)
    if (points[i].v[kSlotTime] > f) return i;
  return count;
}

double LabelLeft(double x, double width, double right, double left) {
  return std::max(left, std::min(x, right - width));
}

}  // namespace tavro
