// The run's monitor: the command line's argument, the system's pen mapping, the primary; and the
// layout on a monitor away from the virtual screen's origin.
#include <gtest/gtest.h>

#include "calibration/monitor_choice.h"
#include "calibration/run_layout.h"

namespace tactra::calib {
namespace {

const std::wstring kPrimaryPath =
    L"\\\\?\\DISPLAY#Default_Monitor#4&1a2b&0&UID0#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}";
const std::wstring kSecondPath =
    L"\\\\?\\DISPLAY#Default_Monitor#4&1a2b&0&UID1#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}";
const std::wstring kGonePath =
    L"\\\\?\\DISPLAY#Default_Monitor#4&1a2b&0&UID7#{e6f07b5f-ee97-4a90-b076-33f57bf4eaa7}";
const std::wstring kFrame =
    L"\\\\?\\HID#VID_595A&PID_0008&Col01#7&2f3a&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::wstring kFrameLower =
    L"\\\\?\\hid#vid_1ff7&pid_0013&col02#7&2f3a&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::wstring kOtherPen =
    L"\\\\?\\HID#VID_056A&PID_0008&Col01#7&99&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
// An accepted vendor with another vendor's product: not the frame.
const std::wstring kMixedPair = L"\\\\?\\HID#VID_595A&PID_0013&Col01#7&98&0&0000#{4d1e55b2}";

std::vector<Monitor> TwoMonitors() {
  return {
      {1, {kPrimaryPath}, {0, 0, 1024, 768}, true},
      {2, {L"\\\\?\\DISPLAY#Other#1", kSecondPath}, {1024, -100, 800, 600}, false},
  };
}

TEST(MonitorChoice, ArgumentThenFramesMappingThenPrimary) {
  struct Case {
    const char* what;
    std::optional<int> argument;
    std::vector<MonitorMapping> mappings;
    int number;  // the chosen monitor's
    MonitorChosenBy by;
  };
  const Case cases[] = {
      {"no mapping", std::nullopt, {}, 1, MonitorChosenBy::Primary},
      {"the frame mapped to the second", std::nullopt, {{kFrame, kSecondPath}}, 2, MonitorChosenBy::Mapping},
      {"path and ids in another case",
       std::nullopt,
       {{kFrameLower,
         L"\\\\?\\display#default_monitor#4&1A2B&0&uid1#{E6F07B5F-EE97-4A90-B076-33F57BF4EAA7}"}},
       2,
       MonitorChosenBy::Mapping},
      {"the mapping of another pen", std::nullopt, {{kOtherPen, kSecondPath}}, 1, MonitorChosenBy::Primary},
      {"a vendor and product of two pairs",
       std::nullopt,
       {{kMixedPair, kSecondPath}},
       1,
       MonitorChosenBy::Primary},
      {"the frame mapped to a monitor that is gone",
       std::nullopt,
       {{kFrame, kGonePath}},
       1,
       MonitorChosenBy::Primary},
      {"another pen first, then the frame",
       std::nullopt,
       {{kOtherPen, kPrimaryPath}, {kFrame, kSecondPath}},
       2,
       MonitorChosenBy::Mapping},
      {"a gone monitor first, then a present one",
       std::nullopt,
       {{kFrame, kGonePath}, {kFrame, kSecondPath}},
       2,
       MonitorChosenBy::Mapping},
      {"the argument", 2, {}, 2, MonitorChosenBy::Argument},
      {"the argument over the mapping", 1, {{kFrame, kSecondPath}}, 1, MonitorChosenBy::Argument},
      {"an argument naming no monitor, no mapping", 3, {}, 1, MonitorChosenBy::Primary},
      {"an argument naming no monitor, a mapping", 3, {{kFrame, kSecondPath}}, 2, MonitorChosenBy::Mapping},
  };
  const std::vector<Monitor> monitors = TwoMonitors();
  for (const Case& c : cases) {
    const MonitorChoice choice = ChooseMonitor(c.argument, c.mappings, monitors);
    ASSERT_NE(choice.monitor, nullptr) << c.what;
    EXPECT_EQ(choice.monitor->number, c.number) << c.what;
    EXPECT_EQ(choice.by, c.by) << c.what;
  }
}

TEST(MonitorChoice, PrimaryIsTheOneThatSaysSoElseTheFirst) {
  std::vector<Monitor> monitors = TwoMonitors();
  monitors[0].primary = false;
  monitors[1].primary = true;
  EXPECT_EQ(ChooseMonitor(std::nullopt, {}, monitors).monitor->number, 2);
  monitors[1].primary = false;
  EXPECT_EQ(ChooseMonitor(std::nullopt, {}, monitors).monitor->number, 1);
  const MonitorChoice none = ChooseMonitor(1, {{kFrame, kPrimaryPath}}, {});
  EXPECT_EQ(none.monitor, nullptr);
  EXPECT_EQ(none.by, MonitorChosenBy::None);
}

TEST(MonitorArgument, TakenOutSoTheLanguageReadsAsAlone) {
  struct Case {
    const wchar_t* commandLine;
    const wchar_t* left;  // what the language's choice then reads
    std::optional<int> monitor;
  };
  const Case cases[] = {
      {L"Kelvane.exe", L"Kelvane.exe", std::nullopt},
      {L"Kelvane.exe 1", L"Kelvane.exe 1", std::nullopt},
      {L"Kelvane.exe 1 ", L"Kelvane.exe 1 ", std::nullopt},
      {L"Kelvane.exe /monitor:2", L"Kelvane.exe ", 2},
      {L"Kelvane.exe /monitor:2 1", L"Kelvane.exe 1", 2},
      {L"Kelvane.exe 1 /monitor:2", L"Kelvane.exe 1", 2},
      {L"Kelvane.exe 0\t /MONITOR:12", L"Kelvane.exe 0", 12},
      {L"\"C:\\a b\\Kelvane.exe\" /monitor:1  0", L"\"C:\\a b\\Kelvane.exe\" 0", 1},
      // Only its first: a second one stays, so the language reads as nothing it knows.
      {L"Kelvane.exe /monitor:1 /monitor:2", L"Kelvane.exe /monitor:2", 1},
      // Ours, but without a number: taken out, no monitor.
      {L"Kelvane.exe /monitor:x 1", L"Kelvane.exe 1", std::nullopt},
      {L"Kelvane.exe /monitor: 1", L"Kelvane.exe 1", std::nullopt},
      {L"Kelvane.exe /monitor:0 1", L"Kelvane.exe 1", std::nullopt},
      {L"Kelvane.exe /monitor:99999 1", L"Kelvane.exe 1", std::nullopt},
      // Not ours.
      {L"Kelvane.exe /monitor2", L"Kelvane.exe /monitor2", std::nullopt},
      {L"Kelvane.exe 1/monitor:2", L"Kelvane.exe 1/monitor:2", std::nullopt},
      // The program's own name is no argument.
      {L"\"C:\\x /monitor:2\\Kelvane.exe\" 1", L"\"C:\\x /monitor:2\\Kelvane.exe\" 1", std::nullopt},
  };
  for (const Case& c : cases) {
    const MonitorArgument taken = TakeMonitorArgument(c.commandLine);
    EXPECT_EQ(taken.commandLine, c.left) << c.commandLine;
    EXPECT_EQ(taken.monitor, c.monitor) << c.commandLine;
  }
}

TEST(MonitorArgument, DisplayNames) {
  EXPECT_EQ(DisplayNumber(L"\\\\.\\DISPLAY1"), 1);
  EXPECT_EQ(DisplayNumber(L"\\\\.\\display12"), 12);
  EXPECT_EQ(DisplayNumber(L"\\\\.\\DISPLAY"), 0);
  EXPECT_EQ(DisplayNumber(L"\\\\.\\DISPLAY1\\Monitor0"), 0);
  EXPECT_EQ(DisplayNumber(L"DISPLAY1"), 0);
}

TEST(RunLayout, OnAMonitorAwayFromTheOrigin) {
  const Extent target{41, 41}, text{600, 30}, button{100, 40};
  // Sizes of which 1/32 is a whole pixel, so that the targets' centres are exact.
  const ScreenRect monitors[] = {{1024, 0, 800, 640}, {-800, -608, 800, 608}, {1920, 120, 1024, 768}};
  for (const ScreenRect& m : monitors) {
    const RunLayout at = ComputeRunLayout(m, target, text, text, button, button);
    const RunLayout alone = ComputeRunLayout(m.width, m.height, target, text, text, button, button);
    // The window covers the monitor; inside it everything is as on a screen of that size alone.
    EXPECT_EQ(at.window, m);
    EXPECT_EQ(alone.window, (ScreenRect{0, 0, m.width, m.height}));
    EXPECT_EQ(at.targets, alone.targets);
    EXPECT_EQ(at.instruction, alone.instruction);
    EXPECT_EQ(at.countdown, alone.countdown);
    EXPECT_EQ(at.ok, alone.ok);
    EXPECT_EQ(at.cancel, alone.cancel);
    // On the virtual screen the centre target lies on the monitor's centre, the corners 1/32 in.
    const Point centre = OnScreen(at, {at.targets[0].x + 20, at.targets[0].y + 20});
    EXPECT_EQ(centre, (Point{m.left + m.width / 2, m.top + m.height / 2}));
    const Point topLeft = OnScreen(at, {at.targets[1].x + 20, at.targets[1].y + 20});
    EXPECT_EQ(topLeft, (Point{m.left + m.width / 32, m.top + m.height / 32}));
  }
  // A 1024 x 768 monitor anywhere gets the primary screen's targets.
  const RunLayout second =
      ComputeRunLayout(ScreenRect{1920, 120, 1024, 768}, target, text, text, button, button);
  EXPECT_EQ(second.targets[0], (Point{492, 364}));
  EXPECT_EQ(second.targets[5], (Point{972, 724}));
}

}  // namespace
}  // namespace tactra::calib
