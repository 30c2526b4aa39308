// The system's socket interface as net.cpp uses it, on POSIX systems.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace tactra::sim::net::native {

using PollFd = pollfd;

inline int PollSystem(PollFd* fds, std::size_t count, int timeoutMs) {
  int n;
  do {
    n = ::poll(fds, count, timeoutMs);
  } while (n < 0 && errno == EINTR);
  return n;
}

}  // namespace tactra::sim::net::native
