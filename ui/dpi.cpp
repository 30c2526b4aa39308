#include "ui/dpi.h"

namespace tactra::ui {

namespace {

// A window DC, released with its window.
class WindowDc {
 public:
  explicit WindowDc(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

}  // namespace

int WindowDpi(HWND window) {
  // Looked up at run time: older systems (and Wine, which says it is Windows 7) may lack it.
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = [] {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<GetDpiForWindowFn>(
                        reinterpret_cast<void*>(GetProcAddress(user32, "GetDpiForWindow")))
                  : nullptr;
  }();
  if (getDpiForWindow) {
    if (const UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
  }
  WindowDc dc(window);
  const int dpi = dc.get() ? GetDeviceCaps(dc.get(), LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : kBaseDpi;
}

}  // namespace tactra::ui
