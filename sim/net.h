// The few socket operations the simulator and its client need, over BSD sockets natively and
// Winsock on Windows. Sockets are owned by a move-only handle that closes once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tactra::sim::net {

#ifdef _WIN32
using NativeSocket = uintptr_t;  // SOCKET
#else
using NativeSocket = int;
#endif

class Socket {
 public:
  Socket() = default;
  explicit Socket(NativeSocket s) : s_(s) {}
  ~Socket() { Close(); }
  Socket(Socket&& o) noexcept : s_(o.Release()) {}
  Socket& operator=(Socket&& o) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool valid() const { return s_ != kInvalid; }
  NativeSocket native() const { return s_; }
  NativeSocket Release();
  void Close();

  static const NativeSocket kInvalid;

 private:
  NativeSocket s_ = kInvalid;
};

// Starts the socket library once per process (Winsock); true when sockets can be used.
bool Startup();

// A non-blocking listener on 127.0.0.1:port (0 picks a free port, reported in `bound`).
Socket ListenLoopback(uint16_t port, uint16_t& bound);
// The next pending connection, non-blocking; invalid when none is pending or it could not be
// taken. `failed` (when given) tells the second case: the system lacked descriptors or memory
// for it, for one, and then it is still pending.
Socket Accept(const Socket& listener, bool* failed = nullptr);
// A blocking connection to host:port, made within `timeoutMs` (negative: no limit); invalid
// when it cannot be made in time.
Socket Connect(const std::string& host, uint16_t port, int timeoutMs = -1);

bool SetNonBlocking(const Socket& s, bool on);
void SetNoDelay(const Socket& s);
// Gives blocking receives a time limit (0: none).
void SetReceiveTimeout(const Socket& s, int milliseconds);
// Ends sending; the peer reads the end of the stream, the socket can still receive.
void ShutdownSend(const Socket& s);

enum : long { kTimedOut = -3, kWouldBlock = -2, kError = -1 };
// Bytes sent, kWouldBlock, or kError. Never raises a signal.
long Send(const Socket& s, const uint8_t* data, std::size_t length);
// Bytes received, 0 when the peer closed, kWouldBlock, or kError.
long Recv(const Socket& s, uint8_t* data, std::size_t capacity);
// As Recv, once something arrives within `timeoutMs`; kTimedOut when nothing does.
long RecvWithin(const Socket& s, uint8_t* data, std::size_t capacity, int timeoutMs);
// Sends everything on a blocking socket.
bool SendAll(const Socket& s, const uint8_t* data, std::size_t length);

struct PollItem {
  NativeSocket socket;
  bool wantRead = false;
  bool wantWrite = false;
  bool readable = false;  // also set on hang-up and error, so the next receive tells which
  bool writable = false;
};
// Waits until an item is ready or the time-out passes (negative: no limit). Returns the
// number of ready items, or -1 on error (and for no items without a time-out).
int Poll(std::vector<PollItem>& items, int timeoutMs);

// "host:port" with a port of 1..65535.
bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port);

}  // namespace tactra::sim::net
