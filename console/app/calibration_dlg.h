// The calibration page: the frame's calibration option and mode, the calibration program, and
// the calibration file. The page's model does the work; this is its window.
#pragma once

#include <windows.h>

#include "console/app/calibration_seams_win32.h"
#include "console/app/console_page.h"
#include "console/calibration_page.h"
#include "console/console_model.h"

namespace tactra::console {

class CCalibrationDlg : public ConsolePage {
 public:
  CCalibrationDlg(HINSTANCE resources, PageContext context, ConsoleModel& console);
  void Refresh() override;
  CCalibrationDlgModel& model() { return model_; }

 protected:
  void FieldsToControls() override;
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnPaint() override {
    Paint();
    return true;
  }

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
