#include "sim/server.h"

#include <algorithm>
#include <cstdio>

#include "sim/server_connection.h"
#include "sim/state_file.h"

namespace tactra::sim {

FrameServer::FrameServer(ServerOptions options)
    : options_(std::move(options)), model_(options_.channels), finger_(options_.finger) {}

FrameServer::~FrameServer() = default;

std::vector<std::string> FrameServer::Paths() const {
  std::vector<std::string> paths;
  for (int n = 0; n < kFrameChannels; ++n) {
    char path[128];
    std::snprintf(path, sizeof path,
                  "\\\\?\\hid#vid_%04x&pid_%04x&col%02d#7&%08x&0&%04d#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  kFrameVendorId, kFrameProductId, n + 1, static_cast<unsigned>(0x2a5e0000u + generation_),
                  n);
    paths.push_back(path);
  }
  return paths;
}

bool FrameServer::Listen() {
  FrameState state;
  bool loaded = false;
  if (!options_.stateFile.empty()) {
    loaded = LoadState(options_.stateFile, state);
    if (!loaded) {
      std::FILE* probe = std::fopen(options_.stateFile.c_str(), "rb");
      if (probe != nullptr) {
        std::fclose(probe);
        std::fprintf(stderr, "tactra-framesim: %s is not a valid state file; starting from defaults\n",
                     options_.stateFile.c_str());
      }
    }
  }
  const int mode = options_.mode != 0 ? options_.mode : state.mode;
  model_.Restore(mode, state.settings, state.record);
  savedRevision_ = model_.revision();
  listener_ = net::ListenLoopback(options_.port, port_);
  return listener_.valid();
}

bool FrameServer::Run() {
  while (ServeOnce(std::chrono::milliseconds(-1))) {
  }
  return Finish();
}

bool FrameServer::ServeOnce(std::chrono::milliseconds limit) {
  if (quit_) return false;
  std::vector<net::PollItem> items;
  std::vector<Connection*> polled;
  Clock::time_point now = Clock::now();
  const bool accepting = connections_.size() < kMaxConnections && now >= acceptPausedUntil_;
  if (accepting) items.push_back({listener_.native(), true, false});
  for (const auto& c : connections_) {
    // A client that ended its sending side is only written to, when there is something to send.
    if (c->peerClosed && c->flushed()) continue;
    items.push_back({c->socket.native(), !c->peerClosed, !c->flushed()});
    polled.push_back(c.get());
  }
  int timeout = PollTimeout(now);
  if (limit.count() >= 0 && (timeout < 0 || timeout > limit.count()))
    timeout = static_cast<int>(limit.count());
  if (net::Poll(items, timeout) < 0) {
    quit_ = true;
    return false;
  }
  now = Clock::now();
  const std::size_t first = accepting ? 1 : 0;
  if (accepting && items[0].readable) AcceptAll(now);
  for (std::size_t i = 0; i < polled.size(); ++i) {
    Connection& c = *polled[i];
    const net::PollItem& item = items[first + i];
    if (!c.dead && item.readable) {
      if (!c.peerClosed) {
        ReadFrom(c, now);
      } else if (!item.writable) {
        c.dead = true;  // hung up with the answer still unsent: nobody is left to read it
      }
    }
    if (!c.dead && item.writable) Flush(c);
  }
  RunTimers(Clock::now());
  RemoveFinished();
  return !quit_;
}

bool FrameServer::Finish() {
  // Nobody new: a late client is refused at once instead of waiting for an answer.
  listener_.Close();
  // The control client that asked to quit still gets its answer, but no client that stopped
  // reading may hold the exit up: only control answers are sent, and only for a moment.
  const Clock::time_point deadline = Clock::now() + kQuitFlushLimit;
  std::vector<net::PollItem> items;
  std::vector<Connection*> answering;
  for (;;) {
    items.clear();
    answering.clear();
    for (const auto& c : connections_) {
      if (c->dead || (c->role != Role::Done && !c->dump) || c->flushed()) continue;
      items.push_back({c->socket.native(), false, true});
      answering.push_back(c.get());
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (answering.empty() || left <= 0) break;
    if (net::Poll(items, static_cast<int>(left)) < 0) break;
    for (std::size_t i = 0; i < answering.size(); ++i) {
      if (items[i].writable) Flush(*answering[i]);
    }
  }
  connections_.clear();
  return Saved() || Save(Clock::now());
}

void FrameServer::RemoveFinished() {
  const std::size_t before = connections_.size();
  connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                    [](const std::unique_ptr<Connection>& c) {
                                      return c->dead || (c->closeWhenFlushed && c->flushed() && !c->dump &&
                                                         c->bursts.empty());
                                    }),
                     connections_.end());
  // Descriptors were freed: a pause in accepting may end now.
  if (connections_.size() < before) acceptPausedUntil_ = {};
}

