#include "calibration/app/calibration_app.h"

#include "calibration/app/calibration_dlg.h"
#include "calibration/app/startup_probe.h"
#include "common/language.h"
#include "common/win32/message_box.h"
#include "common/win32/registry_store.h"
#include "resources/resource_ids.h"

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
  resources_.reset(LoadLibraryW(name));
  if (!resources_) {
    // The name is put in place of %s by concatenation: it is never a format string.
    const std::wstring text = std::wstring(L"Cannot find language file: ") + name;
    MessageBoxW(nullptr, text.c_str(), L"Error", MB_OK | MB_ICONERROR);
    return false;
  }

  NoteStartupStep("module-loaded");
  HINSTANCE module = resources_.get();
  ResourceMessages messages(module, ResourceMessages::Variant::Calibration);
  CCalibrationDlg dialog(module, messages, *store, CreateDefaultHidHost());
  dialog.RunModal(nullptr);
  return false;
}

}  // namespace tactra::calib
