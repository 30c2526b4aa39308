// The double-click adjustment over the in-memory store.
#include "calibration/double_click.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/fakes/memory_settings_store.h"
#include "tests/fakes/recording_messages.h"

namespace tactra {
namespace {

using test::RecordingMessages;
const Hive kUser = Hive::CurrentUser;
const wchar_t kMouse[] = L"Control Panel\\Mouse";

struct Fixture {
  explicit Fixture(const wchar_t* height, const wchar_t* width) {
    if (height) store.PutString(kUser, kMouse, L"DoubleClickHeight", height);
    if (width) store.PutString(kUser, kMouse, L"DoubleClickWidth", width);
    store.PutString(kUser, kMouse, L"DoubleClickSpeed", L"500");
  }
  std::vector<std::pair<std::wstring, std::wstring>> Written() const {
    std::vector<std::pair<std::wstring, std::wstring>> out;
    for (const auto& c : store.Changes()) {
      EXPECT_EQ(c.op, SettingsOp::WriteString);
      EXPECT_EQ(c.hive, kUser);
      EXPECT_EQ(c.path, kMouse);
      out.emplace_back(c.name, c.text);
    }
    return out;
  }
  MemorySettingsStore store;
  RecordingMessages messages;
};

const std::vector<std::pair<std::wstring, std::wstring>> kAllWrites = {
    {L"DoubleClickHeight", L"24"}, {L"DoubleClickWidth", L"24"}, {L"DoubleClickSpeed", L"600"}};

TEST(AdjustDoubleClick, ChangesOnlyRectanglesUpToEightByEight) {
  struct Case {
    const wchar_t* height;
    const wchar_t* width;
    bool writes;
  };
  const Case cases[] = {
      {L"4", L"4", true},    {L"4", L"10", false},  {L"10", L"4", false},
      {L"8", L"8", true},    {L"9", L"8", false},   {L"8", L"9", false},
      {L"4", L"abc", true},  {L"", L"", true},      {L" 12", L"4", false},  // leading blanks are skipped
      {L"-20", L"+5", true}, {L"7x", L"8.9", true}, {L"999", L"0", false},
  };
  for (const Case& c : cases) {
    Fixture f(c.height, c.width);
    EXPECT_TRUE(AdjustDoubleClick(f.store, f.messages)) << c.height << " " << c.width;
    EXPECT_EQ(f.messages.Count(), 0u);
    if (c.writes) {
      EXPECT_EQ(f.Written(), kAllWrites) << c.height << " " << c.width;
      EXPECT_EQ(f.store.GetString(kUser, kMouse, L"DoubleClickSpeed"), std::optional<std::wstring>(L"600"));
    } else {
      EXPECT_TRUE(f.store.Changes().empty()) << c.height << " " << c.width;
    }
  }
}

TEST(AdjustDoubleClick, MissingKeyShows1063) {
  MemorySettingsStore store;
  RecordingMessages messages;
  EXPECT_FALSE(AdjustDoubleClick(store, messages));
  ASSERT_EQ(messages.resource.size(), 1u);
  EXPECT_EQ(messages.resource[0], (RecordingMessages::Resource{1063, 1050, L""}));
  EXPECT_TRUE(store.Changes().empty());

  Fixture f(L"4", L"4");
  f.store.FailOn(SettingsOp::Open);
  EXPECT_FALSE(AdjustDoubleClick(f.store, f.messages));
  EXPECT_EQ(f.messages.resource, (std::vector<RecordingMessages::Resource>{{1063, 1050, L""}}));
}

TEST(AdjustDoubleClick, UnreadableValuesShow1054WithTheName) {
  struct Case {
    const char* what;
    std::optional<std::vector<uint8_t>> height, width;  // raw data; nullopt: missing
    std::wstring suffix;
  };
  auto text = [](const wchar_t* s, bool terminated) { return MemorySettingsStore::Utf16Data(s, terminated); };
  const Case cases[] = {
      {"four-character height", text(L"1000", true), text(L"4", true), L"DoubleClickHeight"},
      {"four-character width", text(L"4", true), text(L"1000", true), L"DoubleClickWidth"},
      // Exactly fills the buffer with no terminator: must not be taken as four characters.
      {"unterminated four characters", text(L"4444", false), text(L"4", true), L"DoubleClickHeight"},
      {"missing height", std::nullopt, text(L"4", true), L"DoubleClickHeight"},
      {"missing width", text(L"4", true), std::nullopt, L"DoubleClickWidth"},
  };
  for (const Case& c : cases) {
    Fixture f(nullptr, nullptr);
    if (c.height) f.store.PutRaw(kUser, kMouse, L"DoubleClickHeight", StoredType::String, *c.height);
    if (c.width) f.store.PutRaw(kUser, kMouse, L"DoubleClickWidth", StoredType::String, *c.width);
    EXPECT_FALSE(AdjustDoubleClick(f.store, f.messages)) << c.what;
    EXPECT_EQ(f.messages.resource, (std::vector<RecordingMessages::Resource>{{1054, 1050, c.suffix}}))
        << c.what;
    EXPECT_TRUE(f.store.Changes().empty()) << c.what;
  }
}

TEST(AdjustDoubleClick, ShortUnterminatedValuesAreRead) {
  Fixture f(nullptr, nullptr);
  f.store.PutRaw(kUser, kMouse, L"DoubleClickHeight", StoredType::String,
                 MemorySettingsStore::Utf16Data(L"4", false));
  f.store.PutRaw(kUser, kMouse, L"DoubleClickWidth", StoredType::String,
                 MemorySettingsStore::Utf16Data(L"100", false));
  EXPECT_TRUE(AdjustDoubleClick(f.store, f.messages));
  EXPECT_EQ(f.messages.Count(), 0u);
  EXPECT_TRUE(f.store.Changes().empty()) << "width 100 is above 8";
}

TEST(AdjustDoubleClick, FailedWriteShows1064AndKeepsEarlierWrites) {
  for (std::size_t failing = 0; failing < kAllWrites.size(); ++failing) {
    Fixture f(L"4", L"4");
    f.store.FailOn(SettingsOp::WriteString, kAllWrites[failing].first);
    EXPECT_FALSE(AdjustDoubleClick(f.store, f.messages));
    EXPECT_EQ(f.messages.resource,
              (std::vector<RecordingMessages::Resource>{{1064, 1050, kAllWrites[failing].first}}));
    const decltype(kAllWrites) before(kAllWrites.begin(), kAllWrites.begin() + failing);
    EXPECT_EQ(f.Written(), before) << "writes before the failed one stay, none follow it";
    EXPECT_EQ(f.store.Calls(SettingsOp::WriteString), static_cast<int>(failing) + 1);
  }
}

TEST(LeadingNumber, LikeTheCLibrary) {
  const std::pair<const wchar_t*, int> cases[] = {
      {L"24", 24},
      {L"  7", 7},
      {L"\t-3z", -3},
      {L"+8", 8},
      {L"abc", 0},
      {L"", 0},
      {L"- 4", 0},
      {L"0x10", 0},
      {L"99999999999", 2147483647},
      {L"-99999999999", -2147483647 - 1},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(LeadingNumber(text), value) << text;
}

}  // namespace
}  // namespace tactra
