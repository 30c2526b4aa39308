// The console's main window: the status line, the five pages on their tabs, the icon in the
// notification area, the frame's arrival and removal, and the routing of the frame's replies to
// the page that asked.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/settings_store.h"
#include "common/win32/handles_win32.h"
#include "common/win32/message_box_win32.h"
#include "console/app/calibration_dlg.h"
#include "console/app/config_dlg.h"
#include "console/app/info_dlg.h"
#include "console/app/options_dlg.h"
#include "console/console_model.h"
#include "device/link_start.h"
#include "device/usb_transfer.h"
#include "programs/win32/program_window_win32.h"
#include "ui/dialog.h"
#include "ui/program_icon.h"
#include "ui/tray_icon.h"
#include "ui/window_tasks.h"

namespace tactra::console {

// The notification-area icon's callback.
constexpr UINT WM_TRAYICON = WM_USER + 100;
// Work handed over by the link's workers and a host's notice thread.
using ui::WM_WINDOW_TASKS;
// Once the window is first on screen: what need not delay its showing.
constexpr UINT WM_FIRST_SHOWN = WM_APP + 2;

// The pages' queue to the window's thread, over the window's tasks.
class WindowTaskQueue : public WindowQueue {
 public:
  explicit WindowTaskQueue(ui::WindowTasks& tasks) : tasks_(tasks) {}
  void Post(std::function<void()> task) override { tasks_.Post(std::move(task)); }

 private:
  ui::WindowTasks& tasks_;
};

class CTactraConsoleDlg : public ProgramWindow {
 public:
  CTactraConsoleDlg(HINSTANCE resources, ResourceMessages& messages, SettingsStore& settings);
  ~CTactraConsoleDlg() override;
  // Before the window is made: the link starts meanwhile, on a thread of its own.
  void BeginLinkStart() { linkStart_.Begin(); }

 protected:
  void FieldsToControls() override;
  BOOL OnInitDialog() override;
  // Enter does not close the console; Escape, the close box and the tray menu do, unless a
  // sequence of requests is under way.
  void OnOK() override {}
  void OnCancel() override;
  bool OnNotify(const NMHDR& header, LPARAM lParam, INT_PTR& result) override;
  void OnDestroy() override;
  bool OnProgramMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  void OnSize(WPARAM type) override;
  // Only the minimised window's icon is drawn here; the rest is the dialog's own.
  bool OnPaint() override {
    if (!IsIconic(hwnd())) return false;
    PaintIcon();
    return true;
  }
  void OnWindowTasks() override { tasks_.RunPending(); }
  void OnNotice(DeviceNotice notice, const std::wstring& path) override;

 private:
  ConsolePage* Page(int tab);
  void CreateStatusFont();
  void LayOutTabs();
  void CreatePage(int tab);
  void AddTrayIcon();
  void OnFirstShown();
  void ShowPage(int tab);
  void RefreshPage(int tab);
  void OnTrayIcon(WPARAM id, LPARAM mouse);
  void PaintIcon();

  CUSBTransfer& usb_;
  ResourceMessages& messages_;
  ui::WindowTasks tasks_{WM_WINDOW_TASKS};
  WindowTaskQueue queue_{tasks_};
  PageContext context_;

  CInfoDlg info_;
  CConfigDlg config_;
  CCalibrationDlg calibration_;
  ConsoleModel model_;
  LinkStart linkStart_;
  COptionsDlg options_;
  ConsolePage about_;

  std::wstring statusText_;
  win32::UniqueFont statusFont_;
  std::unique_ptr<NoticeRegistration> notices_;
  ui::TrayIcon tray_;
  bool shown_ = false;
  // Notices that came while a sequence of requests was under way, taken once it is over.
  std::vector<std::pair<DeviceNotice, std::wstring>> deferredNotices_;
};

}  // namespace tactra::console
