// Opening a HID path for overlapped reading or writing.
#pragma once

#include <memory>
#include <string>

#include "device/hid_host.h"

namespace tactra {

// Null when the path cannot be opened in that direction.
std::unique_ptr<HidReader> OpenHidReader(const std::wstring& path);
std::unique_ptr<HidWriter> OpenHidWriter(const std::wstring& path);

}  // namespace tactra
