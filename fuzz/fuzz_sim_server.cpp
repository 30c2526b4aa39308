// Clients of a served frame made of arbitrary bytes: what they send reaches the server's
// connection handling (first messages, roles, partial and bad messages, half-closes, clients
// that stop reading, ones that come and go) and its control commands. A fresh server per input
// runs on loopback in this thread, one round at a time, so an input replays the same way.
//
// The input is a list of steps; the first byte of each picks a client (of 4) and an action:
//   0 raw bytes (u16 length, then the bytes)     1 a control command (u8 length, then text,
//   2 an open (u8: access bit, path number)        cut into arguments at spaces)
//   3 an output report (u16 length, the bytes)   4 end sending (half-close)
//   5 read what came                              6 close, and connect again on the next step
//   7 enumerate or subscribe (u8: which)
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
  template <typename Serve>
  void Send(const wire::Bytes& bytes, Serve serve) {
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
  void Close() { socket_.Close(); }

 private:
  net::Socket socket_;
};

std::vector<std::string> Arguments(const wire::Bytes& text) {
  std::vector<std::string> args(1);
  for (uint8_t c : text) {
    if (c == ' ') {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(c);
    }
  }
  return args;
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
        message = wire::EncodeControl(Arguments(in.Take(in.Byte())));
        break;
      case 2: {
        const uint8_t which = in.Byte();
        const std::vector<std::string> paths = server.Paths();
        const std::size_t n = (which >> 1) % (paths.size() + 1);
        message = wire::EncodeOpen({static_cast<uint8_t>(which & 1), n < paths.size() ? paths[n] : "x"});
        break;
      }
      case 3: {
        const wire::Bytes report = in.Take(in.Length16());
        message = wire::EncodeReport(wire::kOutput, report.data(), report.size());
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
