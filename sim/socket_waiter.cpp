#include "sim/socket_waiter.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>

#include <cerrno>
#endif

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

#ifdef _WIN32

SocketWaiter::SocketWaiter(const net::Socket& socket) : socket_(socket) {
  WSAEVENT event = WSACreateEvent();
  if (event == WSA_INVALID_EVENT) return;
  event_ = event;
  // The socket event is signalled when data arrives or the peer closes; it makes the socket
  // non-blocking as well.
  valid_ = WSAEventSelect(socket_.native(), event, FD_READ | FD_CLOSE) == 0;
}

SocketWaiter::~SocketWaiter() {
  if (event_ != nullptr) {
    WSAEventSelect(socket_.native(), nullptr, 0);
    WSACloseEvent(static_cast<WSAEVENT>(event_));
  }
}

bool SocketWaiter::Wait(const Event& stop, bool& failed) {
  if (closed_) return true;
  HANDLE handles[2] = {static_cast<HANDLE>(stop.native()), static_cast<HANDLE>(event_)};
  const DWORD got = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (got == WAIT_OBJECT_0) return false;
  WSANETWORKEVENTS happened;
  // Clears the event; FD_READ is recorded again by the next data, FD_CLOSE never again.
  failed = got != WAIT_OBJECT_0 + 1 ||
           WSAEnumNetworkEvents(socket_.native(), static_cast<WSAEVENT>(event_), &happened) != 0;
  if (failed) return false;
  closed_ = (happened.lNetworkEvents & FD_CLOSE) != 0;
  return true;
}

#else

SocketWaiter::SocketWaiter(const net::Socket& socket) : socket_(socket) {
  valid_ = net::SetNonBlocking(socket, true);
}

SocketWaiter::~SocketWaiter() = default;

bool SocketWaiter::Wait(const Event& stop, bool& failed) {
  for (;;) {
    if (stop.IsSet()) return false;
    pollfd fds[2] = {{socket_.native(), POLLIN, 0}, {stop.native(), POLLIN, 0}};
    const int n = ::poll(fds, 2, stop.PollLimitMs());
    if (n < 0) {
      if (errno == EINTR) continue;
      failed = true;
      return false;
    }
    if (stop.IsSet()) return false;
    if (fds[0].revents != 0) return true;
  }
}

#endif

}  // namespace tactra::sim
