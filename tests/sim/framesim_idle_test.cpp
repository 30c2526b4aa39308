// The real tactra-framesim, idle with clients attached: it must sleep in its poll, not spin.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

#include "device/link.h"
#include "sim/control_client.h"
#include "sim/sim_hid_host.h"

extern char** environ;

namespace tactra::sim {
namespace {

using std::chrono::milliseconds;

// Starts `tactra-framesim serve --port 0` and reads the port it announces.
class Simulator {
 public:
  Simulator() {
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char program[] = TACTRA_FRAMESIM_PATH;
    char serve[] = "serve", portFlag[] = "--port", zero[] = "0";
    char* argv[] = {program, serve, portFlag, zero, nullptr};
    if (posix_spawn(&pid_, program, &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c;
    while (pid_ > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    const std::size_t colon = line.rfind(':');
    if (colon != std::string::npos) port_ = static_cast<uint16_t>(std::stoi(line.substr(colon + 1)));
  }
  ~Simulator() {
    if (pid_ <= 0) return;
    std::string ignored;
    if (port_ == 0 || RunControl("127.0.0.1", port_, {"quit"}, ignored) != 0) kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  uint16_t port() const { return port_; }
  // User and system time of the process, in clock ticks.
  long CpuTicks() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
      if (i == 14) utime = std::stol(field);
      if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
  }

 private:
  pid_t pid_ = -1;
  uint16_t port_ = 0;
};

class NoReplies : public LinkOwner {
 public:
  void OnDeviceReply(const uint8_t*, std::size_t) override {}
};

TEST(FramesimIdleTest, IdleSimulatorWithTwoProgramsAttachedUsesNoCpu) {
  Simulator sim;
  ASSERT_NE(sim.port(), 0) << "tactra-framesim did not announce its port";
  std::unique_ptr<HidHost> host = CreateSimHidHost("127.0.0.1", sim.port());
  NoReplies owner;
  Link console(*host, ConsoleLinkConfig(), [](milliseconds) {});
  Link calibration(*host, CalibrationLinkConfig(), [](milliseconds) {});
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
