#include "calibration/app/calibration_app.h"

#include "calibration/app/calibration_dlg.h"
#include "calibration/app/startup_steps.h"
#include "common/win32/language_module_win32.h"
#include "common/win32/registry_store_win32.h"
#include "device/win32/hid_host_win32.h"
#include "programs/host_choice.h"
#include "resources/kelvane_ids.h"

namespace tactra::calib {

bool CCalibrationApp::InitInstance(const std::wstring& commandLine) {
  std::unique_ptr<SettingsStore> store = CreateRegistryStore();
  win32::ProgramLanguage start =
      win32::StartInLanguage(commandLine, *store, L"" KELVANE_MODULE_EN, L"" KELVANE_MODULE_ZH, L"");
  resources_ = std::move(start.module);
  if (!resources_) return false;

  NoteStartupStep("module-loaded");
  HINSTANCE module = resources_.get();
  ResourceMessages messages(module);
  CCalibrationDlg dialog(module, messages, *store, ChooseHidHost(CreateWin32HidHost));
  dialog.BeginLinkStart();
  NoteStartupStep("link-opened");
  dialog.RunModal(nullptr);
  return false;
}

}  // namespace tactra::calib
