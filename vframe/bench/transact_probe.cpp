// tactra-transact-probe: times the console's Transact of a settings read through the host both
// programs use (the simulator host when TACTRA_FRAME_SIM is set, else the system's HID stack), so
// that bench_vframe can set the two transports side by side under the same Wine. Prints "ready"
// once the link found the frame; then, for each line N on its input, runs N round trips and prints
// their summed seconds and the number that got no reply. An empty line or 0 ends it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "device/hid_host.h"
#include "device/link.h"
#include "device/protocol.h"
#include "device/win32/hid_host_win32.h"
#include "programs/host_choice.h"

namespace {

class QuietOwner : public tactra::LinkOwner {
 public:
  void OnDeviceReply(const uint8_t*, std::size_t) override {}
};

}  // namespace

int main() {
  using namespace tactra;
  std::unique_ptr<HidHost> host = ChooseHidHost(CreateWin32HidHost);
  QuietOwner owner;
  Link link(*host, ConsoleLinkConfig());
  link.SetOwner(&owner);
  if (!link.Start()) {
    std::printf("no frame\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  proto::ReportBuffer command{};
  proto::BuildSettingsRead(command, proto::CMD_CFG_11);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  char line[64];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    const long count = std::strtol(line, nullptr, 10);
    if (count <= 0) break;
    LONGLONG ticks = 0;
    long failed = 0;
    for (long i = 0; i < count; ++i) {
      LARGE_INTEGER before, after;
      QueryPerformanceCounter(&before);
      const bool answered =
          link.Transact(proto::kSettingsChannel, command.data(), proto::kSettingsReportLength);
      QueryPerformanceCounter(&after);
      ticks += after.QuadPart - before.QuadPart;
      if (!answered) ++failed;
    }
    std::printf("%.9f %ld\n", static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart), failed);
    std::fflush(stdout);
  }
  link.End();
  return 0;
}
