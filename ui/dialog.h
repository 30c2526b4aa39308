// The dialog base: a dialog created from a template of the loaded language module, its object
// attached to the window at WM_INITDIALOG and every message dispatched to member handlers.
// No exception leaves the dialog procedure.
#pragma once

#include <windows.h>

#include <string>

namespace tactra::ui {

class Dialog {
 public:
  Dialog(HINSTANCE resources, int templateId);
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog modally; the result of EndDialog, or -1 when it could not be created.
  INT_PTR RunModal(HWND parent);
  // Creates the dialog without a loop of its own; false when it could not be created.
  bool CreateModeless(HWND parent);

  HWND hwnd() const { return hwnd_; }
  HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
  HINSTANCE resources() const { return resources_; }
  void EndDialog(INT_PTR result);

 protected:
  // Fields to controls and controls to fields; the dialog calls these when it moves data.
  virtual void FieldsToControls() {}
  virtual void ControlsToFields() {}

  // WM_INITDIALOG after the fields went to the controls. FALSE when it set the focus itself
  // (or ended the dialog).
  virtual BOOL OnInitDialog() { return TRUE; }
  // IDOK and IDCANCEL (Enter, Escape, the buttons, the close box).
  virtual void OnOK();
  virtual void OnCancel();
  // Other WM_COMMANDs; true when handled.
  virtual bool OnCommand(int /*id*/, int /*code*/, HWND /*control*/) { return false; }
  // WM_NOTIFY from a control; true when handled, `result` then being the notification's result.
  virtual bool OnNotify(const NMHDR& /*header*/, LPARAM /*lParam*/, INT_PTR& /*result*/) { return false; }
  // WM_DESTROY, while the window and its controls still exist.
  virtual void OnDestroy() {}
  // One hook per kind of message the programs handle; true when handled. A hook that returns
  // false leaves the message to the system's dialog handling.
  virtual bool OnTimer(UINT_PTR /*id*/) { return false; }
  // WM_SIZE: the dialog's own handling follows in every case.
  virtual void OnSize(WPARAM /*type*/) {}
  virtual bool OnSysCommand(WPARAM /*command*/) { return false; }
  virtual bool OnPaint() { return false; }
  // WM_CTLCOLOR*: `brush` is what the control is painted with.
  virtual bool OnControlColour(UINT /*message*/, HDC /*dc*/, HWND /*control*/, HBRUSH& /*brush*/) {
    return false;
  }
  virtual bool OnDrawItem(const DRAWITEMSTRUCT& /*item*/) { return false; }
  // WM_HSCROLL and WM_VSCROLL; `bar` is the control's window, null for the dialog's own bars.
  virtual bool OnScroll(UINT /*message*/, WPARAM /*request*/, HWND /*bar*/) { return false; }
  virtual HICON OnQueryDragIcon() { return nullptr; }
  // WM_DEVICECHANGE; `result` is what the window answers.
  virtual bool OnDeviceChange(WPARAM /*event*/, LPARAM /*data*/, INT_PTR& /*result*/) { return false; }
  // Any other message; true when handled, `result` then being the message's result.
  virtual bool OnMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/, INT_PTR& /*result*/) {
    return false;
  }

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
  // The messages that have a hook of their own, and the rest to OnMessage.
  INT_PTR DispatchToHook(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);

  HINSTANCE resources_;
  int templateId_;
  HWND hwnd_ = nullptr;
  bool modal_ = false;
};

}  // namespace tactra::ui
