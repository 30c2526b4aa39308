// The link of both programs against a served simulated frame, through the simulator host.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <future>

#include "device/protocol.h"
#include "sim/control_client.h"
#include "sim/net.h"
#include "sim/wire.h"
#include "tests/sim/served_frame.h"

namespace tactra::sim::testing {
namespace {

using namespace tactra::proto;
using std::chrono::milliseconds;

LinkConfig WithWait(LinkConfig config, milliseconds wait) {
  config.replyWait = wait;
  return config;
}

class SimLinkTest : public ::testing::TestWithParam<bool> {
 protected:
  // Console or calibration program, as the parameter says.
  LinkConfig Config() const { return GetParam() ? ConsoleLinkConfig() : CalibrationLinkConfig(); }
};

TEST_P(SimLinkTest, EnumerationBindsTheChannelsOfTheProgramsTable) {
  ServedFrame frame;
  ASSERT_TRUE(frame.listening());
  ProgramLink p(frame, Config());
  ASSERT_TRUE(p.link.Start());
  EXPECT_EQ(p.link.GetDeviceCount(), 6);
  EXPECT_NE(p.link.GetLinkState(), kLinkNone);
  // Paths compare without regard to case, as the system's do.
  EXPECT_TRUE(
      p.link.IsBoundPath(L"\\\\?\\HID#VID_595A&PID_0008&COL06#7&2A5E0001&0&0005#"
                         L"{4D1E55B2-F16F-11CF-88CB-001111000030}"));
  EXPECT_EQ(p.link.GetOutputLength(3), GetParam() ? 8 : 4);
}

TEST_P(SimLinkTest, CalibrationCommandsRoundTrip) {
  ServedFrame frame;
  ProgramLink p(frame, Config());
  ASSERT_TRUE(p.link.Start());
  ASSERT_TRUE(p.Send(kCalibrationReportId, CMD_CAL_GET_MODE));
  EXPECT_EQ(p.owner.LastReply()[3], kModeFivePoint);
  ASSERT_TRUE(p.Send(kCalibrationReportId, CMD_CAL_BEGIN));
  EXPECT_EQ(p.owner.LastReply()[3], 1);
  ASSERT_TRUE(p.Send(kCalibrationReportId, CMD_CAL_WRITE_RESULT, Bytes(36, 0x11)));
  EXPECT_EQ(p.owner.LastReply()[3], 1);
  ASSERT_TRUE(p.Send(kCalibrationReportId, CMD_CAL_END, {1}));
  EXPECT_EQ(p.owner.LastReply()[1], CMD_CAL_END);
  EXPECT_EQ(p.owner.LastReply()[3], 1);
  ASSERT_TRUE(p.Send(kCalibrationReportId, CMD_CAL_READ_DATA));
  const Bytes record = p.owner.LastReply();
  ASSERT_EQ(record[2], 41);
  EXPECT_EQ(record[3 + 5], 0x11);
  // Every report the frame received is logged as written: 48 bytes on channel 4.
  std::string received;
  ASSERT_EQ(frame.Ctl({"wait-received", "5", "--timeout", "2000"}, &received), 0);
  std::string dump;
  frame.Ctl({"dump"}, &dump);
  EXPECT_NE(dump.find("{\"channel\":4,\"report\":\"060300ff" + std::string(88, '0') + "\"}"),
            std::string::npos);
}

TEST_P(SimLinkTest, EveryFaultReachesTheLinkAsTheProgramWouldSeeIt) {
  ServedFrame frame;
  ProgramLink p(frame, WithWait(Config(), milliseconds(1000)));
  ASSERT_TRUE(p.link.Start());
  struct Case {
    std::vector<std::string> fault;
    bool answered;        // Transact saw a reply within its wait
    std::size_t handled;  // replies the owner got, eventually
    int status;           // byte 3 of the reply, when handled
  };
  const Case cases[] = {
      {{"none"}, true, 1, kModeFivePoint},
      {{"silent"}, false, 0, 0},
      {{"refuse"}, true, 1, 0},
      {{"malformed"}, false, 0, 0},
      {{"malformed", "length"}, false, 0, 0},
      {{"delay", "100"}, true, 1, kModeFivePoint},
      {{"delay", "1600"}, false, 1, kModeFivePoint},  // too late for the wait, still handled
      // The second copy answers nothing: the request took its one reply.
      {{"duplicate"}, true, 1, kModeFivePoint},
  };
  std::size_t before = 0;
  for (const Case& c : cases) {
    std::vector<std::string> args{"fault", "6:1"};
    args.insert(args.end(), c.fault.begin(), c.fault.end());
    ASSERT_EQ(frame.Ctl(args), 0);
    EXPECT_EQ(p.Send(kCalibrationReportId, CMD_CAL_GET_MODE), c.answered) << c.fault[0];
    if (c.handled > 0) {
      ASSERT_TRUE(p.owner.WaitForReplies(before + c.handled)) << c.fault[0];
      EXPECT_EQ(p.owner.LastReply()[3], c.status) << c.fault[0];
    } else {
      // A sound request after it: its reply comes after anything the frame sent for this one,
      // on the same channel, so once it is handled the dropped one would have been too.
      ASSERT_EQ(frame.Ctl({"fault", "6:1", "none"}), 0);
      ASSERT_TRUE(p.Send(kCalibrationReportId, CMD_CAL_GET_MODE)) << c.fault[0];
      EXPECT_EQ(p.owner.LastReply()[3], kModeFivePoint) << c.fault[0];
      ++before;
    }
    EXPECT_EQ(p.owner.Replies().size(), before + c.handled) << c.fault[0];
    before = p.owner.Replies().size();
  }
}

TEST_P(SimLinkTest, FrameRemovedDuringTransactThenPluggedBack) {
  ServedFrame frame;
  ProgramLink p(frame, WithWait(Config(), milliseconds(1500)));
  NoticeLog notices;
  auto registration = p.link.RegisterArrivalNotifications(nullptr, notices.Callback());
  ASSERT_NE(registration, nullptr);
  ASSERT_TRUE(p.link.Start());
  // Without the removal the reply would come 600 ms later, well within the wait.
  ASSERT_EQ(frame.Ctl({"fault", "1", "delay", "600"}), 0);
  auto pending =
      std::async(std::launch::async, [&] { return p.Send(kCalibrationReportId, CMD_CAL_GET_MODE); });
  // The frame has the request: the program now waits for the delayed reply.
  ASSERT_EQ(frame.Ctl({"wait-received", "1", "--timeout", "5000"}), 0);
  ASSERT_EQ(frame.Ctl({"unplug"}), 0);
  EXPECT_FALSE(pending.get());  // the reply died with the frame
  // The handles broke: a write cannot start even before the removal notice is handled.
  const Bytes c = Command(kCalibrationReportId, CMD_CAL_GET_MODE);
  EXPECT_FALSE(p.link.Write(kCalibrationChannel, c.data(), 48));
  ASSERT_TRUE(notices.Wait(6));
  std::vector<NoticeOutcome> outcomes;
  for (const auto& [kind, path] : notices.Take()) {
    EXPECT_EQ(kind, DeviceNotice::Removal);
    outcomes.push_back(p.link.OnDeviceNotice(kind, path));
  }
  EXPECT_EQ(outcomes[0], NoticeOutcome::Removed);
  EXPECT_EQ(p.link.GetLinkState(), kLinkNone);

  ASSERT_EQ(frame.Ctl({"fault", "1", "none"}), 0);
  ASSERT_EQ(frame.Ctl({"plug"}), 0);
  ASSERT_TRUE(notices.Wait(6));
  const auto arrivals = notices.Take();
  EXPECT_EQ(arrivals[0].first, DeviceNotice::Arrival);
  EXPECT_EQ(p.link.OnDeviceNotice(arrivals[0].first, arrivals[0].second), NoticeOutcome::Started);
  EXPECT_EQ(p.link.OnDeviceNotice(arrivals[1].first, arrivals[1].second), NoticeOutcome::Nothing);
  EXPECT_TRUE(p.Send(kCalibrationReportId, CMD_CAL_GET_MODE));
}

// The console looks again at any arrival while no frame is bound and finds the frame at its new
// paths; the calibration program's link follows only the paths it bound.
TEST_P(SimLinkTest, FrameMovedToAnotherPortIsFoundAgainByTheConsoleOnly) {
  ServedFrame frame;
  ProgramLink p(frame, Config());
  NoticeLog notices;
  auto registration = p.link.RegisterArrivalNotifications(nullptr, notices.Callback());
  ASSERT_TRUE(p.link.Start());
  ASSERT_EQ(frame.Ctl({"unplug", "--new-paths"}), 0);
  ASSERT_TRUE(notices.Wait(6));
  const auto removals = notices.Take();
  EXPECT_EQ(p.link.OnDeviceNotice(removals[0].first, removals[0].second), NoticeOutcome::Removed);
  ASSERT_EQ(frame.Ctl({"plug"}), 0);
  ASSERT_TRUE(notices.Wait(6));
  const auto arrivals = notices.Take();
  EXPECT_NE(arrivals[0].second, removals[0].second);
  EXPECT_FALSE(p.link.IsBoundPath(arrivals[0].second));
  const bool console = GetParam();
  EXPECT_EQ(p.link.OnDeviceNotice(arrivals[0].first, arrivals[0].second),
            console ? NoticeOutcome::Started : NoticeOutcome::Nothing);
  EXPECT_EQ(p.link.IsBoundPath(arrivals[0].second), console);
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, SimLinkTest, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Console" : "Calibration";
                         });

// `ctl` waits as long as the simulator will for `wait-received`, however the wait is written.
TEST(ControlClientTest, WaitsForWaitReceivedAsTheSimulatorReadsIt) {
  const struct {
    std::vector<std::string> args;
    long ms;
  } cases[] = {
      {{"dump"}, 10000},
      {{"wait-received", "1"}, 20000},
      {{"wait-received", "1", "--timeout", "2500"}, 12500},
      {{"wait-received", "1", "--timeout", "0xFFFF"}, 75535},
      {{"wait-received", "1", "--timeout", "-5"}, 10000},       // refused at once
      {{"wait-received", "1", "--timeout", "3600001"}, 10000},  // beyond the longest: refused
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ControlAnswerLimit(c.args).count(), c.ms) << c.args.back();
  }
}

