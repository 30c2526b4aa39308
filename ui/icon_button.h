// The owner-drawn icon button of the calibration run: a rounded rectangle (16 x 16 corner
// ellipse) with a 1-pixel black outline, filled blue, darker while pressed, the icon on the
// left and the caption beside it (without an icon, the caption in the middle).
#pragma once

#include <windows.h>

namespace tactra::ui {

constexpr COLORREF kIconButtonFill = RGB(110, 155, 215);
constexpr COLORREF kIconButtonPressedFill = RGB(90, 135, 155);

// Draws one owner-drawn button from its WM_DRAWITEM record.
void DrawIconButton(const DRAWITEMSTRUCT& item, HICON icon);

}  // namespace tactra::ui
