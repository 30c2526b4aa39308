// Placement of the run's controls and the lines of the target marks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "calibration/run_layout.h"

namespace tactra::calib {
namespace {

TEST(RunLayout, TargetsCentredOnTheirPoints) {
  const RunLayout l = ComputeRunLayout(1024, 768, {41, 41}, {600, 30}, {600, 30}, {100, 40}, {100, 40});
  // 1/32 of 1024 = 32, 31/32 = 992; 1/32 of 768 = 24, 31/32 = 744; w/2 = 20.5.
  const std::array<Point, 9> expected{
      {{492, 364}, {12, 4}, {492, 4}, {972, 4}, {972, 364}, {972, 724}, {492, 724}, {12, 724}, {12, 364}}};
  EXPECT_EQ(l.targets, expected);
  // M = 512, Y0 = 307.
  EXPECT_EQ(l.instruction, (Point{212, 262}));
  EXPECT_EQ(l.countdown, (Point{212, 307}));
  EXPECT_EQ(l.ok, (Point{362, 347}));
  EXPECT_EQ(l.cancel, (Point{562, 347}));
}

// An instruction template wider than the monitor less 1/40 of its width each side is narrowed,
// centred as before; a text taller than the template grows upwards from the template's bottom.
TEST(RunLayout, InstructionStaysOnItsMonitor) {
  struct Case {
    int w, h;
    Extent templ;
    int grownHeight;
    Extent size;
    Point at;
    int grownTop;
  };
  const Case cases[] = {
      {1024, 768, {910, 56}, 56, {910, 56}, {57, 223}, 223},     // 100 %: as it always was
      {1024, 768, {1365, 84}, 120, {974, 84}, {25, 181}, 145},   // 150 %: 25 each side
      {800, 600, {910, 56}, 80, {760, 56}, {20, 156}, 132},      // a small monitor
      {800, 600, {700, 56}, 40, {700, 56}, {50, 156}, 156},      // fits; a shorter text keeps the place
      {1280, 1024, {1365, 84}, 84, {1216, 84}, {32, 283}, 283},  // 1280 / 40 = 32
  };
  for (const Case& c : cases) {
    const RunLayout l = ComputeRunLayout(c.w, c.h, {41, 41}, c.templ, {600, 30}, {100, 40}, {100, 40});
    const std::string name =
        std::to_string(c.w) + "x" + std::to_string(c.h) + " " + std::to_string(c.templ.w);
    EXPECT_EQ(l.instructionSize.w, c.size.w) << name;
    EXPECT_EQ(l.instructionSize.h, c.size.h) << name;
    EXPECT_EQ(l.instruction, c.at) << name;
    EXPECT_EQ(InstructionTop(l, c.grownHeight), c.grownTop) << name;
    // Its bottom stays where the template's is, above the countdown.
    EXPECT_LE(InstructionTop(l, c.grownHeight) + std::max(c.grownHeight, c.templ.h), l.countdown.y) << name;
  }
}

TEST(RunLayout, OddScreenTruncatesTowardZero) {
  // 1/32 of 33 is 1.03; minus 2 plus 0.5 is -0.47, which truncates to 0 (not -1).
  const RunLayout l = ComputeRunLayout(33, 33, {4, 4}, {2, 2}, {2, 2}, {2, 2}, {2, 2});
  EXPECT_EQ(l.targets[1], (Point{0, 0}));
  // 31/32 of 33 is 31.97: left = T(30.47) = 30.
  EXPECT_EQ(l.targets[5], (Point{30, 30}));
}

TEST(TargetMarks, CrosshairAndBracketsOfAFortyByFortyTarget) {
  const auto cross = Crosshair(40, 40);
  EXPECT_EQ(cross[0].from, (Point{0, 20}));
  EXPECT_EQ(cross[0].to, (Point{40, 20}));
  EXPECT_EQ(cross[1].from, (Point{20, 0}));
  EXPECT_EQ(cross[1].to, (Point{20, 40}));
  const auto b = CornerBrackets(40, 40);
  // x1 = y1 = 5, x2 = y2 = 35, legs 10.
  EXPECT_EQ(b[0], (std::array<Point, 3>{{{5, 15}, {5, 5}, {15, 5}}}));
  EXPECT_EQ(b[1], (std::array<Point, 3>{{{25, 5}, {35, 5}, {35, 15}}}));
  EXPECT_EQ(b[2], (std::array<Point, 3>{{{35, 25}, {35, 35}, {25, 35}}}));
  EXPECT_EQ(b[3], (std::array<Point, 3>{{{15, 35}, {5, 35}, {5, 25}}}));
}

}  // namespace
}  // namespace tactra::calib
