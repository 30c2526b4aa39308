// The check after a kept result: its points, the sequence of touches with its clock and ways
// out, the distances shown, and where its controls go.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "calibration/check.h"

namespace tactra::calib {
namespace {

TEST(CheckPoints, CentreThenQuarterPointsClockwiseAwayFromEveryTarget) {
  struct Case {
    int w, h;
    std::array<Point, kCheckPointCount> points;
  };
  const Case cases[] = {
      {1024, 768, {{{512, 384}, {256, 192}, {768, 192}, {768, 576}, {256, 576}}}},
      {800, 600, {{{400, 300}, {200, 150}, {600, 150}, {600, 450}, {200, 450}}}},
      // Odd sizes truncate: 3/4 of 1366 is 1024.5, of 767 is 575.25.
      {1366, 767, {{{683, 383}, {341, 191}, {1024, 191}, {1024, 575}, {341, 575}}}},
  };
  for (const Case& c : cases) {
    const auto points = CheckPoints(c.w, c.h);
    EXPECT_EQ(points, c.points) << c.w << "x" << c.h;
    // The quarter points lie far from every target's centre, whatever its mode.
    const Extent target{42, 42};
    const RunLayout run = ComputeRunLayout(c.w, c.h, target, {}, {}, {}, {});
    for (int i = 1; i < kCheckPointCount; ++i) {
      for (const Point& t : run.targets) {
        const Point centre{t.x + target.w / 2, t.y + target.h / 2};
        EXPECT_GT(PixelDistance(points[i], centre), std::min(c.w, c.h) / 5.0)
            << c.w << "x" << c.h << " point " << i << " near the target at " << centre.x << "," << centre.y;
      }
    }
  }
}

TEST(CheckPoints, DistancesAndTheirText) {
  struct Case {
    Point a, b;
    double distance;
    const wchar_t* text;
  };
  const Case cases[] = {
      {{512, 384}, {512, 384}, 0.0, L"0.0"},
      {{512, 384}, {515, 388}, 5.0, L"5.0"},
      {{10, 10}, {0, 0}, std::sqrt(200.0), L"14.1"},
      {{0, 0}, {-6, 8}, 10.0, L"10.0"},
      {{0, 0}, {0, 1}, 1.0, L"1.0"},
  };
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(PixelDistance(c.a, c.b), c.distance);
    EXPECT_EQ(DistanceText(c.distance), c.text);
  }
  // Rounded to the nearer tenth, carrying into the whole pixels.
  EXPECT_EQ(DistanceText(9.96), L"10.0");
  EXPECT_EQ(DistanceText(2.04), L"2.0");
  EXPECT_EQ(DistanceText(2.06), L"2.1");
}

// A script of steps: "touch DX DY" (at that offset from the waiting point), "tick N", "escape".
struct Sequence {
  const char* name;
  std::vector<std::string> script;
  CheckEnd end;
  int taken;
  std::vector<double> distances;  // of the points touched
  double largest;
  double mean;
  int secondsLeft;
};

TEST(CheckSequence, TouchesClockAndWaysOut) {
  const Sequence cases[] = {
      {"five touches",
       {"touch 3 4", "touch 0 0", "touch -6 8", "touch 0 -2", "touch 5 12"},
       CheckEnd::Complete,
       5,
       {5, 0, 10, 2, 13},
       13,
       6,
       20},
      {"nothing yet", {}, CheckEnd::None, 0, {}, 0, 0, 20},
      {"19.5 s on the first point", {"tick 39"}, CheckEnd::None, 0, {}, 0, 0, 1},
      {"20 s on the first point", {"tick 40"}, CheckEnd::TimedOut, 0, {}, 0, 0, 0},
      // Each touch gives the next point its full time.
      {"a touch restarts the clock", {"tick 39", "touch 1 0", "tick 39"}, CheckEnd::None, 1, {1}, 1, 1, 1},
      {"time out after two",
       {"touch 1 0", "touch 3 0", "tick 40", "touch 0 0"},
       CheckEnd::TimedOut,
       2,
       {1, 3},
       3,
       2,
       0},
      {"escape after one",
       {"touch 0 7", "escape", "touch 0 0", "tick 40"},
       CheckEnd::Escaped,
       1,
       {7},
       7,
       7,
       20},
      {"a touch after the last point",
       {"touch 0 0", "touch 0 0", "touch 0 0", "touch 0 0", "touch 4 3", "touch 9 9", "escape", "tick 40"},
       CheckEnd::Complete,
       5,
       {0, 0, 0, 0, 5},
       5,
       1,
       20},
  };
  for (const Sequence& c : cases) {
    CalibrationCheck check;
    EXPECT_FALSE(check.running()) << c.name;
    EXPECT_FALSE(check.Touch({0, 0})) << c.name << ": a touch before the start";
    check.Start(1024, 768);
    for (const std::string& step : c.script) {
      std::istringstream in(step);
      std::string verb;
      int a = 0, b = 0;
      in >> verb >> a >> b;
      if (verb == "touch") {
        const int k = check.current();
        const Point p = k < kCheckPointCount ? check.point(k) : Point{};
        check.Touch({p.x + a, p.y + b});
      } else if (verb == "tick") {
        for (int i = 0; i < a; ++i) check.Tick();
      } else {
        check.Escape();
      }
    }
    EXPECT_EQ(check.end(), c.end) << c.name;
    EXPECT_EQ(check.running(), c.end == CheckEnd::None) << c.name;
    ASSERT_EQ(check.taken(), c.taken) << c.name;
    for (int i = 0; i < c.taken; ++i)
      EXPECT_DOUBLE_EQ(check.distance(i), c.distances[i]) << c.name << " " << i;
    EXPECT_DOUBLE_EQ(check.largest(), c.largest) << c.name;
    EXPECT_DOUBLE_EQ(check.mean(), c.mean) << c.name;
    const CheckTexts texts{L"Done.", L"Most:", L"Mean:", L"px"};
    EXPECT_EQ(SummaryText(check, texts),
              L"Done. Most: " + DistanceText(c.largest) + L" px  Mean: " + DistanceText(c.mean) + L" px")
        << c.name;
    if (c.end == CheckEnd::None) {
      EXPECT_EQ(check.secondsLeft(), c.secondsLeft) << c.name;
    }
  }
}

TEST(CheckSequence, StartAgainForgetsTheLastCheck) {
  CalibrationCheck check;
  check.Start(1024, 768);
  check.Touch({0, 0});
  check.Escape();
  check.Start(800, 600);
  EXPECT_TRUE(check.running());
  EXPECT_EQ(check.taken(), 0);
  EXPECT_EQ(check.point(0), (Point{400, 300}));
  EXPECT_DOUBLE_EQ(check.largest(), 0);
}

bool Overlap(Point a, Extent ea, Point b, Extent eb) {
  return a.x < b.x + eb.w && b.x < a.x + ea.w && a.y < b.y + eb.h && b.y < a.y + ea.h;
}

// The controls at their sizes at 100 % and 150 % (the template's dialog units in pixels of the
// programs' dialog font): none lies over another, over a check point's cross or off the screen.
TEST(CheckLayout, ControlsApartOnTheScreenAtBothScalings) {
  struct Case {
    int w, h;
    double scale;
  };
  const Case cases[] = {{800, 600, 1.0},   {1024, 768, 1.0},  {1024, 768, 1.5},
                        {1280, 1024, 1.5}, {1920, 1080, 1.0}, {1920, 1080, 1.5}};
  for (const Case& c : cases) {
    auto size = [&](int w, int h) { return Extent{int(w * c.scale), int(h * c.scale)}; };
    CheckExtents e;
    e.ok = e.cancel = e.check = size(126, 49);
    e.cross = size(49, 49);
    // The instruction's template is wider than a 1024-pixel screen at 150 %: the run's layout
    // narrows it, and the check takes that width, as the window does.
    const Extent instructionTemplate = size(910, 56);
    e.countdown = size(525, 30);
    e.label = size(131, 34);
    e.done = e.again = size(227, 49);
    const RunLayout run =
        ComputeRunLayout(c.w, c.h, e.cross, instructionTemplate, e.countdown, e.ok, e.cancel);
    e.instruction = run.instructionSize;
    const CheckLayout l = ComputeCheckLayout(c.w, c.h, run, e);
    const std::string name =
        std::to_string(c.w) + "x" + std::to_string(c.h) + " at " + std::to_string(c.scale);
    struct Box {
      const char* what;
      Point at;
      Extent size;
    };
    // The finished screen: OK and Cancel where they were, Check apart from both.
    std::vector<Box> finished{{"ok", run.ok, e.ok},
                              {"cancel", run.cancel, e.cancel},
                              {"check", l.check, e.check},
                              {"instruction", run.instruction, e.instruction},
                              {"countdown", run.countdown, e.countdown}};
    std::vector<Box> checking{{"instruction", l.instruction, e.instruction},
                              {"countdown", l.countdown, e.countdown},
                              {"done", l.done, e.done},
                              {"again", l.again, e.again}};
    const auto points = CheckPoints(c.w, c.h);
    for (int i = 0; i < kCheckPointCount; ++i) {
      checking.push_back({"label", l.labels[i], e.label});
      checking.push_back({"cross", {points[i].x - e.cross.w / 2, points[i].y - e.cross.h / 2}, e.cross});
      // Beside its own point.
      EXPECT_EQ(l.labels[i].y + e.label.h / 2, points[i].y) << name << " label " << i;
      EXPECT_LT(
          std::min(std::abs(l.labels[i].x - points[i].x), std::abs(l.labels[i].x + e.label.w - points[i].x)),
          e.cross.w)
          << name << " label " << i;
    }
    for (const auto* screen : {&finished, &checking}) {
      const auto& boxes = *screen;
      for (std::size_t i = 0; i < boxes.size(); ++i) {
        const Box& a = boxes[i];
        EXPECT_TRUE(a.at.x >= 0 && a.at.y >= 0 && a.at.x + a.size.w <= c.w && a.at.y + a.size.h <= c.h)
            << name << " " << a.what << " " << i << " off the screen";
        for (std::size_t j = i + 1; j < boxes.size(); ++j) {
          EXPECT_FALSE(Overlap(a.at, a.size, boxes[j].at, boxes[j].size))
              << name << " " << a.what << " " << i << " over " << boxes[j].what << " " << j;
        }
      }
    }
  }
}

}  // namespace
}  // namespace tactra::calib
