#include "sim/control_client.h"

#include "sim/request.h"
#include "sim/wire.h"

namespace tactra::sim {

namespace {

constexpr std::chrono::milliseconds kControlAnswerLimit{10000};

}  // namespace

std::chrono::milliseconds ControlAnswerLimit(const std::vector<std::string>& args) {
  if (args.empty() || args[0] != "wait-received") return kControlAnswerLimit;
  // The wait read as the simulator reads it; one it refuses is answered at once.
  long wait = wire::kDefaultReceivedWait.count();
  if (args.size() == 4 && args[2] == "--timeout" &&
      !wire::ParseControlNumber(args[3], 0, wire::kLongestReceivedWaitMs, wait)) {
    wait = 0;
  }
  return kControlAnswerLimit + std::chrono::milliseconds(wait);
}

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
  const std::chrono::milliseconds limit = ControlAnswerLimit(args);
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
