// The calibration page: the frame's calibration option and mode, the calibration program, and
// the calibration file. The page's model does the work; this is its window and the Windows side
// of its seams.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "common/win32/handles_win32.h"
#include "console/app/console_page.h"
#include "console/calibration_page.h"
#include "console/console_model.h"

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

// Kelvane.exe from the console's own folder, by full path, without arguments.
class ProgramStarterWin32 : public ProgramStarter {
 public:
  std::unique_ptr<StartedProcess> Start(StartOutcome& outcome) override;
};

// A message box owned by the main window, the program's name as its caption.
class OwnedTextBox : public TextMessages {
 public:
  void SetOwner(HWND owner) { owner_ = owner; }
  void Show(const std::wstring& text) override;

 private:
  HWND owner_ = nullptr;
};

class CCalibrationDlg : public ConsolePage {
 public:
  CCalibrationDlg(HINSTANCE resources, PageContext context, ConsoleModel& console);
  void Refresh() override;
  CCalibrationDlgModel& model() { return model_; }

 protected:
  void FieldsToControls() override;
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  void Paint();

  ConsoleModel& console_;
  FileDialogsWin32 dialogs_;
  FileAccessWin32 files_;
  ProgramStarterWin32 starter_;
  OwnedTextBox texts_;
  CCalibrationDlgModel model_;
  RECT pictureRect_{};
};

}  // namespace tactra::console
