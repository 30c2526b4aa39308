// What both programs' application objects share: the language module, loaded once at start and
// released when the object ends, and the main window, run once.
#pragma once

#include <windows.h>

#include <string>

#include "common/settings_store.h"
#include "common/win32/handles_win32.h"
#include "common/win32/language_module_win32.h"

namespace tactra {

class ProgramApp {
 public:
  ProgramApp(const ProgramApp&) = delete;
  ProgramApp& operator=(const ProgramApp&) = delete;

  // The process's exit code once the instance initialisation has returned.
  int exitCode() const { return exitCode_; }

 protected:
  ProgramApp() = default;
  ~ProgramApp() = default;

  // The module of the language the command line or the settings choose; false when it is
  // missing, which the user has been told.
  bool LoadLanguage(const std::wstring& commandLine, SettingsStore& store, const wchar_t* english,
                    const wchar_t* chinese, const wchar_t* missingEnd) {
    resources_ = win32::StartInLanguage(commandLine, store, english, chinese, missingEnd).module;
    return resources_.valid();
  }
  HINSTANCE resources() const { return resources_.get(); }
  void SetExitCode(int code) { exitCode_ = code; }

  // The link starts before the window is made; the window then runs until it closes.
  template <typename Dialog>
  static void RunMainWindow(Dialog& dialog, void (*noteStep)(const char*)) {
    dialog.BeginLinkStart();
    noteStep("link-opened");
    dialog.RunModal(nullptr);
  }

 private:
  win32::UniqueModule resources_;
  int exitCode_ = 0;
};

}  // namespace tactra
