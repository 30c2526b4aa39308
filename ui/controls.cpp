#include "ui/controls.h"

namespace tactra::ui {

void SetItemText(HWND dialog, int id, const std::wstring& text) {
  // Unchanged texts are left alone so that the timer does not make them flicker.
  if (GetItemText(dialog, id) == text) return;
  SetDlgItemTextW(dialog, id, text.c_str());
}

void ShowItem(HWND dialog, int id, bool visible) {
  if (HWND item = GetDlgItem(dialog, id)) ShowWindow(item, visible ? SW_SHOW : SW_HIDE);
}

std::wstring GetItemText(HWND dialog, int id) {
  HWND item = GetDlgItem(dialog, id);
  if (!item) return {};
  const int length = GetWindowTextLengthW(item);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(item, &text[0], length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

RECT ItemClientRect(HWND dialog, int id) {
  RECT rect{};
  HWND item = GetDlgItem(dialog, id);
  if (!item) return rect;
  GetWindowRect(item, &rect);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

SIZE ItemSize(HWND dialog, int id) {
  const RECT rect = ItemClientRect(dialog, id);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

void MoveItem(HWND dialog, int id, int x, int y) {
  if (HWND item = GetDlgItem(dialog, id)) {
    SetWindowPos(item, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

int FillListFromStrings(HWND dialog, int id, HINSTANCE module) {
  HWND list = GetDlgItem(dialog, id);
  if (!list) return 0;
  SendMessageW(list, CB_RESETCONTENT, 0, 0);
  // Ten items at the most: the next control's strings follow.
  int count = 0;
  for (; count < 10; ++count) {
    const std::wstring text = LoadResourceString(module, id * 10 + count);
    if (text.empty()) break;
    SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  return count;
}

void SelectListItem(HWND dialog, int id, int index) {
  SendDlgItemMessageW(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int SelectedListItem(HWND dialog, int id) {
  return static_cast<int>(SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0));
}

void SetChecked(HWND dialog, int id, bool checked) {
  SendDlgItemMessageW(dialog, id, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool IsChecked(HWND dialog, int id) {
  return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void EnableItem(HWND dialog, int id, bool enabled) {
  if (HWND item = GetDlgItem(dialog, id)) EnableWindow(item, enabled ? TRUE : FALSE);
}

}  // namespace tactra::ui
