// A bare client of a served frame for the tests of the server's connection handling: it sends
// wire messages as they are, may half-close or stop reading, and reads with a time limit.
// Also a watchdog that lets a hanging call fail its test instead of stalling it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "sim/net.h"
#include "sim/wire.h"

namespace tactra::sim::testing {

class RawClient {
 public:
  // Connects to the frame on `port`; a receive buffer of `receiveBuffer` bytes keeps what a
  // client that does not read can take small.
  explicit RawClient(uint16_t port, int receiveBuffer = 0) : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
    if (receiveBuffer > 0) {
      setsockopt(socket_.native(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(socket_.native(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) socket_.Close();
  }
  bool valid() const { return socket_.valid(); }
  bool Send(const wire::Bytes& bytes) { return net::SendAll(socket_, bytes.data(), bytes.size()); }
  void HalfClose() { ::shutdown(socket_.native(), SHUT_WR); }
  void Close() { socket_.Close(); }

  // Reads until the server closes the connection or `limit` passes. True when it closed;
  // the messages that arrived are in `got`.
  bool ReadUntilClosed(std::chrono::milliseconds limit, std::vector<wire::Message>* got = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    wire::Decoder decoder;
    uint8_t buffer[65536];
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{socket_.native(), POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
      const ssize_t n = ::recv(socket_.native(), buffer, sizeof buffer, 0);
      if (n <= 0) return true;
      if (got == nullptr) continue;
      if (!decoder.Feed(buffer, static_cast<std::size_t>(n))) return false;
      wire::Message m;
      while (decoder.Next(m) == wire::Decoder::Status::Message) got->push_back(m);
    }
  }

  // Reads until `on` has taken `count` messages or `limit` passes (false); what arrived beyond
  // them waits for the next call.
  template <typename On>
  bool ReadMessages(std::size_t count, std::chrono::milliseconds limit, On on) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    uint8_t buffer[65536];
    for (std::size_t taken = 0;;) {
      wire::Message m;
      while (taken < count && decoder_.Next(m) == wire::Decoder::Status::Message) {
        on(m);
        ++taken;
      }
      if (taken >= count) return true;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd fd{socket_.native(), POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
      const ssize_t n = ::recv(socket_.native(), buffer, sizeof buffer, 0);
      if (n <= 0 || !decoder_.Feed(buffer, static_cast<std::size_t>(n))) return false;
    }
  }

 private:
  net::Socket socket_;
  wire::Decoder decoder_;  // ReadMessages's, across calls
};

// Runs `work` on a thread of its own. The future is not ready when the work hangs; the thread
// is then left behind, so `work` must own everything it uses.
template <typename Work>
auto Detached(Work work) -> std::future<decltype(work())> {
  std::packaged_task<decltype(work())()> task(std::move(work));
  auto result = task.get_future();
  std::thread(std::move(task)).detach();
  return result;
}

}  // namespace tactra::sim::testing
