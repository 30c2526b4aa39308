// tactra-vframe-bridge: answers the virtual frame's driver devices with a running simulated frame.
// It adds one device per collection of the frame, forwards reports between each device's pipe
// and the frame's interface, and follows the frame: unplugged, its devices are removed; plugged
// again, they are added again, so that programs get the system's own arrival and removal notices.
// A frame whose collections arrive one by one gets its devices one by one, as each arrives.
//
//   tactra-vframe-bridge --sim HOST:PORT [--inf PATH]   serve until stopped or the frame quits
//   tactra-vframe-bridge --stop                          stops the running bridge
//   tactra-vframe-bridge --remove                        removes devices a bridge left behind
#include <windows.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/win32/program_path_win32.h"
#include "device/win32/device_handles_win32.h"
#include "device/win32/hid_host_win32.h"
#include "sim/net.h"
#include "sim/sim_hid_host.h"
#include "vframe/bridge/channel_bridge.h"
#include "vframe/pipe_frame.h"
#include "vframe/win32/vframe_devices.h"

namespace tactra::vframe {

namespace {

constexpr wchar_t kStopEventName[] = L"Local\\TactraVFrameBridgeStop";
// How long a plug may take: devices added, drivers connected, interfaces present.
constexpr std::chrono::milliseconds kPlugWait{30000};
// How long an unplug waits for Wine to finish removing the devices' interfaces.
constexpr std::chrono::milliseconds kUnplugWait{10000};
// How often the bridge checks that the frame still serves while nothing happens.
constexpr DWORD kAliveCheckMs = 1000;

void Say(const char* format, const std::string& text = {}) {
  std::printf("tactra-vframe-bridge: ");
  std::printf(format, text.c_str());
  std::printf("\n");
  std::fflush(stdout);
}

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return out;
}

// Counts the present HID interfaces with the frame's vendor and product ID.
int PresentInterfaces(uint16_t vendorId, uint16_t productId) {
  std::vector<HidInterface> interfaces;
  if (!EnumerateHidClass(interfaces)) return 0;
  int count = 0;
  for (const HidInterface& i : interfaces) {
    if (i.outcome == EnumOutcome::Ok && i.vendorId == vendorId && i.productId == productId) ++count;
  }
  return count;
}

class Bridge {
 public:
  Bridge(std::string host, uint16_t port, std::wstring inf)
      : host_(std::move(host)),
        port_(port),
        inf_(std::move(inf)),
        frame_(sim::CreateSimHidHost(host_, port_)) {}

  int Run(HANDLE stop) {
    // Whatever a bridge that was killed left behind would stand in the way of this one's devices.
    RemoveFrameDevices();
    registration_ = frame_->RegisterArrivalNotifications(
        nullptr, [this](DeviceNotice notice, const std::wstring& path) { Queue(notice, path); });
    if (!registration_) {
      Say("no simulated frame answers at %s", host_ + ":" + std::to_string(port_));
      return 1;
    }
    if (!AddArrived()) Say("the frame is not plugged in; waiting for it");
    int result = 0;
    for (;;) {
      const HANDLE waits[2] = {stop, noticed_.native()};
      const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, kAliveCheckMs);
      if (woke == WAIT_OBJECT_0) break;
      if (woke == WAIT_TIMEOUT) {
        if (!sim::net::Connect(host_, port_).valid()) {
          Say("the simulated frame has gone");
          break;
        }
        continue;
      }
      if (woke != WAIT_OBJECT_0 + 1) {
        result = 1;
        break;
      }
      HandleNotices();
    }
    Unplug();
    registration_.reset();
    return result;
  }

 private:
  void Queue(DeviceNotice notice, const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    notices_.emplace_back(notice, path);
    noticed_.Set();
  }

