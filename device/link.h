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
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "device/event.h"
#include "device/hid_host.h"
#include "device/link_port.h"
#include "device/protocol.h"

namespace tactra {

constexpr int kChannelCount = 6;
constexpr int kWorkerChannelCount = 3;
// How long StopWorkers waits for the readers, then for the write-completion workers.
constexpr std::chrono::milliseconds kWorkerStopWait{1000};

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
  std::array<int, kWorkerChannelCount> workerChannels;
  std::chrono::milliseconds workerPause;
  std::chrono::milliseconds replyWait;
  ReplyFraming framing;
  bool stateFromStart;     // calibration program: Start marks the link bound (unbound when none found)
  bool takesFrameSamples;  // calibration program: the samples the frame sends on its own reach the owner
  // Console: while no frame is bound any arrival looks for it again, since a frame plugged into
  // another port comes back at other paths; otherwise only an arrival of a bound path does.
  bool anyArrivalFindsAgain;
  // The channels without which the program cannot work (bit i: channel i). A frame whose
  // collections arrive one by one is bound again as each arrives until these are bound.
  uint8_t neededChannels;
};

LinkConfig ConsoleLinkConfig();
LinkConfig CalibrationLinkConfig();

// What happened inside the link that its owner reports in its own words.
enum class LinkEvent {
  EnumerationOutOfMemory,  // a detail record could not be allocated: enumeration stopped
};

// What the link hands its owner. An exception thrown by a handler ends there: it never
// reaches the link's workers.
class LinkOwner {
 public:
  virtual ~LinkOwner() = default;
  // Reader worker: an accepted reply that answers this program's request (one reply a request,
  // the first that matches), or a sample the frame sent on its own (when the configuration
  // takes them). When the request is the one Transact waits for, the reply event is signalled
  // after this returns.
  virtual void OnDeviceReply(const uint8_t* report, std::size_t length) = 0;
  // Reader worker: a touch report (calibration program only).
  virtual void OnTouchReport(const uint8_t* /*report*/, std::size_t /*length*/) {}
  // The thread that called Open or Start.
  virtual void OnLinkEvent(LinkEvent /*event*/) {}
};

// How Transact waits for the reply event: true when it was set within the time-out. The
// default blocks the calling thread; a window may keep handling its messages meanwhile.
using ReplyWaiter = std::function<bool(const Event& reply, std::chrono::milliseconds timeout)>;

// What an arrival or removal notice led to, for the owner to report.
enum class NoticeOutcome {
  Nothing,
  Started,      // Start ran and found a frame
  StartFailed,  // Start ran and found none
  Removed,      // a bound frame went away: the link is now unbound
};

// A pause of the workers' start: it began at `begun` and ends `length` later. Part of it may be
// over when it is called, spent opening the next channel's handles. Tests pass a fast one.
using Sleeper =
    std::function<void(std::chrono::steady_clock::time_point begun, std::chrono::milliseconds length)>;
void RealSleep(std::chrono::steady_clock::time_point begun, std::chrono::milliseconds length);

// Every operation but the workers runs on the user-interface thread. The owner must outlive
// the workers (it is called from them until StopWorkers or End returns).
class Link : public LinkPort {
 public:
  Link(HidHost& host, LinkConfig config, Sleeper sleep = RealSleep);
  ~Link() override;  // ends the link
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  void SetOwner(LinkOwner* owner);

  // Enumerates, binds and opens every bound channel's handles; returns the number of accepted
  // interfaces. Stops running workers first, because it replaces the handles they use.
  int Open();
  // Enumerates and binds as Open does, but opens only the first worker channel's handles before
  // its workers start; each further channel's open during the pause before its workers, the
  // other channels' during the last pause, so that the opening does not add to the pauses.
  bool Start();
  // Called by Start on its thread once the first channel is open, before the workers' pauses.
  void SetOpenedHook(std::function<void()> hook) { openedHook_ = std::move(hook); }
  // Signals the stop event, waits for the workers and re-arms the stop event. A worker still
  // busy after the waits (an owner handler that does not return) is waited for until it ends:
  // it uses the link, so it must not outlive its handles.
  void StopWorkers();
  // Signals the stop event, waits for the workers and releases every binding.
  void End();

