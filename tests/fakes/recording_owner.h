// A link owner that records what the link hands it, for the tests of the link over any host.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "device/link.h"

namespace tactra::test {

using Bytes = std::vector<uint8_t>;

class RecordingOwner : public LinkOwner {
 public:
  // Runs inside OnDeviceReply before the report is recorded (for slow or blocking handlers).
  std::function<void(const Bytes&)> onReply;

  void OnDeviceReply(const uint8_t* report, std::size_t length) override {
    Bytes bytes(report, report + length);
    if (onReply) onReply(bytes);
    std::lock_guard<std::mutex> lock(mutex_);
    replies_.push_back(std::move(bytes));
    changed_.notify_all();
  }
  void OnTouchReport(const uint8_t* report, std::size_t length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    touches_.emplace_back(report, report + length);
    changed_.notify_all();
  }
  void OnLinkEvent(LinkEvent event) override {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(event);
  }

  std::vector<Bytes> Replies() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return replies_;
  }
  std::vector<Bytes> Touches() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return touches_;
  }
  Bytes LastReply() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return replies_.empty() ? Bytes{} : replies_.back();
  }
  std::vector<LinkEvent> Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  // Waits until `count` replies have been recorded.
  bool WaitForReplies(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return replies_.size() >= count; });
  }
  bool WaitForTouches(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return touches_.size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Bytes> replies_;
  std::vector<Bytes> touches_;
  std::vector<LinkEvent> events_;
};

}  // namespace tactra::test
