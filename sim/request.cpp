#include "sim/request.h"

namespace tactra::sim {

Request::Request(const std::string& host, uint16_t port, const wire::Bytes& message) {
  if (message.empty()) return;
  socket_ = net::Connect(host, port, static_cast<int>(kConnectLimit.count()));
  if (socket_.valid() && !net::SendAll(socket_, message.data(), message.size())) socket_.Close();
}

bool Request::Next(wire::Message& out, std::chrono::milliseconds limit) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + limit;
  uint8_t buffer[16384];
  for (;;) {
    const wire::Decoder::Status status = decoder_.Next(out);
    if (status == wire::Decoder::Status::Message) return true;
    if (status == wire::Decoder::Status::Bad || !socket_.valid()) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    const long n = net::RecvWithin(socket_, buffer, sizeof buffer, static_cast<int>(left));
    if (n == net::kTimedOut) return false;
    if (n <= 0 || !decoder_.Feed(buffer, static_cast<std::size_t>(n))) return false;
  }
}

}  // namespace tactra::sim
