// A frame that arrives collection by collection (`ctl plug --staggered`), and a channel that stops
// taking output reports (`ctl fault chC stall`): what the simulator host and the link over it see.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "device/protocol.h"
#include "sim/net.h"
#include "sim/wire.h"
#include "tests/sim/served_frame.h"

namespace tactra::sim::testing {
namespace {

using namespace tactra::proto;
using namespace std::chrono_literals;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Notices with the time each one came.
class TimedNotices {
 public:
  struct Entry {
    DeviceNotice kind;
    std::wstring path;
    Clock::time_point at;
  };
  NoticeCallback Callback() {
    return [this](DeviceNotice kind, const std::wstring& path) {
      std::lock_guard<std::mutex> lock(mutex_);
      entries_.push_back({kind, path, Clock::now()});
      changed_.notify_all();
    };
  }
  bool Wait(std::size_t n, milliseconds limit = 5s) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return entries_.size() >= n; });
  }
  std::vector<Entry> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(entries_);
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Entry> entries_;
};

// Runs `wait(stop)` with a stop event that is set after `limit`.
template <typename Wait>
auto Within(milliseconds limit, Wait wait) {
  Event stop, finished;
  std::thread timer([&] {
    if (!finished.Wait(limit)) stop.Set();
  });
  auto result = wait(stop);
  finished.Set();
  timer.join();
  return result;
}

bool DoneWithin(HidWriter& handle, milliseconds limit) {
  return Within(limit, [&](const Event& stop) { return handle.WaitWriteDone(stop); });
}

// One input report read within `limit`; empty when none came.
Bytes ReadWithin(HidReader& handle, milliseconds limit) {
  return Within(limit, [&](const Event& stop) {
    uint8_t buffer[kReadBufferSize];
    std::size_t count = 0;
    const ReadResult result = handle.Read(buffer, sizeof buffer, count, stop);
    return result == ReadResult::Completed ? Bytes(buffer, buffer + count) : Bytes{};
  });
}

uint64_t ReceivedCount(const ServedFrame& frame) {
  std::string dump;
  frame.Ctl({"dump"}, &dump);
  const std::size_t at = dump.find("\"received_count\":");
  return at == std::string::npos ? ~0ull : std::stoull(dump.substr(at + 17));
}

TEST(SimStaggeredPlugTest, CollectionsArriveOneByOneAndEnumerationSeesOnlyThoseThatArrived) {
  struct Case {
    long gapMs;
    bool newPaths;
  };
  for (const Case c : {Case{80, false}, Case{200, true}}) {
    ServedFrame frame;
    std::unique_ptr<HidHost> host = frame.Host();
    TimedNotices notices;
    auto registration = host->RegisterArrivalNotifications(nullptr, notices.Callback());
    ASSERT_NE(registration, nullptr);
    const std::vector<HidInterface> before = host->Enumerate();
    ASSERT_EQ(before.size(), 6u);
    ASSERT_EQ(frame.Ctl({"unplug"}), 0);
    ASSERT_TRUE(notices.Wait(6));
    notices.Take();
    EXPECT_TRUE(host->Enumerate().empty());

    std::vector<std::string> plug{"plug", "--staggered", std::to_string(c.gapMs)};
    if (c.newPaths) plug.push_back("--new-paths");
    ASSERT_EQ(frame.Ctl(plug), 0);
    std::vector<TimedNotices::Entry> arrivals;
    for (std::size_t k = 1; k <= 6; ++k) {
      ASSERT_TRUE(notices.Wait(k)) << "gap " << c.gapMs << ": arrival " << k;
      // Right after arrival k, well before the next one is due.
      const std::vector<HidInterface> found = host->Enumerate();
      ASSERT_EQ(found.size(), k) << "gap " << c.gapMs;
      if (k < 6) {
        // A collection still to come cannot be opened yet.
        const std::wstring later = c.newPaths ? L"" : before[k].path;
        if (!later.empty()) EXPECT_EQ(host->OpenWriter(later), nullptr) << k;
      }
      EXPECT_NE(host->OpenReader(found[k - 1].path), nullptr) << k;
    }
    arrivals = notices.Take();
    ASSERT_EQ(arrivals.size(), 6u);
    const std::vector<HidInterface> after = host->Enumerate();
    for (std::size_t k = 0; k < 6; ++k) {
      EXPECT_EQ(arrivals[k].kind, DeviceNotice::Arrival);
      // Collection 0 first, 5 last: each notice names the collection enumerated in its place.
      EXPECT_EQ(arrivals[k].path, after[k].path) << k;
      EXPECT_EQ(arrivals[k].path == before[k].path, !c.newPaths) << k;
      if (k == 0) continue;
      const auto gap = std::chrono::duration_cast<milliseconds>(arrivals[k].at - arrivals[k - 1].at);
      EXPECT_GE(gap.count(), c.gapMs - 5) << "arrival " << k;
      EXPECT_LT(gap.count(), c.gapMs + 150) << "arrival " << k;
    }
  }
}

