// The served frame against clients that misbehave (silent, half-closed, not reading, flooding),
// against a state file that cannot be written, and the clients' own time limits.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "device/protocol.h"
#include "sim/hex.h"
#include "sim/state_file.h"
#include "tests/sim/raw_client.h"
#include "tests/sim/served_frame.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#include <sanitizer/allocator_interface.h>
#define TACTRA_SANITIZED_HEAP 1
#endif
#endif

namespace tactra::sim::testing {
namespace {

using namespace tactra::proto;
using namespace std::chrono_literals;
using std::chrono::milliseconds;
namespace fs = std::filesystem;

// A directory of its own below the test's temporary directory, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = ::testing::TempDir() + "framesim-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// Waits until `done` holds, for at most `limit`.
template <typename Done>
bool Eventually(Done done, milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

// Opens a write handle on `channel` and writes `report` there `count` times, as it is.
void WriteReports(const ServedFrame& frame, int channel, int count, const Bytes& report) {
  RawClient writer(frame.port());
  ASSERT_TRUE(writer.valid());
  const std::vector<HidInterface> found = frame.Host()->Enumerate();
  ASSERT_EQ(found.size(), 6u);
  bool ok = false;
  const std::string path = NarrowPath(found[channel].path, ok);
  ASSERT_TRUE(writer.Send(wire::EncodeOpen({wire::kAccessWrite, path})));
  const wire::Bytes message = wire::EncodeReport(wire::kOutput, report.data(), report.size());
  wire::Bytes batch;
  for (int i = 0; i < count; ++i) batch.insert(batch.end(), message.begin(), message.end());
  ASSERT_TRUE(writer.Send(batch));
  ASSERT_EQ(frame.Ctl({"wait-received", std::to_string(count), "--timeout", "20000"}), 0);
}

// Bytes the process holds allocated now (not what the allocator keeps for reuse, or the
// sanitizers' quarantine of freed blocks).
long LiveHeapBytes() {
#ifdef TACTRA_SANITIZED_HEAP
  return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
  return static_cast<long>(mallinfo2().uordblks);
#endif
}

std::vector<std::string> NarrowPaths(const ServedFrame& frame) {
  std::vector<std::string> paths;
  for (const HidInterface& i : frame.Host()->Enumerate()) {
    bool ok = false;
    paths.push_back(NarrowPath(i.path, ok));
  }
  return paths;
}

// A read or write handle of one channel, opened as the simulator host opens one.
class Handle {
 public:
  Handle(const ServedFrame& frame, const std::string& path, uint8_t access, int receiveBuffer = 0)
      : client_(frame.port(), receiveBuffer) {
    wire::OpenReply reply;
    opened_ = client_.valid() && client_.Send(wire::EncodeOpen({access, path})) &&
              client_.ReadMessages(1, 5s, [&](const wire::Message& m) { wire::ParseOpened(m, reply); }) &&
              reply.ok;
    outputLength_ = reply.outputLength;
  }
  bool opened() const { return opened_; }
  // Each report cut or padded to the output length, as a program's buffer is.
  bool Write(const std::vector<Bytes>& reports) {
    wire::Bytes batch;
    for (Bytes r : reports) {
      r.resize(outputLength_, 0);
      const wire::Bytes m = wire::EncodeReport(wire::kOutput, r.data(), r.size());
      batch.insert(batch.end(), m.begin(), m.end());
    }
    return client_.Send(batch);
  }
  // The input reports that arrive before the first for which `last` holds, which ends the read;
  // false when none does within the limit.
  template <typename Last>
  bool ReadUntil(Last last, std::vector<Bytes>& before, milliseconds limit = 10s) {
    before.clear();
    bool done = false, bad = false;
    while (!done && !bad) {
      if (!client_.ReadMessages(1, limit, [&](const wire::Message& m) {
            Bytes report;
            if (!wire::ParseReport(m, wire::kInput, report)) {
              bad = true;
            } else if (last(report)) {
              done = true;
            } else {
              before.push_back(std::move(report));
            }
          })) {
        return false;
      }
    }
    return done;
  }
  RawClient& client() { return client_; }

 private:
  RawClient client_;
  bool opened_ = false;
  std::size_t outputLength_ = 0;
};

// `ctl send`'s marker for a channel: the report ID 0xEE, zeros to the input length.
Bytes Marker(int channel) {
  Bytes m(DefaultChannels()[channel].input, 0);
  m[0] = 0xEE;
  return m;
}

TEST(SimServerTest, DuplicateFaultSendsEachReplyExactlyTwiceToEveryReader) {
  ServedFrame frame;
  const std::vector<std::string> paths = NarrowPaths(frame);
  ASSERT_EQ(paths.size(), 6u);
  struct Case {
    std::string code;  // as `ctl fault` takes it
    uint8_t reportId;
    uint8_t command;
    Bytes payload;
    std::size_t copies;
  };
  const Case cases[] = {
      {"0x13", kSettingsReportId, CMD_CAL_OPTION_13, {kAccessRead}, 2},
      {"19", kSettingsReportId, CMD_CAL_OPTION_13, {kAccessWrite, 2}, 2},
      {"6:0x01", kCalibrationReportId, CMD_CAL_GET_MODE, {}, 2},
      {"6:0x01", kSettingsReportId, CMD_INFO_01, {kAccessRead}, 1},
      {"7:0x01", kSettingsReportId, CMD_INFO_01, {kAccessRead}, 2},
      {"7:0x01", kCalibrationReportId, CMD_CAL_GET_MODE, {}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code + " on report ID " + std::to_string(c.reportId));
    const int channel = c.reportId == kCalibrationReportId ? kCalibrationChannel : kSettingsChannel;
    Handle writer(frame, paths[channel], wire::kAccessWrite);
    Handle first(frame, paths[channel], wire::kAccessRead), second(frame, paths[channel], wire::kAccessRead);
    ASSERT_TRUE(writer.opened() && first.opened() && second.opened());
    // Once with the fault, once after it ended; a sound command that is not faulted follows each
    // on the same handle, so its reply comes after every copy of the one before.
    const uint8_t after = c.reportId == kCalibrationReportId ? CMD_CAL_READ_DATA : CMD_CFG_11;
    const Bytes payload = c.reportId == kCalibrationReportId ? Bytes{} : Bytes{kAccessRead};
    for (const bool faulted : {true, false}) {
      ASSERT_EQ(frame.Ctl({"fault", c.code, faulted ? "duplicate" : "none"}), 0);
      ASSERT_TRUE(
          writer.Write({Command(c.reportId, c.command, c.payload), Command(c.reportId, after, payload)}));
      for (Handle* reader : {&first, &second}) {
        std::vector<Bytes> replies;
        ASSERT_TRUE(reader->ReadUntil([&](const Bytes& r) { return r[1] == after; }, replies)) << faulted;
        ASSERT_EQ(replies.size(), faulted ? c.copies : 1u) << faulted;
        for (const Bytes& r : replies) {
          EXPECT_EQ(r, replies[0]) << faulted;
          EXPECT_EQ(r[1], c.command) << faulted;
        }
      }
    }
  }
  std::string dump;
  ASSERT_EQ(frame.Ctl({"fault", "7:0x11", "duplicate"}), 0);
  ASSERT_EQ(frame.Ctl({"dump"}, &dump), 0);
  EXPECT_NE(dump.find("{\"report_id\":7,\"code\":17,\"kind\":\"duplicate\",\"delay_ms\":0}"),
            std::string::npos)
      << dump.substr(0, 600);
}

TEST(SimServerTest, SendReachesEveryReadHandleOfItsChannelPaddedAndRepeated) {
  ServedFrame frame;
  const std::vector<std::string> paths = NarrowPaths(frame);
  ASSERT_EQ(paths.size(), 6u);
  // Two read handles on every channel.
  std::vector<std::unique_ptr<Handle>> readers;
  for (int channel = 0; channel < kFrameChannels; ++channel) {
    for (int i = 0; i < 2; ++i) {
      readers.push_back(std::make_unique<Handle>(frame, paths[channel], wire::kAccessRead));
      ASSERT_TRUE(readers.back()->opened());
    }
  }
  const auto padded = [](Bytes head, int channel) {
    head.resize(DefaultChannels()[channel].input, 0);
    return head;
  };
  Bytes touch(DefaultChannels()[kTouchChannel].input, 0x11);
  touch[0] = kTouchReportId;
  struct Case {
    std::vector<std::string> args;
    int channel;
    Bytes report;
    std::size_t count;
  };
  const Case cases[] = {
      {{"send", "0602000100ff"}, kCalibrationChannel, padded({6, 2, 0, 1, 0, 0xFF}, kCalibrationChannel), 1},
      {{"send", "07AB", "--count", "3"}, kSettingsChannel, padded({7, 0xAB}, kSettingsChannel), 3},
      {{"send", "02" + std::string(122, '1')}, kTouchChannel, touch, 1},
      {{"send", "0501", "--channel", "3", "--count", "0x2"}, 3, padded({5, 1}, 3), 2},
      {{"send", "07ff", "--count", "2", "--channel", "4"},
       kCalibrationChannel,
       padded({7, 0xFF}, kCalibrationChannel),
       2},
      {{"send", "00", "--channel", "1"}, 1, Bytes(9, 0), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[1]);
    std::string out;
    ASSERT_EQ(frame.Ctl(c.args, &out), 0) << out;
    EXPECT_NE(out.find("for 2 read handles"), std::string::npos) << out;
    // A marker on every channel after it: what came before the marker is what the send sent.
    for (int channel = 0; channel < kFrameChannels; ++channel) {
      ASSERT_EQ(frame.Ctl({"send", "ee", "--channel", std::to_string(channel)}), 0);
    }
    for (std::size_t i = 0; i < readers.size(); ++i) {
      const int channel = static_cast<int>(i / 2);
      std::vector<Bytes> got;
      ASSERT_TRUE(readers[i]->ReadUntil([&](const Bytes& r) { return r == Marker(channel); }, got))
          << "channel " << channel;
      EXPECT_EQ(got, std::vector<Bytes>(channel == c.channel ? c.count : 0, c.report))
          << "channel " << channel;
    }
  }
}

TEST(SimServerTest, SendRefusesBadRequestsAndSendsNothing) {
  ServedFrame frame;
  const std::vector<std::string> paths = NarrowPaths(frame);
  ASSERT_EQ(paths.size(), 6u);
  std::vector<std::unique_ptr<Handle>> readers;
  for (int channel = 0; channel < kFrameChannels; ++channel) {
    readers.push_back(std::make_unique<Handle>(frame, paths[channel], wire::kAccessRead));
    ASSERT_TRUE(readers.back()->opened());
  }
  const std::vector<std::vector<std::string>> cases = {
      {"send", "060"},                                           // odd
      {"send", "06zz"},                                          // not hex
      {"send", "0x06"},                                          // not bare hex
      {"send", ""},                                              // no report ID
      {"send", "06" + std::string(96, '0')},                     // 49 bytes on channel 4 (48)
      {"send", "07" + std::string(128, '0')},                    // 65 bytes on channel 5 (64)
      {"send", "02" + std::string(122, '0'), "--channel", "1"},  // 62 bytes on channel 1 (9)
      {"send", "0501"},                                          // report ID of no channel
      {"send", "0601", "--channel", "6"},
      {"send", "0601", "--channel", "-1"},
      {"send", "0601", "--channel", "x"},
      {"send", "0601", "--count", "0"},
      {"send", "0601", "--count", "100001"},
      {"send", "0601", "--count", "1x"},
      {"send", "0601", "--count"},
      {"send", "0601", "--count", "2", "--count", "3"},
      {"send", "0601", "--port", "1"},
      {"send", "0601", "00"},
      {"send"},
  };
  for (const auto& args : cases) {
    const std::string name =
        args.size() > 1 ? args[1].substr(0, 8) + " " + (args.size() > 2 ? args[2] : "") : "";
    std::string out;
    EXPECT_EQ(frame.Ctl(args, &out), 2) << name << ": " << out;
    // One line that says why.
    EXPECT_FALSE(out.empty()) << name;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << name << ": " << out;
  }
  for (int channel = 0; channel < kFrameChannels; ++channel) {
    ASSERT_EQ(frame.Ctl({"send", "ee", "--channel", std::to_string(channel)}), 0);
    std::vector<Bytes> got;
    ASSERT_TRUE(readers[channel]->ReadUntil([&](const Bytes& r) { return r == Marker(channel); }, got));
    EXPECT_TRUE(got.empty()) << got.size() << " reports on channel " << channel;
  }
  // An unplugged frame sends nothing.
  ASSERT_EQ(frame.Ctl({"unplug"}), 0);
  EXPECT_EQ(frame.Ctl({"send", "0601"}), 1);
}

TEST(SimServerTest, SendFloodArrivesInFullAtAReaderThatReadsBesideOneThatDoesNot) {
  ServedFrame frame;
  const std::vector<std::string> paths = NarrowPaths(frame);
  ASSERT_EQ(paths.size(), 6u);
  Handle reading(frame, paths[kCalibrationChannel], wire::kAccessRead);
  Handle stalled(frame, paths[kCalibrationChannel], wire::kAccessRead, 4096);
  ASSERT_TRUE(reading.opened() && stalled.opened());
  Bytes report(DefaultChannels()[kCalibrationChannel].input, 0);
  for (std::size_t i = 0; i < report.size(); ++i) report[i] = static_cast<uint8_t>(0x06 + i);
  const std::string hex = ToHex(report.data(), report.size());
  struct Case {
    std::size_t count;
    milliseconds limit;  // for the whole of it to arrive
  };
  const Case cases[] = {{1000, 1000ms}, {FrameServer::kMaxSendCount, 20000ms}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.count);
    const long before = LiveHeapBytes();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(frame.Ctl({"send", hex, "--count", std::to_string(c.count)}), 0);
    // Made as the readers read: queued, the flood costs the frame its one report per reader.
    EXPECT_LT(LiveHeapBytes() - before, 1L << 20) << "the flood is held in memory";
    std::size_t same = 0;
    ASSERT_TRUE(reading.client().ReadMessages(c.count, c.limit, [&](const wire::Message& m) {
      Bytes got;
      if (wire::ParseReport(m, wire::kInput, got) && got == report) ++same;
    })) << "the flood did not arrive in time";
    const auto took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(same, c.count);
    EXPECT_LT(took, c.limit);
    // Nothing more of it follows.
    ASSERT_EQ(frame.Ctl({"send", "ee", "--channel", std::to_string(kCalibrationChannel)}), 0);
    std::vector<Bytes> rest;
    ASSERT_TRUE(reading.ReadUntil([&](const Bytes& r) { return r == Marker(kCalibrationChannel); }, rest));
    EXPECT_TRUE(rest.empty()) << rest.size() << " more";
  }
  // The server still answers everyone else.
  EXPECT_EQ(frame.Ctl({"wait-received", "0"}), 0);
}

TEST(SimServerTest, SilentConnectionsDoNotLockOtherClientsOut) {
  ServedFrame frame;
  std::vector<std::unique_ptr<RawClient>> silent;
  for (std::size_t i = 0; i < FrameServer::kMaxConnections; ++i) {
    silent.push_back(std::make_unique<RawClient>(frame.port()));
    ASSERT_TRUE(silent.back()->valid());
  }
  // A program arriving now still finds the frame within its wait, and `ctl` gets its answer.
  ASSERT_EQ(frame.Host()->Enumerate().size(), 6u);
  std::string dump;
  EXPECT_EQ(frame.Ctl({"dump"}, &dump), 0);
  for (auto& c : silent) EXPECT_TRUE(c->ReadUntilClosed(10s)) << "a silent connection stayed open";
}

TEST(SimServerTest, ClientThatHalfClosesAfterItsRequestGetsTheWholeAnswer) {
  ServedFrame frame;
  // A dump larger than the sockets hold: the server is still sending after the client's close.
  WriteReports(frame, kSettingsChannel, 4000, Bytes(1024, 0x5A));
  struct Case {
    std::vector<std::string> control;  // empty: an enumeration
    uint8_t lastType;
    int exitCode;
  };
  const Case cases[] = {
      {{}, wire::kInterfaces, 0},
      {{"wait-received", "1000000", "--timeout", "300"}, wire::kControlDone, 1},
      {{"dump"}, wire::kControlDone, 0},
  };
  for (const Case& c : cases) {
    const std::string name = c.control.empty() ? "enumerate" : c.control[0];
    RawClient client(frame.port(), 4096);
    ASSERT_TRUE(client.Send(c.control.empty() ? wire::EncodeEmpty(wire::kEnumerate)
                                              : wire::EncodeControl(c.control)));
    client.HalfClose();
    std::vector<wire::Message> got;
    ASSERT_TRUE(client.ReadUntilClosed(20s, &got)) << name;
    ASSERT_FALSE(got.empty()) << name;
    EXPECT_EQ(got.back().type, c.lastType) << name;
    uint8_t code = 0;
    if (c.lastType == wire::kControlDone) {
      ASSERT_TRUE(wire::ParseControlDone(got.back(), code)) << name;
      EXPECT_EQ(code, c.exitCode) << name;
    }
    if (name == "dump") {
      std::string text;
      for (std::size_t i = 0; i + 1 < got.size(); ++i)
        text.append(got[i].payload.begin(), got[i].payload.end());
      EXPECT_NE(text.find("\"received_count\":4000,"), std::string::npos);
      EXPECT_EQ(text.substr(text.size() - 3), "]}\n");
    }
  }
}

TEST(SimServerTest, DumpsForClientsThatDoNotReadStayBounded) {
  ServedFrame frame;
  // The received log at its byte limit: each dump of it is about 32 MiB of text.
  WriteReports(frame, kSettingsChannel, 16384, Bytes(1024, 0x33));
  const long before = LiveHeapBytes();
  std::vector<std::unique_ptr<RawClient>> stalled;
  for (int i = 0; i < 4; ++i) {
    stalled.push_back(std::make_unique<RawClient>(frame.port(), 4096));
    ASSERT_TRUE(stalled.back()->Send(wire::EncodeControl({"dump"})));
  }
  // Answered after the dumps were taken up: the server served them first.
  ASSERT_EQ(frame.Ctl({"wait-received", "0"}), 0);
  EXPECT_LT(LiveHeapBytes() - before, 16L << 20) << "unread dumps are held in memory";
  // A client that reads still gets the whole of it.
  std::string dump;
  ASSERT_EQ(frame.Ctl({"dump"}, &dump), 0);
  EXPECT_GT(dump.size(), 32u << 20);
  EXPECT_EQ(dump.substr(dump.size() - 3), "]}\n");
}

TEST(SimServerTest, WriterThatOverrunsTheDelayedRepliesIsDroppedAndOthersCarryOn) {
  ServedFrame frame;
  ASSERT_EQ(frame.Ctl({"fault", "7:0x11", "delay", "600000"}), 0);
  const std::vector<HidInterface> found = frame.Host()->Enumerate();
  ASSERT_EQ(found.size(), 6u);
  bool ok = false;
  RawClient flood(frame.port());
  ASSERT_TRUE(
      flood.Send(wire::EncodeOpen({wire::kAccessWrite, NarrowPath(found[kSettingsChannel].path, ok)})));
  const Bytes read = Command(kSettingsReportId, CMD_CFG_11, {kAccessRead});
  const wire::Bytes message = wire::EncodeReport(wire::kOutput, read.data(), read.size());
  wire::Bytes batch;
  for (int i = 0; i < 1000; ++i) batch.insert(batch.end(), message.begin(), message.end());
  for (int i = 0; i < 40 && flood.Send(batch); ++i) {
  }
  EXPECT_TRUE(flood.ReadUntilClosed(10s)) << "the flooding writer was kept";
  // Another program still gets its answers, delayed ones included.
  ProgramLink console(frame, ConsoleLinkConfig());
  ASSERT_TRUE(console.link.Start());
  ASSERT_EQ(frame.Ctl({"fault", "7:0x11", "delay", "10"}), 0);
  EXPECT_TRUE(console.Send(kSettingsReportId, CMD_CFG_11, {kAccessRead}));
}

TEST(SimServerTest, ControlArgumentsAreTakenAsWritten) {
  ServerOptions options;
  options.finger.automatic = false;
  ServedFrame frame(options);
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string inDump;  // what `dump` then shows
  };
  const Case cases[] = {
      {{"touch", "1e300", "5"}, 0, "\"y\":5.000}"},
      {{"fault", "010", "silent"}, 0, "\"report_id\":0,\"code\":10,\"kind\":\"silent\""},
      {{"fault", "7:0x10", "refuse"}, 0, "\"report_id\":7,\"code\":16,\"kind\":\"refuse\""},
      {{"fault", "6:019", "silent"}, 0, "\"report_id\":6,\"code\":19,"},
      {{"fault", "0x", "silent"}, 2, ""},
      {{"fault", "+19", "silent"}, 2, ""},
  };
  for (const Case& c : cases) {
    std::string out, dump;
    EXPECT_EQ(frame.Ctl(c.args, &out), c.exitCode) << c.args[1] << ": " << out;
    if (c.inDump.empty()) continue;
    ASSERT_EQ(frame.Ctl({"dump"}, &dump), 0);
    EXPECT_NE(dump.find(c.inDump), std::string::npos) << c.args[1] << " not in " << dump.substr(0, 600);
  }
  // The finger's position is shown in full, however far off the screen.
  std::string dump;
  ASSERT_EQ(frame.Ctl({"dump"}, &dump), 0);
  const std::size_t x = dump.find("\"x\":");
  ASSERT_NE(x, std::string::npos);
  EXPECT_EQ(std::strtod(dump.c_str() + x + 4, nullptr), 1e300) << dump.substr(x, 400);
  // An argument the wire cannot carry is refused with a word on why.
  std::string out;
  EXPECT_EQ(frame.Ctl({"fault", std::string(201, '1'), "silent"}, &out), 2);
  EXPECT_NE(out.find("200"), std::string::npos) << out;
  EXPECT_EQ(frame.Ctl({"touch", "1", "caf\xc3\xa9"}, &out), 2);
  EXPECT_NE(out.find("printable"), std::string::npos) << out;
}

TEST(SimStateFileTest, SaveNeverFollowsALinkPlantedBesideTheFile) {
  ScratchDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir.path() + "/state";
  const std::string victim = dir.path() + "/victim";
  std::ofstream(victim) << "precious";
  // Every name a save might have used before: the file's own and a fixed temporary one.
  ASSERT_EQ(symlink(victim.c_str(), (path + ".tmp").c_str()), 0);
  FrameState state;
  state.mode = kModeFourPoint;
  ASSERT_TRUE(SaveState(path, state));
  EXPECT_EQ(ReadFile(victim), "precious");
  struct stat info {};
  ASSERT_EQ(lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISREG(info.st_mode)) << "the state file became a link";
  FrameState loaded;
  ASSERT_TRUE(LoadState(path, loaded));
  EXPECT_EQ(loaded.mode, kModeFourPoint);
  // Nothing left behind but the file, the planted link and the victim.
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 3u);
  // Nowhere to write: the save fails and leaves nothing.
  EXPECT_FALSE(SaveState(dir.path() + "/missing/state", state));
}

