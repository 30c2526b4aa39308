// Waits until a socket has something to read or a stop event is set, without polling: poll()
// on the socket and the event's eventfd natively, WSAEventSelect and one wait on Windows.
#pragma once

#include "device/event.h"
#include "sim/net.h"

namespace tactra::sim {

class SocketWaiter {
 public:
  enum class Result { Readable, Stopped, Failed };

  // Puts the socket into non-blocking mode; the waiter must not outlive it.
  explicit SocketWaiter(const net::Socket& socket);
  ~SocketWaiter();
  SocketWaiter(const SocketWaiter&) = delete;
  SocketWaiter& operator=(const SocketWaiter&) = delete;

  bool valid() const { return valid_; }
  // A set stop event wins over a readable socket.
  Result Wait(const Event& stop);

 private:
  net::NativeSocket socket_;
  bool valid_ = false;
#ifdef _WIN32
  void* event_ = nullptr;  // WSAEVENT
#endif
};

}  // namespace tactra::sim