TEST(SimServedFrameTest, SettingsCommandsRoundTripOnTheConsole) {
  ServedFrame frame;
  ProgramLink p(frame, ConsoleLinkConfig());
  ASSERT_TRUE(p.link.Start());
  for (uint8_t code : {CMD_INFO_TEXT_F2, CMD_INFO_TEXT_F3, CMD_INFO_TEXT_F4, CMD_INFO_TEXT_F5, CMD_INFO_01,
                       CMD_INFO_LISTS, CMD_CFG_11, CMD_CFG_12, CMD_CFG_16, CMD_CFG_17, CMD_CFG_21, CMD_CFG_15,
                       CMD_CFG_14, CMD_CAL_OPTION_13}) {
    ASSERT_TRUE(p.Send(kSettingsReportId, code, {kAccessRead})) << int(code);
    EXPECT_EQ(p.owner.LastReply()[1], code);
  }
  ASSERT_TRUE(p.Send(kSettingsReportId, CMD_CFG_14, {kAccessWrite, 1, 7, 0x02, 0x58}));
  EXPECT_EQ(p.owner.LastReply()[4], 1);
  ASSERT_TRUE(p.Send(kSettingsReportId, CMD_CFG_14, {kAccessRead}));
  const Bytes reply = p.owner.LastReply();
  EXPECT_EQ(Bytes(reply.begin() + 4, reply.begin() + 8), (Bytes{1, 7, 0x02, 0x58}));
}

