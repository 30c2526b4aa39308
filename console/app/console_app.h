// The console's application object: chooses the language, loads its module and runs the main
// window once.
#pragma once

#include <windows.h>

#include <string>

#include "common/win32/handles_win32.h"

namespace tactra::console {

class CTactraConsoleApp {
 public:
  CTactraConsoleApp() = default;
  CTactraConsoleApp(const CTactraConsoleApp&) = delete;
  CTactraConsoleApp& operator=(const CTactraConsoleApp&) = delete;

  // The instance initialisation: always false, so the process ends after the window.
  bool InitInstance(const std::wstring& commandLine);

 private:
  win32::UniqueModule resources_;  // released when the application object ends
};

}  // namespace tactra::console
