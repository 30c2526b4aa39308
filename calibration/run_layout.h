// Where the run's window and controls go on the run's monitor and the lines of a target's marks.
// Pure geometry; the dialog moves its window and controls and draws with it.
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

// A monitor's place on the virtual screen: its origin may be anywhere, negative too.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  bool operator==(const ScreenRect& o) const {
    return left == o.left && top == o.top && width == o.width && height == o.height;
  }
};

struct RunLayout {
  ScreenRect window;  // the run's window, on the virtual screen
  // The controls, in the window's own coordinates.
  std::array<Point, 9> targets;  // top-left corners of the target controls, centre first
  Point instruction;             // the instruction text, at the template's height
  Extent instructionSize;        // its template's, no wider than the monitor less a margin each side
  Point countdown;               // the countdown text
  Point ok;                      // the OK button
  Point cancel;                  // the Cancel button
};

// All nine targets take the size of the centre target; the texts and buttons keep their own.
// The window covers the monitor and everything in it is laid out from the monitor's size alone,
// so a monitor of the primary's size gets the primary's targets wherever it lies.
RunLayout ComputeRunLayout(const ScreenRect& monitor, Extent target, Extent instruction, Extent countdown,
                           Extent ok, Extent cancel);
// On a screen of its own at (0, 0).
RunLayout ComputeRunLayout(int screenW, int screenH, Extent target, Extent instruction, Extent countdown,
                           Extent ok, Extent cancel);

// The instruction's top when its text needs `height` (more than the template's): it grows
// upwards, its bottom kept above the countdown.
int InstructionTop(const RunLayout& layout, int height);

// Where a point of the run's window lies on the virtual screen.
Point OnScreen(const RunLayout& layout, Point inWindow);

struct Segment {
  Point from;
  Point to;
};

// The crosshair through the middle of a w x h target.
std::array<Segment, 2> Crosshair(int w, int h);

// The four L-shaped corner brackets, each as three points of a polyline.
std::array<std::array<Point, 3>, 4> CornerBrackets(int w, int h);

}  // namespace tactra::calib
