// A simulated frame served in-process on a free loopback port, with the simulator host, a
// recording link owner and a control shortcut, for the link-level tests and the benchmark.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/link.h"
#include "device/protocol.h"
#include "sim/control_client.h"
#include "sim/server.h"
#include "sim/sim_hid_host.h"
#include "tests/fakes/recording_owner.h"

namespace tactra::sim::testing {

using tactra::test::Bytes;
using tactra::test::RecordingOwner;

class ServedFrame {
 public:
  explicit ServedFrame(ServerOptions options = {}) {
    options.port = 0;
    server_ = std::make_unique<FrameServer>(options);
    listening_ = server_->Listen();
    if (listening_) thread_ = std::thread([this] { server_->Run(); });
  }
  ~ServedFrame() {
    if (listening_) {
      Ctl({"quit"});
      thread_.join();
    }
  }
  bool listening() const { return listening_; }
  uint16_t port() const { return server_->port(); }
  std::unique_ptr<HidHost> Host() const { return CreateSimHidHost("127.0.0.1", port()); }
  int Ctl(const std::vector<std::string>& args, std::string* output = nullptr) const {
    std::string text;
    const int code = RunControl("127.0.0.1", port(), args, text);
    if (output != nullptr) *output = text;
    return code;
  }

 private:
  std::unique_ptr<FrameServer> server_;
  bool listening_ = false;
  std::thread thread_;
};

// Collects the host's notices; the test thread hands them to the link as a window would.
class NoticeLog {
 public:
  NoticeCallback Callback() {
    return [this](DeviceNotice kind, const std::wstring& path) {
      std::lock_guard<std::mutex> lock(mutex_);
      notices_.emplace_back(kind, path);
      changed_.notify_all();
    };
  }
  bool Wait(std::size_t n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return notices_.size() >= n; });
  }
  std::vector<std::pair<DeviceNotice, std::wstring>> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(notices_);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::pair<DeviceNotice, std::wstring>> notices_;
};

inline void NoSleep(std::chrono::steady_clock::time_point, std::chrono::milliseconds) {}

inline Bytes Command(uint8_t id, uint8_t code, Bytes payload = {}) {
  proto::ReportBuffer b;
  proto::BuildCommand(b, id, code, payload.data(), payload.size());
  return Bytes(b.begin(), b.end());
}

// A started link of one program over its own simulator host.
struct ProgramLink {
  ProgramLink(std::unique_ptr<HidHost> simHost, LinkConfig linkConfig)
      : host(std::move(simHost)), config(linkConfig), link(*host, config, NoSleep) {
    link.SetOwner(&owner);
  }
  ProgramLink(const ServedFrame& frame, LinkConfig linkConfig) : ProgramLink(frame.Host(), linkConfig) {}
  ~ProgramLink() { link.End(); }
  bool Send(uint8_t id, uint8_t code, Bytes payload = {}) {
    const Bytes c = Command(id, code, std::move(payload));
    const int channel =
        id == proto::kCalibrationReportId ? proto::kCalibrationChannel : proto::kSettingsChannel;
    return link.Transact(channel, c.data(), static_cast<std::size_t>(link.GetOutputLength(channel)));
  }
  std::unique_ptr<HidHost> host;
  LinkConfig config;
  RecordingOwner owner;
  Link link;
};

}  // namespace tactra::sim::testing