void FrameServer::AcceptAll(Clock::time_point now) {
  while (connections_.size() < kMaxConnections) {
    bool failed = false;
    net::Socket s = net::Accept(listener_, &failed);
    if (!s.valid()) {
      // Out of descriptors the connection stays queued and the listener readable: wait instead
      // of spinning.
      if (failed) {
        acceptPause_ = std::min(std::max(acceptPause_ * 2, kAcceptPause), kMaxAcceptPause);
        acceptPausedUntil_ = now + acceptPause_;
      }
      return;
    }
    acceptPause_ = std::chrono::milliseconds(0);
    auto c = std::make_unique<Connection>();
    c->id = ++nextId_;
    c->socket = std::move(s);
    c->accepted = now;
    connections_.push_back(std::move(c));
  }
}

void FrameServer::ReadFrom(Connection& c, Clock::time_point now) {
  uint8_t buffer[16384];
  // A bounded number of reads per wake-up keeps one busy client from starving the others.
  for (int round = 0; round < 16 && !c.dead; ++round) {
    const long n = net::Recv(c.socket, buffer, sizeof buffer);
    if (n == net::kWouldBlock) return;
    if (n == 0) {
      // The client has said all it will; what it asked for is still answered.
      c.peerClosed = true;
      if (!c.waiting && !c.dump) c.closeWhenFlushed = true;
      return;
    }
    if (n < 0 || !c.decoder.Feed(buffer, static_cast<std::size_t>(n))) {
      c.dead = true;
      return;
    }
    wire::Message m;
    for (;;) {
      const wire::Decoder::Status status = c.decoder.Next(m);
      if (status == wire::Decoder::Status::NeedMore) break;
      if (status == wire::Decoder::Status::Bad || !HandleMessage(c, m, now)) {
        c.dead = true;
        return;
      }
      if (c.dead) return;
    }
  }
}

bool FrameServer::HandleMessage(Connection& c, const wire::Message& m, Clock::time_point now) {
  switch (c.role) {
    case Role::New:
      if (m.type == wire::kEnumerate && m.payload.empty()) {
        c.role = Role::Enumerate;
        break;  // answered below
      }
      if (m.type == wire::kOpen) {
        wire::OpenRequest request;
        if (!wire::ParseOpen(m, request)) return false;
        const std::vector<std::string> paths = Paths();
        const auto it = std::find(paths.begin(), paths.end(), request.path);
        wire::OpenReply reply;
        if (connected_ && it != paths.end() && it - paths.begin() < present_) {
          c.channel = static_cast<int>(it - paths.begin());
          c.role = request.access == wire::kAccessRead ? Role::Reader : Role::Writer;
          reply = {true, options_.channels[c.channel].input, options_.channels[c.channel].output};
        } else {
          c.role = Role::Done;
          c.closeWhenFlushed = true;
        }
        Queue(c, wire::EncodeOpened(reply));
        return true;
      }
      if (m.type == wire::kSubscribe && m.payload.empty()) {
        c.role = Role::Notices;
        return true;
      }
      if (m.type == wire::kControl) {
        std::vector<std::string> args;
        if (!wire::ParseControl(m, args)) return false;
        c.role = Role::Control;
        Control(c, args, now);
        return true;
      }
      return false;
    case Role::Enumerate:
      if (m.type != wire::kEnumerate || !m.payload.empty()) return false;
      break;
    case Role::Writer:
      return HandleOutput(c, m, now);
    default:
      return false;  // readers, subscribers and control clients have nothing more to say
  }
  // An enumeration.
  std::vector<wire::InterfaceInfo> list;
  if (connected_) {
    const std::vector<std::string> paths = Paths();
    for (int n = 0; n < present_; ++n) {
      list.push_back({kFrameVendorId, kFrameProductId, options_.channels[n].input,
                      options_.channels[n].output, paths[n]});
    }
  }
  Queue(c, wire::EncodeInterfaces(list));
  return true;
}

