// Enumeration of the HID class and the host that hands the link its interfaces and handles.
#include "device/win32/hid_host_win32.h"

#include <cstddef>
#include <cstdlib>
#include <cwchar>

#include "device/win32/device_handles_win32.h"
#include "device/win32/device_notice_win32.h"
#include "device/win32/hid_handle_win32.h"

namespace tactra {

namespace {

using win32::UniqueDevInfo;
using win32::UniqueFile;
using win32::UniquePreparsed;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// Vendor and product ID, then (for the frame only) the report lengths of an opened path.
void QueryInterface(HidInterface& device) {
  UniqueFile query(CreateFileW(device.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr));
  if (!query) {
    device.outcome = EnumOutcome::QueryOpenFailed;
    return;
  }
  HIDD_ATTRIBUTES attributes{};
  attributes.Size = sizeof attributes;
  if (!HidD_GetAttributes(query.get(), &attributes)) {
    device.outcome = EnumOutcome::AttributesFailed;
    return;
  }
  device.vendorId = attributes.VendorID;
  device.productId = attributes.ProductID;
  // Other devices are of no interest: their lengths are never read.
  if (!IsAcceptedDevice(device.vendorId, device.productId)) return;
  PHIDP_PREPARSED_DATA raw = nullptr;
  if (!HidD_GetPreparsedData(query.get(), &raw)) {
    device.outcome = EnumOutcome::PreparsedFailed;
    return;
  }
  UniquePreparsed preparsed(raw);
  HIDP_CAPS caps{};
  if (HidP_GetCaps(preparsed.get(), &caps) == HIDP_STATUS_SUCCESS) {
    device.capsOk = true;
    device.inputLength = caps.InputReportByteLength;
    device.outputLength = caps.OutputReportByteLength;
  }
}

// The path of one member of the set, or the outcome that stops it from being looked at.
EnumOutcome ReadDetail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data, std::wstring& path) {
  DWORD required = 0;
  SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &required, nullptr);
  constexpr DWORD kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
  if (required <= kPathOffset) return EnumOutcome::DetailFailed;
  std::unique_ptr<void, FreeDeleter> record(std::calloc(1, required));
  if (!record) return EnumOutcome::AllocationFailed;
  auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(record.get());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, required, nullptr, nullptr)) {
    return EnumOutcome::DetailFailed;
  }
  // The record's size bounds the path even if the system left it unterminated.
  const std::size_t room = (required - kPathOffset) / sizeof(wchar_t);
  path.assign(detail->DevicePath, wcsnlen(detail->DevicePath, room));
  return EnumOutcome::Ok;
}

class Win32HidHost : public HidHost {
 public:
  std::vector<HidInterface> Enumerate() override {
    std::vector<HidInterface> list;
    EnumerateHidClass(list);
    return list;
  }

  std::unique_ptr<HidReader> OpenReader(const std::wstring& path) override { return OpenHidReader(path); }
  std::unique_ptr<HidWriter> OpenWriter(const std::wstring& path) override { return OpenHidWriter(path); }

  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void* window, NoticeCallback) override {
    // Notices reach the window as WM_DEVICECHANGE; the window decodes them.
    return RegisterHidNotices(static_cast<HWND>(window));
  }
};

}  // namespace

bool EnumerateHidClass(std::vector<HidInterface>& out) {
  out.clear();
  GUID hidClass{};
  HidD_GetHidGuid(&hidClass);
  UniqueDevInfo set(SetupDiGetClassDevsW(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set) return false;
  for (DWORD index = 0;; ++index) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &hidClass, index, &data)) {
      return GetLastError() == ERROR_NO_MORE_ITEMS;
    }
    HidInterface device;
    device.outcome = ReadDetail(set.get(), data, device.path);
    if (device.outcome == EnumOutcome::Ok) QueryInterface(device);
    out.push_back(device);
    if (device.outcome == EnumOutcome::AllocationFailed) return true;
  }
}

std::unique_ptr<HidHost> CreateWin32HidHost() { return std::make_unique<Win32HidHost>(); }

}  // namespace tactra
