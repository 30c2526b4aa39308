// A scripted HID host for the link's tests: interfaces with any enumeration outcome, devices that
// answer writes at once, later or never, input that arrives before a write, removal while a read
// waits, reads that cannot start; it counts what is alive so that tests can find leaks.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/event.h"
#include "device/hid_host.h"
#include "device/link.h"

namespace tactra::test {

using Bytes = std::vector<uint8_t>;

struct FakeReply {
  Bytes bytes;
  std::chrono::milliseconds delay{0};
};

// Given the bytes of a write, the input the device sends back (empty: no answer at all).
using Responder = std::function<std::vector<FakeReply>(const Bytes& written)>;

struct FakeCounters {
  std::atomic<int> liveHandles{0};
  std::atomic<int> openCalls{0};
  std::atomic<int> liveRegistrations{0};
};

// One HID interface (one path) of a fake device. Safe to script from the test thread while
// the link's workers use it.
class FakeInterface {
 public:
  explicit FakeInterface(HidInterface info) : info_(std::move(info)) {}

  const HidInterface& info() const { return info_; }

  // Scripting; set before the link opens the path.
  bool readOpenFails = false;
  bool writeOpenFails = false;
  std::atomic<bool> readCannotStart{false};
  std::atomic<bool> writeFails{false};
  std::atomic<bool> writeStalls{false};  // a write stays in flight until CompleteStalledWrite
  void SetResponder(Responder responder);

  // Input from the device, due after `delay`.
  void Deliver(const Bytes& bytes, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
  // The device goes away: a waiting read completes with 0 bytes, later reads cannot start,
  // writes fail.
  void Remove();
  void CompleteStalledWrite();
  void CancelWrite();
  int CancelledWrites() const { return cancelledWrites_.load(); }

  std::vector<Bytes> Written() const;
  int WriteCalls() const { return writeCalls_.load(); }
  int ReadStarts() const { return readStarts_.load(); }
  // Reads that could not start (readCannotStart, or after the removal).
  int RefusedReads() const { return refusedReads_.load(); }

  // Used by the fake handles.
  ReadResult Read(uint8_t* buffer, std::size_t capacity, std::size_t& count, const Event& stop);
  bool Write(const uint8_t* data, std::size_t length);
  bool WaitWriteDone(const Event& stop);

 private:
  using Clock = std::chrono::steady_clock;
  HidInterface info_;
  mutable std::mutex mutex_;
  Responder responder_;
  std::multimap<Clock::time_point, Bytes> input_;
  std::vector<Bytes> written_;
  bool removed_ = false;
  bool readPending_ = false;
  bool writeInFlight_ = false;
  Event inputReady_;
  Event writeDone_;
  std::atomic<int> writeCalls_{0};
  std::atomic<int> cancelledWrites_{0};
  std::atomic<int> readStarts_{0};
  std::atomic<int> refusedReads_{0};
};

class FakeHidHost : public HidHost {
 public:
  FakeHidHost() : counters_(std::make_shared<FakeCounters>()) {}

  // Adds an interface at the end of the enumeration order.
  std::shared_ptr<FakeInterface> Add(HidInterface info);
  // Adds the six collections of a frame whose lengths are those of `config`, paths
  // `prefix` + "&col0<channel>".
  std::vector<std::shared_ptr<FakeInterface>> AddFrame(const std::wstring& prefix, const LinkConfig& config,
                                                       uint16_t vendorId = 0x595A,
                                                       uint16_t productId = 0x0008);
  // Takes the interface out of the enumeration and removes its device.
  void Unplug(const std::wstring& path);
  std::shared_ptr<FakeInterface> Find(const std::wstring& path) const;

  // Called with the path of each open, either direction, before it is looked up; set before
  // the link opens.
  std::function<void(const std::wstring& path)> onOpen;

  // Calls the registered notice callback, as a host with a thread of its own would.
  void Fire(DeviceNotice notice, const std::wstring& path);

  int LiveHandles() const { return counters_->liveHandles.load(); }
  int OpenCalls() const { return counters_->openCalls.load(); }
  int LiveRegistrations() const { return counters_->liveRegistrations.load(); }
  int EnumerateCalls() const { return enumerateCalls_.load(); }

  std::vector<HidInterface> Enumerate() override;
  std::unique_ptr<HidReader> OpenReader(const std::wstring& path) override;
  std::unique_ptr<HidWriter> OpenWriter(const std::wstring& path) override;
  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void* window,
                                                                   NoticeCallback callback) override;

 private:
  // The present interface at `path` unless its open in that direction is set to fail.
  std::shared_ptr<FakeInterface> FindToOpen(const std::wstring& path, bool reading);

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<FakeInterface>> present_;
  std::shared_ptr<FakeCounters> counters_;
  NoticeCallback callback_;
  std::atomic<int> enumerateCalls_{0};
};

// A console-framed reply: ID, code, N, payload, 0xFF.
Bytes MakeReply(uint8_t reportId, uint8_t code, const Bytes& payload);
// Answers every write with one reply of the written report's ID and code, payload [1, 1],
// zero-filled to the written length, after `delay`.
Responder EchoResponder(std::chrono::milliseconds delay = std::chrono::milliseconds(0));

// Threads of this process, or -1 where the system does not say.
int ProcessThreadCount();

}  // namespace tactra::test
