#include "calibration/check.h"

#include <algorithm>
#include <cmath>

namespace tactra::calib {

std::array<Point, kCheckPointCount> CheckPoints(int w, int h) {
  const int x1 = w / 4;
  const int x3 = (3 * w) / 4;
  const int y1 = h / 4;
  const int y3 = (3 * h) / 4;
  return {{{w / 2, h / 2}, {x1, y1}, {x3, y1}, {x3, y3}, {x1, y3}}};
}

double PixelDistance(Point a, Point b) {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  return std::sqrt(dx * dx + dy * dy);
}

std::wstring DistanceText(double pixels) {
  const long tenths = std::lround(pixels * 10);
  return std::to_wstring(tenths / 10) + L"." + std::to_wstring(tenths % 10);
}

std::wstring LabelText(double pixels, const CheckTexts& texts) {
  return DistanceText(pixels) + L" " + texts.pixels;
}

std::wstring SummaryText(const CalibrationCheck& check, const CheckTexts& texts) {
  return texts.complete + L" " + texts.largest + L" " + LabelText(check.largest(), texts) + L"  " +
         texts.mean + L" " + LabelText(check.mean(), texts);
}

void CalibrationCheck::Start(int w, int h) {
  points_ = CheckPoints(w, h);
  distances_ = {};
  taken_ = 0;
  ticks_ = 0;
  started_ = true;
  end_ = CheckEnd::None;
}

bool CalibrationCheck::Touch(Point at) {
  if (!running()) return false;
  distances_[taken_] = PixelDistance(at, points_[taken_]);
  ++taken_;
  ticks_ = 0;
  if (taken_ == kCheckPointCount) end_ = CheckEnd::Complete;
  return true;
}

bool CalibrationCheck::Tick() {
  if (!running()) return false;
  if (++ticks_ < kCheckTimeoutTicks) return true;
  end_ = CheckEnd::TimedOut;
  return false;
}

void CalibrationCheck::Escape() {
  if (running()) end_ = CheckEnd::Escaped;
}

double CalibrationCheck::largest() const {
  double most = 0;
  for (int i = 0; i < taken_; ++i) most = std::max(most, distances_[i]);
  return most;
}

double CalibrationCheck::mean() const {
  if (taken_ == 0) return 0;
  double sum = 0;
  for (int i = 0; i < taken_; ++i) sum += distances_[i];
  return sum / taken_;
}

CheckLayout ComputeCheckLayout(int w, int h, const RunLayout& run, const CheckExtents& e) {
  CheckLayout layout;
  const int m = w / 2;
  layout.check = {m - e.check.w / 2, run.ok.y + e.ok.h + e.ok.h / 2};
  layout.instruction = {m - e.instruction.w / 2, h / 32};
  layout.countdown = {m - e.countdown.w / 2, h / 32 + e.instruction.h};
  const auto points = CheckPoints(w, h);
  const int margin = e.cross.w / 8;
  for (int i = 0; i < kCheckPointCount; ++i) {
    const Point p = points[i];
    const bool rightHalf = p.x > m;
    const int x =
        rightHalf ? p.x - e.cross.w / 2 - margin - e.label.w : p.x + e.cross.w - e.cross.w / 2 + margin;
    layout.labels[i] = {x, p.y - e.label.h / 2};
  }
  const int gap = run.cancel.x - (run.ok.x + e.ok.w);
  const int row = (5 * h) / 8;
  layout.done = {m - gap / 2 - e.done.w, row - e.done.h / 2};
  layout.again = {m + gap / 2, row - e.again.h / 2};
  return layout;
}

}  // namespace tactra::calib
