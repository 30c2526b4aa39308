// The tab control of a window with pages: captions, and the area of its pages.
#pragma once

#include <windows.h>

#include <string>

namespace tactra::ui {

void InsertTab(HWND tabs, int index, const std::wstring& caption);
int SelectedTab(HWND tabs);
void SelectTab(HWND tabs, int index);
// The tab control's client area less its tab row and border: 2 pixels in from the left, right
// and bottom, 25 down from the top, at 100 %; scaled with the control's DPI elsewhere.
RECT PageArea(HWND tabs);

}  // namespace tactra::ui
