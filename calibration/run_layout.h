// Where the run's controls go on the primary screen and the lines of a target's marks. Pure
// geometry; the dialog moves its controls and draws with it.
#pragma once

#include <array>

namespace tactra::calib {

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point& o) const { return x == o.x && y == o.y; }
};

struct Extent {
  int w = 0;
  int h = 0;
};

struct RunLayout {
  std::array<Point, 9> targets;  // top-left corners of the target controls, centre first
  Point instruction;             // the instruction text
  Point countdown;               // the countdown text
  Point ok;                      // the OK button
  Point cancel;                  // the Cancel button
};

// All nine targets take the size of the centre target; the texts and buttons keep their own.
RunLayout ComputeRunLayout(int screenW, int screenH, Extent target, Extent instruction, Extent countdown,
                           Extent ok, Extent cancel);

struct Segment {
  Point from;
  Point to;
};

// The crosshair through the middle of a w x h target.
std::array<Segment, 2> Crosshair(int w, int h);

// The four L-shaped corner brackets, each as three points of a polyline.
std::array<std::array<Point, 3>, 4> CornerBrackets(int w, int h);

}  // namespace tactra::calib
