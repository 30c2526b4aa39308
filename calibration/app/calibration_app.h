// The calibration program's application object: chooses the language, loads its module and
// runs the calibration dialog once.
#pragma once

#include <string>

#include "programs/win32/program_app_win32.h"

namespace tactra::calib {

class CCalibrationApp : public ProgramApp {
 public:
  // The instance initialisation: always false, so the process ends after the dialog.
  bool InitInstance(const std::wstring& commandLine);
};

}  // namespace tactra::calib