TEST(SimStateFileTest, FailedSaveIsTriedAgainUntilItSucceeds) {
  ScratchDir dir;
  const std::string home = dir.path() + "/home";
  ASSERT_TRUE(fs::create_directory(home));
  ServerOptions options;
  options.stateFile = home + "/state";
  ServedFrame frame(options);
  ProgramLink console(frame, ConsoleLinkConfig());
  ASSERT_TRUE(console.link.Start());
  auto setMode = [&](uint8_t mode) { return console.Send(kCalibrationReportId, CMD_CAL_SET_MODE, {mode}); };
  ASSERT_TRUE(setMode(kModeNinePoint));
  ASSERT_TRUE(Eventually([&] { return ReadFile(options.stateFile).find("mode 4\n") != std::string::npos; }));
  // The directory is away for a moment (a read-only one fails alike, but not for root).
  ASSERT_EQ(std::rename(home.c_str(), (home + ".away").c_str()), 0);
  ASSERT_TRUE(setMode(kModeFourPoint));
  std::this_thread::sleep_for(300ms);
  ASSERT_EQ(std::rename((home + ".away").c_str(), home.c_str()), 0);
  EXPECT_TRUE(Eventually([&] { return ReadFile(options.stateFile).find("mode 2\n") != std::string::npos; }))
      << "the failed save was not tried again";
}

