#include "vframe/bridge/channel_bridge.h"

#include <condition_variable>
#include <cstdio>
#include <initializer_list>
#include <iterator>

#include "vframe/pipe_frame.h"

namespace tactra::vframe {

namespace {

// Room for several reports each way, so neither side waits on the other in normal traffic.
constexpr DWORD kPipeBuffer = 64 * 1024;
// Reports waiting for the frame; the driver holds at most VFRAME_MAX_HELD writes, so more come
// only from a driver that lost count, and are reported not taken at once.
constexpr std::size_t kMaxQueued = 2 * VFRAME_MAX_HELD;

// Sets its event once a time has passed: a time limit for waits that end only on an event.
class Alarm {
 public:
  Alarm() : thread_([this] { Run(); }) {}
  ~Alarm() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  Alarm(const Alarm&) = delete;
  Alarm& operator=(const Alarm&) = delete;

  const Event& event() const { return rang_; }
  void Set(std::chrono::milliseconds after) { Arm(true, after); }
  void Clear() { Arm(false, std::chrono::milliseconds(0)); }
  // Ends the current wait now (and every later one until Set or Clear).
  void RingNow() {
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    rang_.Set();
  }

 private:
  void Arm(bool armed, std::chrono::milliseconds after) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      rang_.Reset();
      armed_ = armed;
      due_ = std::chrono::steady_clock::now() + after;
    }
    changed_.notify_all();
  }
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
      if (!armed_) {
        changed_.wait(lock);
      } else if (changed_.wait_until(lock, due_) == std::cv_status::timeout && armed_ &&
                 std::chrono::steady_clock::now() >= due_) {
        armed_ = false;
        rang_.Set();
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  bool quit_ = false;
  bool armed_ = false;
  std::chrono::steady_clock::time_point due_;
  Event rang_;
  std::thread thread_;
};

// Waits for an overlapped operation on `file` to finish, or cancels it when one of `stops` is set
// first (false). The OVERLAPPED is done with either way.
bool Finish(HANDLE file, OVERLAPPED& overlapped, std::initializer_list<const Event*> stops,
            DWORD& transferred) {
  HANDLE waits[3] = {overlapped.hEvent};
  DWORD count = 1;
  for (const Event* stop : stops) {
    if (count < std::size(waits)) waits[count++] = stop->native();
  }
  if (WaitForMultipleObjects(count, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
    CancelIoEx(file, &overlapped);
    GetOverlappedResult(file, &overlapped, &transferred, TRUE);
    return false;
  }
  return GetOverlappedResult(file, &overlapped, &transferred, FALSE) != FALSE;
}

// Starts an overlapped operation's bookkeeping on a fresh OVERLAPPED.
OVERLAPPED Armed(const win32::UniqueHandle& event) {
  ResetEvent(event.get());
  OVERLAPPED overlapped{};
  overlapped.hEvent = event.get();
  return overlapped;
}

}  // namespace

ChannelBridge::ChannelBridge(HidHost& frame, int channel, std::wstring framePath)
    : frame_(frame), channel_(channel), framePath_(std::move(framePath)) {}

ChannelBridge::~ChannelBridge() {
  stop_.Set();
  if (thread_.joinable()) thread_.join();
}

bool ChannelBridge::Start() {
  const std::wstring name = std::wstring(L"\\\\.\\pipe\\") + VFRAME_PIPE_PREFIX_W + std::to_wstring(channel_);
  // One instance: a second bridge cannot take a collection this one serves.
  pipe_.reset(CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, kPipeBuffer, kPipeBuffer, 0, nullptr));
  if (!pipe_) return false;
  pipeWriteEvent_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!pipeWriteEvent_) return false;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void ChannelBridge::Run() {
  while (!stop_.IsSet()) {
    if (!AwaitDriver()) {
      // Nothing to wait for (the pipe failed) or stopping: do not spin.
      if (stop_.Wait(std::chrono::milliseconds(100))) return;
      continue;
    }
    connected_.Set();
    Serve();
    DisconnectNamedPipe(pipe_.get());
    // The driver reconnects at once; a frame that cannot be opened must not make that a spin.
    if (stop_.Wait(std::chrono::milliseconds(50))) return;
  }
}

bool ChannelBridge::AwaitDriver() {
  win32::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return false;
  OVERLAPPED overlapped = Armed(event);
  if (ConnectNamedPipe(pipe_.get(), &overlapped)) return true;
  const DWORD error = GetLastError();
  if (error == ERROR_PIPE_CONNECTED) return true;
  if (error != ERROR_IO_PENDING) return false;
  DWORD ignored = 0;
  return Finish(pipe_.get(), overlapped, {&stop_}, ignored);
}

