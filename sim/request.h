// One request to a simulator on a connection of its own, and the messages that answer it, each
// within a time limit, so that no client hangs on a simulator that is stuck, busy or gone.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "sim/net.h"
#include "sim/wire.h"

namespace tactra::sim {

// How long a client waits for the simulator to take its connection, and for an answer. A
// healthy simulator on a loaded machine answers within milliseconds; one that holds more
// silent connections than it serves frees them within FrameServer::kFirstMessageLimit.
constexpr std::chrono::milliseconds kConnectLimit{5000};
constexpr std::chrono::milliseconds kAnswerLimit{5000};

class Request {
 public:
  // Connects and sends `message`; `sent()` is false when that did not happen within
  // kConnectLimit.
  Request(const std::string& host, uint16_t port, const wire::Bytes& message);

  bool sent() const { return socket_.valid(); }
  // The next message that arrives within `limit`; false when none did, or the connection
  // closed or broke the protocol.
  bool Next(wire::Message& out, std::chrono::milliseconds limit);

  // What the connection becomes after the answer: the socket, and whatever followed the answer.
  net::Socket& socket() { return socket_; }
  wire::Decoder& decoder() { return decoder_; }

 private:
  net::Socket socket_;
  wire::Decoder decoder_;
};

}  // namespace tactra::sim
