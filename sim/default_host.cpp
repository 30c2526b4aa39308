// The host both programs use: the simulated frame when TACTRA_FRAME_SIM=host:port is set,
// otherwise the system's HID stack (on a system without one, a host that finds nothing).
#include "device/hid_host.h"
#include "sim/sim_hid_host.h"

#ifdef TACTRA_HAVE_WIN32_HID_HOST
#include "device/win32/win32_hid_host.h"
#endif

namespace tactra {

namespace {

class EmptyHidHost : public HidHost {
 public:
  std::vector<HidInterface> Enumerate() override { return {}; }
  std::unique_ptr<HidHandle> Open(const std::wstring&, Access) override { return nullptr; }
  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void*, NoticeCallback) override {
    return nullptr;
  }
};

}  // namespace

std::unique_ptr<HidHost> CreateDefaultHidHost() {
  if (std::unique_ptr<HidHost> simulated = sim::CreateSimHidHostFromEnvironment()) return simulated;
#ifdef TACTRA_HAVE_WIN32_HID_HOST
  return CreateWin32HidHost();
#else
  return std::make_unique<EmptyHidHost>();
#endif
}

}  // namespace tactra
