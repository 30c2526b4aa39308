#include "common/win32/program_path_win32.h"

#include <windows.h>

#include <vector>

namespace tactra::win32 {

bool ProgramPath(std::wstring& path, std::size_t capacity) {
  path.clear();
  if (capacity == 0 || capacity > kLongestPath) return false;
  std::vector<wchar_t> buffer(capacity, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(capacity));
  // A path that fills the whole buffer was cut.
  if (length == 0 || length >= capacity) return false;
  path.assign(buffer.data(), length);
  return true;
}

std::wstring ProgramFolder() {
  std::wstring path;
  for (std::size_t capacity = MAX_PATH; capacity <= kLongestPath; capacity *= 2) {
    if (ProgramPath(path, capacity)) break;
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

}  // namespace tactra::win32