TEST(SimServedFrameTest, TwoProgramsShareOneFrameAndSeeWhatTheOtherWrote) {
  ServedFrame frame;
  ProgramLink console(frame, ConsoleLinkConfig());
  ProgramLink calibration(frame, CalibrationLinkConfig());
  ASSERT_TRUE(console.link.Start());
  ASSERT_TRUE(calibration.link.Start());
  // Replies on the shared calibration channel reach both programs' handles, as with real HID;
  // each program takes only the answers to its own requests.
  std::size_t consoleReplies = 0;
  std::size_t calibrationReplies = 0;
  auto send = [&](ProgramLink& program, uint8_t code, Bytes payload = {}) {
    const bool sent = program.Send(kCalibrationReportId, code, std::move(payload));
    std::size_t& count = &program == &console ? consoleReplies : calibrationReplies;
    return sent && program.owner.WaitForReplies(++count);
  };
  ASSERT_TRUE(send(console, CMD_CAL_SET_MODE, {kModeNinePoint}));
  ASSERT_TRUE(send(calibration, CMD_CAL_GET_MODE));
  EXPECT_EQ(calibration.owner.LastReply()[3], kModeNinePoint);
  ASSERT_TRUE(send(calibration, CMD_CAL_BEGIN));
  Bytes result(36);
  for (std::size_t i = 0; i < result.size(); ++i) result[i] = static_cast<uint8_t>(0x40 + i);
  ASSERT_TRUE(send(calibration, CMD_CAL_WRITE_RESULT, result));
  ASSERT_TRUE(send(calibration, CMD_CAL_END, {1}));
  ASSERT_TRUE(send(console, CMD_CAL_READ_DATA));
  const Bytes record = console.owner.LastReply();
  ASSERT_EQ(record[1], CMD_CAL_READ_DATA);
  EXPECT_EQ(record[3], kModeNinePoint);
  EXPECT_EQ(Bytes(record.begin() + 8, record.begin() + 44), result);
  // The other program's replies, read meanwhile, reached neither owner.
  std::vector<uint8_t> codes;
  for (const Bytes& r : console.owner.Replies()) codes.push_back(r[1]);
  EXPECT_EQ(codes, (std::vector<uint8_t>{CMD_CAL_SET_MODE, CMD_CAL_READ_DATA}));
  codes.clear();
  for (const Bytes& r : calibration.owner.Replies()) codes.push_back(r[1]);
  EXPECT_EQ(codes,
            (std::vector<uint8_t>{CMD_CAL_GET_MODE, CMD_CAL_BEGIN, CMD_CAL_WRITE_RESULT, CMD_CAL_END}));
}

