// The configuration page over a scripted frame: the paced reads and writes with their exact
// reports, every reply's checks and the user's changes as the writes show them, what the page
// shows after complete and incomplete reads, refusals shown once the window runs, the defaults.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <map>
#include <set>
#include <thread>
#include <tuple>
#include <utility>

#include "console/config_page.h"
#include "resources/console_ids.h"
#include "tests/fakes/fake_link_port.h"
#include "tests/fakes/manual_window_queue.h"
#include "tests/fakes/recording_messages.h"

namespace tactra::console {
namespace {

using test::Bytes;
using Shown = std::vector<std::pair<int, int>>;         // (position, enabled) by control
using Writes = std::vector<std::pair<uint8_t, Bytes>>;  // (code, values after the access byte)
using Boxes = std::vector<std::pair<int, int>>;

// A report of the settings channel, either way: 64 bytes, 0xFF after the payload.
Bytes Reply(uint8_t code, Bytes payload) {
  return test::MakeReplyReport(proto::kSettingsReportId, code, payload, proto::kSettingsReportLength);
}
Bytes Request(uint8_t code, Bytes payload) { return Reply(code, std::move(payload)); }
Bytes Read(uint8_t code, Bytes values) {
  values.insert(values.begin(), proto::kAccessRead);
  return Reply(code, values);
}
// A write acknowledgement of payload length n: [2, status, 0...].
Bytes Ack(uint8_t code, uint8_t status, std::size_t n) {
  Bytes payload(n, 0);
  payload[0] = proto::kAccessWrite;
  payload[1] = status;
  return Reply(code, payload);
}

// What the scripted frame holds, unlike every value the page starts with.
std::map<uint8_t, Bytes> FrameAnswers() {
  return {{0x11, Read(0x11, {1})},
          {0x12, Read(0x12, {1, 0, 1})},
          {0x16, Read(0x16, {1, 12})},
          {0x17, Read(0x17, {2, 4, 7, 9})},
          {0x21, Read(0x21, {1, 0, 90, 0x07, 0xD0})},  // 90, 2000
          {0x15, Read(0x15, {0, 3, 0x03, 0xE8})},      // off: the rest is not taken
          {0x14, Read(0x14, {1, 7, 0x03, 0x84})}};     // 7, 900
}
// Those settings written back; setting 15 with the page's own level and time.
const Writes kAsRead = {{0x11, {1}},
                        {0x12, {1, 0, 1}},
                        {0x16, {1, 12}},
                        {0x17, {2, 4, 7, 9}},
                        {0x21, {1, 0, 90, 7, 0xD0}},
                        {0x15, {0, 5, 0x0B, 0xB8}},
                        {0x14, {1, 7, 3, 0x84}}};

struct ConfigRig {
  test::EventLog log;
  test::FakeLinkPort link;
  test::RecordingMessages messages;
  test::ManualWindowQueue window;
  CConfigDlgModel page;
  std::map<uint8_t, Bytes> answers = FrameAnswers();  // reads by code; a missing code is silent
  std::set<uint8_t> refused;                          // writes acknowledged with status 0