  int GetLinkState() const override { return state_.load(); }
  void SetLinkState(int state) override { state_.store(state); }
  bool HasDevices() const { return deviceCount_ > 0; }
  int GetDeviceCount() const { return deviceCount_; }
  int GetOutputLength(int channel) const override;
  bool IsBoundPath(const std::wstring& path) const;
  // The path bound as `channel`, empty when none is.
  std::wstring BoundPath(int channel) const;
  bool NeededChannelsBound() const;

  bool Write(int channel, const uint8_t* buffer, std::size_t length);
  // Writes a request and waits for its reply: true once a reply with the request's key
  // (proto::KeyOf) has been handled within the wait. A reply that comes after the wait is still
  // handed to the owner, until the next request on that channel; any other reply is dropped.
  bool Transact(int channel, const uint8_t* buffer, std::size_t length) override;
  // Replaces how Transact waits; an empty waiter restores the blocking wait.
  void SetReplyWaiter(ReplyWaiter waiter) { waiter_ = std::move(waiter); }

  // The arrival and removal rules; the owner window calls it for each HID interface notice.
  NoticeOutcome OnDeviceNotice(DeviceNotice notice, const std::wstring& path);
  // Asks the host for arrival and removal notices. With the system's HID stack they arrive as
  // WM_DEVICECHANGE at `window`; other hosts call `callback` on a thread of their own, which
  // must hand the notice to the window's thread before it reaches OnDeviceNotice.
  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void* window, NoticeCallback callback);
  // The arrivals and removals since the last Open looked at the devices, as the notices that
  // would have told them: for a program that registers for notices after its start began.
  std::vector<std::pair<DeviceNotice, std::wstring>> ChangesSinceOpen() const;

  const LinkConfig& config() const { return config_; }
  // Worker threads started and not yet waited for.
  int WorkerCount() const { return static_cast<int>(workers_.size()); }
  // Worker threads still running (tests count them for leaks).
  int RunningWorkers() const { return running_.load(); }

 private:
  struct Channel;
  struct Worker;
  void ReleaseBindings();
  // Enumerates and binds paths to channels; no handle is opened yet.
  int Bind();
  void BindInterface(const HidInterface& device);
  void OpenChannel(int channel);
  void StartWorker(bool reader, int channel);
  void ReaderLoop(int channel);
  void WriteDoneLoop(int channel);
  void HandleRead(int channel, const uint8_t* data, std::size_t count);
  void WaitForWorkers();
  // The request a reply on `channel` answers (0: none); it takes no second reply.
  uint64_t Claim(int channel, const uint8_t* report, std::size_t length);
  // Ends the wait of `request` if Transact still waits for it.
  void Answered(uint64_t request);
  void ForgetRequests();
  // Calls the owner, if any; nothing a handler throws goes further.
  template <typename Call>
  void CallOwner(Call&& call);

  HidHost& host_;
  LinkConfig config_;
  Sleeper sleep_;
  std::function<void()> openedHook_;
  ReplyWaiter waiter_;
  std::atomic<LinkOwner*> owner_{nullptr};
  std::atomic<int> state_{kLinkNone};
  int deviceCount_ = 0;
  std::vector<std::wstring> openedPaths_;  // the frame's interfaces the last Open found
  Event stop_;
  Event reply_;
  std::array<std::unique_ptr<Channel>, kChannelCount> channels_;
  std::vector<std::unique_ptr<Worker>> workers_;
  std::atomic<int> running_{0};

  // The request each channel sent last, open until a reply takes it or the channel's next
  // request replaces it; the readers and the sender meet here.
  struct Awaited {
    proto::ReplyKey key;
    uint64_t request = 0;
    bool open = false;
  };
  std::mutex awaitMutex_;
  std::array<Awaited, kChannelCount> awaited_{};
  uint64_t lastRequest_ = 0;
  uint64_t waitingFor_ = 0;  // the request Transact waits for now, 0 while it waits for none
};

}  // namespace tactra
