// Small owners of Win32 handles, one type per kind of empty value and release call; none can be
// copied, each releases its handle exactly once.
#pragma once

#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <dbt.h>
// This toolchain's HID headers do not declare C linkage themselves.
extern "C" {
#include <hidsdi.h>
}
// clang-format on

#include <utility>

namespace tactra::win32 {

template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;
  UniqueResource() = default;
  explicit UniqueResource(Value value) : value_(value) {}
  ~UniqueResource() { reset(); }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(std::exchange(other.value_, Traits::Empty())) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = std::exchange(other.value_, Traits::Empty());
    }
    return *this;
  }

  Value get() const { return value_; }
  bool valid() const { return value_ != Traits::Empty(); }
  explicit operator bool() const { return valid(); }
  void reset(Value value = Traits::Empty()) {
    if (valid()) Traits::Release(value_);
    value_ = value;
  }

 private:
  Value value_ = Traits::Empty();
};

// Events and threads: empty is null.
struct HandleTraits {
  using Value = HANDLE;
  static Value Empty() { return nullptr; }
  static void Release(Value v) { CloseHandle(v); }
};
// Files and devices: empty is INVALID_HANDLE_VALUE.
struct FileTraits {
  using Value = HANDLE;
  static Value Empty() { return INVALID_HANDLE_VALUE; }
  static void Release(Value v) { CloseHandle(v); }
};
struct DevInfoTraits {
  using Value = HDEVINFO;
  static Value Empty() { return INVALID_HANDLE_VALUE; }
  static void Release(Value v) { SetupDiDestroyDeviceInfoList(v); }
};
struct PreparsedTraits {
  using Value = PHIDP_PREPARSED_DATA;
  static Value Empty() { return nullptr; }
  static void Release(Value v) { HidD_FreePreparsedData(v); }
};
struct DevNotifyTraits {
  using Value = HDEVNOTIFY;
  static Value Empty() { return nullptr; }
  static void Release(Value v) { UnregisterDeviceNotification(v); }
};

using UniqueHandle = UniqueResource<HandleTraits>;
using UniqueFile = UniqueResource<FileTraits>;
using UniqueDevInfo = UniqueResource<DevInfoTraits>;
using UniquePreparsed = UniqueResource<PreparsedTraits>;
using UniqueDevNotify = UniqueResource<DevNotifyTraits>;

}  // namespace tactra::win32
