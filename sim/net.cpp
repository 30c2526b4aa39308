#include "sim/net.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace tactra::sim::net {

#ifdef _WIN32
const NativeSocket Socket::kInvalid = INVALID_SOCKET;
#else
const NativeSocket Socket::kInvalid = -1;
#endif

namespace {

#ifdef _WIN32
bool WouldBlock() { return WSAGetLastError() == WSAEWOULDBLOCK; }
void CloseNative(NativeSocket s) { closesocket(s); }
bool ConnectPending() { return WSAGetLastError() == WSAEWOULDBLOCK; }
#else
bool WouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }
void CloseNative(NativeSocket s) { ::close(s); }
bool ConnectPending() { return errno == EINPROGRESS; }
#endif

// Waits until a non-blocking connect has ended; true when it succeeded in time.
bool WaitConnected(const Socket& s, int timeoutMs) {
#ifdef _WIN32
  // select, not WSAPoll: WSAPoll does not report every failed connect.
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s.native(), &writable);
  FD_SET(s.native(), &failed);
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (select(0, nullptr, &writable, &failed, timeoutMs < 0 ? nullptr : &limit) <= 0) return false;
#else
  std::vector<PollItem> wait{{s.native(), false, true}};
  if (Poll(wait, timeoutMs) <= 0) return false;
#endif
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(s.native(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 &&
         error == 0;
}

}  // namespace

Socket& Socket::operator=(Socket&& o) noexcept {
  if (this != &o) {
    Close();
    s_ = o.Release();
  }
  return *this;
}

NativeSocket Socket::Release() {
  const NativeSocket s = s_;
  s_ = kInvalid;
  return s;
}

void Socket::Close() {
  if (s_ != kInvalid) CloseNative(Release());
}

bool Startup() {
#ifdef _WIN32
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
#else
  return true;
#endif
}

Socket ListenLoopback(uint16_t port, uint16_t& bound) {
  if (!Startup()) return {};
  Socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!s.valid()) return {};
