// The configuration page over a scripted frame: the paced reads and writes with their exact
// reports, every reply's checks, what the page shows after complete and incomplete reads, the
// user's changes, refusals shown once the window runs, and the frame's defaults.
#include <gtest/gtest.h>

#include <algorithm>
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
using Shown = std::vector<std::pair<int, int>>;

Bytes Reply(uint8_t code, const Bytes& payload) {
  return test::MakeReplyReport(proto::kSettingsReportId, code, payload, proto::kSettingsReportLength);
}

// [access 1] + values.
Bytes Read(Bytes values) {
  values.insert(values.begin(), proto::kAccessRead);
  return values;
}

// A write acknowledgement of payload length n: [2, status, 0...].
Bytes Ack(uint8_t status, std::size_t n) {
  Bytes payload(n, 0);
  payload[0] = proto::kAccessWrite;
  payload[1] = status;
  return payload;
}

// What the scripted frame holds, unlike every value the page starts with.
std::map<uint8_t, Bytes> FrameAnswers() {
  return {
      {0x11, Reply(0x11, Read({1}))},
      {0x12, Reply(0x12, Read({1, 0, 1}))},
      {0x16, Reply(0x16, Read({1, 12}))},
      {0x17, Reply(0x17, Read({2, 4, 7, 9}))},
      {0x21, Reply(0x21, Read({1, 0, 90, 0x07, 0xD0}))},  // 90, 2000
      {0x15, Reply(0x15, Read({0, 3, 0x03, 0xE8}))},      // off: the rest is not taken
      {0x14, Reply(0x14, Read({1, 7, 0x03, 0x84}))},      // 7, 900
  };
}

ConfigFields FrameFields() {
  ConfigFields f;
  f.value11 = false;
  f.flag12a = true;
  f.flag12c = true;
  f.value16 = 12;
  f.level17a = 2;
  f.level17b = 4;
  f.level17c = 7;
  f.level17d = 9;
  f.valueA21 = 90;
  f.valueB21 = 2000;
  f.enable15 = false;
  f.level14 = 7;
  f.time14 = 900;
  return f;
}

struct Rig {
  test::EventLog log;
  test::FakeLinkPort link;
  test::RecordingMessages messages;
  test::ManualWindowQueue window;
  CConfigDlgModel page;
  std::map<uint8_t, Bytes> answers = FrameAnswers();  // reads, by code; a missing code is silent
  std::set<uint8_t> refused;                          // writes acknowledged with status 0

  explicit Rig(int osCode = kOsCodeWithSetting11)
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
        return {Reply(code, Ack(refused.count(code) ? 0 : 1, n))};
      }
      auto it = answers.find(code);
      return it == answers.end() ? std::vector<Bytes>{} : std::vector<Bytes>{it->second};
    };
  }
  void Deliver(const Bytes& report) { page.OnDeviceReply(report.data(), report.size()); }
  // (position, enabled) of each control, as a test lists them.
  Shown Show(const std::vector<int>& ids) const {
    const ConfigView view = page.View();
    Shown out;
    for (int id : ids) out.emplace_back(view[id].position, view[id].enabled ? 1 : 0);
    return out;
  }
  // Every report sent after the first `skip`, as (code, payload).
  std::vector<std::pair<int, Bytes>> Commands(std::size_t skip = 0) const {
    std::vector<std::pair<int, Bytes>> out;
    const auto sent = link.Sent();
    for (std::size_t i = skip; i < sent.size(); ++i) {
      const Bytes& b = sent[i].bytes;
      out.emplace_back(b[1], Bytes(b.begin() + 3, b.begin() + 3 + b[2]));
    }
    return out;
  }
};

// After a complete read of FrameAnswers, `act`: the fields are then FrameFields() with `change`.
void ExpectFieldsAfter(const char* name, const std::function<void(Rig&)>& act,
                       const std::function<void(ConfigFields&)>& change) {
  Rig rig;
  rig.page.Refresh();
  act(rig);
  ConfigFields expected = FrameFields();
  change(expected);
  EXPECT_EQ(rig.page.Fields(), expected) << name;
  EXPECT_EQ(rig.window.Pending(), 0u) << name;
}

