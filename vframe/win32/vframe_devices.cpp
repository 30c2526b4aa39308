#include "vframe/win32/vframe_devices.h"

#include <windows.h>
// clang-format off
#include <devguid.h>
#include <newdev.h>
#include <setupapi.h>
// clang-format on

#include "device/hid_host.h"
#include "device/protocol.h"
#include "device/win32/device_handles_win32.h"
#include "vframe/device_params.h"

namespace tactra::vframe {

namespace {

// SetupDiCreateDevRegKeyW fails with INVALID_HANDLE_VALUE, not null.
using UniqueRegKey = win32::UniqueAny<HKEY, RegCloseKey, win32::Empty::NullOrInvalid>;

// True when the device's hardware IDs include the virtual frame's.
bool IsFrameDevice(HDEVINFO set, SP_DEVINFO_DATA& device) {
  wchar_t ids[512] = {};
  DWORD type = 0;
  // One character short of the buffer, so the list always ends in two terminators.
  if (!SetupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, &type, reinterpret_cast<BYTE*>(ids),
                                         sizeof ids - 2 * sizeof(wchar_t), nullptr)) {
    return false;
  }
  for (const wchar_t* id = ids; *id != 0; id += wcslen(id) + 1) {
    if (SamePathIgnoringCase(id, VFRAME_HARDWARE_ID)) return true;
  }
  return false;
}

bool SetValue(HKEY key, const wchar_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

bool WriteParameters(HDEVINFO set, SP_DEVINFO_DATA& device, const Collection& c) {
  UniqueRegKey key(SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr));
  if (!key) return false;
  return SetValue(key.get(), VFRAME_VALUE_CHANNEL, static_cast<DWORD>(c.channel)) &&
         SetValue(key.get(), VFRAME_VALUE_VENDOR, c.vendorId) &&
         SetValue(key.get(), VFRAME_VALUE_PRODUCT, c.productId) &&
         SetValue(key.get(), VFRAME_VALUE_INPUT, c.inputLength) &&
         SetValue(key.get(), VFRAME_VALUE_OUTPUT, c.outputLength) &&
         SetValue(key.get(), VFRAME_VALUE_REPORT_ID, c.reportId);
}

std::wstring ChannelHardwareId(int channel) {
  return std::wstring(VFRAME_CHANNEL_HARDWARE_ID) + static_cast<wchar_t>(L'0' + channel);
}

std::wstring Failed(const wchar_t* step) {
  return std::wstring(step) + L" failed, error " + std::to_wstring(GetLastError());
}

}  // namespace

uint8_t ReportIdOfChannel(int channel) {
  switch (channel) {
    case proto::kTouchChannel:
      return proto::kTouchReportId;
    case proto::kCalibrationChannel:
      return proto::kCalibrationReportId;
    case proto::kSettingsChannel:
      return proto::kSettingsReportId;
    default:
      return 0;
  }
}

bool AddFrameDevices(const std::wstring& inf, const std::vector<Collection>& collections,
                     std::wstring& error) {
  win32::UniqueDevInfo set(SetupDiCreateDeviceInfoList(&GUID_DEVCLASS_HIDCLASS, nullptr));
  if (!set) {
    error = Failed(L"SetupDiCreateDeviceInfoList");
    return false;
  }
  for (const Collection& c : collections) {
    // The channel's ID, then the common one, as a list: each ends in a terminator, the list in
    // one more.
    const std::wstring ids = ChannelHardwareId(c.channel) + L'\0' + VFRAME_HARDWARE_ID + L'\0' + L'\0';
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoW(set.get(), L"HIDClass", &GUID_DEVCLASS_HIDCLASS, L"Tactra virtual frame",
                                  nullptr, DICD_GENERATE_ID, &device)) {
      error = Failed(L"SetupDiCreateDeviceInfo");
    } else if (!SetupDiSetDeviceRegistryPropertyW(set.get(), &device, SPDRP_HARDWAREID,
                                                  reinterpret_cast<const BYTE*>(ids.data()),
                                                  static_cast<DWORD>(ids.size() * sizeof(wchar_t)))) {
      error = Failed(L"SetupDiSetDeviceRegistryProperty");
    } else if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set.get(), &device)) {
      error = Failed(L"DIF_REGISTERDEVICE");
    } else if (!WriteParameters(set.get(), device, c)) {
      error = Failed(L"writing the device parameters");
    } else {
      continue;
    }
    RemoveFrameDevices();
    return false;
  }
  // By each new device's own ID: installing by the common one would start the devices already
  // present again, and programs would see them leave and come back.
  for (const Collection& c : collections) {
    BOOL reboot = FALSE;
    if (!UpdateDriverForPlugAndPlayDevicesW(nullptr, ChannelHardwareId(c.channel).c_str(), inf.c_str(),
                                            INSTALLFLAG_FORCE, &reboot)) {
      error = Failed(L"UpdateDriverForPlugAndPlayDevices");
      RemoveFrameDevices();
      return false;
    }
  }
  return true;
}

int RemoveFrameDevices() {
  // A removal may drop the device from the set being walked, so each pass walks a fresh set, until
  // one finds nothing left to remove.
  int removed = 0;
  for (int pass = 0; pass < 8; ++pass) {
    win32::UniqueDevInfo set(SetupDiGetClassDevsW(&GUID_DEVCLASS_HIDCLASS, nullptr, nullptr, 0));
    if (!set) return pass == 0 ? -1 : removed;
    int found = 0;
    for (DWORD index = 0;; ++index) {
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      if (!SetupDiEnumDeviceInfo(set.get(), index, &device)) break;
      if (!IsFrameDevice(set.get(), device)) continue;
      ++found;
      if (SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &device)) ++removed;
    }
    if (found == 0) break;
  }
  return removed;
}

}  // namespace tactra::vframe
