// Command round trips through the link, the simulator host and the frame server on loopback:
// the console's Transact of a settings read, and the frame model alone for comparison.
#include <benchmark/benchmark.h>

#include <memory>
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

void BM_LinkRoundTripThroughServedFrame(benchmark::State& state) {
  sim::ServerOptions options;
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
    Link link(*host, ConsoleLinkConfig(), [](std::chrono::milliseconds) {});
    link.SetOwner(&owner);
    if (!link.Start()) state.SkipWithError("the link found no frame");
    ReportBuffer command;
    BuildSettingsRead(command, CMD_CFG_11);
    int64_t failed = 0;
    for (auto _ : state) {
      if (!link.Transact(kSettingsChannel, command.data(), kSettingsReportLength)) ++failed;
    }
    state.counters["failed"] = static_cast<double>(failed);
    state.SetItemsProcessed(state.iterations());
    link.End();
  }
  std::string ignored;
  sim::RunControl("127.0.0.1", server.port(), {"quit"}, ignored);
  serving.join();
}
BENCHMARK(BM_LinkRoundTripThroughServedFrame)->UseRealTime()->MinTime(1.0);

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

}  // namespace
