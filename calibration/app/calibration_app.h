// The calibration program's application object: chooses the language, loads its module and
// runs the calibration dialog once.
#pragma once

#include <windows.h>

#include <string>

#include "common/win32/handles_win32.h"

namespace tactra::calib {

class CCalibrationApp {
 public:
  CCalibrationApp() = default;
  CCalibrationApp(const CCalibrationApp&) = delete;
  CCalibrationApp& operator=(const CCalibrationApp&) = delete;

  // The instance initialisation: always false, so the process ends after the dialog.
  bool InitInstance(const std::wstring& commandLine);

 private:
  win32::UniqueModule resources_;  // released when the application object ends
};

}  // namespace tactra::calib
