#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "device/event.h"

namespace tactra {

namespace {

std::atomic<long> g_liveEvents{0};

// How often a wait on an event without a descriptor looks at its flag.
constexpr int kFlagCheckMs = 10;

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline` for poll(), rounded up so that a wait never ends early,
// and no more than `most` (negative: no bound).
int PollTimeout(bool infinite, Clock::time_point deadline, int most) {
  int ms = -1;
  if (!infinite) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    const auto rounded = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    ms = rounded > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(rounded);
  }
  if (most >= 0 && (ms < 0 || ms > most)) ms = most;
  return ms;
}

// The descriptor, closed once; -1 when the process had none to give.
class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace

struct Event::State {
  UniqueFd fd{eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)};
  // Set and Reset change the flag and the descriptor together, so a waiter never finds a
  // readable descriptor for a reset event for longer than a Reset takes.
  std::mutex change;
  std::atomic<bool> set{false};
};

Event::Event() : state_(std::make_unique<State>()) {
  if (state_->fd.valid()) g_liveEvents.fetch_add(1);
}

Event::~Event() {
  if (state_->fd.valid()) g_liveEvents.fetch_sub(1);
}

bool Event::valid() const { return state_->fd.valid(); }

Event::Native Event::native() const { return state_->fd.get(); }

int Event::PollLimitMs() const { return valid() ? -1 : kFlagCheckMs; }

void Event::Set() {
  std::lock_guard<std::mutex> lock(state_->change);
  if (state_->set.load(std::memory_order_relaxed)) return;
  state_->set.store(true, std::memory_order_release);
  const uint64_t one = 1;
  // The counter cannot overflow: it is drained on every Reset and written once per Set.
  [[maybe_unused]] ssize_t written = write(native(), &one, sizeof one);
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(state_->change);
  if (!state_->set.load(std::memory_order_relaxed)) return;
  state_->set.store(false, std::memory_order_release);
  uint64_t value = 0;
  [[maybe_unused]] ssize_t got = read(native(), &value, sizeof value);
}

bool Event::IsSet() const { return state_->set.load(std::memory_order_acquire); }

bool Event::Wait(std::chrono::milliseconds timeout) const { return WaitAny({this}, timeout) == 0; }

void Event::Wait() const { WaitAny({this}, kInfinite); }

long Event::LiveCount() { return g_liveEvents.load(); }

int WaitAny(std::initializer_list<const Event*> events, std::chrono::milliseconds timeout) {
  constexpr std::size_t kMaxEvents = 64;
  if (events.size() == 0 || events.size() > kMaxEvents) return -1;
  const bool infinite = timeout.count() < 0;
  const Clock::time_point deadline = infinite ? Clock::time_point::max() : Clock::now() + timeout;
  pollfd fds[kMaxEvents];
  for (;;) {
    // The flags decide; the descriptors only wake us.
    int index = 0;
    bool blind = false;
    for (const Event* event : events) {
      if (event->state_->set.load(std::memory_order_acquire)) return index;
      fds[index].fd = event->native();
      fds[index].events = POLLIN;
      fds[index].revents = 0;
      blind = blind || !event->valid();
      ++index;
    }
    if (!infinite && Clock::now() >= deadline) return -1;
    const int ready = poll(fds, static_cast<nfds_t>(events.size()),
                           PollTimeout(infinite, deadline, blind ? kFlagCheckMs : -1));
    if (ready < 0 && errno != EINTR) return -1;
  }
}

}  // namespace tactra
