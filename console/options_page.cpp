#include "console/options_page.h"

#include <iterator>

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
  DwordSetting language[] = {{kLanguageValueName, static_cast<uint32_t>(language_)}};
  language_ = ReadOrCreateKey(kLanguageKeyPath, language, std::size(language))
                  ? static_cast<int>(language[0].value & 0xFF)
                  : kLanguageEnglish;
  // A failure takes both flags back, also one already read.
  DwordSetting flags[] = {{kLoadOnStartupValue, startAtLogon_ ? 1u : 0u},
                          {kMinimizeValue, minimizeAfterStart_ ? 1u : 0u}};
  const bool read = ReadOrCreateKey(kStartupKeyPath, flags, std::size(flags));
  startAtLogon_ = read && (flags[0].value & 0xFF) != 0;
  minimizeAfterStart_ = read && (flags[1].value & 0xFF) != 0;
}

bool COptionsDlgModel::ReadOrCreateKey(const wchar_t* path, DwordSetting* settings, std::size_t count) {
  const SettingsRead read = ReadOrCreate(store_, Hive::LocalMachine, path, settings, count);
  switch (read.outcome) {
    case SettingsRead::KeyFailed:
      ShowMessage(messages_, IDS_KEY_CREATE_FAILED);
      return false;
    case SettingsRead::WriteFailed:
      ShowMessage(messages_, IDS_VALUE_CREATE_FAILED, read.failed);
      return false;
    case SettingsRead::ReadFailed:
      ShowMessage(messages_, IDS_VALUE_READ_FAILED, read.failed);
      return false;
    default:
      return true;
  }
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

void COptionsDlgModel::Apply(const std::optional<std::wstring>& programPath, bool runEntry) {
  // Each step runs whatever came of the ones before it.
  WriteLanguage();
  WriteStartupSettings();
  if (runEntry) WriteRunEntry(programPath);
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
