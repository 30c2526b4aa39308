// The Windows HID host under the system (Wine here): enumeration of the HID class, notice
// registration and decoding, and overlapped I/O on a handle.
#include <windows.h>
// clang-format off
#include <dbt.h>
// clang-format on

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "device/link.h"
#include "device/win32/hid_handle_win32.h"
#include "device/win32/hid_host_win32.h"

namespace tactra {
namespace {

TEST(Win32HidHostTest, EnumeratesTheHidClassAndAcceptsNoneOfTheSystemsDevices) {
  std::vector<HidInterface> devices;
  ASSERT_TRUE(EnumerateHidClass(devices));
  std::printf("HID interfaces present: %u\n", static_cast<unsigned>(devices.size()));
  for (const HidInterface& device : devices) {
    std::printf("  %ls outcome %d vid %04x pid %04x\n", device.path.c_str(), static_cast<int>(device.outcome),
                device.vendorId, device.productId);
    EXPECT_FALSE(device.path.empty());
    EXPECT_NE(device.outcome, EnumOutcome::AllocationFailed);
    if (device.outcome == EnumOutcome::Ok) {
      EXPECT_FALSE(IsAcceptedDevice(device.vendorId, device.productId));
    }
  }
  std::unique_ptr<HidHost> host = CreateWin32HidHost();
  Link link(*host, ConsoleLinkConfig(), [](auto, auto) {});
  EXPECT_FALSE(link.Start());
  EXPECT_EQ(link.GetLinkState(), kLinkNone);
  EXPECT_FALSE(link.HasDevices());
}

// A message-only window to receive notices.
class NoticeWindow {
 public:
  NoticeWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TactraLinkNoticeTest";
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
  }
  ~NoticeWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  NoticeWindow(const NoticeWindow&) = delete;
  NoticeWindow& operator=(const NoticeWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_ = nullptr;
};

TEST(Win32HidHostTest, NoticeRegistrationSucceedsForAWindowOnly) {
  NoticeWindow window;
  ASSERT_NE(window.get(), nullptr);
  std::unique_ptr<HidHost> host = CreateWin32HidHost();
  Link link(*host, ConsoleLinkConfig(), [](auto, auto) {});
  auto registration = link.RegisterArrivalNotifications(window.get(), nullptr);
  EXPECT_NE(registration, nullptr);
  registration.reset();
  EXPECT_EQ(link.RegisterArrivalNotifications(nullptr, nullptr), nullptr);
}

// A notice record as the system builds it: header, class, then the name.
std::vector<uint8_t> InterfaceNotice(const std::wstring& name, DWORD deviceType, bool terminated) {
  const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  const std::size_t chars = name.size() + (terminated ? 1 : 0);
  std::vector<uint8_t> bytes(nameOffset + chars * sizeof(wchar_t) + 16, 0xAB);
  auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
  record->dbcc_size = static_cast<DWORD>(nameOffset + chars * sizeof(wchar_t));
  record->dbcc_devicetype = deviceType;
  record->dbcc_reserved = 0;
  std::memcpy(bytes.data() + nameOffset, name.c_str(), chars * sizeof(wchar_t));
  return bytes;
}

TEST(Win32HidHostTest, DecodesInterfaceArrivalAndRemovalOnly) {
  const std::wstring path =
      L"\\\\?\\HID#VID_595A&PID_0008&Col05#7&1&0004#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  struct Case {
    const char* name;
    WPARAM wParam;
    DWORD deviceType;
    bool terminated;
    bool decoded;
    DeviceNotice notice;
  };
  const Case cases[] = {
      {"arrival", DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, true, true, DeviceNotice::Arrival},
      {"removal", DBT_DEVICEREMOVECOMPLETE, DBT_DEVTYP_DEVICEINTERFACE, true, true, DeviceNotice::Removal},
      {"unterminated name", DBT_DEVICEARRIVAL, DBT_DEVTYP_DEVICEINTERFACE, false, true,
       DeviceNotice::Arrival},
      {"removal query", DBT_DEVICEQUERYREMOVE, DBT_DEVTYP_DEVICEINTERFACE, true, false,
       DeviceNotice::Arrival},
      {"volume", DBT_DEVICEARRIVAL, DBT_DEVTYP_VOLUME, true, false, DeviceNotice::Arrival},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> record = InterfaceNotice(path, c.deviceType, c.terminated);
    DeviceNotice notice{};
    std::wstring decoded;
    EXPECT_EQ(DecodeDeviceChange(c.wParam, reinterpret_cast<LPARAM>(record.data()), notice, decoded),
              c.decoded)
        << c.name;
    if (!c.decoded) continue;
    EXPECT_EQ(notice, c.notice) << c.name;
    EXPECT_EQ(decoded, path) << c.name;
  }
  DeviceNotice notice{};
  std::wstring decoded;
  EXPECT_FALSE(DecodeDeviceChange(DBT_DEVICEARRIVAL, 0, notice, decoded));
  EXPECT_FALSE(DecodeDeviceChange(DBT_DEVNODES_CHANGED, 0, notice, decoded));
}

// The device side of a handle: a pipe server that the handle opens by path like a device.
class PipeDevice {
 public:
  explicit PipeDevice(const std::wstring& name) : path_(L"\\\\.\\pipe\\" + name) {
    pipe_ = CreateNamedPipeW(path_.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1,
                             4096, 4096, 0, nullptr);
  }
  ~PipeDevice() {
    if (pipe_ != INVALID_HANDLE_VALUE) CloseHandle(pipe_);
  }
  PipeDevice(const PipeDevice&) = delete;
  PipeDevice& operator=(const PipeDevice&) = delete;
  const std::wstring& path() const { return path_; }
  bool Send(const std::vector<uint8_t>& bytes) {
    DWORD written = 0;
    return WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }
  std::vector<uint8_t> Receive(std::size_t capacity = 256) {
    std::vector<uint8_t> bytes(capacity);
    DWORD got = 0;
    if (!ReadFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
        GetLastError() != ERROR_MORE_DATA) {
      got = 0;
    }
    bytes.resize(got);
    return bytes;
  }
  void Disconnect() { DisconnectNamedPipe(pipe_); }

