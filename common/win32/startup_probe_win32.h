// Start-up measurement: when the environment variable a program names holds a file path, the
// milliseconds from process creation to each step of its start are appended to that file as
// "<step>-ms=N". Without the variable nothing is written.
#pragma once

namespace tactra::win32 {

void NoteStartupStep(const wchar_t* variable, const char* step);

}  // namespace tactra::win32
