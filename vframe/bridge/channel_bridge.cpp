#include "vframe/bridge/channel_bridge.h"

#include <cstdio>
#include <initializer_list>
#include <iterator>

#include "vframe/pipe_frame.h"

namespace tactra::vframe {

namespace {

// Room for several reports each way, so neither side waits on the other in normal traffic.
constexpr DWORD kPipeBuffer = 64 * 1024;

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
  std::unique_ptr<HidHandle> read = frame_.Open(framePath_, Access::Read);
  std::unique_ptr<HidHandle> write = frame_.Open(framePath_, Access::Write);
  if (!read || !write) {
    std::printf("tactra-vframe-bridge: collection %d cannot be opened on the frame\n", channel_);
    std::fflush(stdout);
    return;
  }
  win32::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  Event inputStop;
  Event inputEnded;
  if (!event || !inputStop.valid() || !inputEnded.valid()) return;
  std::thread input([&] {
    ForwardInput(*read, inputStop);
    inputEnded.Set();
  });
  // Either side ending ends both: the driver's pipe closing, the frame's handle closing, or a stop.
  struct vframe_decoder decoder;
  vframe_decoder_reset(&decoder);
  uint8_t chunk[VFRAME_MAX_FRAME];
  for (;;) {
    OVERLAPPED overlapped = Armed(event);
    if (!ReadFile(pipe_.get(), chunk, sizeof chunk, nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      break;
    }
    DWORD got = 0;
    if (!Finish(pipe_.get(), overlapped, {&stop_, &inputEnded}, got)) break;
    // A report the frame's interface refuses (wrong length) is dropped, as the system's HID
    // stack would refuse it; the class driver above already checks the length.
    const auto forward = [](void* to, const unsigned char* report, std::size_t length) {
      static_cast<HidHandle*>(to)->Write(report, length);
    };
    const bool broken = !vframe_take(&decoder, chunk, got, forward, write.get());
    if (broken) {
      std::printf("tactra-vframe-bridge: collection %d: the driver sent a malformed frame\n", channel_);
      std::fflush(stdout);
      break;
    }
  }
  inputStop.Set();
  input.join();
}

void ChannelBridge::ForwardInput(HidHandle& read, const Event& stop) {
  win32::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!event) return;
  uint8_t report[kReadBufferSize];
  uint8_t frame[VFRAME_MAX_FRAME];
  for (;;) {
    std::size_t count = 0;
    // An empty read: the frame closed the handle (unplugged or gone).
    if (read.Read(report, sizeof report, count, stop) != ReadResult::Completed || count == 0) return;
    const std::size_t length = vframe_encode(report, count, frame, sizeof frame);
    if (length == 0) continue;
    OVERLAPPED overlapped = Armed(event);
    DWORD written = 0;
    if (!WriteFile(pipe_.get(), frame, static_cast<DWORD>(length), nullptr, &overlapped) &&
        GetLastError() != ERROR_IO_PENDING) {
      return;
    }
    if (!Finish(pipe_.get(), overlapped, {&stop}, written) || written != length) return;
  }
}

}  // namespace tactra::vframe