TEST(SimStaggeredPlugTest, UnplugDuringArrivalRemovesOnlyWhatArrivedAndStopsTheRest) {
  ServedFrame frame;
  std::unique_ptr<HidHost> host = frame.Host();
  TimedNotices notices;
  auto registration = host->RegisterArrivalNotifications(nullptr, notices.Callback());
  ASSERT_EQ(frame.Ctl({"unplug"}), 0);
  ASSERT_TRUE(notices.Wait(6));
  notices.Take();
  ASSERT_EQ(frame.Ctl({"plug", "--staggered", "300"}), 0);
  ASSERT_TRUE(notices.Wait(2, 2s));
  ASSERT_EQ(frame.Ctl({"unplug"}), 0);
  ASSERT_TRUE(notices.Wait(4));
  std::this_thread::sleep_for(700ms);  // two more would have arrived by now
  const auto all = notices.Take();
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[2].kind, DeviceNotice::Removal);
  EXPECT_EQ(all[3].kind, DeviceNotice::Removal);
  EXPECT_EQ(all[2].path, all[0].path);
  EXPECT_EQ(all[3].path, all[1].path);
  EXPECT_TRUE(host->Enumerate().empty());
  // A plug without a gap brings all six at once again.
  ASSERT_EQ(frame.Ctl({"plug"}), 0);
  ASSERT_TRUE(notices.Wait(6));
  EXPECT_EQ(host->Enumerate().size(), 6u);
}

TEST(SimStaggeredPlugTest, PlugRefusesBadOptions) {
  ServedFrame frame;
  const std::vector<std::vector<std::string>> refused = {
      {"plug", "--staggered"},
      {"plug", "--staggered", "x"},
      {"plug", "--staggered", "-1"},
      {"plug", "--staggered", "10001"},
      {"plug", "--staggered", "5", "--staggered", "5"},
      {"plug", "--new-paths", "--new-paths"},
      {"plug", "--later"},
  };
  for (const auto& args : refused) {
    std::string out;
    EXPECT_EQ(frame.Ctl(args, &out), 2) << args.back();
  }
  EXPECT_EQ(frame.Ctl({"plug", "--staggered", "10000", "--new-paths"}), 0);  // already plugged: nothing
}

// A write handle and a read handle of one command channel.
struct ChannelHandles {
  ChannelHandles(const ServedFrame& frame, int channel) : host(frame.Host()) {
    const std::vector<HidInterface> found = host->Enumerate();
    if (found.size() != 6) return;
    write = host->OpenWriter(found[channel].path);
    read = host->OpenReader(found[channel].path);
  }
  std::unique_ptr<HidHost> host;
  std::unique_ptr<HidWriter> write;
  std::unique_ptr<HidReader> read;
};

struct CommandChannel {
  int channel;
  Bytes command;
};

std::vector<CommandChannel> CommandChannels() {
  Bytes calibration = Command(kCalibrationReportId, CMD_CAL_GET_MODE);
  calibration.resize(48);
  Bytes settings = Command(kSettingsReportId, CMD_CFG_11, {kAccessRead});
  settings.resize(64);
  return {{kCalibrationChannel, calibration}, {kSettingsChannel, settings}};
}