void ChannelBridge::Serve() {
  std::unique_ptr<HidReader> read = frame_.OpenReader(framePath_);
  std::unique_ptr<HidWriter> write = frame_.OpenWriter(framePath_);
  if (!read || !write) {
    std::printf("tactra-vframe-bridge: collection %d cannot be opened on the frame\n", channel_);
    std::fflush(stdout);
    return;
  }
  win32::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Event inputStop;
  Event inputEnded;
  Event outputStop;
  if (!event || !inputStop.valid() || !inputEnded.valid() || !outputStop.valid()) return;
  {
    std::lock_guard<std::mutex> lock(outputMutex_);
    outputs_.clear();
    outputQueued_.Reset();
  }
  std::thread input([&] {
    ForwardInput(*read, inputStop);
    inputEnded.Set();
  });
  std::thread output([&] { ForwardOutput(*write, outputStop); });
  // Either side ending ends both: the driver's pipe closing, the frame's handle closing, or a stop.
  struct vframe_decoder decoder;
  vframe_decoder_reset(&decoder);
  uint8_t chunk[VFRAME_MAX_FRAME];
  // The driver numbers the reports of each connection from 1; so does this side.
  struct Numbered {
    ChannelBridge* self;
    const Event* stop;
    unsigned received;
  } numbered{this, &outputStop, 0};
  const auto take = [](void* to, const unsigned char* report, std::size_t length) {
    auto* n = static_cast<Numbered*>(to);
    n->received = (n->received + 1) & VFRAME_SEQ_MASK;
    n->self->QueueOutput(n->received, report, length, *n->stop);
  };
  for (;;) {
    OVERLAPPED overlapped = Armed(event);
    if (!ReadFile(pipe_.get(), chunk, sizeof chunk, nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      break;
    }
    DWORD got = 0;
    if (!Finish(pipe_.get(), overlapped, {&stop_, &inputEnded}, got)) break;
    // The driver sends reports only; an acknowledgement from it breaks the stream.
    if (!vframe_take(&decoder, chunk, got, take, nullptr, &numbered)) {
      std::printf("tactra-vframe-bridge: collection %d: the driver sent a malformed frame\n", channel_);
      std::fflush(stdout);
      break;
    }
  }
  outputStop.Set();
  inputStop.Set();
  output.join();
  input.join();
}

void ChannelBridge::QueueOutput(unsigned seq, const uint8_t* report, std::size_t length, const Event& stop) {
  {
    std::lock_guard<std::mutex> lock(outputMutex_);
    if (outputs_.size() < kMaxQueued) {
      outputs_.push_back({seq, std::vector<uint8_t>(report, report + length)});
      outputQueued_.Set();
      return;
    }
  }
  Acknowledge(seq, false, stop);
}

void ChannelBridge::ForwardOutput(HidWriter& write, const Event& stop) {
  Alarm hold;
  // Ends a wait for the frame at once when the collection stops being served.
  std::thread stopper([&] {
    stop.Wait();
    hold.RingNow();
  });
  for (;;) {
    if (WaitAny({&stop, &outputQueued_}, kInfinite) != 1) break;
    Output next;
    {
      std::lock_guard<std::mutex> lock(outputMutex_);
      if (outputs_.empty()) {
        outputQueued_.Reset();
        continue;
      }
      next = std::move(outputs_.front());
      outputs_.pop_front();
    }
    // A report the frame's interface refuses (wrong length) is not taken, as the system's HID
    // stack would refuse it; the class driver above already checks the length.
    bool taken = false;
    if (write.Write(next.report.data(), next.report.size())) {
      hold.Set(std::chrono::milliseconds(VFRAME_HOLD_MS));
      taken = write.WaitWriteDone(hold.event());
      hold.Clear();
      if (!taken) {
        // The frame did not take it in time (a stalled channel): it goes, and the next one may.
        write.CancelWrite();
        write.WaitWriteDone(stop);  // the cancelled write's end
      }
    }
    if (stop.IsSet()) break;
    Acknowledge(next.seq, taken, stop);
  }
  stop.Wait();
  stopper.join();
}

bool ChannelBridge::Acknowledge(unsigned seq, bool taken, const Event& stop) {
  uint8_t frame[VFRAME_FRAME_HEADER];
  const std::size_t length = vframe_encode_ack(seq, taken ? 1 : 0, frame, sizeof frame);
  return ToDriver(frame, length, stop);
}

bool ChannelBridge::ToDriver(const uint8_t* frame, std::size_t length, const Event& stop) {
  std::lock_guard<std::mutex> lock(pipeWrite_);
  OVERLAPPED overlapped = Armed(pipeWriteEvent_);
  DWORD written = 0;
  if (!WriteFile(pipe_.get(), frame, static_cast<DWORD>(length), nullptr, &overlapped) &&
      GetLastError() != ERROR_IO_PENDING) {
    return false;
  }
  return Finish(pipe_.get(), overlapped, {&stop}, written) && written == length;
}

void ChannelBridge::ForwardInput(HidReader& read, const Event& stop) {
  uint8_t report[kReadBufferSize];
  uint8_t frame[VFRAME_MAX_FRAME];
  for (;;) {
    std::size_t count = 0;
    // An empty read: the frame closed the handle (unplugged or gone).
    if (read.Read(report, sizeof report, count, stop) != ReadResult::Completed || count == 0) return;
    const std::size_t length = vframe_encode(report, count, frame, sizeof frame);
    if (length == 0) continue;
    if (!ToDriver(frame, length, stop)) return;
  }
}

}  // namespace tactra::vframe
