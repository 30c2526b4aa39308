// The calibration program's start-up steps, written where KELVANE_STARTUP_LOG says; the last is
// "first-target" when the first target is on screen.
#pragma once

#include "common/win32/startup_probe_win32.h"

namespace tactra::calib {

inline void NoteStartupStep(const char* step) { win32::NoteStartupStep(L"KELVANE_STARTUP_LOG", step); }
inline void NoteFirstTargetShown() { NoteStartupStep("first-target"); }

}  // namespace tactra::calib
