#include "ui/tray_icon.h"

#include "common/win32/handles_win32.h"

namespace tactra::ui {

UINT TrayIcon::TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

bool TrayIcon::Add(HWND window, UINT id, UINT callbackMessage, HICON icon, const std::wstring& tip) {
  data_ = NOTIFYICONDATAW{};
  data_.cbSize = sizeof data_;
  data_.hWnd = window;
  data_.uID = id;
  data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data_.uCallbackMessage = callbackMessage;
  data_.hIcon = icon;
  lstrcpynW(data_.szTip, tip.c_str(), static_cast<int>(sizeof data_.szTip / sizeof data_.szTip[0]));
  return AddAgain();
}

bool TrayIcon::AddAgain() {
  if (data_.hWnd == nullptr) return false;
  added_ = Shell_NotifyIconW(NIM_ADD, &data_) != FALSE;
  // A shell that announces itself again may still hold the entry: then it is there.
  if (!added_) added_ = Shell_NotifyIconW(NIM_MODIFY, &data_) != FALSE;
  return added_;
}

void TrayIcon::Remove() {
  if (!added_) return;
  Shell_NotifyIconW(NIM_DELETE, &data_);
  added_ = false;
}

void TrackSingleItemMenu(HWND window, UINT command, const wchar_t* text) {
  win32::UniqueMenu menu(CreatePopupMenu());
  if (!menu || !AppendMenuW(menu.get(), MF_STRING, command, text)) return;
  POINT at{};
  GetCursorPos(&at);
  // The window must be in the foreground, or the menu would not close when the user clicks
  // elsewhere.
  SetForegroundWindow(window);
  TrackPopupMenu(menu.get(), TPM_LEFTALIGN, at.x, at.y, 0, window, nullptr);
  PostMessageW(window, WM_NULL, 0, 0);
}

}  // namespace tactra::ui
