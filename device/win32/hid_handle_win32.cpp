// Overlapped reads and writes on one HID path: one OVERLAPPED and one event per handle, a read
// that stays pending across waits that end for another reason, pending I/O cancelled before the
// handle closes.
#include "device/win32/hid_handle_win32.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "device/win32/device_handles_win32.h"

namespace tactra {

namespace {

using win32::UniqueFile;
using win32::UniqueHandle;

class OverlappedFile {
 public:
  OverlappedFile(UniqueFile file, UniqueHandle event) : file_(std::move(file)), event_(std::move(event)) {}
  ~OverlappedFile() {
    // The system must be done with the OVERLAPPED and the buffer before they go.
    if (pending_) {
      CancelIoEx(file_.get(), &overlapped_);
      DWORD ignored = 0;
      GetOverlappedResult(file_.get(), &overlapped_, &ignored, TRUE);
    }
  }

 protected:
  void Arm() {
    ResetEvent(event_.get());
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.get();
  }

  UniqueFile file_;
  UniqueHandle event_;
  OVERLAPPED overlapped_{};
  bool pending_ = false;
};

class ReadHandle : public HidReader, private OverlappedFile {
 public:
  using OverlappedFile::OverlappedFile;

  ReadResult Read(uint8_t* buffer, std::size_t capacity, std::size_t& count, const Event& stop) override {
    count = 0;
    if (!pending_) {
      Arm();
      const DWORD size = static_cast<DWORD>(std::min(capacity, buffer_.size()));
      if (!ReadFile(file_.get(), buffer_.data(), size, nullptr, &overlapped_) &&
          GetLastError() != ERROR_IO_PENDING) {
        return ReadResult::CannotStart;
      }
      pending_ = true;
    }
    const HANDLE waits[2] = {event_.get(), stop.native()};
    const DWORD result = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (result == WAIT_OBJECT_0 + 1) return ReadResult::Stopped;  // the read stays pending
    if (result != WAIT_OBJECT_0) return ReadResult::CannotStart;  // nothing left to wait for
    DWORD transferred = 0;
    // A removed device ends its read with an error: that is a read of nothing.
    if (!GetOverlappedResult(file_.get(), &overlapped_, &transferred, FALSE)) transferred = 0;
    pending_ = false;
    count = std::min<std::size_t>({transferred, capacity, buffer_.size()});
    std::memcpy(buffer, buffer_.data(), count);
    return ReadResult::Completed;
  }

 private:
  std::array<uint8_t, kReadBufferSize> buffer_{};
};

class WriteHandle : public HidWriter, private OverlappedFile {
 public:
  using OverlappedFile::OverlappedFile;

  void CancelWrite() override {
    if (!pending_ || HasOverlappedIoCompleted(&overlapped_)) return;
    CancelIoEx(file_.get(), &overlapped_);
    // The bytes and the OVERLAPPED are the system's until the cancellation completes. The event
    // resets by hand, so waiting on it here takes nothing from the write-completion worker.
    const bool completed = WaitBounded([this] { return HasOverlappedIoCompleted(&overlapped_); },
                                       [this](std::chrono::milliseconds d) {
                                         WaitForSingleObject(event_.get(), static_cast<DWORD>(d.count()));
                                       },
                                       std::chrono::steady_clock::now, kCancelLimit);
    if (!completed) return;  // still the system's: the next Write says so
    DWORD ignored = 0;
    GetOverlappedResult(file_.get(), &overlapped_, &ignored, FALSE);
    pending_ = false;
  }

  bool Write(const uint8_t* data, std::size_t length) override {
    if (pending_) {
      // The OVERLAPPED and the bytes belong to the system until that write is done.
      if (!HasOverlappedIoCompleted(&overlapped_)) return false;
      DWORD ignored = 0;
      GetOverlappedResult(file_.get(), &overlapped_, &ignored, FALSE);
      pending_ = false;
    }
    bytes_.assign(data, data + length);
    Arm();
    if (WriteFile(file_.get(), bytes_.data(), static_cast<DWORD>(bytes_.size()), nullptr, &overlapped_)) {
      pending_ = true;  // done at once; collected by the next write
      return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_IO_PENDING || error == 0) {
      pending_ = true;
      return true;
    }
    return false;
  }

  bool WaitWriteDone(const Event& stop) override {
    ResetEvent(event_.get());
    const HANDLE waits[2] = {event_.get(), stop.native()};
    return WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0;
  }

 private:
  std::vector<uint8_t> bytes_;
};

// The file and its event, or nothing when either cannot be had.
template <typename Handle>
std::unique_ptr<Handle> OpenOverlapped(const std::wstring& path, DWORD rights) {
  UniqueFile file(CreateFileW(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
  if (!file) return nullptr;
  UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return nullptr;
  return std::make_unique<Handle>(std::move(file), std::move(event));
}

}  // namespace

std::unique_ptr<HidReader> OpenHidReader(const std::wstring& path) {
  return OpenOverlapped<ReadHandle>(path, GENERIC_READ);
}

std::unique_ptr<HidWriter> OpenHidWriter(const std::wstring& path) {
  return OpenOverlapped<WriteHandle>(path, GENERIC_WRITE);
}

}  // namespace tactra
