// How often the window repaints while a run goes on: every 50 ms while a
// paint is cheap; when painting is dear (software OpenGL draws hundreds of
// thousands of points slowly) the interval stretches to four times the
// smoothed cost of a paint, so that painting takes at most about a quarter
// of the wall time and the run keeps most of it.
#pragma once

namespace tavro {

class PaintPacer {
 public:
  static constexpr int kBaseIntervalMs = 50;
  static constexpr double kPaintShare = 0.25;

  // Records the wall time one paint took, in seconds (a negative or NaN
  // figure is ignored).
  void recordPaint(double seconds);
  // Milliseconds from one repaint to the next.
  int intervalMs() const;

  double smoothedCost() const { return smoothed_; }
  long paints() const { return paints_; }
  double totalCost() const { return total_; }

 private:
  double smoothed_ = 0.0;
  double total_ = 0.0;
  long paints_ = 0;
};

}  // namespace tavro