  explicit ConfigRig(int osCode = kOsCodeWithSetting11)
      : page(PageContext{link, messages,
                         [this](std::chrono::milliseconds d) {
                           log.Add("pause " + std::to_string(d.count()));
                         },
                         window},
             osCode) {
    link.log = &log;
    link.onReply = [this](const uint8_t* r, std::size_t n) { page.OnDeviceReply(r, n); };
    link.responder = [this](int, const Bytes& w) -> std::vector<Bytes> {
      const uint8_t code = w[1];
      if (w[3] == proto::kAccessWrite) {
        const std::size_t n = code == 0x21 ? 6 : code == 0x14 || code == 0x15 || code == 0x81 ? 5 : 2;
        return {Ack(code, refused.count(code) ? 0 : 1, n)};
      }
      auto it = answers.find(code);
      return it == answers.end() ? std::vector<Bytes>{} : std::vector<Bytes>{it->second};
    };
  }
  void Deliver(const Bytes& report) { page.OnDeviceReply(report.data(), report.size()); }
  Shown Show(const std::vector<int>& ids) const {
    const ConfigView view = page.View();
    Shown out;
    for (int id : ids) out.emplace_back(view[id].position, view[id].enabled ? 1 : 0);
    return out;
  }
  // Apply; the writes it sent.
  Writes Applied() {
    const std::size_t before = link.Sent().size();
    page.Apply();
    const auto sent = link.Sent();
    Writes out;
    for (std::size_t i = before; i < sent.size(); ++i) {
      const Bytes& b = sent[i].bytes;
      EXPECT_EQ(b[3], proto::kAccessWrite);
      out.emplace_back(b[1], Bytes(b.begin() + 4, b.begin() + 3 + b[2]));
    }
    return out;
  }
};

const std::vector<int> kShownControls = {
    IDC_CFG_11,       IDC_CFG_12A,     IDC_CFG_12B,     IDC_CFG_12C,      IDC_CFG_16_ON, IDC_CFG_16_SPIN,
    IDC_CFG_17A,      IDC_CFG_17B,     IDC_CFG_17C,     IDC_CFG_17D,      IDC_CFG_21_ON, IDC_CFG_21_A,
    IDC_CFG_21_B,     IDC_CFG_15_ON,   IDC_CFG_15_TIME, IDC_CFG_15_LEVEL, IDC_CFG_14_ON, IDC_CFG_14_TIME,
    IDC_CFG_14_LEVEL, IDC_CFG_DEFAULT, IDC_CFG_APPLY};
// The frame's answers as the page shows them: setting 15 is off, its lists greyed.
const Shown kFrameShown = {{0, 1}, {0, 1}, {1, 1}, {0, 1}, {0, 1}, {12, 1}, {2, 1},
                           {4, 1}, {6, 1}, {8, 1}, {0, 1}, {7, 1}, {7, 1},  {1, 1},
                           {5, 0}, {4, 0}, {0, 1}, {8, 1}, {6, 1}, {0, 1},  {0, 1}};
// Greyed: fixed selections, only Default can be used.
const Shown kGreyedShown = {{1, 0}, {1, 0}, {1, 0}, {1, 0}, {0, 0}, {5, 0}, {1, 0},
                            {1, 0}, {0, 0}, {0, 0}, {0, 0}, {4, 0}, {3, 0}, {0, 0},
                            {5, 0}, {4, 0}, {0, 0}, {4, 0}, {4, 0}, {0, 1}, {0, 0}};

TEST(ConfigPage, OsCodeOfTheVersionRecord) {
  const std::pair<VersionRecord, int> cases[] = {
      {{false, 2, 6, 1}, 3}, {{true, 1, 4, 10}, 0}, {{true, 2, 6, 1}, 6}, {{true, 2, 6, 0}, 5},
      {{true, 2, 5, 2}, 4},  {{true, 2, 5, 1}, 3},  {{true, 2, 5, 0}, 2}, {{true, 2, 6, 2}, 1},
      {{true, 2, 6, 3}, 1},  {{true, 2, 10, 0}, 1}, {{true, 2, 4, 0}, 1}, {{true, 3, 6, 1}, 3},
  };
  for (const auto& [v, code] : cases) {
    EXPECT_EQ(ConfigOsCode(v), code) << v.ok << " " << v.platformId << " " << v.major << "." << v.minor;
  }
}

// Reads, then writes, as the frame receives them: every report whole, every pause.
TEST(ConfigPage, ReadsAndWritesArePacedInOrder) {
  for (int osCode : {6, 1}) {
    ConfigRig rig(osCode);
    rig.page.Refresh();
    rig.page.Apply();
    std::vector<std::string> expected;
    for (const char* pause : {"pause 20", "pause 30"}) {
      for (int code : {0x11, 0x12, 0x16, 0x17, 0x21, 0x15, 0x14}) {
        // On other systems the first setting is skipped, its pause is not.
        if (code != 0x11 || osCode == 6) expected.push_back("send " + std::to_string(code));
        expected.push_back(pause);
      }
    }
    EXPECT_EQ(rig.log.Entries(), expected) << osCode;
    std::vector<Bytes> reports;
    const Writes writes(kAsRead.begin() + (osCode == 6 ? 0 : 1), kAsRead.end());
    for (const auto& [code, values] : writes) reports.push_back(Request(code, {1}));
    for (auto [code, values] : writes) {
      values.insert(values.begin(), 2);
      reports.push_back(Request(code, values));
    }
    std::vector<Bytes> sent;
    for (const auto& report : rig.link.Sent()) {
      EXPECT_EQ(report.channel, proto::kSettingsChannel);
      sent.push_back(report.bytes);
    }
    EXPECT_EQ(sent, reports) << osCode;
    Shown shown = kFrameShown;
    if (osCode != 6) shown[0] = {0, 0};
    EXPECT_EQ(rig.Show(kShownControls), shown) << osCode;
    for (int hidden : {IDC_CFG_17C, IDC_CFG_17D, IDC_CFG_17C_LABEL, IDC_CFG_17D_LABEL})
      EXPECT_FALSE(rig.page.View()[hidden].visible) << hidden;
    EXPECT_TRUE(rig.messages.Shown().empty());
  }
}

// After a complete read, one reply or one change of the user: the writes of Apply, all seven
// as read but for the one setting named.
TEST(ConfigPage, RepliesAndChangesAsApplyWritesThem) {
  struct Case {
    const char* name;
    std::function<void(ConfigRig&)> act;
    uint8_t code;
    Bytes values;
  };
  const auto deliver = [](Bytes report) { return [report](ConfigRig& rig) { rig.Deliver(report); }; };
  const auto select = [](std::vector<std::pair<int, int>> picks) {
    return [picks](ConfigRig& rig) {
      for (const auto& [id, index] : picks) rig.page.OnListSelect(id, index);
    };
  };
  Bytes writeAccess = Read(0x17, {5, 5, 5, 5});
  writeAccess[3] = proto::kAccessWrite;
  Bytes calibrationReport = Read(0x17, {5, 5, 5, 5});
  calibrationReport[0] = proto::kCalibrationReportId;
  const Case cases[] = {
      {"11: 2 is on", deliver(Read(0x11, {2})), 0x11, {2}},
      {"11: N = 3", deliver(Read(0x11, {2, 0})), 0x11, {1}},
      {"12: only 1 is on", deliver(Read(0x12, {0, 1, 2})), 0x12, {0, 1, 0}},
      {"12: N = 3", deliver(Read(0x12, {0, 1})), 0x12, {1, 0, 1}},
      {"16: on/off 2 is off, value kept", deliver(Read(0x16, {2, 3})), 0x16, {0, 12}},
      {"16: beyond the spin box", deliver(Read(0x16, {1, 0xC8})), 0x16, {1, 0xC8}},
      {"17: each level alone", deliver(Read(0x17, {6, 3, 0, 10})), 0x17, {2, 3, 7, 10}},
      {"17: signed bytes", deliver(Read(0x17, {0xFF, 5, 0x8A, 1})), 0x17, {2, 5, 7, 1}},
      {"21: A not in its table, B taken", deliver(Read(0x21, {1, 0, 25, 0, 100})), 0x21, {1, 0, 90, 0, 100}},
      {"21: high bytes count", deliver(Read(0x21, {1, 1, 3, 0x81, 0xF4})), 0x21, {1, 0, 90, 7, 0xD0}},
      {"21: off keeps A and B", deliver(Read(0x21, {0, 0, 3, 0, 100})), 0x21, {0, 0, 90, 7, 0xD0}},
      {"15: 10, 5000", deliver(Read(0x15, {1, 10, 0x13, 0x88})), 0x15, {1, 10, 0x13, 0x88}},
      // Switched on with values nobody saw: the page holds no level or time of the frame's to
      // write, so the setting is not written at all.
      {"15: level 0, 5500", deliver(Read(0x15, {1, 0, 0x15, 0x7C})), 0x15, {}},
      {"15: level 11, 750", deliver(Read(0x15, {1, 11, 0x02, 0xEE})), 0x15, {}},
      {"14: 150 is not a time", deliver(Read(0x14, {1, 2, 0, 0x96})), 0x14, {1, 2, 3, 0x84}},
      {"14: 0x8000 and up is negative", deliver(Read(0x14, {1, 2, 0x80, 0x64})), 0x14, {1, 2, 3, 0x84}},
      {"14: off", deliver(Read(0x14, {0, 1, 3, 0xE8})), 0x14, {0, 7, 3, 0x84}},
      {"write access", deliver(writeAccess), 0x17, {2, 4, 7, 9}},
      {"calibration report", deliver(calibrationReport), 0x17, {2, 4, 7, 9}},
      {"another page's code", deliver(Read(0x13, {4})), 0x17, {2, 4, 7, 9}},
      {"list 11: index 1 is on", select({{IDC_CFG_11, 1}}), 0x11, {2}},
      {"list 12: index 0 is on", select({{IDC_CFG_12B, 0}}), 0x12, {1, 1, 1}},
      {"list 12: no selection", select({{IDC_CFG_12A, -1}}), 0x12, {1, 0, 1}},
      {"spin box", [](ConfigRig& rig) { rig.page.OnSpinDelta(12, 3); }, 0x16, {1, 15}},
      {"slider", [](ConfigRig& rig) { rig.page.OnSlider(IDC_CFG_17A, 5); }, 0x17, {5, 4, 7, 9}},
      {"slider 0 and 6",
       [](ConfigRig& rig) {
         rig.page.OnSlider(IDC_CFG_17B, 0);
         rig.page.OnSlider(IDC_CFG_17B, 6);
       },
       0x17,
       {2, 4, 7, 9}},
      {"21 off", select({{IDC_CFG_21_ON, 1}}), 0x21, {0, 0, 90, 7, 0xD0}},
      {"table A", select({{IDC_CFG_21_A, 9}}), 0x21, {1, 0, 180, 7, 0xD0}},
      {"table B has 8 entries", select({{IDC_CFG_21_B, 8}}), 0x21, {1, 0, 90, 7, 0xD0}},
      {"a greyed list", select({{IDC_CFG_15_TIME, 0}}), 0x15, {0, 5, 0x0B, 0xB8}},
      {"switched on, its lists are the user's", select({{IDC_CFG_15_ON, 0}, {IDC_CFG_15_TIME, 9}, {IDC_CFG_15_LEVEL, 0}}), 0x15,
       {1, 1, 0x13, 0x88}},
      {"on/off index 2", select({{IDC_CFG_14_ON, 2}}), 0x14, {1, 7, 3, 0x84}},
      {"14 time", select({{IDC_CFG_14_TIME, 0}}), 0x14, {1, 7, 0, 100}},
      {"14 level index 10", select({{IDC_CFG_14_LEVEL, 10}}), 0x14, {1, 7, 3, 0x84}},
  };
  for (const Case& c : cases) {
    ConfigRig rig;
    rig.page.Refresh();
    c.act(rig);
    Writes expected;
    for (const auto& write : kAsRead) {
      if (write.first != c.code) {
        expected.push_back(write);
      } else if (!c.values.empty()) {
        expected.emplace_back(write.first, c.values);
      }
    }
    EXPECT_EQ(rig.Applied(), expected) << c.name;
    EXPECT_TRUE(rig.messages.Shown().empty()) << c.name;
  }
}

TEST(ConfigPage, RefusalsAreShownOnceTheWindowRunsAgain) {
  const std::tuple<uint8_t, uint8_t, std::size_t, std::size_t> cases[] = {
      // code, status, N, messages
      {0x11, 0, 2, 1}, {0x12, 0, 2, 1}, {0x16, 0, 2, 1}, {0x17, 0, 2, 1}, {0x21, 0, 6, 1},
      {0x15, 0, 5, 1}, {0x14, 0, 5, 1}, {0x81, 0, 5, 1}, {0x21, 0, 2, 0}, {0x14, 0, 2, 0},
      {0x12, 0, 5, 0}, {0x12, 1, 2, 0}, {0x13, 0, 2, 0}, {0x81, 0, 2, 0},
  };
  for (const auto& [code, status, n, messages] : cases) {
    ConfigRig rig;
    rig.Deliver(Ack(code, status, n));
    EXPECT_TRUE(rig.messages.Shown().empty()) << "shown on the reader worker";
    rig.window.RunAll();
    EXPECT_EQ(rig.messages.Shown().size(), messages) << std::hex << int(code) << " N " << n;
  }
  // One refused write among seven: the others still go, the message comes once.
  ConfigRig rig;
  rig.refused = {0x17};
  rig.page.Refresh();
  EXPECT_EQ(rig.Applied(), kAsRead);
  rig.window.RunAll();
  EXPECT_EQ(rig.messages.Shown(), (Boxes{{IDS_REFUSED, IDS_CAPTION}}));
}

// What each sequence of reads leaves on the page, and what Apply then sends.
TEST(ConfigPage, CompleteReadsShowWhatTheFrameToldIncompleteOnesGreyThePage) {
  struct Case {
    const char* name;
    std::function<void(ConfigRig&)> arrange;  // before the last refresh
    Shown shown;
    std::wstring text;
    std::size_t applied;
  };
  const auto answer = [](Bytes reply) { return [reply](ConfigRig& rig) { rig.answers[reply[1]] = reply; }; };
  const auto changed = [](std::vector<std::pair<std::size_t, std::pair<int, int>>> changes) {
    Shown shown = kFrameShown;
    for (const auto& [i, control] : changes) shown[i] = control;
    return shown;
  };
  const Case cases[] = {
      {"complete", [](ConfigRig&) {}, kFrameShown, L"12", 7},
      {"last read unanswered", [](ConfigRig& rig) { rig.answers.erase(0x14); }, kGreyedShown, L"5", 0},
      {"last read malformed", answer(Read(0x14, {1, 7, 3})), kGreyedShown, L"5", 0},
      {"no frame", [](ConfigRig& rig) { rig.link.state = kLinkNone; }, kGreyedShown, L"5", 0},
      // Only what the frame did not tell stays greyed.
      // What the frame did not tell is not written: six of the seven settings.
      {"an earlier read unanswered", [](ConfigRig& rig) { rig.answers.erase(0x12); },
       changed({{1, {1, 0}}, {2, {1, 0}}, {3, {1, 0}}}), L"12", 6},
      {"a level out of range", answer(Read(0x17, {6, 3, 7, 9})), changed({{6, {5, 0}}, {7, {3, 1}}}), L"12",
       6},
      {"16 off", answer(Read(0x16, {0, 3})), changed({{4, {1, 1}}, {5, {0, 0}}}), L"0", 7},
      {"16 beyond the spin box", answer(Read(0x16, {1, 0xC8})), changed({{5, {0, 1}}}), L"-56", 7},
      // Told in an earlier refresh of the same frame: greyed, still showing what Apply writes.
      {"told before, unanswered now",
       [](ConfigRig& rig) {
         rig.page.Refresh();
         rig.answers.erase(0x12);
       },
       changed({{1, {0, 0}}, {2, {1, 0}}, {3, {0, 0}}}), L"12", 7},
      // A removed frame's values are not the next frame's.
      {"told before the frame went away",
       [](ConfigRig& rig) {
         rig.page.Refresh();
         rig.page.Forget();
         rig.answers.erase(0x12);
       },
       changed({{1, {1, 0}}, {2, {1, 0}}, {3, {1, 0}}}), L"12", 6},
      // A frame that missed a reply leaves nothing dead: the next complete read shows it all.
      {"greyed, then complete",
       [](ConfigRig& rig) {
         rig.answers.erase(0x14);
         rig.page.Refresh();
         rig.answers = FrameAnswers();
       },
       kFrameShown, L"12", 7},
  };
  for (const Case& c : cases) {
    ConfigRig rig;
    c.arrange(rig);
    rig.page.Refresh();
    EXPECT_EQ(rig.Show(kShownControls), c.shown) << c.name;
    EXPECT_EQ(rig.page.View()[IDC_CFG_16_TEXT].text, c.text) << c.name;
    EXPECT_EQ(rig.Applied().size(), c.applied) << c.name;
    EXPECT_EQ(rig.messages.Shown().size(), rig.link.state == kLinkNone ? 1u : 0u)
        << c.name << ": IDS_NO_FRAME once";
  }
  // On other systems the first list stays at index 0, whatever is chosen; greyed, nothing changes.
  ConfigRig later(1);
  later.page.Refresh();
  later.page.OnListSelect(IDC_CFG_11, 1);
  EXPECT_EQ(later.Show({IDC_CFG_11}), (Shown{{0, 0}}));
  ConfigRig greyed;
  greyed.answers.erase(0x14);
  greyed.page.Refresh();
  greyed.page.OnSlider(IDC_CFG_17A, 1);
  EXPECT_EQ(greyed.page.OnSpinDelta(5, 1), 12);
  greyed.answers = FrameAnswers();
  greyed.page.Refresh();
  EXPECT_EQ(greyed.Show(kShownControls), kFrameShown);
}

TEST(ConfigPage, TheSpinBoxHoldsItsValueToItsRange) {
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int kMin = std::numeric_limits<int>::min();
  const std::tuple<int, int, int> cases[] = {{5, 1, 6},  {0, -1, 0},    {20, 1, 20},   {12, -30, 0},
                                             {-3, 0, 0}, {kMax, 1, 20}, {kMin, -1, 0}, {19, 1, 20}};
  for (const auto& [position, delta, value] : cases) {
    ConfigRig rig;
    rig.page.Refresh();
    EXPECT_EQ(rig.page.OnSpinDelta(position, delta), value) << position << " " << delta;
    EXPECT_EQ(rig.page.View()[IDC_CFG_16_TEXT].text, std::to_wstring(value));
    EXPECT_EQ(rig.Show({IDC_CFG_16_SPIN}), (Shown{{value, 1}}));
  }
}

TEST(ConfigPage, DefaultAsksTheFrameThenReadsAgain) {
  ConfigRig rig;
  rig.page.Default();
  const auto log = rig.log.Entries();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
            (std::vector<std::string>{"send 129", "pause 100", "send 17"}));
  EXPECT_EQ(rig.link.Sent()[0].bytes, Request(0x81, {2})) << "N = 1: the write access alone";
  EXPECT_EQ(rig.link.Sent().size(), 8u);
  EXPECT_EQ(rig.Show(kShownControls), kFrameShown);

