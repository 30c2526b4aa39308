// The strings of a resource module.
#pragma once

#include <windows.h>

#include <string>

namespace tactra::win32 {

// A string resource of `module`; "" when missing.
std::wstring LoadResourceString(HINSTANCE module, int id);

}  // namespace tactra::win32
