#include "device/hid_host.h"

#include <cwctype>

namespace tactra {

namespace {

// Filled in this order and never changed; a pair is accepted when both values sit at the same
// index. Lists of different lengths would accept nothing.
constexpr uint16_t kAcceptedVendors[] = {0x595A, 0x595A, 0x1FF7, 0x1101};
constexpr uint16_t kAcceptedProducts[] = {0x0008, 0x000A, 0x0013, 0x0010};

class AbsentHidHost : public HidHost {
 public:
  std::vector<HidInterface> Enumerate() override { return {}; }
  std::unique_ptr<HidReader> OpenReader(const std::wstring&) override { return nullptr; }
  std::unique_ptr<HidWriter> OpenWriter(const std::wstring&) override { return nullptr; }
  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void*, NoticeCallback) override {
    return nullptr;
  }
};

}  // namespace

std::unique_ptr<HidHost> CreateAbsentHidHost() { return std::make_unique<AbsentHidHost>(); }

bool SamePathIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i]))) return false;
  }
  return true;
}

bool IsAcceptedDevice(uint16_t vendorId, uint16_t productId) {
  constexpr std::size_t vendors = sizeof kAcceptedVendors / sizeof kAcceptedVendors[0];
  constexpr std::size_t products = sizeof kAcceptedProducts / sizeof kAcceptedProducts[0];
  if (vendors != products) return false;
  for (std::size_t i = 0; i < vendors; ++i) {
    if (kAcceptedVendors[i] == vendorId && kAcceptedProducts[i] == productId) return true;
  }
  return false;
}

bool WaitBounded(const std::function<bool()>& done,
                 const std::function<void(std::chrono::milliseconds)>& waitSignal,
                 const std::function<std::chrono::steady_clock::time_point()>& now,
                 std::chrono::milliseconds limit) {
  using std::chrono::milliseconds;
  const auto deadline = now() + limit;
  while (!done()) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - now());
    if (left <= milliseconds(0)) return false;
    waitSignal(left);
  }
  return true;
}

}  // namespace tactra
