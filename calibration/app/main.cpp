// Kelvane: the touch frame's full-screen calibration program.
#include <windows.h>

#include "calibration/app/calibration_app.h"
#include "calibration/app/startup_steps.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int result = 0;
  tactra::calib::NoteStartupStep("winmain");
  try {
    tactra::calib::CCalibrationApp app;
    app.InitInstance(GetCommandLineW());
  } catch (...) {
    result = 1;
  }
  // The end is timed too: what a user waits for after closing the window.
  tactra::calib::NoteStartupStep("winmain-end");
  return result;
}
