// The control commands of a running simulator: inspect it, plug and unplug it, move the
// finger, set faults, send reports of its own, wait for reports, quit.
#include <cmath>
#include <cstdlib>

#include "sim/dump_json.h"
#include "sim/hex.h"
#include "sim/server.h"
#include "sim/server_connection.h"

namespace tactra::sim {

namespace {

bool ParseDouble(const std::string& text, double& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v)) return false;
  out = v;
  return true;
}

// "CODE" applies to both command channels; "6:CODE" or "7:CODE" to one.
bool ParseFaultKey(const std::string& text, FaultKey& key) {
  long id = 0, code = 0;
  const std::size_t colon = text.find(':');
  if (colon != std::string::npos) {
    if (!wire::ParseControlNumber(text.substr(0, colon), 6, 7, id)) return false;
  }
  if (!wire::ParseControlNumber(colon == std::string::npos ? text : text.substr(colon + 1), 0, 255, code))
    return false;
  key = {static_cast<uint8_t>(id), static_cast<uint8_t>(code)};
  return true;
}

// KIND [ARG]: none, silent, refuse, duplicate, malformed [terminator|length], delay MS.
bool ParseFault(const std::vector<std::string>& args, std::size_t at, Fault& fault) {
  if (at >= args.size()) return false;
  const std::string& kind = args[at];
  const std::size_t extra = args.size() - at - 1;
  if (kind == "none" || kind == "silent" || kind == "refuse" || kind == "duplicate") {
    fault.kind = kind == "none"     ? FaultKind::None
                 : kind == "silent" ? FaultKind::Silent
                 : kind == "refuse" ? FaultKind::Refuse
                                    : FaultKind::Duplicate;
    return extra == 0;
  }
  if (kind == "malformed") {
    fault.kind = FaultKind::Malformed;
    if (extra == 0) return true;
    if (extra != 1) return false;
    if (args[at + 1] == "terminator") return true;
    fault.malformation = Malformation::Length;
    return args[at + 1] == "length";
  }
  long ms = 0;
  if (kind == "delay" && extra == 1 && wire::ParseControlNumber(args[at + 1], 0, 600000, ms)) {
    fault.kind = FaultKind::Delay;
    fault.delay = std::chrono::milliseconds(ms);
    return true;
  }
  return false;
}

const char* kUsage =
    "commands: dump | plug [--new-paths] [--staggered MS] | unplug [--new-paths] | touch X Y | lift |\n"
    "  fault CODE none|silent|refuse|duplicate|malformed [terminator|length]|delay MS |\n"
    "  fault chC stall|none | send REPORT-HEX [--channel C] [--count N] |\n"
    "  wait-received N [--timeout MS] | quit\n";

// "ch0".."ch5": a channel, for the faults that apply to a whole channel.
bool ParseFaultChannel(const std::string& text, int& channel) {
  long v = 0;
  if (text.size() < 3 || text.compare(0, 2, "ch") != 0 ||
      !wire::ParseControlNumber(text.substr(2), 0, kFrameChannels - 1, v))
    return false;
  channel = static_cast<int>(v);
  return true;
}

struct PlugRequest {
  bool newPaths = false;
  std::chrono::milliseconds gap{0};
};

// plug [--new-paths] [--staggered MS], options in any order, each once. Empty when sound, else
// why not.
std::string ParsePlug(const std::vector<std::string>& args, PlugRequest& out) {
  bool staggered = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--new-paths" && !out.newPaths) {
      out.newPaths = true;
    } else if (args[i] == "--staggered" && !staggered) {
      long ms = 0;
      if (i + 1 >= args.size() ||
          !wire::ParseControlNumber(args[i + 1], 0, FrameServer::kMaxArrivalGapMs, ms))
        return "plug: --staggered takes 0.." + std::to_string(FrameServer::kMaxArrivalGapMs) + " ms";
      out.gap = std::chrono::milliseconds(ms);
      staggered = true;
      ++i;
    } else {
      return "plug: unknown or repeated option " + args[i];
    }
  }
  return "";
}

// The channel whose input reports carry this report ID, or -1.
int ChannelOfReportId(uint8_t id) {
  switch (id) {
    case proto::kTouchReportId:
      return proto::kTouchChannel;
    case proto::kCalibrationReportId:
      return proto::kCalibrationChannel;
    case proto::kSettingsReportId:
      return proto::kSettingsChannel;
    default:
      return -1;
  }
}

struct SendRequest {
  std::vector<uint8_t> report;  // padded to the channel's input length
  int channel = -1;
  std::size_t count = 1;
};

