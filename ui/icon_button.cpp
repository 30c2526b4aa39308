#include "ui/icon_button.h"

#include <string>

#include "common/win32/handles_win32.h"
#include "ui/scopes.h"

namespace tactra::ui {

void DrawIconButton(const DRAWITEMSTRUCT& item, HICON icon) {
  HDC dc = item.hDC;
  const RECT r = item.rcItem;
  const bool pressed = (item.itemState & ODS_SELECTED) != 0;

  win32::UniqueBrush fill(CreateSolidBrush(pressed ? kIconButtonPressedFill : kIconButtonFill));
  win32::UniquePen outline(CreatePen(PS_SOLID, 1, RGB(0, 0, 0)));
  {
    SelectGuard brush(dc, fill.get());
    SelectGuard pen(dc, outline.get());
    RoundRect(dc, r.left, r.top, r.right, r.bottom, 16, 16);
  }

  const int height = r.bottom - r.top;
  const int iconSize = height >= 40 ? 32 : 16;
  const int pad = (height - iconSize) / 2;
  const int offset = pressed ? 1 : 0;
  if (icon) {
    DrawIconEx(dc, r.left + pad + 4 + offset, r.top + pad + offset, icon, iconSize, iconSize, 0, nullptr,
               DI_NORMAL);
  }

  wchar_t caption[64] = {};
  GetWindowTextW(item.hwndItem, caption, 64);
  RECT text = r;
  // Without an icon the caption takes the whole button.
  text.left += (icon ? pad + iconSize + 6 : 0) + offset;
  text.top += offset;
  const int previousMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF previousColour = SetTextColor(dc, RGB(255, 255, 255));
  DrawTextW(dc, caption, -1, &text, DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX);
  SetTextColor(dc, previousColour);
  SetBkMode(dc, previousMode);

  if (item.itemState & ODS_FOCUS) {
    RECT focus = r;
    InflateRect(&focus, -4, -4);
    DrawFocusRect(dc, &focus);
  }
}

}  // namespace tactra::ui
