#include "sim/control_client.h"

#include "sim/net.h"
#include "sim/wire.h"

namespace tactra::sim {

int RunControl(const std::string& host, uint16_t port, const std::vector<std::string>& args,
               std::string& output) {
  output.clear();
  const wire::Bytes request = wire::EncodeControl(args);
  if (request.empty()) return 2;  // too many or too long arguments
  net::Socket s = net::Connect(host, port);
  if (!s.valid() || !net::SendAll(s, request.data(), request.size())) return kNoSimulator;
  wire::Decoder decoder;
  uint8_t buffer[16384];
  for (;;) {
    wire::Message m;
    wire::Decoder::Status status;
    while ((status = decoder.Next(m)) == wire::Decoder::Status::Message) {
      uint8_t code = 0;
      if (m.type == wire::kControlText) {
        output.append(m.payload.begin(), m.payload.end());
      } else if (wire::ParseControlDone(m, code)) {
        return code;
      } else {
        return kNoSimulator;
      }
    }
    if (status == wire::Decoder::Status::Bad) return kNoSimulator;
    const long n = net::Recv(s, buffer, sizeof buffer);
    if (n <= 0 || !decoder.Feed(buffer, static_cast<std::size_t>(n))) return kNoSimulator;
  }
}

}  // namespace tactra::sim