TEST(SimServedFrameTest, GarbageClientIsDroppedAndOthersCarryOn) {
  ServedFrame frame;
  ProgramLink console(frame, ConsoleLinkConfig());
  ASSERT_TRUE(console.link.Start());
  const std::vector<Bytes> garbage = {
      {0xFF, 0xFF, 0xFF, 0xFF, 1},              // a length beyond the limit
      {0, 0, 0, 0},                             // an empty body
      {1, 0, 0, 0, 0x83},                       // a server's message from a client
      {2, 0, 0, 0, wire::kOutput, 6},           // output before any open
      {9, 0, 0, 0, wire::kOpen, 0, 200, 0, 1},  // a path that runs past the body
  };
  for (const Bytes& g : garbage) {
    net::Socket s = net::Connect("127.0.0.1", frame.port());
    ASSERT_TRUE(s.valid());
    ASSERT_TRUE(net::SendAll(s, g.data(), g.size()));
    net::SetReceiveTimeout(s, 3000);
    uint8_t b[16];
    EXPECT_LE(net::Recv(s, b, sizeof b), 0) << "still connected after garbage";
    EXPECT_TRUE(console.Send(kSettingsReportId, CMD_CFG_11, {kAccessRead}));
  }
  // A reader that writes is garbage too; its frame handle closes, the console's stays.
  std::string dump;
  EXPECT_EQ(frame.Ctl({"dump"}, &dump), 0);
  EXPECT_NE(dump.find("\"connected\":true"), std::string::npos);
}

