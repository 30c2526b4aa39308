#include "common/win32/resource_string_win32.h"

namespace tactra::win32 {

std::wstring LoadResourceString(HINSTANCE module, int id) {
  const wchar_t* text = nullptr;
  // With a zero buffer size LoadStringW hands out the read-only resource text itself.
  const int length = LoadStringW(module, static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return {};
  return std::wstring(text, static_cast<std::size_t>(length));
}

}  // namespace tactra::win32
