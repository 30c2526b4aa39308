// The console's start-up and closing steps, written where TACTRA_CONSOLE_STARTUP_LOG says; the
// start-up's last is "information-shown".
#pragma once

#include "common/win32/startup_probe_win32.h"

namespace tactra::console {

inline void NoteStartupStep(const char* step) { win32::NoteStartupStep(L"TACTRA_CONSOLE_STARTUP_LOG", step); }

}  // namespace tactra::console
