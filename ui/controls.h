// Small helpers that move data between a dialog's fields and its controls, and place controls.
#pragma once

#include <windows.h>

#include <string>

#include "common/win32/resource_string_win32.h"

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

using win32::LoadResourceString;

// Fills drop-down list `id` with the strings id * 10 + 0, 1, ... of `module`, up to the first
// missing one; the number of items.
int FillListFromStrings(HWND dialog, int id, HINSTANCE module);
// Drop-down lists, check boxes and radio buttons, enabled state.
void SelectListItem(HWND dialog, int id, int index);
int SelectedListItem(HWND dialog, int id);
void SetChecked(HWND dialog, int id, bool checked);
// Only the checked state counts; the indeterminate one does not.
bool IsChecked(HWND dialog, int id);
void EnableItem(HWND dialog, int id, bool enabled);

}  // namespace tactra::ui
