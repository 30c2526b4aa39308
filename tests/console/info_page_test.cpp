// The information page over a scripted frame: the six paced requests, every reply's checks,
// and the placeholders when the lists are not answered.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>

#include "console/info_page.h"
#include "resources/console_ids.h"
#include "tests/fakes/fake_link_port.h"
#include "tests/fakes/manual_window_queue.h"
#include "tests/fakes/recording_messages.h"

namespace tactra::console {
namespace {

using test::Bytes;

Bytes SettingsReply(uint8_t code, const Bytes& payload) {
  return test::MakeReplyReport(proto::kSettingsReportId, code, payload, proto::kSettingsReportLength);
}

Bytes Text(const char* text, std::size_t room) {
  Bytes bytes(room, 0);
  for (std::size_t i = 0; i < room && text[i]; ++i) bytes[i] = static_cast<uint8_t>(text[i]);
  return bytes;
}

// [access 1] + values.
Bytes Read(Bytes values) {
  values.insert(values.begin(), proto::kAccessRead);
  return values;
}

Bytes Lists(std::vector<int8_t> a, std::vector<int8_t> b, int countA = -1, int countB = -1) {
  Bytes values(42, 0);
  values[0] = static_cast<uint8_t>(countA < 0 ? a.size() : countA);
  for (std::size_t i = 0; i < a.size(); ++i) values[1 + i] = static_cast<uint8_t>(a[i]);
  values[15] = static_cast<uint8_t>(countB < 0 ? b.size() : countB);
  for (std::size_t i = 0; i < b.size(); ++i) values[16 + i] = static_cast<uint8_t>(b[i]);
  return Read(values);
}

struct InfoRig {
  test::EventLog log;
  test::FakeLinkPort link;
  test::RecordingMessages messages;
  test::ManualWindowQueue window;
  CInfoDlgModel page{PageContext{
      link, messages, [this](std::chrono::milliseconds d) { log.Add("pause " + std::to_string(d.count())); },
      window}};
  std::map<uint8_t, Bytes> answers;  // by code; a missing code is not answered

