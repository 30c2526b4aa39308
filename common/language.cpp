#include "common/language.h"

namespace tactra {

const wchar_t* const kLanguageKeyPath = L"Software\\Tactra\\GlobalSettings";
const wchar_t* const kLanguageValueName = L"Language";
const wchar_t* const kMsgCreateRegistryFailed = L"Failed to create the registry!";
const wchar_t* const kMsgCreateValueFailed = L"Failed to create register key: ";
const wchar_t* const kMsgReadValueFailed = L"Failed to get register key: Language";
const wchar_t* const kMsgErrorCaption = L"Error";
const wchar_t* const kMsgMissingModule = L"Cannot find language file: ";

std::wstring CommandLineArguments(const std::wstring& commandLine) {
  std::size_t i = 0;
  if (!commandLine.empty() && commandLine[0] == L'"') {
    const std::size_t close = commandLine.find(L'"', 1);
    i = close == std::wstring::npos ? commandLine.size() : close + 1;
  } else {
    while (i < commandLine.size() && commandLine[i] != L' ' && commandLine[i] != L'\t') ++i;
  }
  while (i < commandLine.size() && (commandLine[i] == L' ' || commandLine[i] == L'\t')) ++i;
  return commandLine.substr(i);
}

bool ReadLanguageSetting(SettingsStore& store, Messages& messages, int& language) {
  DwordSetting setting{kLanguageValueName, static_cast<uint32_t>(language)};
  const SettingsRead read = ReadOrCreate(store, Hive::LocalMachine, kLanguageKeyPath, &setting, 1);
  switch (read.outcome) {
    case SettingsRead::Read:
      language = static_cast<int>(setting.value & 0xFF);
      return true;
    case SettingsRead::Created:
      return true;
    case SettingsRead::KeyFailed:
      messages.ShowFixedMessage(kMsgCreateRegistryFailed, kMsgErrorCaption, false);
      return false;
    case SettingsRead::WriteFailed:
      messages.ShowFixedMessage(kMsgCreateValueFailed, kMsgErrorCaption, false);
      return false;
    case SettingsRead::ReadFailed:
      break;
  }
  messages.ShowFixedMessage(kMsgReadValueFailed, kMsgErrorCaption, false);
  return false;
}

int SelectLanguage(const std::wstring& arguments, SettingsStore& store, Messages& messages) {
  if (arguments == L"0") return kLanguageEnglish;
  if (arguments == L"1") return kLanguageChinese;
  int language = kLanguageInitial;
  if (!ReadLanguageSetting(store, messages, language)) language = kLanguageEnglish;
  return language;
}

}  // namespace tactra
