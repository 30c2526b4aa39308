// The console's application object: chooses the language, loads its module and runs the main
// window once.
#pragma once

#include <string>

#include "programs/win32/program_app_win32.h"

namespace tactra::console {

class CTactraConsoleApp : public ProgramApp {
 public:
  // The instance initialisation: always false, so the process ends after the window.
  bool InitInstance(const std::wstring& commandLine);
};

}  // namespace tactra::console