bool FrameServer::HandleOutput(Connection& c, const wire::Message& m, Clock::time_point now) {
  wire::Bytes report;
  if (!wire::ParseReport(m, wire::kOutput, report)) return false;
  // Every output report has its number, whether the frame takes it or not, so that the client
  // can tell which write an acknowledgement ends.
  ++c.outputs;
  // A stalled channel does not take it: not logged, not answered, never acknowledged.
  if (model_.stalled(c.channel)) return true;
  std::vector<OutReport> replies;
  model_.HandleOutput(c.channel, report.data(), report.size(), replies);
  const std::size_t held = static_cast<std::size_t>(
      std::count_if(replies.begin(), replies.end(), [](const OutReport& r) { return r.delay.count() > 0; }));
  const bool keep = c.held + held <= kMaxHeldReplies;
  if (keep) {
    c.held += held;
    // Taken first, answered after: the acknowledgement leaves before any reply.
    Queue(c, wire::EncodeAck(c.outputs));
    for (const OutReport& r : replies) Deliver(r, c.id);
  }
  AfterModelChange(now);
  CheckWaits(now);
  return keep;
}

void FrameServer::Append(Connection& c, const wire::Bytes& message) {
  if (c.dead) return;
  // What was sent goes once it is at least as much as what is left, so a client that reads
  // slowly but never quite catches up does not keep everything it was ever sent.
  if (c.sent > 0 && 2 * c.sent >= c.out.size()) {
    c.out.erase(c.out.begin(), c.out.begin() + static_cast<std::ptrdiff_t>(c.sent));
    c.sent = 0;
  }
  c.out.insert(c.out.end(), message.begin(), message.end());
  // A client that stopped reading cannot hold the frame's memory.
  if (c.out.size() - c.sent + c.burstBytes > kMaxPending) c.dead = true;
}

void FrameServer::Queue(Connection& c, const wire::Bytes& message, std::size_t copies) {
  if (c.dead || copies == 0) return;
  if (copies == 1 && c.bursts.empty()) {
    Append(c, message);
  } else {
    c.bursts.push_back({message, copies});
    c.burstBytes += message.size();
    if (c.out.size() - c.sent + c.burstBytes > kMaxPending) c.dead = true;
  }
  Flush(c);
}

void FrameServer::Flush(Connection& c) {
  for (;;) {
    TopUp(c);
    if (c.dead || c.flushed()) break;
    const long n = net::Send(c.socket, c.out.data() + c.sent, c.out.size() - c.sent);
    if (n == net::kWouldBlock) return;
    if (n <= 0) {
      c.dead = true;
      return;
    }
    c.sent += static_cast<std::size_t>(n);
  }
  c.out.clear();
  c.sent = 0;
}

void FrameServer::TopUp(Connection& c) {
  // A piece, and one more while the first is on its way: enough to keep the socket busy.
  constexpr std::size_t kPiece = 32 * 1024;
  while (!c.bursts.empty() && !c.dead && c.out.size() - c.sent < kPiece) {
    Connection::Burst& burst = c.bursts.front();
    for (; burst.copies > 0 && !c.dead && c.out.size() - c.sent < kPiece; --burst.copies) {
      Append(c, burst.message);
    }
    if (burst.copies == 0) {
      c.burstBytes -= burst.message.size();
      c.bursts.pop_front();
    }
  }
  std::string piece;
  while (c.dump && !c.dead && c.out.size() - c.sent < kPiece) {
    if (c.dump->Next(model_, kPiece, piece)) {
      Append(c, wire::EncodeControlText(piece));
    } else {
      c.dump.reset();
      EndAnswer(c, "", 0);
    }
  }
}