TEST(SimStateFileTest, ChangesInQuickSuccessionAreSavedTogetherAndTheLastOneAtQuit) {
  ScratchDir dir;
  ServerOptions options;
  options.stateFile = dir.path() + "/state";
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, dir.path().c_str(), IN_MOVED_TO | IN_CLOSE_WRITE), 0);
  constexpr int kToggles = 300;
  const auto begin = std::chrono::steady_clock::now();
  {
    ServedFrame frame(options);
    ProgramLink console(frame, ConsoleLinkConfig());
    ASSERT_TRUE(console.link.Start());
    for (int i = 0; i < kToggles; ++i) {
      ASSERT_TRUE(console.Send(kSettingsReportId, CMD_CAL_OPTION_13, {kAccessWrite, uint8_t(1 + i % 2)}));
    }
  }
  const auto took = std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - begin);
  // Each save ends with a rename onto the state file.
  int saves = 0;
  alignas(inotify_event) char events[65536];
  for (ssize_t n; (n = read(watch, events, sizeof events)) > 0;) {
    for (ssize_t at = 0; at < n;) {
      const auto* e = reinterpret_cast<const inotify_event*>(events + at);
      if ((e->mask & IN_MOVED_TO) && e->len > 0 && std::string(e->name) == "state") ++saves;
      at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
  }
  close(watch);
  EXPECT_GE(saves, 1);
  EXPECT_LE(saves, took.count() / 100 + 2) << kToggles << " changes in " << took.count() << " ms";
  FrameState saved;
  ASSERT_TRUE(LoadState(options.stateFile, saved));
  EXPECT_EQ(saved.settings.option13, 2) << "the last change was not saved at quit";
}

