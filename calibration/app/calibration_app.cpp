#include "calibration/app/calibration_app.h"

#include "calibration/app/calibration_dlg.h"
#include "calibration/app/startup_steps.h"
#include "calibration/monitor_choice.h"
#include "calibration/win32/monitors_win32.h"
#include "common/win32/registry_store_win32.h"
#include "device/win32/hid_host_win32.h"
#include "programs/host_choice.h"
#include "resources/kelvane_ids.h"

namespace tactra::calib {

namespace {

// The monitor the run covers; the primary screen as the system metrics give it when the system
// lists no monitor.
ScreenRect RunMonitor(std::optional<int> argument) {
  const MonitorChoice choice = ChooseMonitor(argument, ReadMonitorMappings(), ReadMonitors());
  switch (choice.by) {
    case MonitorChosenBy::Argument:
      NoteStartupStep("monitor-by-argument");
      break;
    case MonitorChosenBy::Mapping:
      NoteStartupStep("monitor-by-mapping");
      break;
    case MonitorChosenBy::Primary:
      NoteStartupStep("monitor-primary");
      break;
    case MonitorChosenBy::None:
      return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  return choice.monitor->rect;
}

}  // namespace

bool CCalibrationApp::InitInstance(const std::wstring& commandLine) {
  std::unique_ptr<SettingsStore> store = CreateRegistryStore();
  // The language reads the command line as if the monitor's argument were not there.
  const MonitorArgument monitorArgument = TakeMonitorArgument(commandLine);
  if (!LoadLanguage(monitorArgument.commandLine, *store, L"" KELVANE_MODULE_EN, L"" KELVANE_MODULE_ZH, L"")) {
    SetExitCode(static_cast<int>(RunEnd::NotRun));
    return false;
  }
  NoteStartupStep("module-loaded");
  ResourceMessages messages(resources());
  const std::optional<int> monitor = monitorArgument.monitor;
  CCalibrationDlg dialog(resources(), messages, *store, ChooseHidHost(CreateWin32HidHost),
                         [monitor] { return RunMonitor(monitor); });
  RunMainWindow(dialog, NoteStartupStep);
  SetExitCode(static_cast<int>(dialog.end()));
  return false;
}

}  // namespace tactra::calib