TEST(SimServedFrameTest, AutoFingerTouchesTheTargetsAfterBegin) {
  ServerOptions options;
  options.finger.holdSamples = 3;
  options.finger.rateHz = 200;
  ServedFrame frame(options);
  ProgramLink calibration(frame, CalibrationLinkConfig());
  ASSERT_TRUE(calibration.link.Start());
  ASSERT_TRUE(calibration.Send(kCalibrationReportId, CMD_CAL_BEGIN));
  EXPECT_FALSE(calibration.owner.WaitForTouches(1, milliseconds(800)));    // a second before the first
  ASSERT_TRUE(calibration.owner.WaitForTouches(20, milliseconds(10000)));  // 5 targets x (3 + lift)
  const std::vector<Bytes> touches = calibration.owner.Touches();
  RawPoint first, second;
  ASSERT_TRUE(ParseTouchReport(touches[0].data(), touches[0].size(), first));
  ASSERT_TRUE(ParseTouchReport(touches[4].data(), touches[4].size(), second));
  EXPECT_TRUE(first.touching);
  EXPECT_EQ(first.x, 2048);
  EXPECT_EQ(first.y, 2048);
  EXPECT_EQ(second.x, 128);  // then top-left
  EXPECT_EQ(second.y, 128);
  // Finished, the finger stays lifted. It would touch a next target half a second after the
  // last lift; a reply the frame delays by more than that comes after any such touch.
  ASSERT_EQ(frame.Ctl({"fault", "6:1", "delay", "700"}), 0);
  ASSERT_TRUE(calibration.Send(kCalibrationReportId, CMD_CAL_GET_MODE));
  EXPECT_EQ(calibration.owner.Touches().size(), 20u);
}

TEST(SimServedFrameTest, StateFileKeepsSettingsAcrossRestarts) {
  const std::string path = ::testing::TempDir() + "framesim_state_test.txt";
  std::remove(path.c_str());
  ServerOptions options;
  options.stateFile = path;
  {
    ServedFrame frame(options);
    ProgramLink console(frame, ConsoleLinkConfig());
    ASSERT_TRUE(console.link.Start());
    ASSERT_TRUE(console.Send(kSettingsReportId, CMD_CAL_OPTION_13, {kAccessWrite, 4}));
    ASSERT_TRUE(console.Send(kCalibrationReportId, CMD_CAL_SET_MODE, {kModeFourPoint}));
  }
  ServedFrame again(options);
  std::string dump;
  ASSERT_EQ(again.Ctl({"dump"}, &dump), 0);
  EXPECT_NE(dump.find("\"mode\":2"), std::string::npos);
  EXPECT_NE(dump.find("\"option13\":4"), std::string::npos);
  std::remove(path.c_str());
}

TEST(SimServedFrameTest, ControlCommandsCheckTheirArguments) {
  ServedFrame frame;
  std::string out;
  EXPECT_EQ(frame.Ctl({"fault", "0x13", "sometimes"}), 2);
  EXPECT_EQ(frame.Ctl({"fault", "8:1", "silent"}), 2);
  EXPECT_EQ(frame.Ctl({"fault", "256", "silent"}), 2);
  EXPECT_EQ(frame.Ctl({"touch", "1", "x"}), 2);
  EXPECT_EQ(frame.Ctl({"touch", "1", "2"}), 1);  // auto finger
  EXPECT_EQ(frame.Ctl({"wait-received", "1", "--timeout", "50"}, &out), 1);
  EXPECT_EQ(out, "timed out: received 0\n");
  EXPECT_EQ(frame.Ctl({"wait-received", "0"}), 0);
  EXPECT_EQ(frame.Ctl({"frobnicate"}), 2);
  EXPECT_EQ(RunControl("127.0.0.1", frame.port(), {std::string(300, 'x')}, out), 2);
}

