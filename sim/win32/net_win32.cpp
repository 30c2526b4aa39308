#include "sim/net_native.h"
#include "sim/win32/socket_api_win32.h"

namespace tactra::sim::net {

const NativeSocket Socket::kInvalid = INVALID_SOCKET;

bool SetNonBlocking(const Socket& s, bool on) {
  u_long mode = on ? 1 : 0;
  return ioctlsocket(s.native(), FIONBIO, &mode) == 0;
}

void ShutdownSend(const Socket& s) { shutdown(s.native(), SD_SEND); }

void SetReceiveTimeout(const Socket& s, int milliseconds) {
  DWORD value = static_cast<DWORD>(milliseconds);
  setsockopt(s.native(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value);
}

namespace native {

bool Startup() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

void Close(NativeSocket s) { closesocket(s); }
bool WouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }
bool ConnectPending() { return WSAGetLastError() == WSAEWOULDBLOCK; }

bool WaitConnected(const Socket& s, int timeoutMs) {
  // select, not WSAPoll: WSAPoll does not report every failed connect.
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s.native(), &writable);
  FD_SET(s.native(), &failed);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (select(0, nullptr, &writable, &failed, timeoutMs < 0 ? nullptr : &limit) <= 0) return false;
  int error = 0;
  int length = sizeof error;
  return getsockopt(s.native(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 &&
         error == 0;
}

// A second simulator could take a port in use here: the address is not shared.
void AllowAddressReuse(const Socket&) {}

long Send(const Socket& s, const uint8_t* data, std::size_t length) {
  const int chunk = length > 1u << 30 ? 1 << 30 : static_cast<int>(length);
  return ::send(s.native(), reinterpret_cast<const char*>(data), chunk, 0);
}

long Recv(const Socket& s, uint8_t* data, std::size_t capacity) {
  const int chunk = capacity > 1u << 30 ? 1 << 30 : static_cast<int>(capacity);
  return ::recv(s.native(), reinterpret_cast<char*>(data), chunk, 0);
}

}  // namespace native
}  // namespace tactra::sim::net