  void HandleNotices() {
    std::deque<std::pair<DeviceNotice, std::wstring>> taken;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      taken.swap(notices_);
      noticed_.Reset();
    }
    bool removal = false;
    bool arrival = false;
    for (const auto& [notice, path] : taken) {
      if (notice == DeviceNotice::Removal && IsServed(path)) removal = true;
      if (notice == DeviceNotice::Arrival) arrival = true;
    }
    if (removal) Unplug();
    if (arrival) AddArrived();
  }

  bool IsServed(const std::wstring& path) const {
    for (const std::wstring& p : paths_) {
      if (p == path) return true;
    }
    return false;
  }

  // Adds a device for each collection of the frame that has none yet, one after the other, each
  // once the one before is present, so that every collection arrives on its own. The frame's
  // collections arrive in order, so the n-th one enumerated is channel n. True while any is
  // served.
  bool AddArrived() {
    std::vector<HidInterface> interfaces = frame_->Enumerate();
    if (interfaces.size() > VFRAME_CHANNELS) interfaces.resize(VFRAME_CHANNELS);
    // Paths that are not the ones served: the frame went and came back between two notices.
    for (std::size_t i = 0; i < paths_.size(); ++i) {
      if (i >= interfaces.size() || interfaces[i].path != paths_[i]) {
        Unplug();
        break;
      }
    }
    const std::size_t before = channels_.size();
    for (std::size_t i = channels_.size(); i < interfaces.size(); ++i) {
      if (!AddCollection(static_cast<int>(i), interfaces[i])) {
        Unplug();
        return false;
      }
    }
    if (channels_.size() > before && channels_.size() == VFRAME_CHANNELS)
      Say("plugged %s collections", std::to_string(channels_.size()));
    return !channels_.empty();
  }

  bool AddCollection(int channel, const HidInterface& f) {
    auto bridge = std::make_unique<ChannelBridge>(*frame_, channel, f.path);
    if (!bridge->Start()) {
      Say("the pipe of collection %s cannot be created: is another bridge running?", std::to_string(channel));
      return false;
    }
    if (channels_.empty()) {
      vendorId_ = f.vendorId;
      productId_ = f.productId;
    }
    const Collection collection{channel,       f.vendorId,     f.productId,
                                f.inputLength, f.outputLength, ReportIdOfChannel(channel)};
    std::wstring error;
    if (!AddFrameDevices(inf_, {collection}, error)) {
      Say("the device cannot be added: %s", Narrow(error));
      return false;
    }
    channels_.push_back(std::move(bridge));
    paths_.push_back(f.path);
    const auto deadline = std::chrono::steady_clock::now() + kPlugWait;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (!channels_.back()->WaitConnected(left)) {
      Say("the driver did not connect in time");
      return false;
    }
    const int wanted = static_cast<int>(channels_.size());
    while (PresentInterfaces(vendorId_, productId_) < wanted) {
      if (std::chrono::steady_clock::now() > deadline) {
        Say("the devices' HID interfaces did not appear in time");
        return false;
      }
      Sleep(50);
    }
    Say("collection %s added", std::to_string(channel));
    return true;
  }

  void Unplug() {
    if (channels_.empty()) return;
    // Removing the devices first lets the driver end its reads and programs get their notices
    // while the pipes still stand.
    const int removed = RemoveFrameDevices();
    channels_.clear();
    paths_.clear();
    // Removal goes on in the driver's host after the class installer returns; "unplugged" means
    // the interfaces are gone, so that whatever runs next finds no half-removed device.
    const auto deadline = std::chrono::steady_clock::now() + kUnplugWait;
    while (PresentInterfaces(vendorId_, productId_) > 0 && std::chrono::steady_clock::now() < deadline)
      Sleep(50);
    Say("unplugged (%s devices removed)", std::to_string(removed));
  }

  std::string host_;
  uint16_t port_;
  std::wstring inf_;
  std::unique_ptr<HidHost> frame_;
  std::unique_ptr<NoticeRegistration> registration_;
  std::vector<std::unique_ptr<ChannelBridge>> channels_;
  std::vector<std::wstring> paths_;
  uint16_t vendorId_ = 0;
  uint16_t productId_ = 0;
  std::mutex mutex_;
  std::deque<std::pair<DeviceNotice, std::wstring>> notices_;
  Event noticed_;
};

HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
  SetEvent(g_stop);
  return TRUE;
}

int Usage() {
  std::printf(
      "usage: tactra-vframe-bridge --sim HOST:PORT [--inf PATH]\n"
      "       tactra-vframe-bridge --stop | --remove\n");
  return 2;
}

}  // namespace

int Main(int argc, wchar_t** argv) {
  std::string sim;
  std::wstring inf = win32::ProgramFolder() + L"tactra_vframe.inf";
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--stop") {
      win32::UniqueHandle stop(OpenEventW(EVENT_MODIFY_STATE, FALSE, kStopEventName));
      if (!stop) {
        Say("no bridge is running");
        return 1;
      }
      SetEvent(stop.get());
      return 0;
    }
    if (a == L"--remove") {
      const int removed = RemoveFrameDevices();
      Say("%s devices removed", std::to_string(removed));
      return removed < 0 ? 1 : 0;
    }
    if (a == L"--sim" && i + 1 < argc) {
      sim = Narrow(argv[++i]);
    } else if (a == L"--inf" && i + 1 < argc) {
      inf = argv[++i];
    } else {
      return Usage();
    }
  }
  std::string host;
  uint16_t port = 0;
  if (!sim::net::ParseHostPort(sim, host, port)) return Usage();
  win32::UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, kStopEventName));
  if (!stop) return 1;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    Say("another bridge is running");
    return 1;
  }
  g_stop = stop.get();
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  Bridge bridge(host, port, inf);
  const int result = bridge.Run(stop.get());
  Say("stopped");
  return result;
}

}  // namespace tactra::vframe

int wmain(int argc, wchar_t** argv) { return tactra::vframe::Main(argc, argv); }
