// Kelvane: the touch frame's full-screen calibration program.
#include <windows.h>

#include "calibration/app/calibration_app.h"
#include "calibration/app/startup_steps.h"
#include "programs/win32/program_main_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return tactra::RunProgram<tactra::calib::CCalibrationApp>(tactra::calib::NoteStartupStep);
}
