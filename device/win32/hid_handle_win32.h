// Opening a HID path for overlapped reading or writing.
#pragma once

#include <memory>
#include <string>

#include "device/hid_host.h"

namespace tactra {

// Null when the path cannot be opened in that direction.
std::unique_ptr<HidHandle> OpenHidPath(const std::wstring& path, Access access);

}  // namespace tactra
