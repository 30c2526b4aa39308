// Both programs' WinMain: the application object's run between two start-up log steps, its exit
// code, and no exception out of the process.
#pragma once

#include <windows.h>

namespace tactra {

template <typename App>
int RunProgram(void (*noteStep)(const char*)) {
  int result = 0;
  noteStep("winmain");
  try {
    App app;
    app.InitInstance(GetCommandLineW());
    result = app.exitCode();
  } catch (...) {
    result = 1;
  }
  // The end is timed too: what a user waits for after closing the window.
  noteStep("winmain-end");
  return result;
}

}  // namespace tactra
