// The real tactra-framesim, idle with clients attached: it must sleep in its poll, not spin.
#include <gtest/gtest.h>

#include <thread>

#include "device/link.h"
#include "sim/sim_hid_host.h"
#include "tests/sim/framesim_process.h"

namespace tactra::sim {
namespace {

using std::chrono::milliseconds;
using testing::Simulator;

class NoReplies : public LinkOwner {
 public:
  void OnDeviceReply(const uint8_t*, std::size_t) override {}
};

TEST(FramesimIdleTest, IdleSimulatorWithTwoProgramsAttachedUsesNoCpu) {
  Simulator sim;
  ASSERT_NE(sim.port(), 0) << "tactra-framesim did not announce its port";
  std::unique_ptr<HidHost> host = CreateSimHidHost("127.0.0.1", sim.port());
  NoReplies owner;
  Link console(*host, ConsoleLinkConfig(), [](auto, auto) {});
  Link calibration(*host, CalibrationLinkConfig(), [](auto, auto) {});
  console.SetOwner(&owner);
  calibration.SetOwner(&owner);
  auto notices = console.RegisterArrivalNotifications(nullptr, [](DeviceNotice, const std::wstring&) {});
  ASSERT_TRUE(console.Start());
  ASSERT_TRUE(calibration.Start());
  std::this_thread::sleep_for(milliseconds(200));  // let everything reach its wait
  const long before = sim.CpuTicks();
  std::this_thread::sleep_for(milliseconds(2000));
  EXPECT_LE(sim.CpuTicks() - before, 1) << "the simulator works while idle";
  console.End();
  calibration.End();
}

}  // namespace
}  // namespace tactra::sim
