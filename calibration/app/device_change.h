// WM_DEVICECHANGE of a HID interface as the link's notice: arrival or removal and its path.
#pragma once

#include <windows.h>

#include <string>

#include "device/hid_host.h"

namespace tactra::calib {

// False for every other kind of device change.
bool DecodeDeviceChange(WPARAM wParam, LPARAM lParam, DeviceNotice& notice, std::wstring& path);

}  // namespace tactra::calib
