// The link to the frame: finds it among the HID interfaces, binds its collections as channels
// by report lengths, runs a reader and a write-completion worker per worker channel, writes
// commands and waits for their replies, and follows arrival and removal. One code serves both
// programs; their differences are a LinkConfig.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "device/event.h"
#include "device/hid_host.h"

namespace tactra {

constexpr int kChannelCount = 6;
constexpr std::size_t kReadBufferSize = 1024;

// Link states.
constexpr int kLinkNone = 0;     // no frame bound
constexpr int kLinkBound = 1;    // a frame is bound
constexpr int kLinkStarted = 2;  // console: calibration program started; calibration: begun

enum class ReplyFraming {
  Console,      // one read is one report
  Calibration,  // a read is cut into reports of the channel's input length
};

struct ChannelLengths {
  uint16_t input;
  uint16_t output;
};

struct LinkConfig {
  std::array<ChannelLengths, kChannelCount> channels;
  std::array<int, 3> workerChannels;
  std::chrono::milliseconds workerPause;
  std::chrono::milliseconds replyWait;
  ReplyFraming framing;
  int allocationMessage;  // shown when a detail record cannot be allocated
  int allocationCaption;
  bool stateFromStart;  // calibration program: Start sets the state to 1 (0 when none found)
};

LinkConfig ConsoleLinkConfig();
LinkConfig CalibrationLinkConfig();

// What the link hands its owner; called on a reader worker.
class LinkOwner {
 public:
  virtual ~LinkOwner() = default;
  // An accepted reply report; the reply event is signalled after this returns.
  virtual void OnDeviceReply(const uint8_t* report, std::size_t length) = 0;
  // A touch report (calibration program only).
  virtual void OnTouchReport(const uint8_t* /*report*/, std::size_t /*length*/) {}
  // A message the link itself raises (allocation failure while enumerating).
  virtual void OnLinkMessage(int /*textId*/, int /*captionId*/) {}
};

// What an arrival or removal notice led to, for the owner to report.
enum class NoticeOutcome {
  Nothing,
  Started,      // Start ran and found a frame
  StartFailed,  // Start ran and found none
  Removed,      // a bound frame went away: the state is now 0
};

// Pauses of the link (the workers' start). Tests pass a fast one.
using Sleeper = std::function<void(std::chrono::milliseconds)>;
void RealSleep(std::chrono::milliseconds duration);

class Link {
 public:
  Link(HidHost& host, LinkConfig config, Sleeper sleep = RealSleep);
  ~Link();  // ends the link
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  void SetOwner(LinkOwner* owner);

  int Open();
  bool Start();
  void StopWorkers();
  // Signals the stop event, waits for the workers and releases every binding.
  void End();

  int GetLinkState() const { return state_.load(); }
  void SetLinkState(int state) { state_.store(state); }
  bool HasDevices() const { return deviceCount_ > 0; }
  int GetDeviceCount() const { return deviceCount_; }
  int GetOutputLength(int channel) const;
  bool IsBoundPath(const std::wstring& path) const;

  bool Write(int channel, const uint8_t* buffer, std::size_t length);
  bool Transact(int channel, const uint8_t* buffer, std::size_t length);

  // The arrival and removal rules; the owner window calls it for each HID interface notice.
  NoticeOutcome OnDeviceNotice(DeviceNotice notice, const std::wstring& path);
  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void* window, NoticeCallback callback);

  const LinkConfig& config() const { return config_; }
  // Workers currently started (tests count them for leaks).
  int WorkerCount() const;

 private:
  struct Channel;
  void ReleaseBindings();
  void ReaderLoop(int channel);
  void WriteDoneLoop(int channel);
  void HandleRead(int channel, const uint8_t* data, std::size_t count);
  void JoinWorkers(std::vector<std::thread>& workers, std::vector<std::unique_ptr<Event>>& done);

  HidHost& host_;
  LinkConfig config_;
  Sleeper sleep_;
  std::atomic<LinkOwner*> owner_{nullptr};
  std::atomic<int> state_{kLinkNone};
  int deviceCount_ = 0;
  Event stop_;
  Event reply_;
  std::vector<std::unique_ptr<Channel>> channels_;
  std::vector<std::thread> readers_;
  std::vector<std::thread> writeWatchers_;
  std::vector<std::unique_ptr<Event>> readersDone_;
  std::vector<std::unique_ptr<Event>> writeWatchersDone_;
};

// The console's single link (CUSBTransfer::GetInstance): created on first use over the default
// host, alive until the process ends.
class CUSBTransfer : public Link {
 public:
  static CUSBTransfer& GetInstance();
  void SetOwner(LinkOwner* owner) { Link::SetOwner(owner); }

 private:
  explicit CUSBTransfer(std::unique_ptr<HidHost> host);
  std::unique_ptr<HidHost> ownedHost_;
};

}  // namespace tactra