const std::vector<int> kShownControls = {1022, 1023, 1024, 1025, 1032, 1044, 1059, 1060, 1045, 1046, 1047,
                                         1048, 1049, 1026, 1027, 1028, 1029, 1031, 1030, 1036, 1037};
// The frame's answers of FrameAnswers, as the page shows them: setting 15 is off, its lists greyed.
const Shown kFrameShown = {{0, 1}, {0, 1}, {1, 1}, {0, 1}, {0, 1}, {12, 1}, {2, 1},
                           {4, 1}, {6, 1}, {8, 1}, {0, 1}, {7, 1}, {7, 1},  {1, 1},
                           {5, 0}, {4, 0}, {0, 1}, {8, 1}, {6, 1}, {0, 1},  {0, 1}};
// Greyed: fixed selections, only Default can be used.
const Shown kGreyedShown = {{1, 0}, {1, 0}, {1, 0}, {1, 0}, {0, 0}, {5, 0}, {1, 0},
                            {1, 0}, {0, 0}, {0, 0}, {0, 0}, {4, 0}, {3, 0}, {0, 0},
                            {5, 0}, {4, 0}, {0, 0}, {4, 0}, {4, 0}, {0, 1}, {0, 0}};

TEST(ConfigPage, OsCodeOfTheVersionRecord) {
  struct Case {
    VersionRecord version;
    int code;
  };
  const Case cases[] = {
      {{false, 2, 6, 1}, 3}, {{true, 1, 4, 10}, 0}, {{true, 2, 6, 1}, 6}, {{true, 2, 6, 0}, 5},
      {{true, 2, 5, 2}, 4},  {{true, 2, 5, 1}, 3},  {{true, 2, 5, 0}, 2}, {{true, 2, 6, 2}, 1},
      {{true, 2, 6, 3}, 1},  {{true, 2, 10, 0}, 1}, {{true, 2, 4, 0}, 1}, {{true, 3, 6, 1}, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConfigOsCode(c.version), c.code)
        << c.version.ok << " " << c.version.platformId << " " << c.version.major << "." << c.version.minor;
  }
}

TEST(ConfigPage, RefreshReadsInPacedOrderAndShowsTheFrame) {
  for (int osCode : {6, 1}) {
    Rig rig(osCode);
    rig.page.Refresh();
    std::vector<std::string> expected;
    for (int code : {0x11, 0x12, 0x16, 0x17, 0x21, 0x15, 0x14}) {
      // On other systems the first setting is skipped, its pause is not.
      if (code != 0x11 || osCode == 6) expected.push_back("send " + std::to_string(code));
      expected.push_back("pause 20");
    }
    EXPECT_EQ(rig.log.Entries(), expected) << osCode;
    for (const auto& sent : rig.link.Sent()) {
      Bytes report(64, 0);
      report[0] = 7;
      report[1] = sent.bytes[1];
      report[2] = 1;
      report[3] = 1;
      report[4] = 0xFF;
      EXPECT_EQ(sent.bytes, report);
      EXPECT_EQ(sent.channel, proto::kSettingsChannel);
    }
    EXPECT_TRUE(rig.page.readComplete());
    ConfigFields fields = FrameFields();
    if (osCode != 6) fields.value11 = true;  // never read
    EXPECT_EQ(rig.page.Fields(), fields);
    Shown shown = kFrameShown;
    if (osCode != 6) shown[0] = {0, 0};
    EXPECT_EQ(rig.Show(kShownControls), shown) << osCode;
    const ConfigView view = rig.page.View();
    EXPECT_EQ(view[IDC_CFG_16_TEXT].text, L"12");
    for (int hidden : {1045, 1046, 1061, 1062}) EXPECT_FALSE(view[hidden].visible) << hidden;
    EXPECT_TRUE(rig.messages.Shown().empty());
  }
}

