#include "calibration/win32/monitors_win32.h"

#include <windows.h>

#include "common/win32/handles_win32.h"

namespace tactra::calib {

namespace {

BOOL CALLBACK AddMonitor(HMONITOR handle, HDC, LPRECT, LPARAM data) {
  auto& monitors = *reinterpret_cast<std::vector<Monitor>*>(data);
  MONITORINFOEXW info{};
  info.cbSize = sizeof info;
  if (!GetMonitorInfoW(handle, &info)) return TRUE;
  Monitor m;
  m.number = DisplayNumber(info.szDevice);
  m.rect = {info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right - info.rcMonitor.left,
            info.rcMonitor.bottom - info.rcMonitor.top};
  m.primary = (info.dwFlags & MONITORINFOF_PRIMARY) != 0;
  DISPLAY_DEVICEW shown{};
  shown.cb = sizeof shown;
  for (DWORD i = 0; EnumDisplayDevicesW(info.szDevice, i, &shown, EDD_GET_DEVICE_INTERFACE_NAME); ++i) {
    if (shown.DeviceID[0] != L'\0') m.interfacePaths.emplace_back(shown.DeviceID);
    shown = DISPLAY_DEVICEW{};
    shown.cb = sizeof shown;
  }
  monitors.push_back(std::move(m));
  return TRUE;
}

}  // namespace

std::vector<Monitor> ReadMonitors() {
  std::vector<Monitor> monitors;
  EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&monitors));
  return monitors;
}

std::vector<MonitorMapping> ReadMonitorMappings() {
  std::vector<MonitorMapping> mappings;
  HKEY opened = nullptr;
  // The system keeps the mapping in its own view, also for a 32-bit program.
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMonitorMappingKeyPath, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    &opened) != ERROR_SUCCESS)
    return mappings;
  win32::UniqueHkey key(opened);
  DWORD names = 0;
  DWORD longestName = 0;
  DWORD longestData = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &names, &longestName,
                       &longestData, nullptr, nullptr) != ERROR_SUCCESS)
    return mappings;
  std::vector<wchar_t> name(longestName + 1);
  std::vector<wchar_t> data(longestData / sizeof(wchar_t) + 1);
  for (DWORD i = 0; i < names; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD type = 0;
    DWORD dataBytes = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
    if (RegEnumValueW(key.get(), i, name.data(), &nameLength, nullptr, &type,
                      reinterpret_cast<BYTE*>(data.data()), &dataBytes) != ERROR_SUCCESS)
      continue;
    if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
    // The data need not end with its terminator.
    std::size_t length = dataBytes / sizeof(wchar_t);
    data[length] = L'\0';
    while (length > 0 && data[length - 1] == L'\0') --length;
    mappings.push_back({std::wstring(name.data(), nameLength), std::wstring(data.data(), length)});
  }
  return mappings;
}

}  // namespace tactra::calib
