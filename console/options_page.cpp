#include "console/options_page.h"

#include <memory>

#include "common/language.h"
#include "console/page_context.h"
#include "resources/console_ids.h"

namespace tactra::console {

const wchar_t* const kStartupKeyPath = L"Software\\Tactra\\StartupSettings";
const wchar_t* const kLoadOnStartupValue = L"LoadProgramOnStartup";
const wchar_t* const kMinimizeValue = L"MinimizeWindowOnLoaded";
const wchar_t* const kRunKeyPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t* const kRunValueName = L"TactraConsole";

std::wstring RunCommand(const std::wstring& programPath) { return L"\"" + programPath + L"\""; }

COptionsDlgModel::COptionsDlgModel(SettingsStore& store, Messages& messages)
    : store_(store), messages_(messages) {}

void COptionsDlgModel::Load() {
  if (!ReadLanguage()) language_ = kLanguageEnglish;
  // A failure takes both flags back, also one already read.
  if (!ReadStartupSettings()) {
    startAtLogon_ = false;
    minimizeAfterStart_ = false;
  }
}

bool COptionsDlgModel::ReadLanguage() {
  bool created = false;
  std::unique_ptr<SettingsKey> key = store_.CreateOrOpen(Hive::LocalMachine, kLanguageKeyPath, created);
  if (!key) {
    ShowMessage(messages_, IDS_KEY_CREATE_FAILED);
    return false;
  }
  if (created) {
    if (key->WriteDword(kLanguageValueName, static_cast<uint32_t>(language_))) return true;
    ShowMessage(messages_, IDS_VALUE_CREATE_FAILED, kLanguageValueName);
    return false;
  }
  uint32_t value = 0;
  if (!key->ReadDword(kLanguageValueName, value)) {
    ShowMessage(messages_, IDS_VALUE_READ_FAILED, kLanguageValueName);
    return false;
  }
  language_ = static_cast<int>(value & 0xFF);
  return true;
}

bool COptionsDlgModel::ReadStartupSettings() {
  bool created = false;
  std::unique_ptr<SettingsKey> key = store_.CreateOrOpen(Hive::LocalMachine, kStartupKeyPath, created);
  if (!key) {
    ShowMessage(messages_, IDS_KEY_CREATE_FAILED);
    return false;
  }
  struct Flag {
    const wchar_t* name;
    bool& value;
  };
  const Flag flags[] = {{kLoadOnStartupValue, startAtLogon_}, {kMinimizeValue, minimizeAfterStart_}};
  for (const Flag& flag : flags) {
    if (created) {
      if (!key->WriteDword(flag.name, flag.value ? 1 : 0)) {
        ShowMessage(messages_, IDS_VALUE_CREATE_FAILED, flag.name);
        return false;
      }
      continue;
    }
    uint32_t value = 0;
    if (!key->ReadDword(flag.name, value)) {
      ShowMessage(messages_, IDS_VALUE_READ_FAILED, flag.name);
      return false;
    }
    flag.value = (value & 0xFF) != 0;
  }
  return true;
}

OptionsView COptionsDlgModel::View() const {
  return {language_ == kLanguageEnglish, language_ == kLanguageChinese, startAtLogon_, minimizeAfterStart_};
}

// Clearing a language box changes nothing: the two behave as radio buttons that may both be
// empty (a stored 2 checks neither).
void COptionsDlgModel::OnEnglish(bool checked) {
  if (checked) language_ = kLanguageEnglish;
}

void COptionsDlgModel::OnChinese(bool checked) {
  if (checked) language_ = kLanguageChinese;
}

void COptionsDlgModel::Apply(const std::optional<std::wstring>& programPath) {
  // Each step runs whatever came of the ones before it.
  WriteLanguage();
  WriteStartupSettings();
  WriteRunEntry(programPath);
}

void COptionsDlgModel::WriteLanguage() {
  std::unique_ptr<SettingsKey> key = store_.Open(Hive::LocalMachine, kLanguageKeyPath);
  if (!key) {
    ShowMessage(messages_, IDS_KEY_OPEN_FAILED);
    return;
  }
  if (!key->WriteDword(kLanguageValueName, static_cast<uint32_t>(language_)))
    ShowMessage(messages_, IDS_VALUE_WRITE_FAILED, kLanguageValueName);
}

void COptionsDlgModel::WriteStartupSettings() {
  std::unique_ptr<SettingsKey> key = store_.Open(Hive::LocalMachine, kStartupKeyPath);
  if (!key) {
    ShowMessage(messages_, IDS_KEY_OPEN_FAILED);
    return;
  }
  // A failed first value leaves the second as it was.
  if (!key->WriteDword(kLoadOnStartupValue, startAtLogon_ ? 1 : 0)) {
    ShowMessage(messages_, IDS_VALUE_WRITE_FAILED, kLoadOnStartupValue);
    return;
  }
  if (!key->WriteDword(kMinimizeValue, minimizeAfterStart_ ? 1 : 0))
    ShowMessage(messages_, IDS_VALUE_WRITE_FAILED, kMinimizeValue);
}

void COptionsDlgModel::WriteRunEntry(const std::optional<std::wstring>& programPath) {
  const int failure = startAtLogon_ ? IDS_LOGON_SET_FAILED : IDS_LOGON_REMOVE_FAILED;
  // A standard user cannot open the key: say so, or start at logon would silently never happen.
  std::unique_ptr<SettingsKey> key = store_.OpenForWriting(Hive::LocalMachine, kRunKeyPath);
  if (!key) {
    ShowMessage(messages_, failure);
    return;
  }
  if (startAtLogon_) {
    // A path cut to fit its buffer would start something else, or nothing.
    if (!programPath || !key->WriteString(kRunValueName, RunCommand(*programPath)))
      ShowMessage(messages_, failure);
    return;
  }
  // An entry that is not there is what was wanted.
  if (key->DeleteValue(kRunValueName) == Deletion::Failed) ShowMessage(messages_, failure);
}

}  // namespace tactra::console
