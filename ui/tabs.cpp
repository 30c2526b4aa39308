#include "ui/tabs.h"

#include <commctrl.h>

#include <vector>

#include "ui/dpi.h"

namespace tactra::ui {

void InsertTab(HWND tabs, int index, const std::wstring& caption) {
  std::vector<wchar_t> text(caption.begin(), caption.end());
  text.push_back(L'\0');
  TCITEMW item{};
  item.mask = TCIF_TEXT;
  item.pszText = text.data();
  SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
}

int SelectedTab(HWND tabs) { return static_cast<int>(SendMessageW(tabs, TCM_GETCURSEL, 0, 0)); }

void SelectTab(HWND tabs, int index) { SendMessageW(tabs, TCM_SETCURSEL, static_cast<WPARAM>(index), 0); }

RECT PageArea(HWND tabs) {
  RECT area{};
  GetClientRect(tabs, &area);
  const int dpi = WindowDpi(tabs);
  const int border = ScaleToDpi(2, dpi);
  area.left += border;
  area.top += ScaleToDpi(25, dpi);
  area.right -= border;
  area.bottom -= border;
  return area;
}

}  // namespace tactra::ui
