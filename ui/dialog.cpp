#include "ui/dialog.h"

namespace tactra::ui {

namespace {

// Messages whose result a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

}  // namespace

Dialog::Dialog(HINSTANCE resources, int templateId) : resources_(resources), templateId_(templateId) {}

Dialog::~Dialog() {
  // A modeless dialog still open when its object ends must not call back into it.
  if (hwnd_) {
    SetWindowLongPtrW(hwnd_, DWLP_USER, 0);
    if (!modal_) DestroyWindow(hwnd_);
  }
}

INT_PTR Dialog::RunModal(HWND parent) {
  modal_ = true;
  return DialogBoxParamW(resources_, MAKEINTRESOURCEW(templateId_), parent, Procedure,
                         reinterpret_cast<LPARAM>(this));
}

bool Dialog::CreateModeless(HWND parent) {
  modal_ = false;
  return CreateDialogParamW(resources_, MAKEINTRESOURCEW(templateId_), parent, Procedure,
                            reinterpret_cast<LPARAM>(this)) != nullptr;
}

void Dialog::EndDialog(INT_PTR result) {
  if (!hwnd_) return;
  if (modal_) {
    ::EndDialog(hwnd_, result);
  } else {
    DestroyWindow(hwnd_);
  }
}

void Dialog::OnOK() {
  ControlsToFields();
  EndDialog(IDOK);
}

void Dialog::OnCancel() { EndDialog(IDCANCEL); }

INT_PTR CALLBACK Dialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    self->hwnd_ = window;
  } else {
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(window, DWLP_USER));
  }
  if (!self) return FALSE;

  bool handled = false;
  INT_PTR result = 0;
  try {
    result = self->Dispatch(message, wParam, lParam, handled);
  } catch (...) {
    // Nothing may unwind through the system's frames; the message counts as unhandled.
    return FALSE;
  }
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  if (!handled) return FALSE;
  if (ReturnsDirectly(message)) return result;
  SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  handled = true;
  switch (message) {
    case WM_INITDIALOG:
      FieldsToControls();
      return OnInitDialog();
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      if (id == IDOK && (code == BN_CLICKED || lParam == 0)) {
        OnOK();
        return 0;
      }
      if (id == IDCANCEL && (code == BN_CLICKED || lParam == 0)) {
        OnCancel();
        return 0;
      }
      handled = OnCommand(id, code, reinterpret_cast<HWND>(lParam));
      return 0;
    }
    case WM_NOTIFY: {
      INT_PTR result = 0;
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      handled = header != nullptr && OnNotify(*header, lParam, result);
      return result;
    }
    case WM_DESTROY:
      OnDestroy();
      handled = false;
      return 0;
    default:
      return DispatchToHook(message, wParam, lParam, handled);
  }
}

INT_PTR Dialog::DispatchToHook(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) {
  switch (message) {
    case WM_TIMER:
      handled = OnTimer(static_cast<UINT_PTR>(wParam));
      return 0;
    case WM_SIZE:
      OnSize(wParam);
      handled = false;
      return 0;
    case WM_SYSCOMMAND:
      handled = OnSysCommand(wParam);
      return 0;
    case WM_PAINT:
      handled = OnPaint();
      return 0;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORMSGBOX: {
      HBRUSH brush = nullptr;
      handled =
          OnControlColour(message, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), brush);
      return reinterpret_cast<INT_PTR>(brush);
    }
    case WM_DRAWITEM:
      handled = lParam != 0 && OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_HSCROLL:
    case WM_VSCROLL:
      handled = OnScroll(message, wParam, reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_QUERYDRAGICON: {
      const HICON icon = OnQueryDragIcon();
      handled = icon != nullptr;
      return reinterpret_cast<INT_PTR>(icon);
    }
    case WM_DEVICECHANGE: {
      INT_PTR result = 0;
      handled = OnDeviceChange(wParam, lParam, result);
      return result;
    }
    default: {
      INT_PTR result = 0;
      handled = OnMessage(message, wParam, lParam, result);
      return result;
    }
  }
}

}  // namespace tactra::ui
