// One client of the server, shared by the server's files.
#pragma once

#include <deque>
#include <memory>

#include "sim/dump_json.h"
#include "sim/server.h"

namespace tactra::sim {

struct FrameServer::Connection {
  uint64_t id = 0;
  net::Socket socket;
  Role role = Role::New;
  int channel = -1;
  Clock::time_point accepted;  // the first message is due within kFirstMessageLimit of this
  wire::Decoder decoder;
  wire::Bytes out;
  std::size_t sent = 0;
  // The client ended its sending side. It may still read: what it asked for is still sent.
  bool peerClosed = false;
  std::size_t held = 0;  // replies held back by a `delay` fault for this writer
  uint32_t outputs = 0;  // output reports this writer sent: the number its acknowledgements carry
  bool closeWhenFlushed = false;
  bool dead = false;
  // `ctl wait-received`: the reply waits until the frame has received `waitFor` reports.
  bool waiting = false;
  uint64_t waitFor = 0;
  Clock::time_point waitUntil;
  // `ctl dump`: the rest of the answer, made as the client reads.
  std::unique_ptr<DumpStream> dump;
  // A reader's input behind a `ctl send` still to be sent: each entry one message `copies`
  // times, taken into `out` as the client reads, so that a flood costs its length once, not its
  // count. Whatever comes for the reader while one waits goes behind it, in order.
  struct Burst {
    wire::Bytes message;
    std::size_t copies;
  };
  std::deque<Burst> bursts;
  std::size_t burstBytes = 0;  // the entries' messages, once each

  bool flushed() const { return sent >= out.size(); }
};

}  // namespace tactra::sim
