#include "calibration/app/calibration_app.h"

#include "calibration/app/calibration_dlg.h"
#include "calibration/app/startup_steps.h"
#include "common/language.h"
#include "common/win32/language_module_win32.h"
#include "common/win32/message_box_win32.h"
#include "common/win32/registry_store_win32.h"
#include "device/win32/hid_host_win32.h"
#include "resources/kelvane_ids.h"
#include "sim/host_choice.h"

namespace tactra::calib {

namespace {

#define TACTRA_WIDEN2(s) L##s
#define TACTRA_WIDEN(s) TACTRA_WIDEN2(s)

}  // namespace

const wchar_t* ModuleNameFor(int language) {
  return IsChinese(language) ? TACTRA_WIDEN(KELVANE_MODULE_ZH) : TACTRA_WIDEN(KELVANE_MODULE_EN);
}

bool CCalibrationApp::InitInstance(const std::wstring& commandLine) {
  std::unique_ptr<SettingsStore> store = CreateRegistryStore();
  {
    ResourceMessages fixedMessages(nullptr, ResourceMessages::Variant::Calibration);
    language_ = SelectLanguage(CommandLineArguments(commandLine), *store, fixedMessages);
  }

  NoteStartupStep("language-chosen");
  const wchar_t* name = ModuleNameFor(language_);
  resources_ = win32::LoadLanguageModule(name);
  if (!resources_) {
    // The name is put in place of %s by concatenation: it is never a format string.
    const std::wstring text = std::wstring(L"Cannot find language file: ") + name;
    MessageBoxW(nullptr, text.c_str(), L"Error", MB_OK | MB_ICONERROR);
    return false;
  }

  NoteStartupStep("module-loaded");
  HINSTANCE module = resources_.get();
  ResourceMessages messages(module, ResourceMessages::Variant::Calibration);
  CCalibrationDlg dialog(module, messages, *store, ChooseHidHost(CreateWin32HidHost));
  dialog.RunModal(nullptr);
  return false;
}

}  // namespace tactra::calib
