// A link port without a link: it records every report sent, answers from a script by handing
// the replies to the owner's handler on the sender's thread before Transact returns (as a reader
// worker does before it sets the reply event), and leaves a request unanswered when the script
// says nothing, so that Transact returns false as after its wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "device/link_port.h"
#include "device/protocol.h"

namespace tactra::test {

using Bytes = std::vector<uint8_t>;

struct SentReport {
  int channel;
  Bytes bytes;
};

// One ordered record of what several fakes saw ("send 1", "pause 50", ...).
class EventLog {
 public:
  void Add(std::string entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
  }
  std::vector<std::string> Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

class FakeLinkPort : public LinkPort {
 public:
  // The replies the frame sends to a written report; none leaves the request unanswered.
  std::function<std::vector<Bytes>(int channel, const Bytes& written)> responder;
  // Where replies go: the owner's reply handler.
  std::function<void(const uint8_t* report, std::size_t length)> onReply;
  EventLog* log = nullptr;  // "send <code>" for each report written
  std::atomic<int> state{kLinkBound};

  int GetLinkState() const override { return state.load(); }
  void SetLinkState(int s) override { state.store(s); }
  int GetOutputLength(int channel) const override {
    return channel == proto::kCalibrationChannel ? 48 : channel == proto::kSettingsChannel ? 64 : 0;
  }
  bool Transact(int channel, const uint8_t* report, std::size_t length) override {
    // Like the link's Write: nothing reaches a frame that is not bound.
    if (state.load() == kLinkNone) return false;
    Bytes bytes(report, report + length);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sent_.push_back({channel, bytes});
    }
    if (log) log->Add("send " + std::to_string(bytes.size() > 1 ? bytes[1] : 0));
    const std::vector<Bytes> replies = responder ? responder(channel, bytes) : std::vector<Bytes>{};
    for (const Bytes& reply : replies) {
      if (onReply) onReply(reply.data(), reply.size());
    }
    return !replies.empty();
  }

  std::vector<SentReport> Sent() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }
  void ForgetSent() {
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<SentReport> sent_;
};

// A reply report: ID, code, N, payload, 0xFF, zero-filled to `length`.
inline Bytes MakeReplyReport(uint8_t reportId, uint8_t code, const Bytes& payload, std::size_t length) {
  Bytes r(length, 0);
  r[0] = reportId;
  r[1] = code;
  r[2] = static_cast<uint8_t>(payload.size());
  for (std::size_t i = 0; i < payload.size(); ++i) r[3 + i] = payload[i];
  r[3 + payload.size()] = 0xFF;
  return r;
}

}  // namespace tactra::test