// send REPORT-HEX [--channel C] [--count N], options in any order, each once. Empty when the
// request is sound, else the one line that says why not.
std::string ParseSend(const std::vector<std::string>& args,
                      const std::array<ChannelSpec, kFrameChannels>& channels, SendRequest& out) {
  const char* const kNotHex =
      "send: REPORT-HEX is the whole report in hex digits, two a byte, report ID first";
  const std::string hex = args.size() > 1 ? args[1] : std::string();
  std::vector<uint8_t> report(hex.size() / 2);
  if (hex.empty() || hex.size() % 2 != 0 || !FromHex(hex, report.data(), report.size())) return kNotHex;
  bool channelGiven = false, countGiven = false;
  for (std::size_t i = 2; i < args.size(); i += 2) {
    const std::string& option = args[i];
    const bool isChannel = option == "--channel";
    if ((!isChannel && option != "--count") || (isChannel ? channelGiven : countGiven))
      return "send: unknown or repeated option " + option;
    if (i + 1 >= args.size()) return "send: " + option + " needs a value";
    long v = 0;
    if (isChannel) {
      if (!wire::ParseControlNumber(args[i + 1], 0, kFrameChannels - 1, v))
        return "send: --channel takes 0.." + std::to_string(kFrameChannels - 1);
      out.channel = static_cast<int>(v);
      channelGiven = true;
    } else {
      if (!wire::ParseControlNumber(args[i + 1], 1, static_cast<long>(FrameServer::kMaxSendCount), v))
        return "send: --count takes 1.." + std::to_string(FrameServer::kMaxSendCount);
      out.count = static_cast<std::size_t>(v);
      countGiven = true;
    }
  }
  if (!channelGiven) out.channel = ChannelOfReportId(report[0]);
  if (out.channel < 0)
    return "send: report ID " + std::to_string(report[0]) + " belongs to no channel; give --channel";
  const std::size_t input = channels[out.channel].input;
  if (report.size() > input) {
    return "send: " + std::to_string(report.size()) + " bytes, but channel " + std::to_string(out.channel) +
           "'s input report has " + std::to_string(input);
  }
  report.resize(input, 0);
  out.report = std::move(report);
  return "";
}

}  // namespace

void FrameServer::Reply(Connection& c, const std::string& text, int exitCode) {
  EndAnswer(c, text, exitCode);
  Flush(c);
}

void FrameServer::EndAnswer(Connection& c, const std::string& text, int exitCode) {
  for (std::size_t at = 0; at < text.size(); at += wire::kMaxBody - 1) {
    Append(c, wire::EncodeControlText(text.substr(at, wire::kMaxBody - 1)));
  }
  Append(c, wire::EncodeControlDone(static_cast<uint8_t>(exitCode)));
  c.role = Role::Done;
  c.waiting = false;
  c.closeWhenFlushed = true;
}

void FrameServer::Control(Connection& c, const std::vector<std::string>& args, Clock::time_point now) {
  const std::string& command = args[0];
  const std::size_t n = args.size();
  const bool newPaths = n == 2 && args[1] == "--new-paths";
  if (command == "dump" && n == 1) {
    c.dump = std::make_unique<DumpStream>(model_, DumpContext{connected_, present_, Paths(), &finger_});
    Flush(c);
  } else if (command == "plug") {
    PlugRequest request;
    const std::string problem = ParsePlug(args, request);
    if (!problem.empty()) {
      Reply(c, problem + "\n", 2);
      return;
    }
    Plug(request.newPaths, request.gap, now);
    Reply(c, "connected\n", 0);
  } else if (command == "unplug" && (n == 1 || newPaths)) {
    Unplug(newPaths);
    Reply(c, "disconnected\n", 0);
  } else if (command == "touch" && n == 3) {
    double x = 0, y = 0;
    if (!ParseDouble(args[1], x) || !ParseDouble(args[2], y)) {
      Reply(c, "touch: X and Y are screen coordinates\n", 2);
    } else if (!finger_.Touch(x, y, now)) {
      Reply(c, "touch: the finger is in auto mode (serve --touch manual)\n", 1);
    } else {
      Reply(c, "", 0);
    }
  } else if (command == "lift" && n == 1) {
    if (finger_.Lift(now)) {
      Reply(c, "", 0);
    } else {
      Reply(c, "lift: the finger is in auto mode (serve --touch manual)\n", 1);
    }
  } else if (command == "fault" && n >= 3 && args[1].compare(0, 2, "ch") == 0) {
    int channel = 0;
    if (n != 3 || !ParseFaultChannel(args[1], channel) || (args[2] != "stall" && args[2] != "none")) {
      Reply(c, std::string("fault: a channel (ch0..ch5) takes stall or none\n") + kUsage, 2);
    } else {
      model_.SetStalled(channel, args[2] == "stall");
      Reply(c, "", 0);
    }
  } else if (command == "fault" && n >= 3) {
    FaultKey key{};
    Fault fault;
    if (!ParseFaultKey(args[1], key) || !ParseFault(args, 2, fault)) {
      Reply(c, std::string("fault: bad arguments\n") + kUsage, 2);
    } else {
      model_.SetFault(key, fault);
      Reply(c, "", 0);
    }
  } else if (command == "send") {
    Send(c, args);
  } else if (command == "wait-received" && (n == 2 || (n == 4 && args[2] == "--timeout"))) {
    long count = 0, ms = wire::kDefaultReceivedWait.count();
    if (!wire::ParseControlNumber(args[1], 0, 1L << 30, count) ||
        (n == 4 && !wire::ParseControlNumber(args[3], 0, wire::kLongestReceivedWaitMs, ms))) {
      Reply(c, std::string("wait-received: bad arguments\n") + kUsage, 2);
      return;
    }
    c.waiting = true;
    c.waitFor = static_cast<uint64_t>(count);
    c.waitUntil = now + std::chrono::milliseconds(ms);
    CheckWaits(now);
  } else if (command == "quit" && n == 1) {
    // Saved before the answer, so that whoever asked finds the file as the frame left it.
    if (Saved() || Save(now)) {
      Reply(c, "", 0);
    } else {
      Reply(c, "quit: the state could not be saved to " + options_.stateFile + "\n", 1);
    }
    quit_ = true;
  } else {
    Reply(c, "unknown command\n" + std::string(kUsage), 2);
  }
}

