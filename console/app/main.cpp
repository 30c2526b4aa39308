// TactraConsole: the touch frame's console.
#include <windows.h>

#include "console/app/console_app.h"
#include "console/app/startup_steps.h"
#include "programs/win32/program_main_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  return tactra::RunProgram<tactra::console::CTactraConsoleApp>(tactra::console::NoteStartupStep);
}
