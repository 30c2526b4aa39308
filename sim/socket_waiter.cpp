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

bool SocketWaiter::Wait(const Event& stop, bool& failed) {
  const Wake wake = WaitFor(stop, nullptr);
  failed = wake == Wake::Failed;
  return wake == Wake::Socket;
}

SocketWaiter::Wake SocketWaiter::WaitReadable(const Event& stop, const Event& wake) {
  if (!valid_) return Wake::Failed;
  return WaitFor(stop, &wake);
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

SocketWaiter::Wake SocketWaiter::WaitFor(const Event& stop, const Event* wake) {
  if (stop.IsSet()) return Wake::Stopped;
  if (closed_) return Wake::Socket;
  HANDLE handles[3] = {static_cast<HANDLE>(stop.native()), static_cast<HANDLE>(event_),
                       wake != nullptr ? static_cast<HANDLE>(wake->native()) : nullptr};
  const DWORD got = WaitForMultipleObjects(wake != nullptr ? 3 : 2, handles, FALSE, INFINITE);
  if (got == WAIT_OBJECT_0) return Wake::Stopped;
  if (got == WAIT_OBJECT_0 + 2) return Wake::Event;
  WSANETWORKEVENTS happened;
  // Clears the event; FD_READ is recorded again by the next data, FD_CLOSE never again.
  if (got != WAIT_OBJECT_0 + 1 ||
      WSAEnumNetworkEvents(socket_.native(), static_cast<WSAEVENT>(event_), &happened) != 0) {
    return Wake::Failed;
  }
  closed_ = (happened.lNetworkEvents & FD_CLOSE) != 0;
  return Wake::Socket;
}

#else

SocketWaiter::SocketWaiter(const net::Socket& socket) : socket_(socket) {
  valid_ = net::SetNonBlocking(socket, true);
}

SocketWaiter::~SocketWaiter() = default;

SocketWaiter::Wake SocketWaiter::WaitFor(const Event& stop, const Event* wake) {
  for (;;) {
    if (stop.IsSet()) return Wake::Stopped;
    if (wake != nullptr && wake->IsSet()) return Wake::Event;
    pollfd fds[3] = {{socket_.native(), POLLIN, 0},
                     {stop.native(), POLLIN, 0},
                     {wake != nullptr ? wake->native() : -1, POLLIN, 0}};
    int limit = stop.PollLimitMs();
    if (wake != nullptr && wake->PollLimitMs() >= 0 && (limit < 0 || wake->PollLimitMs() < limit))
      limit = wake->PollLimitMs();
    const int n = ::poll(fds, wake != nullptr ? 3 : 2, limit);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Wake::Failed;
    }
    if (stop.IsSet()) return Wake::Stopped;
    if (fds[0].revents != 0) return Wake::Socket;
  }
}

#endif

}  // namespace tactra::sim
