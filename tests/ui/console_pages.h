// What the console does to its main window and pages before they are seen: tab captions from the
// string table, the tab control in its place, every page's lists filled from the string table.
// Shared by the console's module tests and the page gallery so that both see the layout the
// program will show.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "resources/console_ids.h"
#include "ui/controls.h"

namespace tactra::ui::console {

constexpr int kTabCaptions[] = {IDS_TAB_INFO, IDS_TAB_CONFIG, IDS_TAB_CALIBRATION, IDS_TAB_OPTIONS,
                                IDS_TAB_ABOUT};
constexpr int kPages[] = {IDD_PAGE_INFO, IDD_PAGE_CONFIG, IDD_PAGE_CALIBRATION, IDD_PAGE_OPTIONS,
                          IDD_PAGE_ABOUT};

// Adds the tabs and places the tab control at x 10, y 70, client size less 20 by 120 pixels.
// Returns the tab's display area in the client coordinates of `main`.
inline RECT SetUpMainWindow(HWND main, HINSTANCE module) {
  HWND tabs = GetDlgItem(main, IDC_TABS);
  for (int i = 0; i < static_cast<int>(sizeof kTabCaptions / sizeof kTabCaptions[0]); ++i) {
    std::wstring caption = LoadResourceString(module, kTabCaptions[i]);
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = &caption[0];
    SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
  }
  RECT client{};
  GetClientRect(main, &client);
  RECT area{0, 0, client.right - 20, client.bottom - 120};
  MoveWindow(tabs, 10, 70, area.right, area.bottom, FALSE);
  TabCtrl_AdjustRect(tabs, FALSE, &area);
  OffsetRect(&area, 10, 70);
  return area;
}

// Fills each drop-down list c of `page` with strings IDS_LIST_ITEM(c, 0), (c, 1), ... up to the
// first missing one, ten at most (string c * 10 + 10 is the first item of list c + 1), and
// selects the first item. Returns the number of lists.
inline int FillLists(HWND page, HINSTANCE module) {
  int lists = 0;
  for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    wchar_t kind[32] = {};
    GetClassNameW(child, kind, 32);
    if (_wcsicmp(kind, L"ComboBox") != 0) continue;
    const int id = GetDlgCtrlID(child);
    for (int i = 0; i < 10; ++i) {
      const std::wstring text = LoadResourceString(module, IDS_LIST_ITEM(id, i));
      if (text.empty()) break;
      SendMessageW(child, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    SendMessageW(child, CB_SETCURSEL, 0, 0);
    ++lists;
  }
  return lists;
}

}  // namespace tactra::ui::console
