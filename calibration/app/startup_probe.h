// Start-up measurement: when KELVANE_STARTUP_LOG names a file, the milliseconds from process
// creation to each step of the start are appended to it as "<step>-ms=N", the last being
// "first-target-ms=N" when the first target is on screen.
#pragma once

namespace tactra::calib {

void NoteStartupStep(const char* step);
inline void NoteFirstTargetShown() { NoteStartupStep("first-target"); }

}  // namespace tactra::calib
