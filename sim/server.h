// Serves one simulated frame on loopback TCP to any number of programs at once, and takes the
// control commands of `tactra-framesim ctl`. One thread, one poll loop: while nothing is due
// (no calibration touch, no delayed reply, no waiting control command, no silent new client,
// no save) it sleeps in poll without a time-out and uses no CPU.
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
  // What a client may leave unread before it is dropped. A dump is made as the client reads it,
  // so it stays far below.
  static constexpr std::size_t kMaxPending = 4 * 1024 * 1024;
  // A new connection that has not sent its whole first message by then is closed, so silent
  // clients cannot hold every connection.
  static constexpr std::chrono::milliseconds kFirstMessageLimit{3000};
  // Replies held back by `delay` faults for one write handle, at most; a writer whose request
  // would add one more is dropped, as one that stops reading. Others are not held up by it.
  static constexpr std::size_t kMaxHeldReplies = 256;
  // `ctl send` repeats one report at most this often.
  static constexpr std::size_t kMaxSendCount = 100000;
  // The state file is saved at most this often, and a failed save is tried again after the
  // second time.
  static constexpr std::chrono::milliseconds kSaveInterval{100};
  static constexpr std::chrono::milliseconds kSaveRetry{1000};
  // When a new client cannot be taken (no descriptors) the server stops accepting for a while:
  // first this long, doubling up to the second, or until a connection closes.
  static constexpr std::chrono::milliseconds kAcceptPause{100};
  static constexpr std::chrono::milliseconds kMaxAcceptPause{1000};
  // How long a quitting server still sends control answers.
  static constexpr std::chrono::milliseconds kQuitFlushLimit{2000};
  // `ctl plug --staggered MS` takes at most this long between two collections.
  static constexpr long kMaxArrivalGapMs = 10000;

  explicit FrameServer(ServerOptions options);
  ~FrameServer();
  FrameServer(const FrameServer&) = delete;
  FrameServer& operator=(const FrameServer&) = delete;

  // Loads the state file (if any) and starts listening. False when the port is taken.
  bool Listen();
  uint16_t port() const { return port_; }
  // Serves until a `quit` control command, then finishes. False when the state file could not
  // be saved at the end.
  bool Run();
  // One round of Run: waits for clients or timers at most `limit` (negative: until something is
  // due) and serves what is ready. False once the simulator was told to quit.
  bool ServeOnce(std::chrono::milliseconds limit);
  // After the last round: the last control answers (for a moment), the last save. False when
  // the state file could not be saved.
  bool Finish();

  // The six interface paths of the current plug-in.
  std::vector<std::string> Paths() const;

 private:
  enum class Role { New, Enumerate, Reader, Writer, Notices, Control, Done };
  struct Connection;

  void AcceptAll(Clock::time_point now);
  void ReadFrom(Connection& c, Clock::time_point now);
  void Flush(Connection& c);
  // Takes more of what is made as the client reads (a flood of `ctl send`, a dump) into its
  // output.
  void TopUp(Connection& c);
  bool HandleMessage(Connection& c, const wire::Message& m, Clock::time_point now);
  bool HandleOutput(Connection& c, const wire::Message& m, Clock::time_point now);
  // Appends a message to the client's output; Queue also starts sending it, `copies` times,
  // behind anything still waiting for the client.
  void Append(Connection& c, const wire::Bytes& message);
  void Queue(Connection& c, const wire::Bytes& message, std::size_t copies = 1);
  void Deliver(const OutReport& report, uint64_t writer = 0);
  // Queues an input report `copies` times for every open read handle of its channel; returns
  // how many handles that is.
  std::size_t Broadcast(int channel, const std::vector<uint8_t>& report, std::size_t copies);
  void AfterModelChange(Clock::time_point now);
  void RunTimers(Clock::time_point now);
  int PollTimeout(Clock::time_point now) const;
  void RemoveFinished();

  // Control commands (server_control.cpp).
  void Control(Connection& c, const std::vector<std::string>& args, Clock::time_point now);
  void Reply(Connection& c, const std::string& text, int exitCode);
  void EndAnswer(Connection& c, const std::string& text, int exitCode);
  void Send(Connection& c, const std::vector<std::string>& args);
  // The collections arrive one by one, `gap` apart (all at once for 0).
  void Plug(bool newPaths, std::chrono::milliseconds gap, Clock::time_point now);
  void Unplug(bool newPaths);
  // The next collection of a staggered plug-in arrives.
  void ArriveNext(Clock::time_point now);
  void CheckWaits(Clock::time_point now);
  void SendNotice(uint8_t kind, int collection);

  // The state file: saved when changed, at most every kSaveInterval. True when the file holds
  // the current state.
  bool Saved() const;
  bool Save(Clock::time_point now);

  ServerOptions options_;
  net::Socket listener_;
  uint16_t port_ = 0;
  FrameModel model_;
  Finger finger_;
  bool connected_ = true;
  // Collections 0..present_-1 are there: enumerated, open to handles, announced. Fewer than six
  // only while a staggered plug-in goes on; the next one arrives at nextArrival_.
  int present_ = kFrameChannels;
  std::chrono::milliseconds arrivalGap_{0};
  Clock::time_point nextArrival_{};
  bool quit_ = false;
  int generation_ = 1;        // part of the paths; changes when the frame moves port
  bool movePending_ = false;  // the next plug-in uses new paths
  uint64_t seenRuns_ = 0;
  bool seenCalibrating_ = false;
  uint64_t savedRevision_ = 0;
  Clock::time_point nextSave_{};  // no save before this
  bool saveFailed_ = false;
  Clock::time_point acceptPausedUntil_{};
  std::chrono::milliseconds acceptPause_{0};
  struct Delayed {
    Clock::time_point due;
    OutReport report;
    uint64_t writer;  // the id of the connection whose request it answers
  };
  uint64_t nextId_ = 0;
  std::deque<Delayed> delayed_;
  std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace tactra::sim
