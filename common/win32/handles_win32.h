// One family of owners for Win32 handles: the handle's type, the call that releases it, and
// which values own nothing. Each owner releases its handle exactly once and cannot be copied;
// moving hands the handle over. One alias per kind of handle.
#pragma once

#include <windows.h>

#include <utility>

namespace tactra::win32 {

// The values that own nothing: null alone (events, threads, keys, modules, GDI objects), or
// also INVALID_HANDLE_VALUE, which CreateFileW and SetupDiGetClassDevsW return on failure.
enum class Empty { Null, NullOrInvalid };

template <typename T, auto Close, Empty kEmpty = Empty::Null>
class UniqueAny {
 public:
  UniqueAny() = default;
  explicit UniqueAny(T value) : value_(value) {}
  ~UniqueAny() { reset(); }
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& other) noexcept : value_(other.release()) {}
  UniqueAny& operator=(UniqueAny&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  static bool IsValid(T value) {
    if (value == T{}) return false;
    if constexpr (kEmpty == Empty::NullOrInvalid) return value != reinterpret_cast<T>(INVALID_HANDLE_VALUE);
    return true;
  }

  T get() const { return value_; }
  bool valid() const { return IsValid(value_); }
  explicit operator bool() const { return valid(); }
  // Releases what it owns and takes `value`.
  void reset(T value = T{}) {
    const T old = std::exchange(value_, value);
    if (IsValid(old)) Close(old);
  }
  // Hands the handle to the caller, who releases it.
  T release() { return std::exchange(value_, T{}); }

 private:
  T value_{};
};

// Kernel objects: events, threads, processes.
using UniqueHandle = UniqueAny<HANDLE, CloseHandle>;
// Files and devices opened by path.
using UniqueFile = UniqueAny<HANDLE, CloseHandle, Empty::NullOrInvalid>;
using UniqueHkey = UniqueAny<HKEY, RegCloseKey>;
using UniqueModule = UniqueAny<HMODULE, FreeLibrary>;
using UniqueFont = UniqueAny<HFONT, DeleteObject>;
using UniqueBrush = UniqueAny<HBRUSH, DeleteObject>;
using UniquePen = UniqueAny<HPEN, DeleteObject>;
using UniqueBitmap = UniqueAny<HBITMAP, DeleteObject>;
using UniqueIcon = UniqueAny<HICON, DestroyIcon>;
using UniqueMenu = UniqueAny<HMENU, DestroyMenu>;
// A device context made with CreateCompatibleDC.
using UniqueMemoryDc = UniqueAny<HDC, DeleteDC>;

}  // namespace tactra::win32