 private:
  std::wstring path_;
  HANDLE pipe_ = INVALID_HANDLE_VALUE;
};

TEST(Win32HidHandleTest, PendingReadSurvivesAStopAndDeliversLaterInput) {
  PipeDevice device(L"tactra-link-read-" + std::to_wstring(GetCurrentProcessId()));
  std::unique_ptr<HidReader> read = OpenHidReader(device.path());
  ASSERT_NE(read, nullptr);
  Event stop;
  stop.Set();
  uint8_t buffer[kReadBufferSize] = {};
  std::size_t count = 99;
  EXPECT_EQ(read->Read(buffer, sizeof buffer, count, stop), ReadResult::Stopped);
  stop.Reset();
  const std::vector<uint8_t> report = {7, 0x01, 1, 1, 0xFF};
  ASSERT_TRUE(device.Send(report));
  ASSERT_EQ(read->Read(buffer, sizeof buffer, count, stop), ReadResult::Completed);
  ASSERT_EQ(count, report.size());
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + count), report);
  // A read left pending is cancelled when the handle goes.
  stop.Set();
  EXPECT_EQ(read->Read(buffer, sizeof buffer, count, stop), ReadResult::Stopped);
  read.reset();
}

TEST(Win32HidHandleTest, WritesCarryTheirOwnCopyAndAbsentPathsDoNotOpen) {
  PipeDevice device(L"tactra-link-write-" + std::to_wstring(GetCurrentProcessId()));
  std::unique_ptr<HidWriter> write = OpenHidWriter(device.path());
  ASSERT_NE(write, nullptr);
  std::vector<uint8_t> command = {6, 0x03, 0, 0xFF};
  ASSERT_TRUE(write->Write(command.data(), command.size()));
  command.assign(command.size(), 0);  // the caller's buffer is free at once
  EXPECT_EQ(device.Receive(), (std::vector<uint8_t>{6, 0x03, 0, 0xFF}));
  EXPECT_FALSE(OpenHidReader(L"\\\\.\\pipe\\tactra-link-absent"));
}

TEST(Win32HidHandleTest, AWriteStillInFlightBlocksTheNextOneUntilItCompletes) {
  PipeDevice device(L"tactra-link-stall-" + std::to_wstring(GetCurrentProcessId()));
  std::unique_ptr<HidWriter> write = OpenHidWriter(device.path());
  ASSERT_NE(write, nullptr);
  // More than the pipe holds: the write stays pending until the device side reads.
  std::vector<uint8_t> big(64 * 1024, 0x5A);
  ASSERT_TRUE(write->Write(big.data(), big.size()));
  const std::vector<uint8_t> command = {7, 0x01, 1, 1, 0xFF};
  EXPECT_FALSE(write->Write(command.data(), command.size()));
  EXPECT_EQ(device.Receive(big.size()).size(), big.size());
  // The write completes as the device reads it; then the handle takes the next one.
  for (int i = 0; i < 100 && !write->Write(command.data(), command.size()); ++i) Sleep(10);
  EXPECT_EQ(device.Receive(), command);
}

TEST(Win32HidHandleTest, ARemovedDeviceEndsThePendingReadWithNothingAndNoNewReadStarts) {
  PipeDevice device(L"tactra-link-gone-" + std::to_wstring(GetCurrentProcessId()));
  std::unique_ptr<HidReader> read = OpenHidReader(device.path());
  ASSERT_NE(read, nullptr);
  Event stop;
  stop.Set();
  uint8_t buffer[kReadBufferSize] = {};
  std::size_t count = 99;
  ASSERT_EQ(read->Read(buffer, sizeof buffer, count, stop), ReadResult::Stopped);
  stop.Reset();
  device.Disconnect();
  ASSERT_EQ(read->Read(buffer, sizeof buffer, count, stop), ReadResult::Completed);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(read->Read(buffer, sizeof buffer, count, stop), ReadResult::CannotStart);
}

}  // namespace
}  // namespace tactra