void FrameServer::Send(Connection& c, const std::vector<std::string>& args) {
  SendRequest request;
  const std::string problem = ParseSend(args, options_.channels, request);
  if (!problem.empty()) {
    Reply(c, problem + "\n", 2);
    return;
  }
  // An unplugged frame has no handles open and sends nothing.
  if (!connected_) {
    Reply(c, "send: the frame is unplugged\n", 1);
    return;
  }
  const std::size_t handles = Broadcast(request.channel, request.report, request.count);
  Reply(c,
        "queued " + std::to_string(request.count) + " on channel " + std::to_string(request.channel) +
            " for " + std::to_string(handles) + " read handles\n",
        0);
}

void FrameServer::CheckWaits(Clock::time_point now) {
  for (auto& c : connections_) {
    if (!c->waiting || c->dead) continue;
    const uint64_t total = model_.receivedTotal();
    if (total >= c->waitFor) {
      Reply(*c, "received " + std::to_string(total) + "\n", 0);
    } else if (now >= c->waitUntil) {
      Reply(*c, "timed out: received " + std::to_string(total) + "\n", 1);
    }
  }
}

void FrameServer::SendNotice(uint8_t kind, int collection) {
  const wire::Bytes message = wire::EncodeNotice({kind, Paths()[collection]});
  for (auto& c : connections_) {
    if (c->role == Role::Notices) Queue(*c, message);
  }
}

void FrameServer::Unplug(bool newPaths) {
  if (newPaths) movePending_ = true;
  if (!connected_) return;
  connected_ = false;
  model_.PowerOff();
  finger_.End();
  seenCalibrating_ = false;
  delayed_.clear();
  // Open handles of the frame break: a pending read completes empty, writes fail.
  for (auto& c : connections_) {
    if (c->role == Role::Reader || c->role == Role::Writer) {
      c->dead = true;
      c->socket.Close();
    }
  }
  // Only what had arrived goes away; a staggered plug-in still under way ends here.
  for (int n = 0; n < present_; ++n) SendNotice(wire::kNoticeRemoval, n);
  present_ = 0;
}

void FrameServer::Plug(bool newPaths, std::chrono::milliseconds gap, Clock::time_point now) {
  if (connected_) return;
  if (newPaths || movePending_) ++generation_;
  movePending_ = false;
  connected_ = true;
  present_ = 0;
  arrivalGap_ = gap;
  ArriveNext(now);
  // Without a gap every collection arrives now, each with its notice, as before.
  while (gap.count() == 0 && present_ < kFrameChannels) ArriveNext(now);
}

void FrameServer::ArriveNext(Clock::time_point now) {
  if (present_ >= kFrameChannels) return;
  SendNotice(wire::kNoticeArrival, present_++);
  // Counted from this arrival, so that a late wake-up never brings two at once.
  nextArrival_ = now + arrivalGap_;
}

}  // namespace tactra::sim
