// The program's icon from its language module: loaded in the two sizes the system shows, set on
// the main window, and drawn in the middle of the window while it is minimised.
#pragma once

#include <windows.h>

#include "common/win32/handles_win32.h"

namespace tactra::ui {

// Icon resource `id` at `size` pixels square; null when the module lacks it.
inline HICON LoadIconSized(HINSTANCE module, int id, int size) {
  return static_cast<HICON>(
      LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

class ProgramIcon {
 public:
  ProgramIcon(HINSTANCE module, int id)
      : big_(LoadIconSized(module, id, GetSystemMetrics(SM_CXICON))),
        small_(LoadIconSized(module, id, GetSystemMetrics(SM_CXSMICON))) {}

  HICON bigIcon() const { return big_.get(); }
  HICON smallIcon() const { return small_.get(); }

  // The window's title bar and task switcher show these.
  void SetOn(HWND window) const {
    SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big_.get()));
    SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_.get()));
  }

  // The big icon in the middle of the window's client area.
  void DrawCentred(HWND window, HDC dc) const {
    RECT client{};
    GetClientRect(window, &client);
    const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, big_.get());
  }

 private:
  win32::UniqueIcon big_;
  win32::UniqueIcon small_;
};

}  // namespace tactra::ui