  InfoRig() {
    link.log = &log;
    link.onReply = [this](const uint8_t* r, std::size_t n) { page.OnDeviceReply(r, n); };
    link.responder = [this](int, const Bytes& written) {
      auto it = answers.find(written[1]);
      return it == answers.end() ? std::vector<Bytes>{} : std::vector<Bytes>{it->second};
    };
  }
  void AnswerAll() {
    answers[0xF2] = SettingsReply(0xF2, Read(Text("V2.16.03", 8)));
    answers[0xF3] = SettingsReply(0xF3, Read(Text("20260311", 8)));
    answers[0xF4] = SettingsReply(0xF4, Read(Text("IR6C", 8)));
    answers[0xF5] = SettingsReply(0xF5, Read(Text("infrared frame", 56)));
    answers[0x01] = SettingsReply(0x01, Read({9, 0xE9}));
    answers[0x02] = SettingsReply(0x02, Lists({4, 4, 5}, {3, -1}));
  }
};

TEST(InfoPage, SixPacedReadRequestsInOrder) {
  InfoRig rig;
  rig.AnswerAll();
  const InfoView view = rig.page.Refresh();
  EXPECT_EQ(rig.log.Entries(),
            (std::vector<std::string>{"send 242", "pause 20", "send 243", "pause 20", "send 244", "pause 20",
                                      "send 245", "pause 20", "send 1", "pause 20", "send 2", "pause 20"}));
  for (const auto& sent : rig.link.Sent()) {
    ASSERT_EQ(sent.channel, proto::kSettingsChannel);
    ASSERT_EQ(sent.bytes.size(), 64u);
    const Bytes head(sent.bytes.begin(), sent.bytes.begin() + 5);
    EXPECT_EQ(head, (Bytes{7, sent.bytes[1], 1, 1, 0xFF}));
    EXPECT_EQ(std::count(sent.bytes.begin() + 5, sent.bytes.end(), 0), 59);
  }
  EXPECT_EQ(view.value01, L"-23");
  EXPECT_EQ(view.countA, L"3");
  EXPECT_EQ(view.listA, L"4+4+5");
  EXPECT_EQ(view.countB, L"2");
  EXPECT_EQ(view.listB, L"3+-1");
  EXPECT_EQ(view.texts, (std::array<std::wstring, 4>{L"V2.16.03", L"20260311", L"IR6C", L"infrared frame"}));
  EXPECT_TRUE(rig.messages.Shown().empty());
}

// Each reply alone, after a complete refresh: what the page then shows.
TEST(InfoPage, RepliesAreTakenOnlyWithTheirExactLengthAndReadAccess) {
  struct Case {
    const char* name;
    Bytes reply;
    std::function<std::wstring(const InfoView&)> field;
    std::wstring shown;
  };
  Bytes writeAccess = Read({9, 5});
  writeAccess[0] = proto::kAccessWrite;
  const std::wstring fiftySix(56, L'x');
  const auto value01 = [](const InfoView& v) { return v.value01; };
  const auto countA = [](const InfoView& v) { return v.countA; };
  const auto listA = [](const InfoView& v) { return v.listA; };
  const auto textF2 = [](const InfoView& v) { return v.texts[0]; };
  const Case cases[] = {
      {"value, negative", SettingsReply(0x01, Read({0, 0x80})), value01, L"-128"},
      {"value, N = 4", SettingsReply(0x01, Read({0, 5, 0})), value01, L"-23"},
      {"value, write access", SettingsReply(0x01, writeAccess), value01, L"-23"},
      {"8 characters, no terminator", SettingsReply(0xF2, Read(Text("ABCDEFGH", 8))), textF2, L"ABCDEFGH"},
      {"empty lists", SettingsReply(0x02, Lists({}, {})), listA, L""},
      {"count 0 with values", SettingsReply(0x02, Lists({7, 7}, {}, 0)), listA, L""},
      {"negative count", SettingsReply(0x02, Lists({7}, {}, 0xFF)), countA, L"-1"},
      // More values than the report has room for: the count as received, the room's values.
      {"count beyond the room", SettingsReply(0x02, Lists(std::vector<int8_t>(14, 1), {}, 20)), listA,
       L"1+1+1+1+1+1+1+1+1+1+1+1+1+1"},
      {"lists, N = 42", SettingsReply(0x02, Bytes(Read(Bytes(41, 1)))), listA, L"4+4+5"},
  };
  for (const Case& c : cases) {
    InfoRig rig;
    rig.AnswerAll();
    rig.page.Refresh();
    rig.page.OnDeviceReply(c.reply.data(), c.reply.size());
    EXPECT_EQ(c.field(rig.page.View()), c.shown) << c.name;
  }
  // The long text takes all 56 characters.
  InfoRig rig;
  const Bytes longText = SettingsReply(0xF5, Read(Bytes(56, 'x')));
  rig.page.OnDeviceReply(longText.data(), longText.size());
  EXPECT_EQ(rig.page.View().texts[3], fiftySix);
}

TEST(InfoPage, WithoutTheListsEverythingShowsItsPlaceholder) {
  for (bool connected : {true, false}) {
    InfoRig rig;
    rig.AnswerAll();
    rig.page.Refresh();  // a complete refresh first
    rig.answers.erase(0x02);
    if (!connected) rig.link.state = kLinkNone;
    const InfoView view = rig.page.Refresh();
    EXPECT_EQ(view.value01, L"0") << connected;
    EXPECT_EQ(view.countA, L"0");
    EXPECT_EQ(view.countB, L"0");
    EXPECT_EQ(view.listA, L"0");
    EXPECT_EQ(view.listB, L"0");
    EXPECT_EQ(view.texts, (std::array<std::wstring, 4>{L"N/A", L"N/A", L"N/A", L"N/A"}))
        << "texts that came are reset too";
    if (connected) {
      EXPECT_TRUE(rig.messages.Shown().empty());
    } else {
      EXPECT_EQ(rig.messages.Shown(), (std::vector<std::pair<int, int>>{{IDS_NO_FRAME, IDS_CAPTION}}));
      EXPECT_EQ(rig.link.Sent().size(), 6u) << "only the first refresh sent";
    }
  }
}

TEST(InfoPage, AnAnswerMissingAfterTheListsKeepsItsValueFromBefore) {
  InfoRig rig;
  rig.AnswerAll();
  rig.page.Refresh();
  rig.answers.erase(0xF3);
  rig.answers[0xF2] = SettingsReply(0xF2, Read(Text("V3", 8)));
  const InfoView view = rig.page.Refresh();
  EXPECT_EQ(view.texts[0], L"V3");
  EXPECT_EQ(view.texts[1], L"20260311");
}

}  // namespace
}  // namespace tactra::console