TEST(SimStallTest, AStalledChannelLeavesTheWritePendingUntilCancelledAndLosesItsReports) {
  for (const CommandChannel& c : CommandChannels()) {
    ServedFrame frame;
    ChannelHandles h(frame, c.channel);
    ASSERT_NE(h.write, nullptr);
    ASSERT_NE(h.read, nullptr);
    // Sound first: the write ends and the frame answers.
    ASSERT_TRUE(h.write->Write(c.command.data(), c.command.size()));
    EXPECT_TRUE(DoneWithin(*h.write, 2s)) << c.channel;
    EXPECT_EQ(ReadWithin(*h.read, 2s).size(), c.command.size()) << c.channel;

    const std::string stall = "ch" + std::to_string(c.channel);
    ASSERT_EQ(frame.Ctl({"fault", stall, "stall"}), 0);
    std::string dump;
    frame.Ctl({"dump"}, &dump);
    EXPECT_NE(dump.find("\"stalled\":[" + std::to_string(c.channel) + "]"), std::string::npos);
    ASSERT_TRUE(h.write->Write(c.command.data(), c.command.size()));
    EXPECT_FALSE(DoneWithin(*h.write, 300ms)) << c.channel << ": the stalled frame took the report";
    EXPECT_FALSE(h.write->Write(c.command.data(), c.command.size())) << "a second write while one is pending";
    EXPECT_TRUE(ReadWithin(*h.read, 200ms).empty()) << c.channel << ": a stalled channel answered";
    // Cancelled, the write ends, and the next one goes out (and stays pending too).
    h.write->CancelWrite();
    EXPECT_TRUE(DoneWithin(*h.write, 1s)) << c.channel << ": the cancelled write did not end";
    ASSERT_TRUE(h.write->Write(c.command.data(), c.command.size())) << c.channel;
    EXPECT_FALSE(DoneWithin(*h.write, 200ms)) << c.channel;
    h.write->CancelWrite();
    EXPECT_TRUE(DoneWithin(*h.write, 1s));
    // Nothing written during the stall reached the frame.
    EXPECT_EQ(ReceivedCount(frame), 1u) << c.channel;

    ASSERT_EQ(frame.Ctl({"fault", stall, "none"}), 0);
    ASSERT_TRUE(h.write->Write(c.command.data(), c.command.size()));
    EXPECT_TRUE(DoneWithin(*h.write, 2s)) << c.channel;
    const Bytes reply = ReadWithin(*h.read, 2s);
    ASSERT_EQ(reply.size(), c.command.size()) << c.channel;
    EXPECT_EQ(reply[1], c.command[1]);
    // The reports lost in the stall are not answered late: only this one was.
    EXPECT_TRUE(ReadWithin(*h.read, 200ms).empty()) << c.channel;
    EXPECT_EQ(ReceivedCount(frame), 2u) << c.channel;
  }
}

TEST(SimStallTest, AStallOfOneChannelLeavesTheOthersAlone) {
  ServedFrame frame;
  ChannelHandles calibration(frame, kCalibrationChannel);
  ChannelHandles settings(frame, kSettingsChannel);
  const std::vector<CommandChannel> commands = CommandChannels();
  ASSERT_EQ(frame.Ctl({"fault", "ch5", "stall"}), 0);
  ASSERT_TRUE(calibration.write->Write(commands[0].command.data(), commands[0].command.size()));
  EXPECT_TRUE(DoneWithin(*calibration.write, 2s));
  EXPECT_FALSE(ReadWithin(*calibration.read, 2s).empty());
  ASSERT_TRUE(settings.write->Write(commands[1].command.data(), commands[1].command.size()));
  EXPECT_FALSE(DoneWithin(*settings.write, 300ms));
}

TEST(SimStallTest, FaultRefusesChannelsAndKindsThatDoNotGoTogether) {
  ServedFrame frame;
  const std::vector<std::vector<std::string>> refused = {
      {"fault", "ch6", "stall"},  {"fault", "ch", "stall"},       {"fault", "ch-1", "stall"},
      {"fault", "ch4", "silent"}, {"fault", "ch4", "stall", "1"}, {"fault", "0x01", "stall"},
      {"fault", "6:1", "stall"},  {"fault", "chx", "none"},
  };
  for (const auto& args : refused) {
    std::string out;
    EXPECT_EQ(frame.Ctl(args, &out), 2) << args[1] << " " << args[2];
  }
  EXPECT_EQ(frame.Ctl({"fault", "ch0x4", "stall"}), 0);  // numbers as everywhere in ctl
  std::string dump;
  frame.Ctl({"dump"}, &dump);
  EXPECT_NE(dump.find("\"stalled\":[4]"), std::string::npos);
  EXPECT_EQ(frame.Ctl({"fault", "ch4", "none"}), 0);
  frame.Ctl({"dump"}, &dump);
  EXPECT_NE(dump.find("\"stalled\":[]"), std::string::npos);
}