TEST(SimHostTest, ClientsGiveUpOnASimulatorThatDoesNotAnswer) {
  // One listener that never accepts: its queue holds one connection and drops the next
  // attempts, so a connect waits; another with room in its queue, where an answer never comes.
  struct Case {
    const char* name;
    int backlog;
  };
  const Case cases[] = {{"queue full", 0}, {"no answer", 16}};
  std::vector<std::future<bool>> running;
  std::vector<std::unique_ptr<net::Socket>> listeners;
  std::vector<std::unique_ptr<RawClient>> fillers;
  for (const Case& c : cases) {
    auto listener = std::make_unique<net::Socket>(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener->native(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener->native(), c.backlog), 0);
    socklen_t length = sizeof addr;
    ASSERT_EQ(getsockname(listener->native(), reinterpret_cast<sockaddr*>(&addr), &length), 0);
    const uint16_t port = ntohs(addr.sin_port);
    if (c.backlog == 0) fillers.push_back(std::make_unique<RawClient>(port));
    running.push_back(Detached([port] {
      std::unique_ptr<HidHost> host = CreateSimHidHost("127.0.0.1", port);
      std::string out;
      return host->Enumerate().empty() && host->OpenReader(L"\\\\?\\hid#x") == nullptr &&
             RunControl("127.0.0.1", port, {"dump"}, out) == kNoSimulator;
    }));
    listeners.push_back(std::move(listener));
  }
  for (std::size_t i = 0; i < running.size(); ++i) {
    ASSERT_EQ(running[i].wait_for(45s), std::future_status::ready) << cases[i].name << ": still waiting";
    EXPECT_TRUE(running[i].get()) << cases[i].name;
  }
}

}  // namespace
}  // namespace tactra::sim::testing
