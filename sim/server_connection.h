// One client of the server, shared by the server's files.
#pragma once

#include "sim/server.h"

namespace tactra::sim {

struct FrameServer::Connection {
  net::Socket socket;
  Role role = Role::New;
  int channel = -1;
  wire::Decoder decoder;
  wire::Bytes out;
  std::size_t sent = 0;
  bool closeWhenFlushed = false;
  bool dead = false;
  // `ctl wait-received`: the reply waits until the frame has received `waitFor` reports.
  bool waiting = false;
  uint64_t waitFor = 0;
  Clock::time_point waitUntil;
};

}  // namespace tactra::sim
