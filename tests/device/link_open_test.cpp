// Enumeration and binding: what is counted, what is bound, what is released.
#include <gtest/gtest.h>

#include "tests/device/link_test_support.h"

namespace tactra::test {
namespace {

HidInterface Interface(const std::wstring& path, EnumOutcome outcome, uint16_t vid = 0x595A,
                       uint16_t pid = 0x0008, uint16_t input = 64, uint16_t output = 64, bool capsOk = true) {
  HidInterface info;
  info.path = path;
  info.outcome = outcome;
  info.vendorId = vid;
  info.productId = pid;
  info.capsOk = capsOk;
  info.inputLength = input;
  info.outputLength = output;
  return info;
}

TEST(LinkConfigTest, OutputLengthsDifferOnlyOnChannelThree) {
  const LinkConfig console = ConsoleLinkConfig();
  const LinkConfig calibration = CalibrationLinkConfig();
  FakeHidHost host;
  Link consoleLink(host, console, NoSleep());
  Link calibrationLink(host, calibration, NoSleep());
  const int consoleOut[] = {0, 2, 0, 8, 48, 64};
  const int calibrationOut[] = {0, 2, 0, 4, 48, 64};
  for (int channel = 0; channel < kChannelCount; ++channel) {
    EXPECT_EQ(consoleLink.GetOutputLength(channel), consoleOut[channel]) << channel;
    EXPECT_EQ(calibrationLink.GetOutputLength(channel), calibrationOut[channel]) << channel;
  }
  EXPECT_EQ(consoleLink.GetOutputLength(-1), 0);
  EXPECT_EQ(consoleLink.GetOutputLength(6), 0);
}

TEST(LinkOpenTest, AcceptsExactlyTheFramePairs) {
  struct Case {
    uint16_t vid, pid;
    bool accepted;
  };
  const Case cases[] = {
      {0x595A, 0x0008, true},  {0x595A, 0x000A, true},  {0x1FF7, 0x0013, true},  {0x1101, 0x0010, true},
      {0x595A, 0x0013, false}, {0x1FF7, 0x0008, false}, {0x1101, 0x000A, false}, {0x0000, 0x0000, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsAcceptedDevice(c.vid, c.pid), c.accepted) << std::hex << c.vid << ":" << c.pid;
  }
}

// One interface with each outcome of the enumeration steps.
TEST(LinkOpenTest, SkippedInterfacesAreNotCountedAndCapabilityFailureCountsWithoutBinding) {
  struct Case {
    const char* name;
    HidInterface device;
    int count;
    int state;
    bool bound;
  };
  const Case cases[] = {
      {"ok", Interface(L"p", EnumOutcome::Ok), 1, kLinkBound, true},
      {"detail", Interface(L"p", EnumOutcome::DetailFailed), 0, kLinkNone, false},
      {"query open", Interface(L"p", EnumOutcome::QueryOpenFailed), 0, kLinkNone, false},
      {"attributes", Interface(L"p", EnumOutcome::AttributesFailed), 0, kLinkNone, false},
      {"preparsed", Interface(L"p", EnumOutcome::PreparsedFailed), 0, kLinkNone, false},
      {"other device", Interface(L"p", EnumOutcome::Ok, 0x046D, 0xC077), 0, kLinkNone, false},
      {"caps failed", Interface(L"p", EnumOutcome::Ok, 0x595A, 0x0008, 64, 64, false), 1, kLinkBound, false},
      {"no matching row", Interface(L"p", EnumOutcome::Ok, 0x595A, 0x0008, 64, 32), 1, kLinkBound, false},
  };
  for (const Case& c : cases) {
    FakeHidHost host;
    host.Add(c.device);
    Link link(host, ConsoleLinkConfig(), NoSleep());
    EXPECT_EQ(link.Open(), c.count) << c.name;
    EXPECT_EQ(link.GetLinkState(), c.state) << c.name;
    EXPECT_EQ(link.IsBoundPath(L"p"), c.bound) << c.name;
    // Handles of an interface that bound nothing are released at once.
    EXPECT_EQ(host.LiveHandles(), c.bound ? 2 : 0) << c.name;
  }
}

TEST(LinkOpenTest, SixCollectionsGiveSixAndBindEveryChannel) {
  for (const LinkConfig& config : {ConsoleLinkConfig(), CalibrationLinkConfig()}) {
    FakeHidHost host;
    auto frame = host.AddFrame(L"\\\\?\\hid#vid_595a&pid_0008", config);
    Link link(host, config, NoSleep());
    ASSERT_TRUE(link.Start());
    EXPECT_EQ(link.GetDeviceCount(), 6);
    EXPECT_TRUE(link.HasDevices());
    for (const auto& collection : frame) EXPECT_TRUE(link.IsBoundPath(collection->info().path));
    EXPECT_EQ(host.LiveHandles(), 12);
  }
}

TEST(LinkOpenTest, ChannelThreeBindsOnlyWithTheProgramsOwnOutputLength) {
  FakeHidHost host;
  auto frame = host.AddFrame(L"frame", ConsoleLinkConfig());
  Link link(host, CalibrationLinkConfig(), NoSleep());
  EXPECT_EQ(link.Open(), 6);
  EXPECT_FALSE(link.IsBoundPath(frame[3]->info().path));
  EXPECT_TRUE(link.IsBoundPath(frame[4]->info().path));
}

TEST(LinkOpenTest, SecondFrameTakesOverMatchingChannelsAndBothAreCounted) {
  const LinkConfig config = ConsoleLinkConfig();
  FakeHidHost host;
  auto first = host.AddFrame(L"first", config);
  HidInterface calibration = first[4]->info();
  calibration.path = L"second&col04";
  HidInterface settings = first[5]->info();
  settings.path = L"second&col05";
  host.Add(calibration);
  host.Add(settings);
  Link link(host, config, NoSleep());
  EXPECT_EQ(link.Open(), 8);
  EXPECT_TRUE(link.IsBoundPath(L"second&col04"));
  EXPECT_TRUE(link.IsBoundPath(L"second&col05"));
  EXPECT_FALSE(link.IsBoundPath(first[4]->info().path));
  EXPECT_FALSE(link.IsBoundPath(first[5]->info().path));
  EXPECT_TRUE(link.IsBoundPath(first[0]->info().path));
  // The replaced bindings' handles were closed.
  EXPECT_EQ(host.LiveHandles(), 12);
}

TEST(LinkOpenTest, AllocationFailureStopsEnumerationKeepsEarlierBindingsAndTellsTheOwner) {
  struct Case {
    LinkConfig config;
  };
  for (const Case& c : {Case{ConsoleLinkConfig()}, Case{CalibrationLinkConfig()}}) {
    FakeHidHost host;
    auto frame = host.AddFrame(L"a", c.config);
    host.Add(Interface(L"broken", EnumOutcome::AllocationFailed));
    host.AddFrame(L"b", c.config);
    RecordingOwner owner;
    Link link(host, c.config, NoSleep());
    link.SetOwner(&owner);
    EXPECT_EQ(link.Open(), 6);
    EXPECT_EQ(link.GetLinkState(), kLinkBound);
    EXPECT_TRUE(link.IsBoundPath(frame[5]->info().path));
    EXPECT_FALSE(link.IsBoundPath(L"b&col05"));
    EXPECT_EQ(owner.Events(), std::vector<LinkEvent>{LinkEvent::EnumerationOutOfMemory});
  }
}

TEST(LinkOpenTest, ReopenReleasesThePreviousBindingAndForgetsVanishedPaths) {
  const LinkConfig config = ConsoleLinkConfig();
  FakeHidHost host;
  auto frame = host.AddFrame(L"frame", config);
  Link link(host, config, NoSleep());
  EXPECT_EQ(link.Open(), 6);
  for (const auto& collection : frame) host.Unplug(collection->info().path);
  EXPECT_EQ(link.Open(), 0);
  EXPECT_EQ(link.GetLinkState(), kLinkNone);
  EXPECT_EQ(host.LiveHandles(), 0);
  EXPECT_FALSE(link.IsBoundPath(frame[5]->info().path));
}

TEST(LinkOpenTest, BoundPathsCompareIgnoringCase) {
  FakeHidHost host;
  host.Add(Interface(L"\\\\?\\HID#VID_595A&PID_0008&Col06", EnumOutcome::Ok));
  Link link(host, ConsoleLinkConfig(), NoSleep());
  link.Open();
  EXPECT_TRUE(link.IsBoundPath(L"\\\\?\\hid#vid_595a&pid_0008&col06"));
  EXPECT_FALSE(link.IsBoundPath(L"\\\\?\\hid#vid_595a&pid_0008&col0"));
  EXPECT_FALSE(link.IsBoundPath(L""));
}

TEST(LinkOpenTest, FailedOpensLeaveTheChannelWithoutThatDirection) {
  FakeHidHost host;
  auto readless = host.Add(Interface(L"settings", EnumOutcome::Ok));
  readless->readOpenFails = true;
  auto writeless = host.Add(Interface(L"calibration", EnumOutcome::Ok, 0x595A, 0x0008, 48, 48));
  writeless->writeOpenFails = true;
  Link link(host, ConsoleLinkConfig(), NoSleep());
  EXPECT_EQ(link.Open(), 2);
  const Bytes command = Command(7, 0x01, 64);
  EXPECT_TRUE(link.Write(5, command.data(), command.size()));
  EXPECT_FALSE(link.Write(4, command.data(), 48));
  EXPECT_EQ(writeless->WriteCalls(), 0);
}

}  // namespace
}  // namespace tactra::test
