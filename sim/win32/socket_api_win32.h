// The system's socket interface as net.cpp uses it, on Windows.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstddef>

namespace tactra::sim::net::native {

using PollFd = WSAPOLLFD;

inline int PollSystem(PollFd* fds, std::size_t count, int timeoutMs) {
  return WSAPoll(fds, static_cast<ULONG>(count), timeoutMs);
}

}  // namespace tactra::sim::net::native
