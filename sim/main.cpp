// tactra-framesim: serves a simulated frame on loopback, or drives a running one.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim/control_client.h"
#include "sim/server.h"

namespace {

using tactra::sim::FingerConfig;
using tactra::sim::ServerOptions;

const char kUsage[] =
    "usage:\n"
    "  tactra-framesim serve [--port P] [--mode 2|3|4] [--screen WxH] [--raw-map a,b,c,d,e,f]\n"
    "                        [--noise N] [--touch auto|manual] [--rate HZ] [--hold-samples N]\n"
    "                        [--state FILE] [--cal-samples] [--ch3-output 4|8]\n"
    "  tactra-framesim ctl [--port P] dump | plug [--new-paths] [--staggered MS] |\n"
    "                      unplug [--new-paths] | touch X Y | lift |\n"
    "                      fault CODE none|silent|refuse|duplicate|malformed|delay MS |\n"
    "                      fault chC stall|none |\n"
    "                      send REPORT-HEX [--channel C] [--count N] |\n"
    "                      wait-received N [--timeout MS] | quit\n";

int Usage(const char* problem) {
  if (problem != nullptr) std::fprintf(stderr, "tactra-framesim: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 2;
}

bool ParseInt(const std::string& text, long min, long max, long& out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  out = v;
  return true;
}

bool ParseScreen(const std::string& text, int& width, int& height) {
  const std::size_t x = text.find('x');
  long w = 0, h = 0;
  if (x == std::string::npos || !ParseInt(text.substr(0, x), 1, 65535, w) ||
      !ParseInt(text.substr(x + 1), 1, 65535, h)) {
    return false;
  }
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

int Serve(const std::vector<std::string>& args) {
  ServerOptions options;
  FingerConfig& finger = options.finger;
  std::string rawMap;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    const std::string value = hasValue ? args[i + 1] : std::string();
    long v = 0;
    if (a == "--cal-samples") {
      finger.calibrationSamples = true;
      continue;
    }
    if (!hasValue) return Usage(("missing value after " + a).c_str());
    ++i;
    if (a == "--port" && ParseInt(value, 0, 65535, v)) {
      options.port = static_cast<uint16_t>(v);
    } else if (a == "--mode" && ParseInt(value, 2, 4, v)) {
      options.mode = static_cast<int>(v);
    } else if (a == "--screen" && ParseScreen(value, finger.screenWidth, finger.screenHeight)) {
    } else if (a == "--raw-map") {
      rawMap = value;
    } else if (a == "--noise" && ParseInt(value, 0, 4095, v)) {
      finger.noise = static_cast<int>(v);
    } else if (a == "--touch" && (value == "auto" || value == "manual")) {
      finger.automatic = value == "auto";
    } else if (a == "--rate" && ParseInt(value, 1, 1000, v)) {
      finger.rateHz = static_cast<int>(v);
    } else if (a == "--hold-samples" && ParseInt(value, 1, 100000, v)) {
      finger.holdSamples = static_cast<int>(v);
    } else if (a == "--state") {
      options.stateFile = value;
    } else if (a == "--ch3-output" && (value == "4" || value == "8")) {
      options.channels[3].output = static_cast<uint16_t>(value[0] - '0');
    } else {
      return Usage(("bad option " + a + " " + value).c_str());
    }
  }
  finger.map = tactra::sim::DefaultRawMap(finger.screenWidth, finger.screenHeight);
  if (!rawMap.empty() && !tactra::sim::ParseRawMap(rawMap, finger.map)) {
    return Usage("--raw-map takes six numbers a,b,c,d,e,f");
  }
  tactra::sim::FrameServer server(options);
  if (!server.Listen()) {
    std::fprintf(stderr, "tactra-framesim: cannot listen on 127.0.0.1:%u\n", unsigned(options.port));
    return 1;
  }
  std::printf("tactra-framesim: serving on 127.0.0.1:%u\n", unsigned(server.port()));
  std::fflush(stdout);
  if (!server.Run()) {
    std::fprintf(stderr, "tactra-framesim: the last state was not saved to %s\n", options.stateFile.c_str());
    return 1;
  }
  return 0;
}

int Ctl(const std::vector<std::string>& args) {
  long port = tactra::sim::kDefaultPort;
  std::string host = "127.0.0.1";
  std::size_t i = 0;
  for (; i + 1 < args.size(); i += 2) {
    if (args[i] == "--port") {
      if (!ParseInt(args[i + 1], 1, 65535, port)) return Usage("bad --port");
    } else if (args[i] == "--host") {
      host = args[i + 1];
    } else {
      break;
    }
  }
  if (i >= args.size()) return Usage("ctl needs a command");
  const std::vector<std::string> command(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  std::string output;
  const int code = tactra::sim::RunControl(host, static_cast<uint16_t>(port), command, output);
  if (code == tactra::sim::kNoSimulator) {
    std::fprintf(stderr, "tactra-framesim: no simulator answers on %s:%ld\n", host.c_str(), port);
    return 1;
  }
  std::fwrite(output.data(), 1, output.size(), code == 0 ? stdout : stderr);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(nullptr);
  const std::string verb = argv[1];
  const std::vector<std::string> rest(argv + 2, argv + argc);
  if (verb == "serve") return Serve(rest);
  if (verb == "ctl") return Ctl(rest);
  return Usage(("unknown command " + verb).c_str());
}
