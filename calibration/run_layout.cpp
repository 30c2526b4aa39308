#include "calibration/run_layout.h"

#include <algorithm>

namespace tactra::calib {

namespace {

enum class Place { Near, Middle, Far };

// 1/32, 1/2 and 31/32 of a screen length, in the frame's own arithmetic.
double Fraction(Place place, int length) {
  switch (place) {
    case Place::Near:
      return length * 0.03125;
    case Place::Middle:
      return length * 0.5;
    case Place::Far:
      return length * 31 * 0.03125;
  }
  return 0;
}

// Where each target control sits: the centre, then clockwise from the top-left corner.
constexpr std::array<std::array<Place, 2>, 9> kTargetPlaces{{
    {Place::Middle, Place::Middle},
    {Place::Near, Place::Near},
    {Place::Middle, Place::Near},
    {Place::Far, Place::Near},
    {Place::Far, Place::Middle},
    {Place::Far, Place::Far},
    {Place::Middle, Place::Far},
    {Place::Near, Place::Far},
    {Place::Near, Place::Middle},
}};

}  // namespace

RunLayout ComputeRunLayout(const ScreenRect& monitor, Extent target, Extent instruction, Extent countdown,
                           Extent ok, Extent cancel) {
  const int screenW = monitor.width;
  const int screenH = monitor.height;
  RunLayout layout;
  layout.window = monitor;
  for (std::size_t i = 0; i < kTargetPlaces.size(); ++i) {
    const double left = Fraction(kTargetPlaces[i][0], screenW) - target.w / 2.0 + 0.5;
    const double top = Fraction(kTargetPlaces[i][1], screenH) - target.h / 2.0 + 0.5;
    layout.targets[i] = {static_cast<int>(left), static_cast<int>(top)};
  }
  const int m = screenW / 2;
  const int y0 = (2 * screenH) / 5;
  // A template wider than a small or highly scaled monitor would be cut at both edges; its text
  // wraps instead.
  const int margin = screenW / 40;
  layout.instructionSize = {std::min(instruction.w, screenW - 2 * margin), instruction.h};
  layout.instruction = {m - layout.instructionSize.w / 2, y0 - (3 * instruction.h) / 2};
  layout.countdown = {m - countdown.w / 2, y0};
  layout.ok = {m - (3 * ok.w) / 2, y0 + ok.h};
  layout.cancel = {m + cancel.w / 2, y0 + cancel.h};
  return layout;
}

RunLayout ComputeRunLayout(int screenW, int screenH, Extent target, Extent instruction, Extent countdown,
                           Extent ok, Extent cancel) {
  return ComputeRunLayout(ScreenRect{0, 0, screenW, screenH}, target, instruction, countdown, ok, cancel);
}

int InstructionTop(const RunLayout& layout, int height) {
  return layout.instruction.y + std::min(0, layout.instructionSize.h - height);
}

Point OnScreen(const RunLayout& layout, Point inWindow) {
  return {layout.window.left + inWindow.x, layout.window.top + inWindow.y};
}

std::array<Segment, 2> Crosshair(int w, int h) {
  return {{{{0, h / 2}, {w, h / 2}}, {{w / 2, 0}, {w / 2, h}}}};
}

std::array<std::array<Point, 3>, 4> CornerBrackets(int w, int h) {
  const int x1 = w / 8;
  const int y1 = h / 8;
  const int x2 = (7 * w) / 8;
  const int y2 = (7 * h) / 8;
  const int legX = w / 4;
  const int legY = h / 4;
  return {{
      {{{x1, y1 + legY}, {x1, y1}, {x1 + legX, y1}}},
      {{{x2 - legX, y1}, {x2, y1}, {x2, y1 + legY}}},
      {{{x2, y2 - legY}, {x2, y2}, {x2 - legX, y2}}},
      {{{x1 + legX, y2}, {x1, y2}, {x1, y2 - legY}}},
  }};
}

}  // namespace tactra::calib
