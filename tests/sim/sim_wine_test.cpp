// Under Wine: the Windows link over the simulator host (Winsock) against a tactra-framesim on
// loopback that run_with_framesim.sh started; TACTRA_FRAME_SIM says where it listens.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "device/link.h"
#include "device/protocol.h"
#include "sim/control_client.h"
#include "sim/net.h"
#include "sim/sim_hid_host.h"
#include "tests/fakes/recording_owner.h"

namespace tactra::sim {
namespace {

using namespace tactra::proto;
using Bytes = std::vector<uint8_t>;

using Owner = tactra::test::RecordingOwner;

class Notices {
 public:
  NoticeCallback Callback() {
    return [this](DeviceNotice kind, const std::wstring& path) {
      std::lock_guard<std::mutex> lock(mutex_);
      got_.emplace_back(kind, path);
      changed_.notify_all();
    };
  }
  std::vector<std::pair<DeviceNotice, std::wstring>> WaitFor(std::size_t n) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(10), [&] { return got_.size() >= n; });
    return std::move(got_);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<DeviceNotice, std::wstring>> got_;
};

class SimWineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* where = std::getenv("TACTRA_FRAME_SIM");
    ASSERT_NE(where, nullptr) << "run through run_with_framesim.sh";
    ASSERT_TRUE(net::ParseHostPort(where, host_, port_));
  }
  int Ctl(const std::vector<std::string>& args) {
    std::string out;
    return RunControl(host_, port_, args, out);
  }
  std::string host_;
  uint16_t port_ = 0;
};

void NoSleep(std::chrono::steady_clock::time_point, std::chrono::milliseconds) {}

TEST_F(SimWineTest, EnumerationBindsChannelsAndCommandsRoundTrip) {
  std::unique_ptr<HidHost> host = CreateSimHidHostFromEnvironment();
  const std::vector<HidInterface> found = host->Enumerate();
  ASSERT_EQ(found.size(), 6u);
  const uint16_t expected[6][2] = {{62, 0}, {9, 2}, {6, 0}, {64, 8}, {48, 48}, {64, 64}};
  for (std::size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i].inputLength, expected[i][0]);
    EXPECT_EQ(found[i].outputLength, expected[i][1]);
  }
  Owner owner;
  Link link(*host, ConsoleLinkConfig(), NoSleep);
  link.SetOwner(&owner);
  ASSERT_TRUE(link.Start());
  EXPECT_EQ(link.GetDeviceCount(), 6);
  for (const HidInterface& i : found) EXPECT_TRUE(link.IsBoundPath(i.path));
  ReportBuffer command;
  BuildSettingsRead(command, CMD_CFG_14);
  ASSERT_TRUE(link.Transact(kSettingsChannel, command.data(), 64));
  const Bytes reply = owner.LastReply();
  ASSERT_EQ(reply.size(), 64u);
  EXPECT_EQ(reply[1], CMD_CFG_14);
  EXPECT_EQ(reply[2], 5);

  BuildCommand(command, kCalibrationReportId, CMD_CAL_GET_MODE, nullptr, 0);
  ASSERT_TRUE(link.Transact(kCalibrationChannel, command.data(), 48));
  EXPECT_EQ(owner.LastReply()[3], kModeFivePoint);
  link.End();
}

TEST_F(SimWineTest, CalibrationProgramLinkTalksOnTheCalibrationChannel) {
  std::unique_ptr<HidHost> host = CreateSimHidHostFromEnvironment();
  Owner owner;
  Link link(*host, CalibrationLinkConfig(), NoSleep);
  link.SetOwner(&owner);
  ASSERT_TRUE(link.Start());
  EXPECT_EQ(link.GetLinkState(), kLinkBound);
  ReportBuffer command;
  BuildCommand(command, kCalibrationReportId, CMD_CAL_GET_MODE, nullptr, 0);
  ASSERT_TRUE(link.Transact(kCalibrationChannel, command.data(), 48));
  EXPECT_EQ(owner.LastReply()[3], kModeFivePoint);
  link.End();
}

TEST_F(SimWineTest, UnplugAndPlugReachTheNoticeHandling) {
  std::unique_ptr<HidHost> host = CreateSimHidHostFromEnvironment();
  Owner owner;
  Link link(*host, ConsoleLinkConfig(), NoSleep);
  link.SetOwner(&owner);
  Notices notices;
  auto registration = link.RegisterArrivalNotifications(nullptr, notices.Callback());
  ASSERT_NE(registration, nullptr);
  ASSERT_TRUE(link.Start());
  ASSERT_EQ(Ctl({"unplug"}), 0);
  auto removals = notices.WaitFor(6);
  ASSERT_EQ(removals.size(), 6u);
  EXPECT_EQ(removals[0].first, DeviceNotice::Removal);
  EXPECT_EQ(link.OnDeviceNotice(removals[0].first, removals[0].second), NoticeOutcome::Removed);
  EXPECT_EQ(link.GetLinkState(), kLinkNone);

  ASSERT_EQ(Ctl({"plug"}), 0);
  auto arrivals = notices.WaitFor(6);
  ASSERT_EQ(arrivals.size(), 6u);
  EXPECT_EQ(arrivals[0].first, DeviceNotice::Arrival);
  EXPECT_EQ(link.OnDeviceNotice(arrivals[0].first, arrivals[0].second), NoticeOutcome::Started);
  ReportBuffer command;
  BuildSettingsRead(command, CMD_CFG_11);
  EXPECT_TRUE(link.Transact(kSettingsChannel, command.data(), 64));
  registration.reset();
  link.End();
}

// A program that closes ends its workers and its notice thread at once: each ends as soon as it
// is told, never because the wait for it ran out. Both programs' links, after a conversation.
TEST_F(SimWineTest, WorkersAndNoticeThreadEndAsSoonAsTheyAreTold) {
  using Clock = std::chrono::steady_clock;
  const auto since = [](Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  };
  for (const bool console : {true, false}) {
    SCOPED_TRACE(console ? "console" : "calibration program");
    std::unique_ptr<HidHost> host = CreateSimHidHostFromEnvironment();
    Owner owner;
    Link link(*host, console ? ConsoleLinkConfig() : CalibrationLinkConfig(), NoSleep);
    link.SetOwner(&owner);
    Notices notices;
    auto registration = link.RegisterArrivalNotifications(nullptr, notices.Callback());
    ASSERT_NE(registration, nullptr);
    ASSERT_TRUE(link.Start());
    ReportBuffer command;
    BuildCommand(command, kCalibrationReportId, CMD_CAL_GET_MODE, nullptr, 0);
    ASSERT_TRUE(link.Transact(kCalibrationChannel, command.data(), 48));

    Clock::time_point start = Clock::now();
    link.StopWorkers();
    EXPECT_LT(since(start), kWorkerStopWait / 2) << "a worker did not end when told";
    start = Clock::now();
    registration.reset();
    EXPECT_LT(since(start), kWorkerStopWait / 2) << "the notice thread did not end when told";
    link.End();
  }
}

}  // namespace
}  // namespace tactra::sim