TEST(SimServedFrameTest, QuitDoesNotWaitForAClientThatStoppedReading) {
  ServerOptions options;
  options.port = 0;
  FrameServer server(options);
  ASSERT_TRUE(server.Listen());
  std::future<void> running = std::async(std::launch::async, [&server] { server.Run(); });
  const std::string path = server.Paths()[kSettingsChannel];
  // A reader of the settings channel with a small window that never reads.
  net::Socket stuck(::socket(AF_INET, SOCK_STREAM, 0));
  const int small = 4096;
  setsockopt(stuck.native(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(server.port());
  ASSERT_EQ(::connect(stuck.native(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const wire::Bytes open = wire::EncodeOpen({wire::kAccessRead, path});
  ASSERT_TRUE(net::SendAll(stuck, open.data(), open.size()));
  // Replies pile up for it: more than any socket buffer holds, less than the drop limit.
  std::unique_ptr<HidHost> host = CreateSimHidHost("127.0.0.1", server.port());
  std::unique_ptr<HidWriter> writer = host->OpenWriter(WidenPath(path));
  ASSERT_NE(writer, nullptr);
  const Bytes command = Command(kSettingsReportId, CMD_INFO_TEXT_F5, {kAccessRead});
  constexpr int kCommands = 55000;
  for (int i = 0; i < kCommands; ++i) ASSERT_TRUE(writer->Write(command.data(), command.size()));
  std::string out;
  ASSERT_EQ(RunControl("127.0.0.1", server.port(), {"wait-received", std::to_string(kCommands)}, out), 0);
  ASSERT_EQ(RunControl("127.0.0.1", server.port(), {"quit"}, out), 0);
  const bool ended = running.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  stuck.Close();  // lets a server that still waits for it finish
  running.wait();
  EXPECT_TRUE(ended) << "quit waited for a client that does not read";
}

TEST(SimHostTest, WithoutASimulatorNothingIsFound) {
  // A port nobody listens on: the one a frame just stopped serving.
  uint16_t port = 0;
  {
    ServedFrame frame;
    port = frame.port();
  }
  std::unique_ptr<HidHost> host = CreateSimHidHost("127.0.0.1", port);
  EXPECT_TRUE(host->Enumerate().empty());
  EXPECT_EQ(host->OpenReader(L"\\\\?\\hid#anything"), nullptr);
  EXPECT_EQ(host->RegisterArrivalNotifications(nullptr, [](DeviceNotice, const std::wstring&) {}), nullptr);
  Link link(*host, ConsoleLinkConfig(), NoSleep);
  EXPECT_FALSE(link.Start());
}

TEST(SimHostTest, OpenRefusesUnknownPathsAndWritesOfTheWrongLength) {
  ServedFrame frame;
  std::unique_ptr<HidHost> host = frame.Host();
  const std::vector<HidInterface> found = host->Enumerate();
  ASSERT_EQ(found.size(), 6u);
  EXPECT_EQ(host->OpenWriter(L"\\\\?\\hid#vid_595a&pid_0008&col07"), nullptr);
  EXPECT_EQ(host->OpenWriter(L"caf\u00e9"), nullptr);  // not ASCII: never sent
  std::unique_ptr<HidWriter> settings = host->OpenWriter(found[5].path);
  ASSERT_NE(settings, nullptr);
  const Bytes command = Command(kSettingsReportId, CMD_CFG_11, {kAccessRead});
  EXPECT_FALSE(settings->Write(command.data(), 63));
  EXPECT_TRUE(settings->Write(command.data(), 64));
  std::unique_ptr<HidWriter> touch = host->OpenWriter(found[0].path);
  ASSERT_NE(touch, nullptr);
  EXPECT_FALSE(touch->Write(command.data(), 62));  // channel 0 has no output report
  EXPECT_EQ(frame.Ctl({"wait-received", "1", "--timeout", "2000"}), 0);
  EXPECT_EQ(frame.Ctl({"wait-received", "2", "--timeout", "200"}), 1);  // only the right one went out
}

TEST(SimHostTest, EnvironmentNamesTheSimulator) {
  struct Case {
    const char* value;
    bool used;
  };
  const Case cases[] = {{"127.0.0.1:47800", true}, {"localhost:1", true}, {"127.0.0.1", false},
                        {":47800", false},         {"host:0", false},     {"host:65536", false},
                        {"host:47a", false},       {"host:", false}};
  for (const Case& c : cases) {
    setenv(kFrameSimVariable, c.value, 1);
    EXPECT_EQ(CreateSimHidHostFromEnvironment() != nullptr, c.used) << c.value;
  }
  unsetenv(kFrameSimVariable);
  EXPECT_EQ(CreateSimHidHostFromEnvironment(), nullptr);
}

}  // namespace
}  // namespace tactra::sim::testing
