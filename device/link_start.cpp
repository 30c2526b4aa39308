#include "device/link_start.h"

#include <chrono>
#include <system_error>
#include <utility>

namespace tactra {

namespace {

constexpr std::chrono::milliseconds kOpeningWait{500};

}  // namespace

class LinkStart::Holder : public LinkOwner {
 public:
  explicit Holder(LinkOwner& owner) : owner_(owner) {}
  void OnDeviceReply(const uint8_t* report, std::size_t length) override {
    owner_.OnDeviceReply(report, length);
  }
  void OnTouchReport(const uint8_t* report, std::size_t length) override {
    owner_.OnTouchReport(report, length);
  }
  // The starting thread's: it waits for the window's thread.
  void OnLinkEvent(LinkEvent event) override { events_.push_back(event); }

  void HandOver() {
    for (LinkEvent event : events_) owner_.OnLinkEvent(event);
    events_.clear();
  }

 private:
  LinkOwner& owner_;
  std::vector<LinkEvent> events_;
};

LinkStart::LinkStart(Link& link, LinkOwner& owner, std::function<bool()> start)
    : link_(link), owner_(owner), start_(std::move(start)), holder_(std::make_unique<Holder>(owner)) {}

LinkStart::~LinkStart() {
  Wait();
  link_.SetOpenedHook(nullptr);
}

void LinkStart::Begin() {
  if (thread_.joinable()) return;
  link_.SetOwner(holder_.get());
  link_.SetOpenedHook([this] { opened_.Set(); });
  try {
    thread_ = std::thread([this] {
      started_ = start_();
      opened_.Set();  // also for a start that never came to open
    });
  } catch (const std::system_error&) {
    link_.SetOpenedHook(nullptr);
    link_.SetOwner(&owner_);  // Finish starts on the window's thread
    return;
  }
  // Opening is bounded by the host's answer limits; this wait only spares it the window's
  // competition, so it gives up well before those.
  opened_.Wait(kOpeningWait);
}

void LinkStart::Wait() {
  if (thread_.joinable()) thread_.join();
}

bool LinkStart::Finish(const NoticeCallback& missed) {
  if (!thread_.joinable()) {
    link_.SetOwner(&owner_);
    return start_();
  }
  // The window listens already, so what changed since the opening can be looked up while the
  // start still pauses rather than after it (without an event, only once it is over).
  if (opened_.valid()) {
    opened_.Wait();
  } else {
    Wait();
  }
  const auto changes = link_.ChangesSinceOpen();
  Wait();
  link_.SetOpenedHook(nullptr);
  link_.SetOwner(&owner_);
  holder_->HandOver();
  for (const auto& [notice, path] : changes) missed(notice, path);
  return started_;
}

}  // namespace tactra
