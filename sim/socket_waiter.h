// Receives from a socket, waiting until it has something to read or a stop event is set, without
// polling: poll() on the socket and the event's eventfd natively, WSAEventSelect and one wait on
// Windows. It waits only after a receive found nothing, so no readiness is ever missed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "device/event.h"
#include "sim/net.h"

namespace tactra::sim {

class SocketWaiter {
 public:
  enum class Result { Received, Closed, Stopped, Failed };

  // Puts the socket into non-blocking mode; the waiter must not outlive it.
  explicit SocketWaiter(const net::Socket& socket);
  ~SocketWaiter();
  SocketWaiter(const SocketWaiter&) = delete;
  SocketWaiter& operator=(const SocketWaiter&) = delete;

  bool valid() const { return valid_; }
  // Received (`count` bytes), Closed (the peer closed or the connection broke), Stopped, or
  // Failed (the wait itself failed). A set stop event wins over waiting data.
  Result Receive(uint8_t* buffer, std::size_t capacity, std::size_t& count, const Event& stop);

  enum class Wake { Socket, Event, Stopped, Failed };
  // Waits, without receiving, until the socket may have something to read (Socket), `wake` is
  // set (Event), or `stop` is set (Stopped, which wins). For a socket that another thread also
  // receives from: that thread sets `wake` when it took what this one waits for.
  Wake WaitReadable(const Event& stop, const Event& wake);

 private:
  // Waits until the socket may have something, or the stop event is set (false).
  bool Wait(const Event& stop, bool& failed);
  Wake WaitFor(const Event& stop, const Event* wake);

  const net::Socket& socket_;
  bool valid_ = false;
#ifdef _WIN32
  void* event_ = nullptr;  // WSAEVENT
  // FD_CLOSE is signalled once: after it, receives tell the rest without any waiting.
  bool closed_ = false;
#endif
};

}  // namespace tactra::sim
