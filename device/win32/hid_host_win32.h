// The system's HID stack as the link's host: SetupAPI enumeration of the HID class, overlapped
// device I/O, device-interface notices to a window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/hid_host.h"

namespace tactra {

std::unique_ptr<HidHost> CreateWin32HidHost();

// Enumerates the present interfaces of the HID class into `out`, each with the outcome of its
// steps; only the frame's interfaces get their report lengths read. False when the class could
// not be enumerated (no interface set, or an enumeration error other than the end).
bool EnumerateHidClass(std::vector<HidInterface>& out);

// Turns a WM_DEVICECHANGE (wParam, lParam) into an arrival or removal of a device interface with
// its path. False for every other notice or device type; the window passes only true ones to
// the link's OnDeviceNotice.
bool DecodeDeviceChange(uintptr_t wParam, intptr_t lParam, DeviceNotice& notice, std::wstring& path);

// A window's WM_DEVICECHANGE: an interface's arrival or removal goes to `handle(notice, path)`,
// every other notice is let be. The result the window returns for the message.
template <typename Handle>
intptr_t OnDeviceChange(uintptr_t wParam, intptr_t lParam, Handle&& handle) {
  DeviceNotice notice;
  std::wstring path;
  if (DecodeDeviceChange(wParam, lParam, notice, path)) handle(notice, path);
  return 1;  // TRUE: every notice is granted
}

}  // namespace tactra