// Each reply alone, after a complete read: the fields it leaves.
TEST(ConfigPage, ReadRepliesAreTakenWithTheirChecks) {
  struct Case {
    const char* name;
    Bytes reply;
    std::function<void(ConfigFields&)> change;
  };
  Bytes writeAccess = Reply(0x17, Read({5, 5, 5, 5}));
  writeAccess[3] = proto::kAccessWrite;
  Bytes sixReport = Reply(0x17, Read({5, 5, 5, 5}));
  sixReport[0] = proto::kCalibrationReportId;
  const Case cases[] = {
      {"11: 2 is on", Reply(0x11, Read({2})), [](ConfigFields& f) { f.value11 = true; }},
      {"11: N = 3", Reply(0x11, Read({2, 0})), [](ConfigFields&) {}},
      {"12: only 1 is on", Reply(0x12, Read({0, 1, 2})),
       [](ConfigFields& f) {
         f.flag12a = false;
         f.flag12b = true;
         f.flag12c = false;
       }},
      {"12: N = 3", Reply(0x12, Read({0, 1})), [](ConfigFields&) {}},
      {"16: signed value", Reply(0x16, Read({1, 0x80})), [](ConfigFields& f) { f.value16 = -128; }},
      {"16: beyond the spin box", Reply(0x16, Read({1, 50})), [](ConfigFields& f) { f.value16 = 50; }},
      {"16: on/off 2 is off, value kept", Reply(0x16, Read({2, 3})),
       [](ConfigFields& f) { f.enable16 = false; }},
      {"17: each level alone", Reply(0x17, Read({6, 3, 0, 10})),
       [](ConfigFields& f) {
         f.level17b = 3;
         f.level17d = 10;
       }},
      {"17: signed bytes", Reply(0x17, Read({0xFF, 5, 0x8A, 1})),
       [](ConfigFields& f) {
         f.level17b = 5;
         f.level17d = 1;
       }},
      {"21: A not in its table, B taken", Reply(0x21, Read({1, 0, 25, 0, 100})),
       [](ConfigFields& f) { f.valueB21 = 100; }},
      {"21: high bytes count", Reply(0x21, Read({1, 1, 3, 0x81, 0xF4})), [](ConfigFields&) {}},
      {"21: off keeps A and B", Reply(0x21, Read({0, 0, 3, 0, 100})),
       [](ConfigFields& f) { f.enable21 = false; }},
      {"15: on, 10, 5000", Reply(0x15, Read({1, 10, 0x13, 0x88})),
       [](ConfigFields& f) {
         f.enable15 = true;
         f.level15 = 10;
         f.time15 = 5000;
       }},
      {"15: level 0, time 5500", Reply(0x15, Read({1, 0, 0x15, 0x7C})),
       [](ConfigFields& f) { f.enable15 = true; }},
      {"15: level 11, time 750", Reply(0x15, Read({1, 11, 0x02, 0xEE})),
       [](ConfigFields& f) { f.enable15 = true; }},
      {"14: 150 keeps the time", Reply(0x14, Read({1, 2, 0x00, 0x96})),
       [](ConfigFields& f) { f.level14 = 2; }},
      {"14: 0x8000 and up is negative", Reply(0x14, Read({1, 2, 0x80, 0x64})),
       [](ConfigFields& f) { f.level14 = 2; }},
      {"14: 1000", Reply(0x14, Read({1, 1, 0x03, 0xE8})),
       [](ConfigFields& f) {
         f.level14 = 1;
         f.time14 = 1000;
       }},
      {"14: off", Reply(0x14, Read({0, 1, 0x03, 0xE8})), [](ConfigFields& f) { f.enable14 = false; }},
      {"write access", writeAccess, [](ConfigFields&) {}},
      {"calibration report", sixReport, [](ConfigFields&) {}},
      {"another page's code", Reply(0x13, Read({4})), [](ConfigFields&) {}},
      {"the action is not read", Reply(0x81, Read({1, 1, 1, 1})), [](ConfigFields&) {}},
  };
  for (const Case& c : cases) {
    ExpectFieldsAfter(
        c.name, [&c](Rig& rig) { rig.Deliver(c.reply); }, c.change);
  }
}

