#include "sim/net_native.h"
#include "sim/socket_api_posix.h"

namespace tactra::sim::net {

const NativeSocket Socket::kInvalid = -1;

bool SetNonBlocking(const Socket& s, bool on) {
  const int flags = fcntl(s.native(), F_GETFL, 0);
  if (flags < 0) return false;
  return fcntl(s.native(), F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

void ShutdownSend(const Socket& s) { shutdown(s.native(), SHUT_WR); }

void SetReceiveTimeout(const Socket& s, int milliseconds) {
  timeval value{};
  value.tv_sec = milliseconds / 1000;
  value.tv_usec = (milliseconds % 1000) * 1000;
  setsockopt(s.native(), SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
}

namespace native {

bool Startup() { return true; }
void Close(NativeSocket s) { ::close(s); }
bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }
bool ConnectPending() { return errno == EINPROGRESS; }

bool WaitConnected(const Socket& s, int timeoutMs) {
  std::vector<PollItem> wait{{s.native(), false, true}};
  if (net::Poll(wait, timeoutMs) <= 0) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(s.native(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

void AllowAddressReuse(const Socket& s) {
  int yes = 1;
  setsockopt(s.native(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

long Send(const Socket& s, const uint8_t* data, std::size_t length) {
  return static_cast<long>(::send(s.native(), data, length, MSG_NOSIGNAL));
}

long Recv(const Socket& s, uint8_t* data, std::size_t capacity) {
  return static_cast<long>(::recv(s.native(), data, capacity, 0));
}

}  // namespace native
}  // namespace tactra::sim::net
