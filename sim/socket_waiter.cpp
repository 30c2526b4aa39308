// What a socket waiter does the same everywhere; how it waits is in socket_waiter_posix.cpp and
// win32/socket_waiter_win32.cpp.
#include "sim/socket_waiter.h"

namespace tactra::sim {

SocketWaiter::Result SocketWaiter::Receive(uint8_t* buffer, std::size_t capacity, std::size_t& count,
                                           const Event& stop) {
  count = 0;
  if (!valid_) return Result::Failed;
  for (;;) {
    if (stop.IsSet()) return Result::Stopped;
    const long n = net::Recv(socket_, buffer, capacity);
    if (n > 0) {
      count = static_cast<std::size_t>(n);
      return Result::Received;
    }
    if (n != net::kWouldBlock) return Result::Closed;
    bool failed = false;
    if (!Wait(stop, failed)) return failed ? Result::Failed : Result::Stopped;
  }
}

bool SocketWaiter::Wait(const Event& stop, bool& failed) {
  const Wake wake = WaitFor(stop, nullptr);
  failed = wake == Wake::Failed;
  return wake == Wake::Socket;
}

SocketWaiter::Wake SocketWaiter::WaitReadable(const Event& stop, const Event& wake) {
  if (!valid_) return Wake::Failed;
  return WaitFor(stop, &wake);
}

}  // namespace tactra::sim