TEST(ConfigPage, ApplyWritesTheFieldsInPacedOrder) {
  using Writes = std::vector<std::pair<int, Bytes>>;
  const Writes asRead = {{0x11, {2, 1}},
                         {0x12, {2, 1, 0, 1}},
                         {0x16, {2, 1, 12}},
                         {0x17, {2, 2, 4, 7, 9}},
                         {0x21, {2, 1, 0, 90, 0x07, 0xD0}},
                         {0x15, {2, 0, 5, 0x0B, 0xB8}},  // off: the page's own level and time
                         {0x14, {2, 1, 7, 0x03, 0x84}}};
  struct Case {
    const char* name;
    int osCode;
    std::function<void(Rig&)> arrange;
    Writes writes;
  };
  const Case cases[] = {
      {"as read", 6, [](Rig&) {}, asRead},
      {"later Windows: no first setting", 1, [](Rig&) {}, Writes(asRead.begin() + 1, asRead.end())},
      {"the user's changes",
       6,
       [](Rig& rig) {
         rig.page.OnListSelect(IDC_CFG_11, 1);
         rig.page.OnListSelect(IDC_CFG_12B, 0);
         EXPECT_EQ(rig.page.OnSpinDelta(12, 3), 15);
         rig.page.OnSlider(IDC_CFG_17A, 5);
         rig.page.OnListSelect(IDC_CFG_21_ON, 1);
         rig.page.OnListSelect(IDC_CFG_15_ON, 0);
         rig.page.OnListSelect(IDC_CFG_15_TIME, 9);
         rig.page.OnListSelect(IDC_CFG_15_LEVEL, 0);
         rig.page.OnListSelect(IDC_CFG_14_TIME, 0);
       },
       {{0x11, {2, 2}},
        {0x12, {2, 1, 1, 1}},
        {0x16, {2, 1, 15}},
        {0x17, {2, 5, 4, 7, 9}},
        {0x21, {2, 0, 0, 90, 0x07, 0xD0}},
        {0x15, {2, 1, 1, 0x13, 0x88}},
        {0x14, {2, 1, 7, 0x00, 0x64}}}},
      {"a value beyond the spin box goes back as it came", 6,
       [](Rig& rig) {
         rig.answers[0x16] = Reply(0x16, Read({1, 0xC8}));
         rig.page.Refresh();
       },
       [&] {
         Writes w = asRead;
         w[2].second = {2, 1, 0xC8};
         return w;
       }()},
  };
  for (const Case& c : cases) {
    Rig rig(c.osCode);
    rig.page.Refresh();
    c.arrange(rig);
    const std::size_t sent = rig.link.Sent().size();
    const std::size_t logged = rig.log.Entries().size();
    rig.page.Apply();
    EXPECT_EQ(rig.Commands(sent), c.writes) << c.name;
    const auto all = rig.link.Sent();
    for (std::size_t i = sent; i < all.size(); ++i) {
      const Bytes& b = all[i].bytes;
      ASSERT_EQ(b.size(), 64u);
      EXPECT_EQ(b[3 + b[2]], 0xFF) << c.name;
      EXPECT_EQ(std::count(b.begin() + 4 + b[2], b.end(), 0), 60 - b[2]) << c.name;
    }
    const auto log = rig.log.Entries();
    EXPECT_EQ(std::count(log.begin() + static_cast<long>(logged), log.end(), "pause 30"), 7) << c.name;
    EXPECT_TRUE(rig.messages.Shown().empty()) << c.name;
  }
}

