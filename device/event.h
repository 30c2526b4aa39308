// A manual-reset event that the link's workers can wait on together with a pending read.
// Windows: a Win32 event. Elsewhere: an eventfd with an atomic flag, so that a wait that sees
// the event set also sees what the setter wrote before it (as with a Win32 event).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <initializer_list>
#ifndef _WIN32
#include <mutex>
#endif

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
  Native native() const { return native_; }
#ifndef _WIN32
  // An event without a descriptor (the process had none to spare) cannot wake a poll: a poll
  // that waits for it looks at its flag this often instead.
  static constexpr int kFlagCheckMs = 10;
  // The longest a poll that waits for this event may sleep: -1 (no limit) when it can wake it.
  int PollLimitMs() const { return valid() ? -1 : kFlagCheckMs; }
#endif

  // Events alive in the process; tests use it to find leaks.
  static long LiveCount();

 private:
  Native native_;
#ifndef _WIN32
  // Set and Reset change the flag and the descriptor together, so a waiter never finds a
  // readable descriptor for a reset event for longer than a Reset takes.
  std::mutex change_;
  std::atomic<bool> set_{false};
  friend int WaitAny(std::initializer_list<const Event*>, std::chrono::milliseconds);
#endif
};

constexpr std::chrono::milliseconds kInfinite{-1};

// Waits until one of the events is set: returns the index of the first set one, or -1 on
// time-out. A negative time-out waits without limit. At most 64 events.
int WaitAny(std::initializer_list<const Event*> events, std::chrono::milliseconds timeout);

}  // namespace tactra
