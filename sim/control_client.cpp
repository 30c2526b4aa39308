#include "sim/control_client.h"

#include <cstdlib>

#include "sim/request.h"

namespace tactra::sim {

namespace {

// How long `ctl` waits for the simulator's next message: `wait-received` answers only once its
// own wait is over.
std::chrono::milliseconds AnswerLimit(const std::vector<std::string>& args) {
  constexpr std::chrono::milliseconds kControlAnswerLimit{10000};
  if (args[0] != "wait-received") return kControlAnswerLimit;
  long wait = 10000;  // the server's default
  for (std::size_t i = 1; i + 1 < args.size(); ++i) {
    if (args[i] == "--timeout") wait = std::strtol(args[i + 1].c_str(), nullptr, 10);
  }
  return kControlAnswerLimit + std::chrono::milliseconds(wait < 0 ? 0 : wait);
}

}  // namespace

int RunControl(const std::string& host, uint16_t port, const std::vector<std::string>& args,
               std::string& output) {
  output.clear();
  const wire::Bytes message = wire::EncodeControl(args);
  if (message.empty()) {
    output = "ctl: a command has 1 to " + std::to_string(wire::kMaxControlArgs) + " arguments of at most " +
             std::to_string(wire::kMaxControlArg) + " printable ASCII characters each\n";
    return 2;
  }
  Request request(host, port, message);
  const std::chrono::milliseconds limit = AnswerLimit(args);
  wire::Message m;
  while (request.Next(m, limit)) {
    uint8_t code = 0;
    if (m.type == wire::kControlText) {
      output.append(m.payload.begin(), m.payload.end());
    } else if (wire::ParseControlDone(m, code)) {
      return code;
    } else {
      break;
    }
  }
  return kNoSimulator;
}

}  // namespace tactra::sim
