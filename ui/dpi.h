// The scaling a window is shown at, and the pixel lengths the layout was drawn with at 100 %
// made to match it.
#pragma once

#include <windows.h>

namespace tactra::ui {

// The dots per inch of 100 %: the layout's fixed pixels are for this.
constexpr int kBaseDpi = 96;

// The window's dots per inch: GetDpiForWindow where the system has it, else the screen's, which
// every system gives a program that declares itself DPI-aware.
int WindowDpi(HWND window);

// A length of the layout at 100 %, at `dpi`: the same number at 96, rounded to the nearest pixel
// elsewhere.
inline int ScaleToDpi(int pixels, int dpi) { return MulDiv(pixels, dpi, kBaseDpi); }

}  // namespace tactra::ui