#ifndef _WIN32
  // A restarted simulator may take its port again at once.
  int yes = 1;
  setsockopt(s.native(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
#endif
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (::bind(s.native(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return {};
  if (::listen(s.native(), 64) != 0) return {};
  socklen_t length = sizeof addr;
  if (::getsockname(s.native(), reinterpret_cast<sockaddr*>(&addr), &length) != 0) return {};
  bound = ntohs(addr.sin_port);
  if (!SetNonBlocking(s, true)) return {};
  return s;
}

Socket Accept(const Socket& listener, bool* failed) {
  Socket s(::accept(listener.native(), nullptr, nullptr));
  if (failed != nullptr) *failed = !s.valid() && !WouldBlock();
  if (!s.valid()) return {};
  // Accepted sockets inherit nothing useful on every platform: set what the server needs.
  if (!SetNonBlocking(s, true)) return {};
  SetNoDelay(s);
  return s;
}

Socket Connect(const std::string& host, uint16_t port, int timeoutMs) {
  if (!Startup()) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr) return {};
  Socket s;
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    Socket candidate(::socket(a->ai_family, a->ai_socktype, a->ai_protocol));
    if (!candidate.valid() || !SetNonBlocking(candidate, true)) continue;
    const bool connected =
        ::connect(candidate.native(), a->ai_addr, static_cast<socklen_t>(a->ai_addrlen)) == 0 ||
        (ConnectPending() && WaitConnected(candidate, timeoutMs));
    if (connected && SetNonBlocking(candidate, false)) {
      s = std::move(candidate);
      break;
    }
  }
  ::freeaddrinfo(found);
  if (s.valid()) SetNoDelay(s);
  return s;
}

bool SetNonBlocking(const Socket& s, bool on) {
#ifdef _WIN32
  u_long mode = on ? 1 : 0;
  return ioctlsocket(s.native(), FIONBIO, &mode) == 0;
#else
  const int flags = fcntl(s.native(), F_GETFL, 0);
  if (flags < 0) return false;
  return fcntl(s.native(), F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
#endif
}

void SetNoDelay(const Socket& s) {
  int yes = 1;
  setsockopt(s.native(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
}

void ShutdownSend(const Socket& s) {
#ifdef _WIN32
  shutdown(s.native(), SD_SEND);
#else
  shutdown(s.native(), SHUT_WR);
#endif
}

void SetReceiveTimeout(const Socket& s, int milliseconds) {
#ifdef _WIN32
  DWORD value = static_cast<DWORD>(milliseconds);
  setsockopt(s.native(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&value), sizeof value);
#else
  timeval value{};
  value.tv_sec = milliseconds / 1000;
  value.tv_usec = (milliseconds % 1000) * 1000;
  setsockopt(s.native(), SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value);
#endif
}

long Send(const Socket& s, const uint8_t* data, std::size_t length) {
#ifdef _WIN32
  const int chunk = length > 1u << 30 ? 1 << 30 : static_cast<int>(length);
  const int n = ::send(s.native(), reinterpret_cast<const char*>(data), chunk, 0);
#else
  const ssize_t n = ::send(s.native(), data, length, MSG_NOSIGNAL);
#endif
  if (n >= 0) return static_cast<long>(n);
  return WouldBlock() ? kWouldBlock : kError;
}

long Recv(const Socket& s, uint8_t* data, std::size_t capacity) {
#ifdef _WIN32
  const int chunk = capacity > 1u << 30 ? 1 << 30 : static_cast<int>(capacity);
  const int n = ::recv(s.native(), reinterpret_cast<char*>(data), chunk, 0);
#else
  const ssize_t n = ::recv(s.native(), data, capacity, 0);
#endif
  if (n >= 0) return static_cast<long>(n);
  return WouldBlock() ? kWouldBlock : kError;
}

long RecvWithin(const Socket& s, uint8_t* data, std::size_t capacity, int timeoutMs) {
  std::vector<PollItem> wait{{s.native(), true, false}};
  const int ready = Poll(wait, timeoutMs);
  if (ready < 0) return kError;
  if (ready == 0) return kTimedOut;
  return Recv(s, data, capacity);
}

bool SendAll(const Socket& s, const uint8_t* data, std::size_t length) {
  while (length > 0) {
    const long n = Send(s, data, length);
    if (n <= 0) {
      if (n == kWouldBlock) {
        std::vector<PollItem> wait{{s.native(), false, true}};
        if (Poll(wait, -1) < 0) return false;
        continue;
      }
      return false;
    }
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

int Poll(std::vector<PollItem>& items, int timeoutMs) {
  if (items.empty()) {
    // WSAPoll refuses an empty set; nothing but the time-out can end this wait.
    if (timeoutMs < 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return 0;
  }
#ifdef _WIN32
  std::vector<WSAPOLLFD> fds(items.size());
#else
  std::vector<pollfd> fds(items.size());
#endif
  for (std::size_t i = 0; i < items.size(); ++i) {
    fds[i].fd = items[i].socket;
    fds[i].events = static_cast<short>((items[i].wantRead ? POLLIN : 0) | (items[i].wantWrite ? POLLOUT : 0));
    fds[i].revents = 0;
  }
#ifdef _WIN32
  const int n = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs < 0 ? -1 : timeoutMs);
#else
  int n;
  do {
    n = ::poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs);
  } while (n < 0 && errno == EINTR);
#endif
  if (n < 0) return -1;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const short r = fds[i].revents;
    items[i].readable = (r & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    items[i].writable = (r & (POLLOUT | POLLERR)) != 0;
  }
  return n;
}

bool ParseHostPort(const std::string& text, std::string& host, uint16_t& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return false;
  const std::string digits = text.substr(colon + 1);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  const long value = std::strtol(digits.c_str(), nullptr, 10);
  if (value < 1 || value > 65535) return false;
  host = text.substr(0, colon);
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace tactra::sim::net
