// TactraConsole: the touch frame's console.
#include <windows.h>

#include "common/win32/startup_probe_win32.h"
#include "console/app/console_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int result = 0;
  tactra::win32::NoteStartupStep(L"TACTRA_CONSOLE_STARTUP_LOG", "winmain");
  try {
    tactra::console::CTactraConsoleApp app;
    app.InitInstance(GetCommandLineW());
  } catch (...) {
    result = 1;
  }
  // The end is timed too: what a user waits for after closing the window.
  tactra::win32::NoteStartupStep(L"TACTRA_CONSOLE_STARTUP_LOG", "winmain-end");
  return result;
}
