// Serves one simulated frame on loopback TCP to any number of programs at once, and takes the
// control commands of `tactra-framesim ctl`. One thread, one poll loop: while nothing is due
// (no calibration touch, no delayed reply, no waiting control command) it sleeps in poll
// without a time-out and uses no CPU.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/finger.h"
#include "sim/frame_model.h"
#include "sim/net.h"
#include "sim/wire.h"

namespace tactra::sim {

constexpr uint16_t kDefaultPort = 47800;

struct ServerOptions {
  uint16_t port = kDefaultPort;  // 0: any free port
  int mode = 0;                  // 0: the state file's mode (five-point without a file)
  FingerConfig finger;
  std::string stateFile;
  std::array<ChannelSpec, kFrameChannels> channels = DefaultChannels();
};

class FrameServer {
 public:
  static constexpr std::size_t kMaxConnections = 256;
  // What a client may leave unread before it is dropped (control output is exempt).
  static constexpr std::size_t kMaxPending = 4 * 1024 * 1024;
  // How long a quitting server still sends control answers.
  static constexpr std::chrono::milliseconds kQuitFlushLimit{2000};

  explicit FrameServer(ServerOptions options);
  ~FrameServer();
  FrameServer(const FrameServer&) = delete;
  FrameServer& operator=(const FrameServer&) = delete;

  // Loads the state file (if any) and starts listening. False when the port is taken.
  bool Listen();
  uint16_t port() const { return port_; }
  // Serves until a `quit` control command.
  void Run();

  // The six interface paths of the current plug-in.
  std::vector<std::string> Paths() const;

 private:
  enum class Role { New, Enumerate, Reader, Writer, Notices, Control, Done };
  struct Connection;

  void AcceptAll();
  void ReadFrom(Connection& c);
  void Flush(Connection& c);
  bool HandleMessage(Connection& c, const wire::Message& m, Clock::time_point now);
  void Queue(Connection& c, const wire::Bytes& message);
  void Deliver(const OutReport& report);
  void AfterModelChange(Clock::time_point now);
  void RunTimers(Clock::time_point now);
  int PollTimeout(Clock::time_point now) const;

  // Control commands (server_control.cpp).
  void Control(Connection& c, const std::vector<std::string>& args, Clock::time_point now);
  void Reply(Connection& c, const std::string& text, int exitCode);
  void Plug(bool newPaths);
  void Unplug(bool newPaths);
  void CheckWaits(Clock::time_point now);
  void SendNotices(uint8_t kind);
  void SaveIfChanged();

  ServerOptions options_;
  net::Socket listener_;
  uint16_t port_ = 0;
  FrameModel model_;
  Finger finger_;
  bool connected_ = true;
  bool quit_ = false;
  int generation_ = 1;        // part of the paths; changes when the frame moves port
  bool movePending_ = false;  // the next plug-in uses new paths
  uint64_t seenRuns_ = 0;
  bool seenCalibrating_ = false;
  uint64_t savedRevision_ = 0;
  struct Delayed {
    Clock::time_point due;
    OutReport report;
  };
  std::deque<Delayed> delayed_;
  std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace tactra::sim
