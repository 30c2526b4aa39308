#include "programs/win32/program_window_win32.h"

#include "device/win32/hid_host_win32.h"
#include "ui/about_dlg.h"
#include "ui/window_tasks.h"

namespace tactra {

ProgramWindow::ProgramWindow(HINSTANCE resources, int templateId, int iconId)
    : ui::Dialog(resources, templateId), iconId_(iconId) {}

const ui::ProgramIcon& ProgramWindow::icon() const {
  if (!icon_) icon_.emplace(resources(), iconId_);
  return *icon_;
}

bool ProgramWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  if (OnProgramMessage(message, wParam, lParam, result)) return true;
  if (message != ui::WM_WINDOW_TASKS) return false;
  OnWindowTasks();
  return true;
}

bool ProgramWindow::OnSysCommand(WPARAM command) {
  return ui::OpenAboutOnCommand(command, resources(), hwnd());
}

bool ProgramWindow::OnDeviceChange(WPARAM event, LPARAM data, INT_PTR& result) {
  result = tactra::OnDeviceChange(
      static_cast<uintptr_t>(event), static_cast<intptr_t>(data),
      [this](DeviceNotice notice, const std::wstring& path) { OnNotice(notice, path); });
  return true;
}

}  // namespace tactra
