// Command round trips through the link, the simulator host and the frame server on loopback:
// the console's Transact of a settings read, and the frame model alone for comparison.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "device/link.h"
#include "device/protocol.h"
#include "sim/control_client.h"
#include "sim/frame_model.h"
#include "sim/server.h"
#include "sim/sim_hid_host.h"

namespace {

using namespace tactra;
using namespace tactra::proto;

class CountingOwner : public LinkOwner {
 public:
  void OnDeviceReply(const uint8_t*, std::size_t) override {}
};

// Transacts on the console's link through a frame served with `options`; `command` makes the
// n-th command.
template <typename Command>
void RoundTrips(benchmark::State& state, sim::ServerOptions options, Command command) {
  options.port = 0;
  sim::FrameServer server(options);
  if (!server.Listen()) {
    state.SkipWithError("cannot listen on loopback");
    return;
  }
  std::thread serving([&] { server.Run(); });
  {
    std::unique_ptr<HidHost> host = sim::CreateSimHidHost("127.0.0.1", server.port());
    CountingOwner owner;
    Link link(*host, ConsoleLinkConfig(), [](auto, auto) {});
    link.SetOwner(&owner);
    if (!link.Start()) state.SkipWithError("the link found no frame");
    ReportBuffer buffer;
    int64_t failed = 0, n = 0;
    for (auto _ : state) {
      command(buffer, n++);
      if (!link.Transact(kSettingsChannel, buffer.data(), kSettingsReportLength)) ++failed;
    }
    state.counters["failed"] = static_cast<double>(failed);
    state.SetItemsProcessed(state.iterations());
    link.End();
  }
  std::string ignored;
  sim::RunControl("127.0.0.1", server.port(), {"quit"}, ignored);
  serving.join();
}

void BM_LinkRoundTripThroughServedFrame(benchmark::State& state) {
  RoundTrips(state, {}, [](ReportBuffer& b, int64_t) { BuildSettingsRead(b, CMD_CFG_11); });
}
BENCHMARK(BM_LinkRoundTripThroughServedFrame)->UseRealTime()->MinTime(1.0);

// Every command changes a setting the state file keeps: the saves must not slow the link down.
void BM_SettingChangesWithStateFile(benchmark::State& state) {
  char dir[] = "/tmp/bench_sim_XXXXXX";
  if (mkdtemp(dir) == nullptr) {
    state.SkipWithError("no temporary directory");
    return;
  }
  sim::ServerOptions options;
  options.stateFile = std::string(dir) + "/state";
  RoundTrips(state, options, [](ReportBuffer& b, int64_t n) {
    const uint8_t payload[] = {kAccessWrite, static_cast<uint8_t>(1 + n % 2)};
    BuildCommand(b, kSettingsReportId, CMD_CAL_OPTION_13, payload, sizeof payload);
  });
  std::remove(options.stateFile.c_str());
  rmdir(dir);
}
BENCHMARK(BM_SettingChangesWithStateFile)->UseRealTime()->MinTime(1.0);

void BM_FrameModelCommand(benchmark::State& state) {
  sim::FrameModel model;
  ReportBuffer command;
  BuildSettingsRead(command, CMD_CFG_14);
  std::vector<sim::OutReport> out;
  for (auto _ : state) {
    out.clear();
    model.HandleOutput(kSettingsChannel, command.data(), kSettingsReportLength, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FrameModelCommand);

// `tactra-framesim serve` from start to listening (it announces its port when it listens).
// The program sits beside this benchmark in the build tree.
void BM_ServeStartup(benchmark::State& state) {
  char self[PATH_MAX] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) {
    state.SkipWithError("cannot find this program");
    return;
  }
  std::string program = self;
  program = program.substr(0, program.rfind('/') + 1) + "tactra-framesim";
  for (auto _ : state) {
    int out[2];
    if (pipe(out) != 0) break;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string serve = "serve", flag = "--port", zero = "0";
    char* argv[] = {program.data(), serve.data(), flag.data(), zero.data(), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string line;
    char c;
    while (spawned == 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    close(out[0]);
    state.PauseTiming();
    if (spawned != 0 || line.find("serving on") == std::string::npos) {
      state.SkipWithError("tactra-framesim did not start");
    }
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ServeStartup)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace
