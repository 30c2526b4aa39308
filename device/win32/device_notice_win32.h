// Device-interface notices of the HID class to a window.
#pragma once

#include <windows.h>

#include <memory>

#include "device/hid_host.h"

namespace tactra {

// Null when the system refused the registration (or there is no window).
std::unique_ptr<NoticeRegistration> RegisterHidNotices(HWND window);

}  // namespace tactra