TEST(ConfigPage, RefusalsAreShownOnceTheWindowRunsAgain) {
  struct Case {
    uint8_t code;
    Bytes payload;
    int messages;
  };
  const Case cases[] = {
      {0x11, Ack(0, 2), 1}, {0x12, Ack(0, 2), 1}, {0x16, Ack(0, 2), 1}, {0x17, Ack(0, 2), 1},
      {0x21, Ack(0, 6), 1}, {0x15, Ack(0, 5), 1}, {0x14, Ack(0, 5), 1}, {0x81, Ack(0, 5), 1},
      {0x21, Ack(0, 2), 0}, {0x14, Ack(0, 2), 0}, {0x12, Ack(0, 5), 0}, {0x12, Ack(1, 2), 0},
      {0x13, Ack(0, 2), 0}, {0x81, Ack(0, 2), 0},
  };
  for (const Case& c : cases) {
    Rig rig;
    rig.Deliver(Reply(c.code, c.payload));
    EXPECT_TRUE(rig.messages.Shown().empty()) << "shown on the reader worker";
    rig.window.RunAll();
    EXPECT_EQ(rig.messages.Shown().size(), static_cast<std::size_t>(c.messages))
        << std::hex << int(c.code) << " N " << c.payload.size();
  }
  // One refused write among seven: the others still go, the message comes once.
  Rig rig;
  rig.refused = {0x17};
  rig.page.Refresh();
  rig.page.Apply();
  EXPECT_EQ(rig.Commands(7).size(), 7u);
  rig.window.RunAll();
  EXPECT_EQ(rig.messages.Shown(), (std::vector<std::pair<int, int>>{{IDS_REFUSED, IDS_CAPTION}}));
  EXPECT_EQ(rig.page.Fields(), FrameFields()) << "the page keeps the user's values";
}

// What each sequence of reads leaves on the page.
TEST(ConfigPage, CompleteReadsShowWhatTheFrameToldIncompleteOnesGreyThePage) {
  struct Case {
    const char* name;
    std::function<void(Rig&)> arrange;  // before the last refresh
    Shown shown;
    int sentByApply;
  };
  Shown without12 = kFrameShown;
  for (int i : {1, 2, 3}) without12[i] = {1, 0};  // the page's own flags, greyed
  Shown level17 = kFrameShown;
  level17[6] = {5, 0};  // 6 is not a slider level: the page's own, greyed
  level17[7] = {3, 1};
  Shown off16 = kFrameShown;
  off16[4] = {1, 1};
  off16[5] = {0, 0};
  const Case cases[] = {
      {"complete", [](Rig&) {}, kFrameShown, 7},
      {"last read unanswered", [](Rig& rig) { rig.answers.erase(0x14); }, kGreyedShown, 0},
      {"last read malformed",
       [](Rig& rig) {
         rig.answers[0x14] = Reply(0x14, Read({1, 7, 3}));
       },
       kGreyedShown, 0},
      {"no frame", [](Rig& rig) { rig.link.state = kLinkNone; }, kGreyedShown, 0},
      {"one earlier read unanswered", [](Rig& rig) { rig.answers.erase(0x12); }, without12, 7},
      {"a level out of range",
       [](Rig& rig) {
         rig.answers[0x17] = Reply(0x17, Read({6, 3, 7, 9}));
       },
       level17, 7},
      {"16 off",
       [](Rig& rig) {
         rig.answers[0x16] = Reply(0x16, Read({0, 3}));
       },
       off16, 7},
      // A frame that missed a reply leaves nothing dead: the next complete read shows it all.
      {"greyed, then complete",
       [](Rig& rig) {
         rig.answers.erase(0x14);
         rig.page.Refresh();
         rig.answers = FrameAnswers();
       },
       kFrameShown, 7},
  };
  for (const Case& c : cases) {
    Rig rig;
    c.arrange(rig);
    rig.page.Refresh();
    EXPECT_EQ(rig.Show(kShownControls), c.shown) << c.name;
    if (c.shown == kGreyedShown) {
      EXPECT_EQ(rig.page.View()[IDC_CFG_16_TEXT].text, L"5") << c.name;
    }
    const std::size_t sent = rig.link.Sent().size();
    rig.page.Apply();
    EXPECT_EQ(rig.link.Sent().size() - sent, static_cast<std::size_t>(c.sentByApply)) << c.name;
    const auto shown = rig.messages.Shown();
    EXPECT_EQ(shown.size(), rig.link.state == kLinkNone ? 1u : 0u) << c.name << ": 1083 once, from Refresh";
  }
}

