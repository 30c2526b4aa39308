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

void FrameServer::Run() {
  std::vector<net::PollItem> items;
  while (!quit_) {
    items.clear();
    items.push_back({listener_.native(), connections_.size() < kMaxConnections, false});
    for (const auto& c : connections_) items.push_back({c->socket.native(), true, c->sent < c->out.size()});
    if (net::Poll(items, PollTimeout(Clock::now())) < 0) break;
    const std::size_t polled = items.size() - 1;
    if (items[0].readable) AcceptAll();
    for (std::size_t i = 0; i < polled; ++i) {
      Connection& c = *connections_[i];
      if (!c.dead && items[i + 1].readable) ReadFrom(c);
      if (!c.dead && items[i + 1].writable) Flush(c);
    }
    RunTimers(Clock::now());
    connections_.erase(std::remove_if(connections_.begin(), connections_.end(),
                                      [](const std::unique_ptr<Connection>& c) {
                                        return c->dead || (c->closeWhenFlushed && c->sent >= c->out.size());
                                      }),
                       connections_.end());
  }
  // The control client that asked to quit still gets its answer, but no client that stopped
  // reading may hold the exit up: only control answers are sent, and only for a moment.
  const Clock::time_point deadline = Clock::now() + kQuitFlushLimit;
  std::vector<Connection*> answering;
  for (;;) {
    items.clear();
    answering.clear();
    for (const auto& c : connections_) {
      if (c->dead || c->role != Role::Done || c->sent >= c->out.size()) continue;
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
}

void FrameServer::AcceptAll() {
  while (connections_.size() < kMaxConnections) {
    net::Socket s = net::Accept(listener_);
    if (!s.valid()) return;
    auto c = std::make_unique<Connection>();
    c->socket = std::move(s);
    connections_.push_back(std::move(c));
  }
}

void FrameServer::ReadFrom(Connection& c) {
  uint8_t buffer[16384];
  const Clock::time_point now = Clock::now();
  // A bounded number of reads per wake-up keeps one busy client from starving the others.
  for (int round = 0; round < 16 && !c.dead; ++round) {
    const long n = net::Recv(c.socket, buffer, sizeof buffer);
    if (n == net::kWouldBlock) return;
    if (n <= 0) {
      c.dead = true;
      return;
    }
    if (!c.decoder.Feed(buffer, static_cast<std::size_t>(n))) {
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
        if (connected_ && it != paths.end()) {
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
    case Role::Writer: {
      wire::Bytes report;
      if (!wire::ParseReport(m, wire::kOutput, report)) return false;
      std::vector<OutReport> replies;
      model_.HandleOutput(c.channel, report.data(), report.size(), replies);
      for (const OutReport& r : replies) Deliver(r);
      AfterModelChange(now);
      CheckWaits(now);
      return true;
    }
    default:
      return false;  // readers, subscribers and control clients have nothing more to say
  }
  // An enumeration.
  std::vector<wire::InterfaceInfo> list;
  if (connected_) {
    const std::vector<std::string> paths = Paths();
    for (int n = 0; n < kFrameChannels; ++n) {
      list.push_back({kFrameVendorId, kFrameProductId, options_.channels[n].input,
                      options_.channels[n].output, paths[n]});
    }
  }
  Queue(c, wire::EncodeInterfaces(list));
  return true;
}

void FrameServer::Queue(Connection& c, const wire::Bytes& message) {
  if (c.dead) return;
  if (c.sent > 0 && c.sent == c.out.size()) {
    c.out.clear();
    c.sent = 0;
  }
  c.out.insert(c.out.end(), message.begin(), message.end());
  if (c.role != Role::Control && c.role != Role::Done && c.out.size() - c.sent > kMaxPending) {
    c.dead = true;  // a client that stopped reading cannot hold the frame's memory
    return;
  }
  Flush(c);
}

void FrameServer::Flush(Connection& c) {
  while (c.sent < c.out.size()) {
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

void FrameServer::Deliver(const OutReport& report) {
  if (report.delay.count() > 0) {
    Delayed d{Clock::now() + report.delay, report};
    d.report.delay = std::chrono::milliseconds(0);
    const auto at = std::upper_bound(delayed_.begin(), delayed_.end(), d.due,
                                     [](Clock::time_point t, const Delayed& e) { return t < e.due; });
    delayed_.insert(at, std::move(d));
    return;
  }
  const wire::Bytes message = wire::EncodeReport(wire::kInput, report.bytes.data(), report.bytes.size());
  for (auto& c : connections_) {
    if (c->role == Role::Reader && c->channel == report.channel) Queue(*c, message);
  }
}

void FrameServer::AfterModelChange(Clock::time_point now) {
  if (model_.calibrationRuns() != seenRuns_) {
    seenRuns_ = model_.calibrationRuns();
    finger_.Begin(model_.mode(), now);
  } else if (seenCalibrating_ && !model_.calibrating()) {
    finger_.End();
  }
  seenCalibrating_ = model_.calibrating();
  SaveIfChanged();
}

void FrameServer::SaveIfChanged() {
  if (model_.revision() == savedRevision_) return;
  savedRevision_ = model_.revision();
  if (options_.stateFile.empty()) return;
  const FrameState state{model_.mode(), model_.settings(), model_.record()};
  if (!SaveState(options_.stateFile, state)) {
    std::fprintf(stderr, "tactra-framesim: cannot write %s\n", options_.stateFile.c_str());
  }
}

void FrameServer::RunTimers(Clock::time_point now) {
  while (!delayed_.empty() && delayed_.front().due <= now) {
    const OutReport report = std::move(delayed_.front().report);
    delayed_.pop_front();
    Deliver(report);
  }
  const std::optional<Clock::time_point> due = finger_.NextDue();
  if (due && *due <= now) {
    std::vector<OutReport> reports;
    finger_.Tick(now, reports);
    for (const OutReport& r : reports) Deliver(r);
  }
  CheckWaits(now);
}

int FrameServer::PollTimeout(Clock::time_point now) const {
  std::optional<Clock::time_point> next = finger_.NextDue();
  auto consider = [&next](Clock::time_point t) {
    if (!next || t < *next) next = t;
  };
  if (!delayed_.empty()) consider(delayed_.front().due);
  for (const auto& c : connections_) {
    if (c->waiting) consider(c->waitUntil);
  }
  if (!next) return -1;
  if (*next <= now) return 0;
  // Rounded up, so a wake-up never comes before what it waits for.
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*next - now).count();
  return static_cast<int>(std::min<long long>(wait, 1 << 30));
}

}  // namespace tactra::sim
