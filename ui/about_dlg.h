// The about box of both programs' system menus: dialog 100 of the language module, shown as it
// stands, and the menu item that opens it.
#pragma once

#include <string>

#include "ui/dialog.h"

namespace tactra::ui {

constexpr int kAboutBoxTemplate = 100;
constexpr UINT kAboutMenuItem = 0x0010;

class CAboutDlg : public Dialog {
 public:
  explicit CAboutDlg(HINSTANCE resources) : Dialog(resources, kAboutBoxTemplate) {}
};

// Adds a separator and the about item to the window's system menu; nothing when `text` is empty.
inline void AddAboutItem(HWND window, const std::wstring& text) {
  HMENU menu = GetSystemMenu(window, FALSE);
  if (!menu || text.empty()) return;
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, kAboutMenuItem, text.c_str());
}

// WM_SYSCOMMAND: the about item opens the about box (true); every other command is not ours.
inline bool OpenAboutOnCommand(WPARAM command, HINSTANCE resources, HWND owner) {
  if ((command & 0xFFF0) != kAboutMenuItem) return false;
  CAboutDlg about(resources);
  about.RunModal(owner);
  return true;
}

}  // namespace tactra::ui