TEST(ConfigPage, TheUsersChangesStayWithinTheirControlsBounds) {
  struct Case {
    const char* name;
    std::function<void(CConfigDlgModel&)> act;
    std::function<void(ConfigFields&)> change;
  };
  const Case cases[] = {
      {"on/off index 2", [](CConfigDlgModel& p) { p.OnListSelect(IDC_CFG_14_ON, 2); }, [](ConfigFields&) {}},
      {"no selection", [](CConfigDlgModel& p) { p.OnListSelect(IDC_CFG_12A, -1); }, [](ConfigFields&) {}},
      {"12: index 1 is off", [](CConfigDlgModel& p) { p.OnListSelect(IDC_CFG_12C, 1); },
       [](ConfigFields& f) { f.flag12c = false; }},
      {"table B has 8 entries", [](CConfigDlgModel& p) { p.OnListSelect(IDC_CFG_21_B, 8); },
       [](ConfigFields&) {}},
      {"table A", [](CConfigDlgModel& p) { p.OnListSelect(IDC_CFG_21_A, 9); },
       [](ConfigFields& f) { f.valueA21 = 180; }},
      {"14 level index 10", [](CConfigDlgModel& p) { p.OnListSelect(IDC_CFG_14_LEVEL, 10); },
       [](ConfigFields&) {}},
      {"14 level", [](CConfigDlgModel& p) { p.OnListSelect(IDC_CFG_14_LEVEL, 9); },
       [](ConfigFields& f) { f.level14 = 10; }},
      {"a greyed list", [](CConfigDlgModel& p) { p.OnListSelect(IDC_CFG_15_TIME, 0); }, [](ConfigFields&) {}},
      {"switched on, its lists are the user's",
       [](CConfigDlgModel& p) {
         p.OnListSelect(IDC_CFG_15_ON, 0);
         p.OnListSelect(IDC_CFG_15_TIME, 0);
       },
       [](ConfigFields& f) {
         f.enable15 = true;
         f.time15 = 500;
       }},
      {"slider 0 and 6",
       [](CConfigDlgModel& p) {
         p.OnSlider(IDC_CFG_17B, 0);
         p.OnSlider(IDC_CFG_17B, 6);
       },
       [](ConfigFields&) {}},
      {"slider", [](CConfigDlgModel& p) { p.OnSlider(IDC_CFG_17B, 1); },
       [](ConfigFields& f) { f.level17b = 1; }},
  };
  for (const Case& c : cases) {
    ExpectFieldsAfter(
        c.name, [&c](Rig& rig) { c.act(rig.page); }, c.change);
  }
  // Switched on, setting 15's lists show the page's values and can be used.
  Rig rig;
  rig.page.Refresh();
  rig.page.OnListSelect(IDC_CFG_15_ON, 0);
  EXPECT_EQ(rig.Show({1026, 1027, 1028}), (Shown{{0, 1}, {5, 1}, {4, 1}}));
  // The first setting stays at index 0 on other systems, whatever is chosen.
  Rig later(1);
  later.page.Refresh();
  later.page.OnListSelect(IDC_CFG_11, 1);
  EXPECT_EQ(later.Show({IDC_CFG_11}), (Shown{{0, 0}}));
  EXPECT_TRUE(later.page.Fields().value11);
  // Greyed, nothing changes.
  Rig greyed;
  greyed.answers.erase(0x14);
  greyed.page.Refresh();
  greyed.page.OnSlider(IDC_CFG_17A, 1);
  EXPECT_EQ(greyed.page.OnSpinDelta(5, 1), 12);
  ConfigFields unchanged = FrameFields();
  unchanged.level14 = 5;  // setting 14 was not answered
  unchanged.time14 = 500;
  EXPECT_EQ(greyed.page.Fields(), unchanged);
}

