// Start-up measurement: when KELVANE_STARTUP_LOG names a file, the milliseconds from process
// creation to the first target on screen are appended to it as "first-target-ms=N".
#pragma once

namespace tactra::calib {

void NoteFirstTargetShown();

}  // namespace tactra::calib
