// RegisterDeviceNotificationW with a device-interface filter for the HID class, and the decoding
// of the WM_DEVICECHANGE notices it brings.
#include "device/win32/device_notice_win32.h"

#include <cstddef>
#include <cwchar>

#include "device/win32/device_handles_win32.h"
#include "device/win32/hid_host_win32.h"

namespace tactra {

namespace {

class HidNoticeRegistration : public NoticeRegistration {
 public:
  explicit HidNoticeRegistration(HDEVNOTIFY handle) : handle_(handle) {}

 private:
  win32::UniqueDevNotify handle_;
};

}  // namespace

std::unique_ptr<NoticeRegistration> RegisterHidNotices(HWND window) {
  if (window == nullptr) return nullptr;
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  HidD_GetHidGuid(&filter.dbcc_classguid);
  HDEVNOTIFY handle = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  if (handle == nullptr) return nullptr;
  return std::make_unique<HidNoticeRegistration>(handle);
}

bool DecodeDeviceChange(uintptr_t wParam, intptr_t lParam, DeviceNotice& notice, std::wstring& path) {
  if (wParam == DBT_DEVICEARRIVAL) {
    notice = DeviceNotice::Arrival;
  } else if (wParam == DBT_DEVICEREMOVECOMPLETE) {
    notice = DeviceNotice::Removal;
  } else {
    return false;
  }
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return false;
  constexpr std::size_t kNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (header->dbch_size < kNameOffset) return false;
  const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
  // The record's size bounds the name even if it is not terminated.
  const std::size_t room = (header->dbch_size - kNameOffset) / sizeof(wchar_t);
  path.assign(device->dbcc_name, wcsnlen(device->dbcc_name, room));
  return true;
}

}  // namespace tactra
