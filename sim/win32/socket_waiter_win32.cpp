#include <winsock2.h>

#include "sim/socket_waiter.h"

namespace tactra::sim {

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

}  // namespace tactra::sim
