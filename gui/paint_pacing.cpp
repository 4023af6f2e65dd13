#include "gui/paint_pacing.h"

#include <cmath>

namespace tavro {

void PaintPacer::recordPaint(double seconds) {
  if (!(seconds >= 0.0)) return;
  // A dearer paint counts at once, so that the interval stretches before
  // painting eats the run; cheaper ones pull the figure down by a quarter of
  // the difference each, so that one lucky paint does not undo the stretch.
  smoothed_ = paints_ == 0 || seconds > smoothed_ ? seconds : 0.75 * smoothed_ + 0.25 * seconds;
  total_ += seconds;
  ++paints_;
}

int PaintPacer::intervalMs() const {
  const double stretched = std::ceil(smoothed_ / kPaintShare * 1000.0);
  if (!(stretched > kBaseIntervalMs)) return kBaseIntervalMs;
  // At most ten seconds between pictures, whatever one paint cost.
  return stretched < 10000.0 ? static_cast<int>(stretched) : 10000;
}

}  // namespace tavro