TEST(ConfigPage, TheSpinBoxHoldsItsValueToItsRange) {
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int kMin = std::numeric_limits<int>::min();
  const std::tuple<int, int, int> cases[] = {{5, 1, 6},  {0, -1, 0},    {20, 1, 20},   {12, -30, 0},
                                             {-3, 0, 0}, {kMax, 1, 20}, {kMin, -1, 0}, {19, 1, 20}};
  for (const auto& [position, delta, value] : cases) {
    Rig rig;
    rig.page.Refresh();
    EXPECT_EQ(rig.page.OnSpinDelta(position, delta), value) << position << " " << delta;
    const ConfigView view = rig.page.View();
    EXPECT_EQ(view[IDC_CFG_16_TEXT].text, std::to_wstring(value));
    EXPECT_EQ(view[IDC_CFG_16_SPIN].position, value);
  }
}

TEST(ConfigPage, DefaultAsksTheFrameThenReadsAgain) {
  Rig rig;
  rig.page.Default();
  const auto log = rig.log.Entries();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
            (std::vector<std::string>{"send 129", "pause 100", "send 17"}));
  Bytes action(64, 0);
  action[0] = 7;
  action[1] = 0x81;
  action[2] = 1;  // N = 1: the write access alone
  action[3] = 2;
  action[4] = 0xFF;
  EXPECT_EQ(rig.link.Sent()[0].bytes, action);
  EXPECT_EQ(rig.link.Sent().size(), 8u);
  EXPECT_EQ(rig.Show(kShownControls), kFrameShown);

  // Without a frame: the message from the action and again from the read, then greyed.
  Rig none;
  none.link.state = kLinkNone;
  none.page.Default();
  EXPECT_EQ(none.messages.Shown(),
            (std::vector<std::pair<int, int>>{{IDS_NO_FRAME, IDS_CAPTION}, {IDS_NO_FRAME, IDS_CAPTION}}));
  EXPECT_EQ(none.log.Entries().front(), "pause 100");
  EXPECT_TRUE(none.link.Sent().empty());
  EXPECT_EQ(none.Show(kShownControls), kGreyedShown);

  // A frame gone after a complete read: Apply says so and sends nothing.
  Rig gone;
  gone.page.Refresh();
  gone.link.state = kLinkNone;
  gone.page.Apply();
  EXPECT_EQ(gone.messages.Shown(), (std::vector<std::pair<int, int>>{{IDS_NO_FRAME, IDS_CAPTION}}));
  EXPECT_EQ(gone.link.Sent().size(), 7u);
}

// A reply after its wait, on the reader worker while the window's thread looks at the page.
TEST(ConfigPage, AReplyAfterItsWaitStillChangesTheFields) {
  Rig rig;
  rig.answers.erase(0x14);
  rig.page.Refresh();
  ASSERT_FALSE(rig.page.readComplete());
  std::thread worker([&rig] { rig.Deliver(Reply(0x14, Read({1, 3, 0x01, 0xF4}))); });
  for (int i = 0; i < 100; ++i) (void)rig.page.View();
  worker.join();
  EXPECT_TRUE(rig.page.readComplete());
  EXPECT_EQ(rig.page.Fields().time14, 500);
  EXPECT_EQ(rig.Show({IDC_CFG_APPLY}), (Shown{{0, 0}})) << "shown as it was until the next read";
}

}  // namespace
}  // namespace tactra::console
