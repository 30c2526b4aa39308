// Scopes of the dialogs' drawing and timing: an object selected into a DC, a window's DC,
// one WM_PAINT, a window timer, the hidden mouse cursor. Each undoes what it did exactly once
// and cannot be copied. The owners of handles are in common/win32/handles_win32.h.
#pragma once

#include <windows.h>

namespace tactra::ui {

// Selects an object into a DC and puts the previous one back.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object ? SelectObject(dc, object) : nullptr) {}
  ~SelectGuard() {
    if (previous_) SelectObject(dc_, previous_);
  }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A window's device context (GetDC; the screen's for no window), released with its window.
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

// BeginPaint .. EndPaint of one WM_PAINT.
class PaintScope {
 public:
  explicit PaintScope(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
  ~PaintScope() { EndPaint(window_, &paint_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_{};
  HDC dc_ = nullptr;
};

// A window timer, stopped when it goes out of scope.
class WindowTimer {
 public:
  WindowTimer() = default;
  ~WindowTimer() { Stop(); }
  WindowTimer(const WindowTimer&) = delete;
  WindowTimer& operator=(const WindowTimer&) = delete;

  bool Start(HWND window, UINT_PTR id, UINT periodMs) {
    Stop();
    if (!SetTimer(window, id, periodMs, nullptr)) return false;
    window_ = window;
    id_ = id;
    return true;
  }
  void Stop() {
    if (window_) KillTimer(window_, id_);
    window_ = nullptr;
  }

 private:
  HWND window_ = nullptr;
  UINT_PTR id_ = 0;
};

// One ShowCursor(FALSE) and at most one ShowCursor(TRUE) to undo it, on the thread that owns
// the cursor count (the user-interface thread).
class CursorHider {
 public:
  CursorHider() = default;
  ~CursorHider() { Show(); }
  CursorHider(const CursorHider&) = delete;
  CursorHider& operator=(const CursorHider&) = delete;
  void Hide() {
    if (hidden_) return;
    ShowCursor(FALSE);
    hidden_ = true;
  }
  void Show() {
    if (!hidden_) return;
    ShowCursor(TRUE);
    hidden_ = false;
  }

 private:
  bool hidden_ = false;
};

}  // namespace tactra::ui