  // Without a frame: the message from the action and again from the read, then greyed.
  ConfigRig none;
  none.link.state = kLinkNone;
  none.page.Default();
  EXPECT_EQ(none.messages.Shown(), (Boxes{{IDS_NO_FRAME, IDS_CAPTION}, {IDS_NO_FRAME, IDS_CAPTION}}));
  EXPECT_EQ(none.log.Entries(), (std::vector<std::string>{"pause 100"}));
  EXPECT_EQ(none.Show(kShownControls), kGreyedShown);

  // A frame gone after a complete read: Apply says so once and sends nothing.
  ConfigRig gone;
  gone.page.Refresh();
  gone.link.state = kLinkNone;
  EXPECT_TRUE(gone.Applied().empty());
  EXPECT_EQ(gone.messages.Shown(), (Boxes{{IDS_NO_FRAME, IDS_CAPTION}}));
}

// A reply after its wait, on the reader worker while the window's thread looks at the page.
TEST(ConfigPage, AReplyAfterItsWaitStillChangesTheFields) {
  ConfigRig rig;
  rig.answers.erase(0x14);
  rig.page.Refresh();
  ASSERT_FALSE(rig.page.readComplete());
  std::thread worker([&rig] { rig.Deliver(Read(0x14, {1, 3, 0x01, 0xF4})); });
  for (int i = 0; i < 100; ++i) (void)rig.page.View();
  worker.join();
  EXPECT_TRUE(rig.page.readComplete());
  EXPECT_EQ(rig.page.Fields().time14, 500);
  EXPECT_EQ(rig.Show({IDC_CFG_APPLY}), (Shown{{0, 0}})) << "shown as it was until the next read";
}

}  // namespace
}  // namespace tactra::console
