// The console's form of the link: one instance per process over the default host.
#include "device/link.h"

namespace tactra {

namespace {

// Stands in when no host could be made: nothing present, nothing to open.
class AbsentHidHost : public HidHost {
 public:
  std::vector<HidInterface> Enumerate() override { return {}; }
  std::unique_ptr<HidHandle> Open(const std::wstring&, Access) override { return nullptr; }
  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void*, NoticeCallback) override {
    return nullptr;
  }
};

std::unique_ptr<HidHost> HostOrAbsent(std::unique_ptr<HidHost> host) {
  if (host) return host;
  return std::make_unique<AbsentHidHost>();
}

}  // namespace

CUSBTransfer::CUSBTransfer(std::unique_ptr<HidHost> host)
    : host_(HostOrAbsent(std::move(host))), link_(*host_, ConsoleLinkConfig()) {}

CUSBTransfer::~CUSBTransfer() = default;

CUSBTransfer& CUSBTransfer::GetInstance() {
  static CUSBTransfer instance(CreateDefaultHidHost());
  return instance;
}

}  // namespace tactra
