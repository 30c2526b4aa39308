// Small helpers that move data between a dialog's fields and its controls, and place controls.
#pragma once

#include <windows.h>

#include <string>

namespace tactra::ui {

// Fields to controls.
void SetItemText(HWND dialog, int id, const std::wstring& text);
void ShowItem(HWND dialog, int id, bool visible);
// Controls to fields.
std::wstring GetItemText(HWND dialog, int id);

// A control's rectangle in the client coordinates of its dialog.
RECT ItemClientRect(HWND dialog, int id);
SIZE ItemSize(HWND dialog, int id);
void MoveItem(HWND dialog, int id, int x, int y);

// A string resource of `module`; "" when missing.
std::wstring LoadResourceString(HINSTANCE module, int id);

}  // namespace tactra::ui
