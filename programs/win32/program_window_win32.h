// The main window of either program, with what both do alike: the work other threads hand
// over, the system's device notices, the about item of the system menu, and the icon a
// minimised window is dragged by. Each program's own messages reach OnProgramMessage first.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "device/hid_host.h"
#include "ui/dialog.h"
#include "ui/program_icon.h"

namespace tactra {

class ProgramWindow : public ui::Dialog {
 public:
  ProgramWindow(HINSTANCE resources, int templateId, int iconId);

 protected:
  // Loaded with the window, not before it: the first look at the system's metrics starts the
  // display's driver, which the link's start, begun before the window, need not wait for.
  const ui::ProgramIcon& icon() const;

  // A message of the program's own; true when handled, `result` then being its result.
  virtual bool OnProgramMessage(UINT /*message*/, WPARAM /*wParam*/, LPARAM /*lParam*/, INT_PTR& /*result*/) {
    return false;
  }
  // ui::WM_WINDOW_TASKS: what other threads handed over.
  virtual void OnWindowTasks() = 0;
  // An arrival or removal of a HID interface, from the system's notices.
  virtual void OnNotice(DeviceNotice notice, const std::wstring& path) = 0;

 private:
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) final;
  bool OnSysCommand(WPARAM command) final;
  HICON OnQueryDragIcon() final { return icon().bigIcon(); }
  bool OnDeviceChange(WPARAM event, LPARAM data, INT_PTR& result) final;

  int iconId_;
  mutable std::optional<ui::ProgramIcon> icon_;
};

}  // namespace tactra
