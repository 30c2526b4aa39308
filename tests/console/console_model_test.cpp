// The main window's rules without its window: routing by report and tab, the arrival and
// removal outcomes over a scripted host, one sequence at a time.
#include <gtest/gtest.h>

#include "console/console_model.h"
#include "resources/console_ids.h"
#include "tests/device/link_test_support.h"
#include "tests/fakes/recording_messages.h"

namespace tactra::console {
namespace {

using test::Bytes;
using test::FakeHidHost;
using test::NoSleep;
using test::RecordingMessages;

class CountingPage : public ReplySink {
 public:
  void OnDeviceReply(const uint8_t*, std::size_t) override { ++replies; }
  void Forget() override { ++forgotten; }
  int replies = 0;
  int forgotten = 0;
};

TEST(RouteReply, ByReportIdAndCurrentTab) {
  struct Case {
    uint8_t reportId;
    int tab;
    int page;
  };
  const Case cases[] = {
      {6, kTabInfo, kTabCalibration},
      {6, kTabAbout, kTabCalibration},
      {6, kTabOptions, kTabCalibration},
      {7, kTabInfo, kTabInfo},
      {7, kTabConfig, kTabConfig},
      {7, kTabCalibration, kTabCalibration},
      {7, kTabOptions, -1},
      {7, kTabAbout, -1},
      {2, kTabInfo, -1},
      {0x85, kTabInfo, -1},  // passes the link's signed check, dropped here
  };
  for (const Case& c : cases) {
    const uint8_t report[4] = {c.reportId, 1, 0, 0xFF};
    EXPECT_EQ(RouteReply(report, sizeof report, c.tab), c.page) << int(c.reportId) << " tab " << c.tab;
  }
}

TEST(ConsoleModel, RepliesReachThePageOfTheCurrentTab) {
  FakeHidHost host;
  Link link(host, ConsoleLinkConfig(), NoSleep());
  RecordingMessages messages;
  CountingPage info, config, calibration;
  ConsoleModel model(link, messages, {&info, &config, &calibration});
  const uint8_t settings[4] = {7, 1, 0, 0xFF};
  const uint8_t cal[4] = {6, 1, 0, 0xFF};
  model.OnDeviceReply(settings, 4);
  model.SetCurrentTab(kTabConfig);
  model.OnDeviceReply(settings, 4);
  model.OnDeviceReply(cal, 4);
  model.SetCurrentTab(kTabAbout);
  model.OnDeviceReply(settings, 4);
  EXPECT_EQ(info.replies, 1);
  EXPECT_EQ(config.replies, 1);
  EXPECT_EQ(calibration.replies, 1);
}

// The arrival and removal rules as the status line shows them, over a frame that comes and
// goes at its paths, and at other paths.
TEST(ConsoleModel, ArrivalAndRemovalOutcomes) {
  FakeHidHost host;
  Link link(host, ConsoleLinkConfig(), NoSleep());
  RecordingMessages messages;
  ConsoleModel model(link, messages, {nullptr, nullptr, nullptr});

  // Started without a frame: any arrival looks again.
  EXPECT_FALSE(model.UpdateConnectionStatus());
  EXPECT_EQ(model.statusText(), IDS_NOT_CONNECTED);
  host.Add({L"mouse", EnumOutcome::Ok, 0x845E, 1, true, 5, 0});
  EXPECT_FALSE(model.OnDeviceNotice(DeviceNotice::Arrival, L"mouse"));
  EXPECT_EQ(host.EnumerateCalls(), 2);
  auto frame = host.AddFrame(L"port1", ConsoleLinkConfig());
  EXPECT_TRUE(model.OnDeviceNotice(DeviceNotice::Arrival, L"port1&col00"));
  EXPECT_EQ(model.statusText(), IDS_CONNECTED);

  // Further arrivals, and removals of what is not bound, change nothing.
  const int enumerations = host.EnumerateCalls();
  EXPECT_FALSE(model.OnDeviceNotice(DeviceNotice::Arrival, L"port1&col01"));
  EXPECT_FALSE(model.OnDeviceNotice(DeviceNotice::Removal, L"mouse"));
  EXPECT_EQ(host.EnumerateCalls(), enumerations);
  EXPECT_EQ(model.statusText(), IDS_CONNECTED);

  // Removal in state 2 (calibration program started) is reported like in state 1.
  link.SetLinkState(kLinkStarted);
  for (const auto& collection : frame) host.Unplug(collection->info().path);
  EXPECT_TRUE(model.OnDeviceNotice(DeviceNotice::Removal, L"PORT1&COL05")) << "paths compare without case";
  EXPECT_EQ(model.statusText(), IDS_NOT_CONNECTED);
  EXPECT_EQ(link.GetLinkState(), kLinkNone);
  EXPECT_FALSE(model.OnDeviceNotice(DeviceNotice::Removal, L"port1&col04")) << "already gone";

  // Back at other paths (another port): found again although those paths were never bound.
  host.AddFrame(L"port2", ConsoleLinkConfig());
  EXPECT_TRUE(model.OnDeviceNotice(DeviceNotice::Arrival, L"port2&col03"));
  EXPECT_EQ(model.statusText(), IDS_CONNECTED);
  EXPECT_TRUE(link.IsBoundPath(L"port2&col05"));
  EXPECT_FALSE(link.IsBoundPath(L"port1&col05"));
  EXPECT_EQ(link.RunningWorkers(), 6) << "one start's workers, the earlier ones stopped";
  link.End();
  EXPECT_TRUE(messages.Shown().empty());
}

// A frame plugged into a new port, its collections set up one by one: connected only once the
// calibration and settings channels are bound; the pages forget nothing meanwhile; state 2
// (the calibration program started) stays.
TEST(ConsoleModel, CollectionsArrivingOneByOneEndConnected) {
  FakeHidHost host;
  Link link(host, ConsoleLinkConfig(), NoSleep());
  RecordingMessages messages;
  CountingPage page;
  ConsoleModel model(link, messages, {&page, &page, &page});
  auto frame = host.AddFrame(L"port", ConsoleLinkConfig());
  for (int i = 1; i < kChannelCount; ++i) host.Unplug(frame[i]->info().path);
  model.UpdateConnectionStatus();
  EXPECT_EQ(model.statusText(), IDS_NOT_CONNECTED);
  link.SetLinkState(kLinkStarted);
  for (int i = 1; i < kChannelCount; ++i) {
    frame[i] = host.Add(frame[i]->info());
    model.OnDeviceNotice(DeviceNotice::Arrival, frame[i]->info().path);
    EXPECT_EQ(model.statusText(), i >= 5 ? IDS_CONNECTED : IDS_NOT_CONNECTED) << i;
    EXPECT_EQ(link.GetLinkState(), kLinkStarted) << i;
  }
  EXPECT_TRUE(link.IsBoundPath(L"port&col05"));
  EXPECT_EQ(page.forgotten, 0);
  // A removal makes every page forget.
  EXPECT_TRUE(model.OnDeviceNotice(DeviceNotice::Removal, L"port&col04"));
  EXPECT_EQ(page.forgotten, 3);
  link.End();
}

TEST(ConsoleModel, OneSequenceAtATime) {
  FakeHidHost host;
  Link link(host, ConsoleLinkConfig(), NoSleep());
  RecordingMessages messages;
  ConsoleModel model(link, messages, {nullptr, nullptr, nullptr});
  int outer = 0, inner = 0;
  EXPECT_TRUE(model.RunSequence([&] {
    ++outer;
    EXPECT_TRUE(model.busy());
    // A click while a message box of the sequence is open.
    EXPECT_FALSE(model.RunSequence([&] { ++inner; }));
  }));
  EXPECT_FALSE(model.busy());
  EXPECT_TRUE(model.RunSequence([&] { ++inner; }));
  EXPECT_EQ(outer, 1);
  EXPECT_EQ(inner, 1);
}

TEST(ConsoleModel, OutOfMemoryWhileLookingIsTheConsolesMessage) {
  FakeHidHost host;
  host.Add({L"broken", EnumOutcome::AllocationFailed});
  Link link(host, ConsoleLinkConfig(), NoSleep());
  RecordingMessages messages;
  ConsoleModel model(link, messages, {nullptr, nullptr, nullptr});
  link.SetOwner(&model);
  EXPECT_FALSE(model.UpdateConnectionStatus());
  EXPECT_EQ(messages.Shown(), (std::vector<std::pair<int, int>>{{IDS_OUT_OF_MEMORY, IDS_CAPTION}}));
}

}  // namespace
}  // namespace tactra::console
