// The options page over the in-memory store: what the registry holds after loading and after
// Apply, the messages with their suffixes, what survives a failure, and the Run entry.
#include <gtest/gtest.h>

#include "common/language.h"
#include "console/options_page.h"
#include "resources/console_ids.h"
#include "tests/fakes/memory_settings_store.h"
#include "tests/fakes/recording_messages.h"

namespace tactra::console {
namespace {

using test::RecordingMessages;
using Resource = RecordingMessages::Resource;
constexpr Hive kMachine = Hive::LocalMachine;

struct OptionsRig {
  MemorySettingsStore store;
  RecordingMessages messages;
  COptionsDlgModel page{store, messages};
};

void PutSettings(MemorySettingsStore& store, uint32_t language, uint32_t logon, uint32_t minimize) {
  store.PutDword(kMachine, kLanguageKeyPath, kLanguageValueName, language);
  store.PutDword(kMachine, kStartupKeyPath, kLoadOnStartupValue, logon);
  store.PutDword(kMachine, kStartupKeyPath, kMinimizeValue, minimize);
}

TEST(OptionsPage, LoadReadsOrCreatesTheSettings) {
  struct Case {
    const char* name;
    std::function<void(MemorySettingsStore&)> arrange;
    int language;
    bool logon, minimize;
    std::vector<Resource> messages;
  };
  const Case cases[] = {
      {"first start: both keys created with 0", [](MemorySettingsStore&) {}, 0, false, false, {}},
      {"stored values, lowest byte only",
       [](MemorySettingsStore& s) { PutSettings(s, 0x101, 0x100, 2); },
       1,
       false,
       true,
       {}},
      {"language 2 checks neither box",
       [](MemorySettingsStore& s) { PutSettings(s, 2, 1, 0); },
       2,
       true,
       false,
       {}},
      {"global key cannot be created",
       [](MemorySettingsStore& s) {
         PutSettings(s, 1, 1, 1);
         s.FailOn(SettingsOp::CreateOrOpen, kLanguageKeyPath);
       },
       0,
       true,
       true,
       {{IDS_KEY_CREATE_FAILED, IDS_CAPTION, L""}}},
      {"language unreadable",
       [](MemorySettingsStore& s) {
         PutSettings(s, 1, 1, 1);
         s.FailOn(SettingsOp::ReadDword, kLanguageValueName);
       },
       0,
       true,
       true,
       {{IDS_VALUE_READ_FAILED, IDS_CAPTION, L"Language"}}},
      {"second flag unreadable takes back the first",
       [](MemorySettingsStore& s) {
         PutSettings(s, 0, 1, 1);
         s.FailOn(SettingsOp::ReadDword, kMinimizeValue);
       },
       0,
       false,
       false,
       {{IDS_VALUE_READ_FAILED, IDS_CAPTION, L"MinimizeWindowOnLoaded"}}},
      {"new startup key, first value unwritable",
       [](MemorySettingsStore& s) { s.FailOn(SettingsOp::WriteDword, kLoadOnStartupValue); },
       0,
       false,
       false,
       {{IDS_VALUE_CREATE_FAILED, IDS_CAPTION, L"LoadProgramOnStartup"}}},
  };
  for (const Case& c : cases) {
    OptionsRig s;
    c.arrange(s.store);
    s.page.Load();
    EXPECT_EQ(s.page.language(), c.language) << c.name;
    EXPECT_EQ(s.page.startAtLogon(), c.logon) << c.name;
    EXPECT_EQ(s.page.minimizeAfterStart(), c.minimize) << c.name;
    EXPECT_EQ(s.messages.resource, c.messages) << c.name;
  }
  OptionsRig fresh;
  fresh.page.Load();
  EXPECT_EQ(fresh.store.GetDword(kMachine, kLanguageKeyPath, kLanguageValueName), 0u);
  EXPECT_EQ(fresh.store.GetDword(kMachine, kStartupKeyPath, kLoadOnStartupValue), 0u);
  EXPECT_EQ(fresh.store.GetDword(kMachine, kStartupKeyPath, kMinimizeValue), 0u);
  // The second value of a key whose first could not be written is not written either.
  OptionsRig failed;
  failed.store.FailOn(SettingsOp::WriteDword, kLoadOnStartupValue);
  failed.page.Load();
  EXPECT_FALSE(failed.store.HasValue(kMachine, kStartupKeyPath, kMinimizeValue));
}

TEST(OptionsPage, LanguageBoxesActAsRadioButtonsThatMayBothBeEmpty) {
  OptionsRig s;
  PutSettings(s.store, 2, 0, 0);
  s.page.Load();
  EXPECT_FALSE(s.page.View().english);
  EXPECT_FALSE(s.page.View().chinese);
  s.page.OnEnglish(true);
  EXPECT_TRUE(s.page.View().english);
  s.page.OnEnglish(false);  // unchecked again: the language stays English, Chinese stays clear
  EXPECT_EQ(s.page.language(), 0);
  EXPECT_FALSE(s.page.View().chinese);
  s.page.OnChinese(true);
  EXPECT_EQ(s.page.View().chinese, true);
  EXPECT_EQ(s.page.View().english, false);
}

const std::wstring kProgram = L"C:\\Program Files\\Tactra\\TactraConsole.exe";

TEST(OptionsPage, ApplyWritesEverythingAndTheQuotedRunEntry) {
  OptionsRig s;
  PutSettings(s.store, 2, 0, 0);
  s.store.AddKey(kMachine, kRunKeyPath);
  s.page.Load();
  s.page.OnChinese(true);
  s.page.OnLogon(true);
  s.page.OnMinimize(true);
  s.page.Apply(kProgram);
  EXPECT_EQ(s.store.GetDword(kMachine, kLanguageKeyPath, kLanguageValueName), 1u);
  EXPECT_EQ(s.store.GetDword(kMachine, kStartupKeyPath, kLoadOnStartupValue), 1u);
  EXPECT_EQ(s.store.GetDword(kMachine, kStartupKeyPath, kMinimizeValue), 1u);
  EXPECT_EQ(s.store.GetString(kMachine, kRunKeyPath, kRunValueName), L"\"" + kProgram + L"\"");
  EXPECT_TRUE(s.messages.resource.empty());

  // Off again: the entry goes; once it is gone, removing it again is no failure.
  s.page.OnLogon(false);
  s.page.Apply(kProgram);
  s.page.Apply(kProgram);
  EXPECT_FALSE(s.store.HasValue(kMachine, kRunKeyPath, kRunValueName));
  EXPECT_TRUE(s.messages.resource.empty());
}

TEST(OptionsPage, ApplyFailuresSayWhatFailedAndTheLaterStepsStillRun) {
  struct Case {
    const char* name;
    bool logon;
    std::function<void(MemorySettingsStore&)> fail;
    std::optional<std::wstring> program;
    std::vector<Resource> messages;
    uint32_t minimizeAfter;  // the stored MinimizeWindowOnLoaded, 7 before
    bool runEntry;           // whether the Run value exists afterwards (it did before)
  };
  const Case cases[] = {
      {"global key cannot be opened",
       true,
       [](MemorySettingsStore& s) { s.FailOn(SettingsOp::Open, kLanguageKeyPath); },
       kProgram,
       {{IDS_KEY_OPEN_FAILED, IDS_CAPTION, L""}},
       1,
       true},
      {"language unwritable",
       false,
       [](MemorySettingsStore& s) { s.FailOn(SettingsOp::WriteDword, kLanguageValueName); },
       kProgram,
       {{IDS_VALUE_WRITE_FAILED, IDS_CAPTION, L"Language"}},
       1,
       false},
      {"first startup value unwritable skips the second",
       true,
       [](MemorySettingsStore& s) { s.FailOn(SettingsOp::WriteDword, kLoadOnStartupValue); },
       kProgram,
       {{IDS_VALUE_WRITE_FAILED, IDS_CAPTION, L"LoadProgramOnStartup"}},
       7,
       true},
      {"startup key cannot be opened",
       false,
       [](MemorySettingsStore& s) { s.FailOn(SettingsOp::Open, kStartupKeyPath); },
       kProgram,
       {{IDS_KEY_OPEN_FAILED, IDS_CAPTION, L""}},
       7,
       false},
      {"Run key cannot be opened to set",
       true,
       [](MemorySettingsStore& s) { s.FailOn(SettingsOp::OpenForWriting, kRunKeyPath); },
       kProgram,
       {{IDS_LOGON_SET_FAILED, IDS_CAPTION, L""}},
       1,
       true},
      {"Run key cannot be opened to remove",
       false,
       [](MemorySettingsStore& s) { s.FailOn(SettingsOp::OpenForWriting, kRunKeyPath); },
       kProgram,
       {{IDS_LOGON_REMOVE_FAILED, IDS_CAPTION, L""}},
       1,
       true},
      {"path cut by its buffer is not written",
       true,
       [](MemorySettingsStore&) {},
       std::nullopt,
       {{IDS_LOGON_SET_FAILED, IDS_CAPTION, L""}},
       1,
       true},
      {"Run value unwritable",
       true,
       [](MemorySettingsStore& s) { s.FailOn(SettingsOp::WriteString, kRunValueName); },
       kProgram,
       {{IDS_LOGON_SET_FAILED, IDS_CAPTION, L""}},
       1,
       true},
      {"Run value cannot be deleted",
       false,
       [](MemorySettingsStore& s) { s.FailOn(SettingsOp::DeleteValue, kRunValueName); },
       kProgram,
       {{IDS_LOGON_REMOVE_FAILED, IDS_CAPTION, L""}},
       1,
       true},
  };
  for (const Case& c : cases) {
    OptionsRig s;
    PutSettings(s.store, 0, 0, 7);
    s.store.PutString(kMachine, kRunKeyPath, kRunValueName, L"\"old\"");
    s.page.Load();
    s.page.OnLogon(c.logon);
    s.page.OnMinimize(true);
    c.fail(s.store);
    s.page.Apply(c.program);
    EXPECT_EQ(s.messages.resource, c.messages) << c.name;
    EXPECT_EQ(s.store.GetDword(kMachine, kStartupKeyPath, kMinimizeValue), c.minimizeAfter) << c.name;
    EXPECT_EQ(s.store.HasValue(kMachine, kRunKeyPath, kRunValueName), c.runEntry) << c.name;
    if (c.runEntry && c.logon) {
      // A failed write leaves the old entry, never a cut one.
      const std::wstring entry = *s.store.GetString(kMachine, kRunKeyPath, kRunValueName);
      EXPECT_TRUE(entry == L"\"old\"" || entry == L"\"" + kProgram + L"\"") << c.name;
    }
  }
}

}  // namespace
}  // namespace tactra::console
