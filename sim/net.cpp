// The sockets as every system has them; what differs is in net_posix.cpp and
// win32/net_win32.cpp (net_native.h), and the headers come through socket_api.h.
#include "sim/net.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "sim/net_native.h"
#include "sim/socket_api.h"

namespace tactra::sim::net {

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
  if (s_ != kInvalid) native::Close(Release());
}

bool Startup() { return native::Startup(); }

Socket ListenLoopback(uint16_t port, uint16_t& bound) {
  if (!Startup()) return {};
  Socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!s.valid()) return {};
  native::AllowAddressReuse(s);
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
  if (failed != nullptr) *failed = !s.valid() && !native::WouldBlock();
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
        (native::ConnectPending() && native::WaitConnected(candidate, timeoutMs));
    if (connected && SetNonBlocking(candidate, false)) {
      s = std::move(candidate);
      break;
    }
  }
  ::freeaddrinfo(found);
  if (s.valid()) SetNoDelay(s);
  return s;
}

void SetNoDelay(const Socket& s) {
  int yes = 1;
  setsockopt(s.native(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
}

long Send(const Socket& s, const uint8_t* data, std::size_t length) {
  const long n = native::Send(s, data, length);
  if (n >= 0) return n;
  return native::WouldBlock() ? kWouldBlock : kError;
}

long Recv(const Socket& s, uint8_t* data, std::size_t capacity) {
  const long n = native::Recv(s, data, capacity);
  if (n >= 0) return n;
  return native::WouldBlock() ? kWouldBlock : kError;
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
  std::vector<native::PollFd> fds(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    fds[i].fd = items[i].socket;
    fds[i].events = static_cast<short>((items[i].wantRead ? POLLIN : 0) | (items[i].wantWrite ? POLLOUT : 0));
    fds[i].revents = 0;
  }
  const int n = native::PollSystem(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs);
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
