#include "sim/socket_waiter.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <poll.h>

#include <cerrno>
#endif

namespace tactra::sim {

#ifdef _WIN32

SocketWaiter::SocketWaiter(const net::Socket& socket) : socket_(socket.native()) {
  WSAEVENT event = WSACreateEvent();
  if (event == WSA_INVALID_EVENT) return;
  event_ = event;
  // The socket event is signalled while data or the peer's close waits; it makes the socket
  // non-blocking as well.
  valid_ = WSAEventSelect(socket_, event, FD_READ | FD_CLOSE) == 0;
}

SocketWaiter::~SocketWaiter() {
  if (event_ != nullptr) {
    WSAEventSelect(socket_, nullptr, 0);
    WSACloseEvent(static_cast<WSAEVENT>(event_));
  }
}

SocketWaiter::Result SocketWaiter::Wait(const Event& stop) {
  if (!valid_) return Result::Failed;
  if (stop.IsSet()) return Result::Stopped;
  HANDLE handles[2] = {static_cast<HANDLE>(stop.native()), static_cast<HANDLE>(event_)};
  const DWORD got = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (got == WAIT_OBJECT_0) return Result::Stopped;
  if (got != WAIT_OBJECT_0 + 1) return Result::Failed;
  // Clears the event; FD_READ is recorded again after the next receive leaves data behind.
  WSANETWORKEVENTS happened;
  if (WSAEnumNetworkEvents(socket_, static_cast<WSAEVENT>(event_), &happened) != 0) return Result::Failed;
  return Result::Readable;
}

#else

SocketWaiter::SocketWaiter(const net::Socket& socket) : socket_(socket.native()) {
  valid_ = net::SetNonBlocking(socket, true);
}

SocketWaiter::~SocketWaiter() = default;

SocketWaiter::Result SocketWaiter::Wait(const Event& stop) {
  if (!valid_) return Result::Failed;
  for (;;) {
    if (stop.IsSet()) return Result::Stopped;
    pollfd fds[2] = {{socket_, POLLIN, 0}, {stop.native(), POLLIN, 0}};
    const int n = ::poll(fds, 2, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Result::Failed;
    }
    if (stop.IsSet()) return Result::Stopped;
    if (fds[0].revents != 0) return Result::Readable;
  }
}

#endif

}  // namespace tactra::sim
