// The link's event on a Win32 manual-reset event, so that it can be waited on together with the
// event of an overlapped read.
#include <windows.h>

#include <atomic>

#include "common/win32/handles_win32.h"
#include "device/event.h"

namespace tactra {

namespace {

std::atomic<long> g_liveEvents{0};

DWORD ToWaitTime(std::chrono::milliseconds timeout) {
  if (timeout.count() < 0) return INFINITE;
  // INFINITE itself is not a finite time-out.
  if (timeout.count() >= static_cast<long long>(INFINITE)) return INFINITE - 1;
  return static_cast<DWORD>(timeout.count());
}

}  // namespace

struct Event::State {
  win32::UniqueHandle handle;
};

Event::Event() : state_(std::make_unique<State>()) {
  state_->handle.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (state_->handle) g_liveEvents.fetch_add(1);
}

Event::~Event() {
  if (state_->handle) g_liveEvents.fetch_sub(1);
}

bool Event::valid() const { return state_->handle.valid(); }

Event::Native Event::native() const { return state_->handle.get(); }

// A wait on the handle itself is never blind.
int Event::PollLimitMs() const { return -1; }

void Event::Set() { SetEvent(native()); }

void Event::Reset() { ResetEvent(native()); }

bool Event::IsSet() const { return WaitForSingleObject(native(), 0) == WAIT_OBJECT_0; }

bool Event::Wait(std::chrono::milliseconds timeout) const {
  return WaitForSingleObject(native(), ToWaitTime(timeout)) == WAIT_OBJECT_0;
}

void Event::Wait() const { WaitForSingleObject(native(), INFINITE); }

long Event::LiveCount() { return g_liveEvents.load(); }

int WaitAny(std::initializer_list<const Event*> events, std::chrono::milliseconds timeout) {
  if (events.size() == 0 || events.size() > MAXIMUM_WAIT_OBJECTS) return -1;
  HANDLE handles[MAXIMUM_WAIT_OBJECTS];
  DWORD count = 0;
  for (const Event* event : events) handles[count++] = event->native();
  const DWORD result = WaitForMultipleObjects(count, handles, FALSE, ToWaitTime(timeout));
  if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count)
    return static_cast<int>(result - WAIT_OBJECT_0);
  return -1;
}

}  // namespace tactra
