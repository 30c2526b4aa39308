// The options page without its window: the language of the next start, start at logon and
// hiding after start, kept in the registry, and the console's entry in the system's Run key.
#pragma once

#include <optional>
#include <string>

#include "common/messages.h"
#include "common/settings_store.h"

namespace tactra::console {

extern const wchar_t* const kStartupKeyPath;  // under HKEY_LOCAL_MACHINE
extern const wchar_t* const kLoadOnStartupValue;
extern const wchar_t* const kMinimizeValue;
extern const wchar_t* const kRunKeyPath;
extern const wchar_t* const kRunValueName;

// The program path as the Run key holds it: in quotes, so that a path with spaces is not
// resolved ambiguously at logon; no arguments, so that the registry decides the language.
std::wstring RunCommand(const std::wstring& programPath);

// The four check boxes.
struct OptionsView {
  bool english = false;
  bool chinese = false;
  bool logon = false;
  bool minimize = false;
};

class COptionsDlgModel {
 public:
  COptionsDlgModel(SettingsStore& store, Messages& messages);

  // When the page is created: reads the registry (creating what is missing).
  void Load();
  OptionsView View() const;

  // A click on a check box, with the box's state after it (only "checked" counts).
  void OnEnglish(bool checked);
  void OnChinese(bool checked);
  void OnLogon(bool checked) { startAtLogon_ = checked; }
  void OnMinimize(bool checked) { minimizeAfterStart_ = checked; }

  // Writes the three settings and sets or removes the Run entry. `programPath` is the running
  // program's full path, absent when it did not fit its buffer. Without `runEntry` the entry is
  // left as it is (a caller that was not asked about start at logon).
  void Apply(const std::optional<std::wstring>& programPath, bool runEntry = true);

  int language() const { return language_; }
  bool startAtLogon() const { return startAtLogon_; }
  bool minimizeAfterStart() const { return minimizeAfterStart_; }

 private:
  // The settings of a key created when missing; false after a message.
  bool ReadOrCreateKey(const wchar_t* path, DwordSetting* settings, std::size_t count);
  void WriteLanguage();
  void WriteStartupSettings();
  void WriteRunEntry(const std::optional<std::wstring>& programPath);

  SettingsStore& store_;
  Messages& messages_;
  int language_ = 0;
  bool startAtLogon_ = false;
  bool minimizeAfterStart_ = false;
};

}  // namespace tactra::console
