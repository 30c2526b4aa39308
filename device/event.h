// A manual-reset event that the link's workers can wait on together with a pending read.
// Windows: a Win32 event. Elsewhere: an eventfd with an atomic flag, so waits order memory
// as the Win32 event does.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <initializer_list>

namespace tactra {

class Event {
 public:
#ifdef _WIN32
  using Native = void*;  // HANDLE
#else
  using Native = int;  // eventfd
#endif

  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when the event was set within the time-out.
  bool Wait(std::chrono::milliseconds timeout) const;
  void Wait() const;

  Native native() const { return native_; }

  // Events alive in the process; tests use it to find leaks.
  static long LiveCount();

 private:
  Native native_;
#ifndef _WIN32
  std::atomic<bool> set_{false};
#endif
};

constexpr std::chrono::milliseconds kInfinite{-1};

// Waits until one of the events is set: returns its index, or -1 on time-out.
// A negative time-out waits without limit.
int WaitAny(std::initializer_list<const Event*> events, std::chrono::milliseconds timeout);

}  // namespace tactra
