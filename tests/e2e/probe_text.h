// What the end-to-end probes share: messages to another process's windows with a bound on the
// wait, so that a hung window cannot stall the test, and texts as UTF-8 for the harness.
#pragma once

#include <windows.h>

#include <string>

namespace probe {

constexpr DWORD kReplyLimitMs = 3000;

inline LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kReplyLimitMs, &result);
  return static_cast<LRESULT>(result);
}

inline std::wstring TextOf(HWND window) {
  wchar_t buffer[1024] = {};
  Ask(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

inline std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace probe
