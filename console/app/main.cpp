// TactraConsole: the touch frame's console.
#include <windows.h>

#include "console/app/console_app.h"
#include "console/app/startup_steps.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int result = 0;
  tactra::console::NoteStartupStep("winmain");
  try {
    tactra::console::CTactraConsoleApp app;
    app.InitInstance(GetCommandLineW());
  } catch (...) {
    result = 1;
  }
  // The end is timed too: what a user waits for after closing the window.
  tactra::console::NoteStartupStep("winmain-end");
  return result;
}
