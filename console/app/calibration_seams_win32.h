// The calibration page's seams on Windows: the file dialogs, the calibration file on disk, the
// start of the calibration program, and the messages owned by the main window.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "console/calibration_page.h"

namespace tactra::console {

// The Save and Open dialogs, owned by the main window; they leave the current directory alone.
class FileDialogsWin32 : public FileDialogs {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }
  std::optional<std::wstring> ChooseSavePath() override;
  std::optional<std::wstring> ChooseOpenPath() override;

 private:
  std::optional<std::wstring> Choose(bool save);
  HWND owner_ = nullptr;
};

// New content goes to a file of its own beside the target, which it then replaces in one step.
class FileAccessWin32 : public FileAccess {
 public:
  bool WriteReplacing(const std::wstring& path, const std::string& content) override;
  bool Read(const std::wstring& path, std::size_t limit, std::string& content) override;

 private:
  unsigned serial_ = 0;
};

// Kelvane.exe from the console's own folder, by full path, without arguments but /monitor:N when
// a monitor is set.
class ProgramStarterWin32 : public ProgramStarter {
 public:
  std::unique_ptr<StartedProcess> Start(StartOutcome& outcome) override;
  void SetMonitor(std::optional<int> monitor) override { monitor_ = monitor; }

 private:
  std::optional<int> monitor_;
};

// A message box owned by the main window, the program's name as its caption.
class OwnedTextBox : public TextMessages {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }
  void Show(const std::wstring& text) override;

 private:
  HWND owner_ = nullptr;
};

}  // namespace tactra::console
