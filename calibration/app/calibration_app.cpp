#include "calibration/app/calibration_app.h"

#include "calibration/app/calibration_dlg.h"
#include "calibration/app/startup_steps.h"
#include "common/win32/registry_store_win32.h"
#include "device/win32/hid_host_win32.h"
#include "programs/host_choice.h"
#include "resources/kelvane_ids.h"

namespace tactra::calib {

bool CCalibrationApp::InitInstance(const std::wstring& commandLine) {
  std::unique_ptr<SettingsStore> store = CreateRegistryStore();
  if (!LoadLanguage(commandLine, *store, L"" KELVANE_MODULE_EN, L"" KELVANE_MODULE_ZH, L"")) {
    SetExitCode(static_cast<int>(RunEnd::NotRun));
    return false;
  }
  NoteStartupStep("module-loaded");
  ResourceMessages messages(resources());
  CCalibrationDlg dialog(resources(), messages, *store, ChooseHidHost(CreateWin32HidHost));
  RunMainWindow(dialog, NoteStartupStep);
  SetExitCode(static_cast<int>(dialog.end()));
  return false;
}

}  // namespace tactra::calib