// A frame of one write handle that acknowledges when the test says so.
class AckingFrame {
 public:
  AckingFrame() : listener_(net::ListenLoopback(0, port_)) {}
  uint16_t port() const { return port_; }
  // Takes the host's connection and its Open.
  bool Accept() {
    std::vector<net::PollItem> wait{{listener_.native(), true, false}};
    if (net::Poll(wait, 5000) <= 0) return false;
    socket_ = net::Accept(listener_);
    if (!socket_.valid() || !net::SetNonBlocking(socket_, false)) return false;
    net::SetReceiveTimeout(socket_, 5000);
    wire::Message open;
    if (!Next(open) || open.type != wire::kOpen) return false;
    const wire::Bytes opened = wire::EncodeOpened({true, 64, 64});
    return net::SendAll(socket_, opened.data(), opened.size());
  }
  // The next output report's arrival.
  bool TakeOutput() {
    wire::Message m;
    return Next(m) && m.type == wire::kOutput;
  }
  bool Ack(uint32_t number) {
    const wire::Bytes ack = wire::EncodeAck(number);
    return net::SendAll(socket_, ack.data(), ack.size());
  }

 private:
  bool Next(wire::Message& m) {
    uint8_t byte = 0;
    for (;;) {
      if (decoder_.Next(m) == wire::Decoder::Status::Message) return true;
      if (net::Recv(socket_, &byte, 1) != 1 || !decoder_.Feed(&byte, 1)) return false;
    }
  }
  uint16_t port_ = 0;
  net::Socket listener_;
  net::Socket socket_;
  wire::Decoder decoder_;
};

TEST(SimStallTest, TheLateAcknowledgementOfACancelledWriteDoesNotEndTheNextOne) {
  AckingFrame frame;
  std::unique_ptr<HidWriter> write;
  std::thread opener([&] { write = CreateSimHidHost("127.0.0.1", frame.port())->OpenWriter(L"p"); });
  ASSERT_TRUE(frame.Accept());
  opener.join();
  ASSERT_NE(write, nullptr);
  const Bytes report(64, 6);
  ASSERT_TRUE(write->Write(report.data(), report.size()));
  ASSERT_TRUE(frame.TakeOutput());
  write->CancelWrite();
  ASSERT_TRUE(DoneWithin(*write, 1s));  // the cancelled one's end
  ASSERT_TRUE(write->Write(report.data(), report.size()));
  ASSERT_TRUE(frame.TakeOutput());
  // The first one's acknowledgement, late: the second write is still pending.
  ASSERT_TRUE(frame.Ack(1));
  EXPECT_FALSE(DoneWithin(*write, 300ms));
  EXPECT_FALSE(write->Write(report.data(), report.size()));
  ASSERT_TRUE(frame.Ack(2));
  EXPECT_TRUE(DoneWithin(*write, 1s));
  EXPECT_TRUE(write->Write(report.data(), report.size()));
  ASSERT_TRUE(frame.TakeOutput());
  // An acknowledgement of a number never sent ends nothing either.
  ASSERT_TRUE(frame.Ack(7));
  EXPECT_FALSE(DoneWithin(*write, 200ms));
}

// The link over the simulator host: a stall costs each command its wait, and once it ends the
// next command is answered, without the program doing anything about it.
TEST(SimStallTest, TheLinkRecoversByItselfOnceTheStallEnds) {
  struct Case {
    const char* program;
    LinkConfig config;
    uint8_t reportId;
    uint8_t code;
    Bytes payload;
    const char* channel;
  };
  const Case cases[] = {
      {"console", ConsoleLinkConfig(), kSettingsReportId, CMD_CFG_11, {kAccessRead}, "ch5"},
      {"console", ConsoleLinkConfig(), kCalibrationReportId, CMD_CAL_GET_MODE, {}, "ch4"},
      {"calibration", CalibrationLinkConfig(), kCalibrationReportId, CMD_CAL_GET_MODE, {}, "ch4"},
  };
  for (const Case& c : cases) {
    ServedFrame frame;
    LinkConfig config = c.config;
    config.replyWait = 400ms;
    ProgramLink p(frame, config);
    ASSERT_TRUE(p.link.Start()) << c.program;
    ASSERT_TRUE(p.Send(c.reportId, c.code, c.payload)) << c.program;
    ASSERT_EQ(frame.Ctl({"fault", c.channel, "stall"}), 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
      const auto started = Clock::now();
      EXPECT_FALSE(p.Send(c.reportId, c.code, c.payload)) << c.program << " " << c.channel;
      // Each command is written and waits: it is not refused at once for the one before.
      EXPECT_GE(Clock::now() - started, 400ms) << c.program << " attempt " << attempt;
    }
    ASSERT_EQ(frame.Ctl({"fault", c.channel, "none"}), 0);
    EXPECT_TRUE(p.Send(c.reportId, c.code, c.payload)) << c.program << " " << c.channel;
    EXPECT_EQ(p.owner.LastReply()[1], c.code);
    EXPECT_EQ(p.owner.Replies().size(), 2u) << c.program;
  }
}

}  // namespace
}  // namespace tactra::sim::testing
