#include "gui/paint_pacing.h"

#include <cmath>

namespace tavro {

void PaintPacer::recordPaint(double seconds) {
  if (!(seconds >= 0.0)) return;
  // A quarter of each new figure: one slow paint (a window being mapped, a
  // burst on a shared machine) moves the interval only a little.
  smoothed_ = paints_ == 0 ? seconds : 0.75 * smoothed_ + 0.25 * seconds;
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
