#include "ui/message_pump.h"

namespace tactra::ui {

namespace {

bool IsSet(HANDLE event) { return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

}  // namespace

bool WaitHandlingMessages(HWND dialog, HANDLE event, DWORD timeoutMs, const std::function<bool()>& stop) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  const DWORD handles = event != nullptr ? 1 : 0;
  for (;;) {
    if (stop && stop()) return false;
    const ULONGLONG now = GetTickCount64();
    const DWORD left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    const DWORD woke = MsgWaitForMultipleObjectsEx(handles, handles ? &event : nullptr, left, QS_ALLINPUT,
                                                   MWMO_INPUTAVAILABLE);
    if (handles && woke == WAIT_OBJECT_0) return true;
    if (woke != WAIT_OBJECT_0 + handles) return IsSet(event);  // time-out (or a failed wait)
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // The loop that owns the thread must still see it.
        PostQuitMessage(static_cast<int>(message.wParam));
        return false;
      }
      if (!dialog || !IsDialogMessageW(dialog, &message)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      if (IsSet(event)) return true;
      if (stop && stop()) return false;
    }
  }
}

}  // namespace tactra::ui
