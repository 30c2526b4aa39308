#include "programs/win32/program_window_win32.h"

#include "device/win32/hid_host_win32.h"
#include "ui/about_dlg.h"
#include "ui/window_tasks.h"

namespace tactra {

ProgramWindow::ProgramWindow(HINSTANCE resources, int templateId, int iconId)
    : ui::Dialog(resources, templateId), icon_(resources, iconId) {}

bool ProgramWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  if (OnProgramMessage(message, wParam, lParam, result)) return true;
  switch (message) {
    case ui::WM_WINDOW_TASKS:
      OnWindowTasks();
      return true;
    case WM_SYSCOMMAND:
      return ui::OpenAboutOnCommand(wParam, resources(), hwnd());
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<INT_PTR>(icon_.bigIcon());
      return true;
    case WM_DEVICECHANGE:
      result =
          OnDeviceChange(static_cast<uintptr_t>(wParam), static_cast<intptr_t>(lParam),
                         [this](DeviceNotice notice, const std::wstring& path) { OnNotice(notice, path); });
      return true;
    default:
      return false;
  }
}

}  // namespace tactra
