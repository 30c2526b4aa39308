// The user-interface language of both programs: exactly "0" or "1" on the command line, else
// the shared registry value Language (only its lowest byte counts).
#pragma once

#include <string>

#include "common/messages.h"
#include "common/settings_store.h"

namespace tactra {

constexpr int kLanguageEnglish = 0;
constexpr int kLanguageChinese = 1;
constexpr int kLanguageInitial = 2;  // stored when the key is first created; means English

extern const wchar_t* const kLanguageKeyPath;  // under HKEY_LOCAL_MACHINE
extern const wchar_t* const kLanguageValueName;

// The fixed English messages of the registry steps (shown before any module is loaded).
extern const wchar_t* const kMsgCreateRegistryFailed;
extern const wchar_t* const kMsgCreateValueFailed;
extern const wchar_t* const kMsgReadValueFailed;
extern const wchar_t* const kMsgErrorCaption;
// Followed by the module's name: the module of the language is not beside the program.
extern const wchar_t* const kMsgMissingModule;

// The arguments of a whole command line: the text after the program name (quoted or not)
// and the blanks that follow it.
std::wstring CommandLineArguments(const std::wstring& commandLine);

// Reads (or first creates) the setting. True when `language` now holds it; false after an
// error message, with `language` untouched.
bool ReadLanguageSetting(SettingsStore& store, Messages& messages, int& language);

// The language for these arguments: 0 or 1 from the command line without touching the
// store, else the setting, English after a failure.
int SelectLanguage(const std::wstring& arguments, SettingsStore& store, Messages& messages);

inline bool IsChinese(int language) { return language == kLanguageChinese; }

}  // namespace tactra
