// The least the link needs of the platform's HID stack. The Windows host, the simulator client
// and the tests' fake host implement it; the link's counting and binding rules stay portable.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/event.h"

namespace tactra {

// The largest input transfer a read takes.
constexpr std::size_t kReadBufferSize = 1024;

// True for the vendor and product pairs of the frame. Hosts read the report lengths of these
// interfaces only.
bool IsAcceptedDevice(uint16_t vendorId, uint16_t productId);

// Device paths and IDs compare without regard to case: the system hands out one path in
// different cases (enumeration and notices).
bool SamePathIgnoringCase(const std::wstring& a, const std::wstring& b);

// How far the enumeration of one interface got. The link decides from this what is counted.
enum class EnumOutcome {
  Ok,                // every step succeeded (the capability query may still have failed)
  DetailFailed,      // the detail record could not be read: skipped
  AllocationFailed,  // the detail record could not be allocated: enumeration stops
  QueryOpenFailed,   // the path could not be opened for query: skipped
  AttributesFailed,  // vendor and product ID unreadable: skipped
  PreparsedFailed,   // no preparsed data: skipped
};

struct HidInterface {
  std::wstring path;
  EnumOutcome outcome = EnumOutcome::Ok;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool capsOk = false;  // false: both report lengths count as 0
  uint16_t inputLength = 0;
  uint16_t outputLength = 0;
};

enum class ReadResult {
  Completed,    // `count` bytes arrived (0 after a removal)
  Stopped,      // the stop event was signalled first; a started read stays pending
  CannotStart,  // the read could not be started
};

// One path opened for reading, used by one reader worker. Destroying it cancels a pending read
// and closes it.
class HidReader {
 public:
  virtual ~HidReader() = default;
  // Reads one input transfer of up to `capacity` bytes, or returns when `stop` is set. A read
  // left pending by Stopped is the one the next call waits for, so no input is lost.
  virtual ReadResult Read(uint8_t* buffer, std::size_t capacity, std::size_t& count, const Event& stop) = 0;
};

// One path opened for writing, used by the user-interface thread (Write, CancelWrite) and by one
// write-completion worker (WaitWriteDone) at the same time. Destroying it cancels a pending write
// and closes it.
class HidWriter {
 public:
  virtual ~HidWriter() = default;
  // Starts a write that nobody waits for. True when it completed or is pending. The writer
  // keeps its own copy of the bytes while the write is in flight, so the caller's buffer is
  // free again at once; while that write is still in flight a further Write returns false.
  virtual bool Write(const uint8_t* data, std::size_t length) = 0;
  // Waits for the next completion of a write (true) or until `stop` is set (false).
  virtual bool WaitWriteDone(const Event& stop) = 0;
  // When nobody waits for a write any more: a write still in flight (a frame that stopped
  // taking reports) is cancelled, so that the next Write can go out. Nothing when none is in
  // flight.
  virtual void CancelWrite() = 0;
};

// How long a cancelled write may take to come back before the writer gives it up.
constexpr std::chrono::milliseconds kCancelLimit{200};

// Waits until `done()`, for at most `limit` as `now()` measures it, in waits on the completion's
// signal (`waitSignal(d)` returns when signalled or after about `d`, rounded up to the system's
// timer). True when done. Bounded by the clock rather than by a count of waits, so that a
// coarse timer cannot stretch it.
bool WaitBounded(const std::function<bool()>& done,
                 const std::function<void(std::chrono::milliseconds)>& waitSignal,
                 const std::function<std::chrono::steady_clock::time_point()>& now,
                 std::chrono::milliseconds limit);

enum class DeviceNotice { Arrival, Removal };

// Called with each arrival or removal of a HID interface, carrying its path.
using NoticeCallback = std::function<void(DeviceNotice, const std::wstring& path)>;

class NoticeRegistration {
 public:
  virtual ~NoticeRegistration() = default;
};

class HidHost {
 public:
  virtual ~HidHost() = default;
  // The present HID interfaces in enumeration order, each with the outcome of its steps.
  // Enumeration stops after an interface whose outcome is AllocationFailed.
  virtual std::vector<HidInterface> Enumerate() = 0;
  // Open a path for overlapped I/O in one direction; null when it cannot be opened.
  virtual std::unique_ptr<HidReader> OpenReader(const std::wstring& path) = 0;
  virtual std::unique_ptr<HidWriter> OpenWriter(const std::wstring& path) = 0;
  // Asks for arrival and removal notices of HID interfaces. `window` is the owner window's
  // handle where the platform delivers notices as window messages (the system HID stack);
  // other hosts call `callback` from a thread of their own. Null when registration failed.
  virtual std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void* window,
                                                                           NoticeCallback callback) = 0;
};

// A program's factory of the host it uses (composed at start: the system's or the simulator's).
using HidHostFactory = std::unique_ptr<HidHost> (*)();

// A host without devices: nothing present, nothing to open, no notices.
std::unique_ptr<HidHost> CreateAbsentHidHost();

}  // namespace tactra