void FrameServer::Deliver(const OutReport& report, uint64_t writer) {
  if (report.delay.count() > 0) {
    Delayed d{Clock::now() + report.delay, report, writer};
    d.report.delay = std::chrono::milliseconds(0);
    const auto at = std::upper_bound(delayed_.begin(), delayed_.end(), d.due,
                                     [](Clock::time_point t, const Delayed& e) { return t < e.due; });
    delayed_.insert(at, std::move(d));
    return;
  }
  Broadcast(report.channel, report.bytes, 1);
}

std::size_t FrameServer::Broadcast(int channel, const std::vector<uint8_t>& report, std::size_t copies) {
  const wire::Bytes message = wire::EncodeReport(wire::kInput, report.data(), report.size());
  std::size_t handles = 0;
  for (auto& c : connections_) {
    if (c->role != Role::Reader || c->channel != channel || c->dead) continue;
    Queue(*c, message, copies);
    ++handles;
  }
  return handles;
}

void FrameServer::AfterModelChange(Clock::time_point now) {
  if (model_.calibrationRuns() != seenRuns_) {
    seenRuns_ = model_.calibrationRuns();
    finger_.Begin(model_.mode(), now);
  } else if (seenCalibrating_ && !model_.calibrating()) {
    finger_.End();
  }
  seenCalibrating_ = model_.calibrating();
}

bool FrameServer::Saved() const { return options_.stateFile.empty() || model_.revision() == savedRevision_; }

bool FrameServer::Save(Clock::time_point now) {
  const uint64_t revision = model_.revision();
  const FrameState state{model_.mode(), model_.settings(), model_.record()};
  const bool saved = SaveState(options_.stateFile, state);
  if (saved) {
    savedRevision_ = revision;
    if (saveFailed_) std::fprintf(stderr, "tactra-framesim: %s saved again\n", options_.stateFile.c_str());
  } else if (!saveFailed_) {
    std::fprintf(stderr, "tactra-framesim: cannot write %s; trying again\n", options_.stateFile.c_str());
  }
  saveFailed_ = !saved;
  nextSave_ = now + (saved ? kSaveInterval : kSaveRetry);
  return saved;
}

void FrameServer::RunTimers(Clock::time_point now) {
  while (!delayed_.empty() && delayed_.front().due <= now) {
    const Delayed d = std::move(delayed_.front());
    delayed_.pop_front();
    for (auto& c : connections_) {
      if (c->id == d.writer && c->held > 0) --c->held;
    }
    Deliver(d.report);
  }
  const std::optional<Clock::time_point> due = finger_.NextDue();
  if (due && *due <= now) {
    std::vector<OutReport> reports;
    finger_.Tick(now, reports);
    for (const OutReport& r : reports) Deliver(r);
  }
  while (connected_ && present_ < kFrameChannels && now >= nextArrival_) ArriveNext(now);
  CheckWaits(now);
  for (auto& c : connections_) {
    if (c->role == Role::New && now - c->accepted >= kFirstMessageLimit) c->dead = true;
  }
  if (!Saved() && now >= nextSave_) Save(now);
}

int FrameServer::PollTimeout(Clock::time_point now) const {
  std::optional<Clock::time_point> next = finger_.NextDue();
  auto consider = [&next](Clock::time_point t) {
    if (!next || t < *next) next = t;
  };
  if (!delayed_.empty()) consider(delayed_.front().due);
  if (connected_ && present_ < kFrameChannels) consider(nextArrival_);
  for (const auto& c : connections_) {
    if (c->waiting) consider(c->waitUntil);
    if (c->role == Role::New) consider(c->accepted + kFirstMessageLimit);
  }
  if (!Saved()) consider(nextSave_);
  if (now < acceptPausedUntil_ && connections_.size() < kMaxConnections) consider(acceptPausedUntil_);
  if (!next) return -1;
  if (*next <= now) return 0;
  // Rounded up, so a wake-up never comes before what it waits for.
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
  return static_cast<int>(std::min<long long>(wait, 1 << 30));
}

}  // namespace tactra::sim
