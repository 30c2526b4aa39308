// Waiting on the window's thread while the window stays alive: its messages (painting, timers,
// keys through the dialog manager) go on being handled during the wait.
#pragma once

#include <windows.h>

#include <functional>

namespace tactra::ui {

// Waits until `event` is set (a null event is never set) or `timeoutMs` has passed, handling
// the thread's messages meanwhile; `dialog` gets its keys as in its own loop. True when the
// event was set; false on time-out, or as soon as `stop()` turns true after a message.
bool WaitHandlingMessages(HWND dialog, HANDLE event, DWORD timeoutMs, const std::function<bool()>& stop);

}  // namespace tactra::ui
