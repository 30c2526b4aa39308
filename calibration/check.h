// The check of a result the frame has just kept: five points shown one at a time, each touched
// by the user; the distance between the point and where the system put the touch says how well
// the calibration holds. Pure state and geometry; the dialog shows it and feeds it the touches.
#pragma once

#include <array>
#include <string>

#include "calibration/run_layout.h"

namespace tactra::calib {

constexpr int kCheckPointCount = 5;
constexpr int kCheckTimeoutTicks = 40;  // 20 s for each point at the run's 500 ms tick

// The check points of a w x h window: the centre, then the points at 1/4 and 3/4 of each axis
// clockwise from the top-left. The four quarter points lie between the run's targets (1/32, 1/2
// and 31/32 of each axis), where only the fit says where a touch goes.
std::array<Point, kCheckPointCount> CheckPoints(int w, int h);

// Straight-line distance in pixels.
double PixelDistance(Point a, Point b);

// A distance as the screen shows it: rounded to one decimal, "12.3".
std::wstring DistanceText(double pixels);

// The texts come from the language module; only the numbers are formatted here.
struct CheckTexts {
  std::wstring complete, largest, mean, pixels;
};

// A distance with its unit: "12.3 pixels".
std::wstring LabelText(double pixels, const CheckTexts& texts);

enum class CheckEnd { None, Complete, TimedOut, Escaped };

class CalibrationCheck {
 public:
  // Starts again from the first point of a w x h window.
  void Start(int w, int h);
  // A point waits for its touch.
  bool running() const { return started_ && end_ == CheckEnd::None; }
  CheckEnd end() const { return end_; }
  // The point waiting for its touch; kCheckPointCount once every point was touched.
  int current() const { return taken_; }
  int taken() const { return taken_; }
  Point point(int i) const { return points_[i]; }
  double distance(int i) const { return distances_[i]; }
  // A touch at `at` (window pixels) while a point waits: its distance is kept and the next
  // point waits with a full time. False when no point waited.
  bool Touch(Point at);
  // One tick of the run's timer; the waiting point's time runs out after kCheckTimeoutTicks.
  // False when the check ended at this tick.
  bool Tick();
  void Escape();
  // Whole seconds the waiting point has left.
  int secondsLeft() const { return (kCheckTimeoutTicks + 1 - ticks_) / 2; }
  // Of the points touched; 0 when none was.
  double largest() const;
  double mean() const;

 private:
  std::array<Point, kCheckPointCount> points_{};
  std::array<double, kCheckPointCount> distances_{};
  int taken_ = 0;
  int ticks_ = 0;
  bool started_ = false;
  CheckEnd end_ = CheckEnd::None;
};

// The line at the end of a complete check: "Check complete. Largest distance: 13.0 pixels
// Mean distance: 6.0 pixels", on one line.
std::wstring SummaryText(const CalibrationCheck& check, const CheckTexts& texts);

// Where the check's controls go beside the run's: the Check button centred under OK and Cancel
// (right of them it would leave a 1024-pixel screen at 150 %), the texts at the top, above the
// upper points, each distance beside its point's cross (the size of a target) on the side
// towards the middle, and Done and Calibrate again side by side halfway between the centre
// point and the lower points.
struct CheckLayout {
  Point check;
  Point instruction;
  Point countdown;
  std::array<Point, kCheckPointCount> labels;
  Point done;
  Point again;
};

struct CheckExtents {
  Extent ok, cancel, check, cross, instruction, countdown, label, done, again;
};

CheckLayout ComputeCheckLayout(int w, int h, const RunLayout& run, const CheckExtents& e);

}  // namespace tactra::calib
