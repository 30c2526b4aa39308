#include <poll.h>

#include <cerrno>

#include "sim/socket_waiter.h"

namespace tactra::sim {

SocketWaiter::SocketWaiter(const net::Socket& socket) : socket_(socket) {
  valid_ = net::SetNonBlocking(socket, true);
}

SocketWaiter::~SocketWaiter() = default;

SocketWaiter::Wake SocketWaiter::WaitFor(const Event& stop, const Event* wake) {
  for (;;) {
    if (stop.IsSet()) return Wake::Stopped;
    if (wake != nullptr && wake->IsSet()) return Wake::Event;
    pollfd fds[3] = {{socket_.native(), POLLIN, 0},
                     {stop.native(), POLLIN, 0},
                     {wake != nullptr ? wake->native() : -1, POLLIN, 0}};
    int limit = stop.PollLimitMs();
    if (wake != nullptr && wake->PollLimitMs() >= 0 && (limit < 0 || wake->PollLimitMs() < limit))
      limit = wake->PollLimitMs();
    const int n = ::poll(fds, wake != nullptr ? 3 : 2, limit);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Wake::Failed;
    }
    if (stop.IsSet()) return Wake::Stopped;
    if (fds[0].revents != 0) return Wake::Socket;
  }
}

}  // namespace tactra::sim
