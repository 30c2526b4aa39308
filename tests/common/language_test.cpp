// Choice of the user-interface language over the in-memory settings store, and the percent
// handling of resource texts.
#include <gtest/gtest.h>

#include "common/language.h"
#include "tests/fakes/memory_settings_store.h"
#include "tests/fakes/recording_messages.h"

namespace tactra {
namespace {

using test::RecordingMessages;
const Hive kHklm = Hive::LocalMachine;

TEST(CommandLine, ArgumentsFollowTheProgramNameAndItsBlanks) {
  EXPECT_EQ(CommandLineArguments(L"Kelvane.exe"), L"");
  EXPECT_EQ(CommandLineArguments(L"Kelvane.exe 1"), L"1");
  EXPECT_EQ(CommandLineArguments(L"Kelvane.exe   1 "), L"1 ");
  EXPECT_EQ(CommandLineArguments(L"\"C:\\Program Files\\Tactra\\Kelvane.exe\" 0"), L"0");
  EXPECT_EQ(CommandLineArguments(L"\"C:\\Program Files\\Tactra\\Kelvane.exe\"1"), L"1");
  EXPECT_EQ(CommandLineArguments(L"\"unterminated 1"), L"");
  EXPECT_EQ(CommandLineArguments(L""), L"");
}

TEST(SelectLanguage, ExactArgumentsDecideWithoutTheStore) {
  for (auto [args, expected] : {std::pair{L"1", kLanguageChinese}, std::pair{L"0", kLanguageEnglish}}) {
    MemorySettingsStore store;
    store.PutDword(kHklm, kLanguageKeyPath, kLanguageValueName, args == std::wstring(L"1") ? 0 : 1);
    RecordingMessages messages;
    EXPECT_EQ(SelectLanguage(args, store, messages), expected);
    EXPECT_EQ(store.Calls(SettingsOp::CreateOrOpen), 0);
    EXPECT_EQ(store.Calls(SettingsOp::ReadDword), 0);
    EXPECT_TRUE(store.Changes().empty());
    EXPECT_EQ(messages.Count(), 0u);
  }
}

TEST(SelectLanguage, OtherArgumentsLeaveItToTheStore) {
  for (const wchar_t* args : {L"1 ", L"01", L" 1", L"", L"2", L"10"}) {
    MemorySettingsStore store;
    store.PutDword(kHklm, kLanguageKeyPath, kLanguageValueName, 1);
    RecordingMessages messages;
    EXPECT_EQ(SelectLanguage(args, store, messages), kLanguageChinese) << args;
    EXPECT_EQ(store.Calls(SettingsOp::ReadDword), 1) << args;
  }
}

TEST(SelectLanguage, StoredValuesCountByTheirLowestByte) {
  const std::vector<std::pair<uint32_t, bool>> cases{{0, false},  {1, true},    {2, false},
                                                     {257, true}, {256, false}, {0xFFFFFF01u, true}};
  for (auto [stored, chinese] : cases) {
    MemorySettingsStore store;
    store.PutDword(kHklm, kLanguageKeyPath, kLanguageValueName, stored);
    RecordingMessages messages;
    EXPECT_EQ(IsChinese(SelectLanguage(L"", store, messages)), chinese) << stored;
    EXPECT_EQ(messages.Count(), 0u);
    EXPECT_TRUE(store.Changes().empty());
  }
}

TEST(SelectLanguage, FirstStartCreatesTheKeyWithTwo) {
  MemorySettingsStore store;
  RecordingMessages messages;
  const int language = SelectLanguage(L"", store, messages);
  EXPECT_FALSE(IsChinese(language));
  EXPECT_EQ(language, kLanguageInitial);
  EXPECT_EQ(store.GetDword(kHklm, kLanguageKeyPath, kLanguageValueName), std::optional<uint32_t>(2));
  EXPECT_EQ(messages.Count(), 0u);
}

TEST(SelectLanguage, EachStoreFailureShowsItsMessageAndGivesEnglish) {
  struct Case {
    const char* name;
    bool keyExists;
    SettingsOp failing;
    const wchar_t* message;
  };
  const std::vector<Case> cases{
      {"key cannot be created", false, SettingsOp::CreateOrOpen, kMsgCreateRegistryFailed},
      {"key cannot be opened", true, SettingsOp::CreateOrOpen, kMsgCreateRegistryFailed},
      {"new value cannot be written", false, SettingsOp::WriteDword, kMsgCreateValueFailed},
      {"value cannot be read", true, SettingsOp::ReadDword, kMsgReadValueFailed},
  };
  for (const auto& c : cases) {
    MemorySettingsStore store;
    if (c.keyExists) store.PutDword(kHklm, kLanguageKeyPath, kLanguageValueName, 1);
    store.FailOn(c.failing);
    RecordingMessages messages;
    EXPECT_EQ(SelectLanguage(L"", store, messages), kLanguageEnglish) << c.name;
    ASSERT_EQ(messages.fixed.size(), 1u) << c.name;
    EXPECT_EQ(messages.fixed[0], (RecordingMessages::Fixed{c.message, L"Error", false})) << c.name;
    EXPECT_TRUE(messages.resource.empty());
  }
}

TEST(SelectLanguage, ExistingKeyWithoutTheValueOrWithLongerData) {
  MemorySettingsStore missing;
  missing.AddKey(kHklm, kLanguageKeyPath);
  MemorySettingsStore longer;
  longer.PutRaw(kHklm, kLanguageKeyPath, kLanguageValueName, StoredType::Binary, {1, 0, 0, 0, 0});
  for (MemorySettingsStore* store : {&missing, &longer}) {
    RecordingMessages messages;
    EXPECT_EQ(SelectLanguage(L"", *store, messages), kLanguageEnglish);
    ASSERT_EQ(messages.fixed.size(), 1u);
    EXPECT_EQ(messages.fixed[0].text, L"Failed to get register key: Language");
    EXPECT_TRUE(store->Changes().empty()) << "an existing key is only read";
  }
}

TEST(UnescapePercent, OnlyDoubledPercentSignsChange) {
  const std::vector<std::pair<std::wstring, std::wstring>> cases{
      {L"", L""},       {L"100%%", L"100%"}, {L"%s and %d", L"%s and %d"}, {L"%%%", L"%%"},
      {L"%%%%", L"%%"}, {L"%", L"%"},        {L"a%%b%n", L"a%b%n"},        {L"进度 50%%", L"进度 50%"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(UnescapePercent(in), out);
}

}  // namespace
}  // namespace tactra
