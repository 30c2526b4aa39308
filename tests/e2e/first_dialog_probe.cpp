// What Wine itself costs before a program's first dialog is initialised: the milliseconds from
// main to WM_INITDIALOG of an empty dialog, the first window of the process. The timings set the
// programs' own start-up share against it.
#include <windows.h>

#include <chrono>
#include <cstdio>

namespace {

std::chrono::steady_clock::time_point started;

INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return FALSE;
  const std::chrono::duration<double, std::milli> taken = std::chrono::steady_clock::now() - started;
  std::printf("first-dialog-ms=%.1f\n", taken.count());
  EndDialog(window, 0);
  return TRUE;
}

}  // namespace

int main() {
  started = std::chrono::steady_clock::now();
  struct {
    DLGTEMPLATE dialog;
    WORD menu, windowClass, title;
  } empty{};
  empty.dialog.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
  empty.dialog.cx = 200;
  empty.dialog.cy = 100;
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr), &empty.dialog, nullptr, Procedure, 0);
  std::fflush(stdout);
  return 0;
}
