// Clients of a served frame made of arbitrary bytes: what they send reaches the server's
// connection handling (first messages, roles, partial and bad messages, half-closes, clients
// that stop reading, ones that come and go) and its control commands. A fresh server per input
// runs on loopback in this thread, one round at a time, so an input replays the same way.
//
// The input is a list of steps; the first byte of each picks a client (of 4) and an action:
//   0 raw bytes (u16 length, then the bytes)
//   1 a control command: u8 count, then per argument u8: a word the commands know, or that
//     many bytes of text
//   2 an open (u8: access bit, path number)
//   3 an output report: u8 kind; bit 0 raw (u16 length, bytes), else a command of report ID 6
//     or 7 (bit 1): u8 code, u8 length, payload; a fresh client opens the command's channel
//     for writing first, as a program would
//   4 end sending (half-close)   5 read what came   6 close (a new connection comes next)
//   7 enumerate or subscribe (u8: which)
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "device/protocol.h"
#include "sim/net.h"
#include "sim/server.h"
#include "sim/wire.h"

namespace {

using namespace tactra::sim;

class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : p_(data), left_(size) {}
  bool empty() const { return left_ == 0; }
  uint8_t Byte() {
    if (left_ == 0) return 0;
    --left_;
    return *p_++;
  }
  std::size_t Length16() {
    const std::size_t lo = Byte();
    return lo | static_cast<std::size_t>(Byte()) << 8;
  }
  wire::Bytes Take(std::size_t n) {
    n = n < left_ ? n : left_;
    wire::Bytes out(p_, p_ + n);
    p_ += n;
    left_ -= n;
    return out;
  }

 private:
  const uint8_t* p_;
  std::size_t left_;
};

class Client {
 public:
  bool Ready(uint16_t port) {
    if (!socket_.valid()) {
      socket_ = net::Connect("127.0.0.1", port, 1000);
      if (!socket_.valid() || !net::SetNonBlocking(socket_, true)) return false;
      // An abortive close: thousands of inputs leave no connections waiting out their time.
      const linger abort{1, 0};
      setsockopt(socket_.native(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    return true;
  }
  // Sends what the socket takes, letting the server run while it takes nothing.
  // Whether anything was sent on this connection yet.
  bool fresh() const { return fresh_; }
  template <typename Serve>
  void Send(const wire::Bytes& bytes, Serve serve) {
    fresh_ = false;
    std::size_t at = 0;
    for (int stalls = 0; at < bytes.size() && stalls < 8;) {
      const long n = net::Send(socket_, bytes.data() + at, bytes.size() - at);
      if (n > 0) {
        at += static_cast<std::size_t>(n);
      } else if (n == net::kWouldBlock) {
        ++stalls;
        serve();
      } else {
        return;
      }
    }
  }
  void Drain() {
    uint8_t buffer[65536];
    while (socket_.valid() && net::Recv(socket_, buffer, sizeof buffer) > 0) {
    }
  }
  void EndSending() { net::ShutdownSend(socket_); }
  void Close() {
    socket_.Close();
    fresh_ = true;
  }

 private:
  net::Socket socket_;
  bool fresh_ = true;
};

// Words the control commands know, so that the fuzzer finds their branches quickly.
const char* const kWords[] = {
    "dump",      "plug", "unplug",    "--new-paths", "touch",     "lift",      "fault",      "wait-received",
    "--timeout", "quit", "none",      "silent",      "refuse",    "malformed", "terminator", "length",
    "delay",     "0x13", "6:0x01",    "7:0x11",      "19",        "1",         "0",          "100",
    "1e300",     "-5",   "duplicate", "send",        "--channel", "--count",   "0601",       "ee"};
constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];

std::vector<std::string> Arguments(Input& in) {
  std::vector<std::string> args(1 + in.Byte() % 6);
  for (std::string& arg : args) {
    const std::size_t pick = in.Byte();
    if (pick < kWordCount) {
      arg = kWords[pick];
    } else {
      const wire::Bytes text = in.Take(pick - kWordCount);
      arg.assign(text.begin(), text.end());
    }
  }
  return args;
}

// The output report of action 3; `channel` is the one a command belongs on.
wire::Bytes OutputReport(Input& in, int& channel) {
  const uint8_t kind = in.Byte();
  channel = -1;
  if (kind & 1) {
    const wire::Bytes report = in.Take(in.Length16());
    return wire::EncodeReport(wire::kOutput, report.data(), report.size());
  }
  const bool settings = kind & 2;
  channel = settings ? tactra::proto::kSettingsChannel : tactra::proto::kCalibrationChannel;
  const uint8_t code = in.Byte();
  const wire::Bytes payload = in.Take(in.Byte());
  tactra::proto::ReportBuffer report{};
  tactra::proto::BuildCommand(
      report, settings ? tactra::proto::kSettingsReportId : tactra::proto::kCalibrationReportId, code,
      payload.data(), payload.size());
  return wire::EncodeReport(
      wire::kOutput, report.data(),
      settings ? tactra::proto::kSettingsReportLength : tactra::proto::kCalibrationReportLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ServerOptions options;
  options.port = 0;
  FrameServer server(options);
  if (!server.Listen()) return 0;
  bool running = true;
  auto serve = [&] {
    for (int i = 0; i < 2 && running; ++i) running = server.ServeOnce(std::chrono::milliseconds(0));
  };
  Client clients[4];
  Input in(data, size);
  while (!in.empty() && running) {
    const uint8_t step = in.Byte();
    Client& client = clients[step & 3];
    const int action = (step >> 2) & 7;
    if (action == 6) {
      client.Close();
      serve();
      continue;
    }
    if (!client.Ready(server.port())) break;
    wire::Bytes message;
    switch (action) {
      case 0:
        message = in.Take(in.Length16());
        break;
      case 1:
        message = wire::EncodeControl(Arguments(in));
        break;
      case 2: {
        const uint8_t which = in.Byte();
        const std::vector<std::string> paths = server.Paths();
        const std::size_t n = (which >> 1) % (paths.size() + 1);
        message = wire::EncodeOpen({static_cast<uint8_t>(which & 1), n < paths.size() ? paths[n] : "x"});
        break;
      }
      case 3: {
        int channel = -1;
        message = OutputReport(in, channel);
        if (channel >= 0 && client.fresh()) {
          client.Send(wire::EncodeOpen({wire::kAccessWrite, server.Paths()[channel]}), serve);
        }
        break;
      }
      case 4:
        client.EndSending();
        break;
      case 5:
        client.Drain();
        break;
      default:
        message = wire::EncodeEmpty(in.Byte() & 1 ? wire::kSubscribe : wire::kEnumerate);
        break;
    }
    if (!message.empty()) client.Send(message, serve);
    serve();
  }
  for (Client& c : clients) c.Drain();
  serve();
  for (Client& c : clients) c.Close();
  serve();
  server.Finish();
  return 0;
}
