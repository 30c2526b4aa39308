// A manual-reset event that the link's workers can wait on together with a pending read.
// Windows: a Win32 event. Elsewhere: an eventfd with an atomic flag, so that a wait that sees
// the event set also sees what the setter wrote before it (as with a Win32 event).
#pragma once

#include <chrono>
#include <initializer_list>
#include <memory>

namespace tactra {

class Event {
 public:
#ifdef _WIN32
  using Native = void*;  // HANDLE
#else
  using Native = int;  // eventfd
#endif

  // Created non-signalled. `valid()` is false when the system had no event to give.
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when the event was set within the time-out (a negative time-out waits without limit).
  bool Wait(std::chrono::milliseconds timeout) const;
  void Wait() const;

  bool valid() const;
  Native native() const;
  // The longest a poll that waits for this event's descriptor may sleep: -1 (no limit) when the
  // descriptor wakes it, otherwise how often it must look at the event instead (an event without
  // a descriptor, the process having none to spare).
  int PollLimitMs() const;

  // Events alive in the process; tests use it to find leaks.
  static long LiveCount();

 private:
  // The platform's object and what Set and the waits need beside it.
  struct State;
  std::unique_ptr<State> state_;
  friend int WaitAny(std::initializer_list<const Event*>, std::chrono::milliseconds);
};

constexpr std::chrono::milliseconds kInfinite{-1};

// Waits until one of the events is set: returns the index of the first set one, or -1 on
// time-out. A negative time-out waits without limit. At most 64 events.
int WaitAny(std::initializer_list<const Event*> events, std::chrono::milliseconds timeout);

}  // namespace tactra
