#include "console/app/console_app.h"

#include <commctrl.h>

#include "common/language.h"
#include "common/win32/language_module_win32.h"
#include "common/win32/message_box_win32.h"
#include "common/win32/registry_store_win32.h"
#include "common/win32/startup_probe_win32.h"
#include "console/app/console_dlg.h"
#include "device/usb_transfer.h"
#include "device/win32/hid_host_win32.h"
#include "resources/console_ids.h"
#include "sim/host_choice.h"

namespace tactra::console {

namespace {

#define TACTRA_WIDEN2(s) L##s
#define TACTRA_WIDEN(s) TACTRA_WIDEN2(s)

std::unique_ptr<HidHost> CreateConsoleHost() { return ChooseHidHost(CreateWin32HidHost); }

void NoteStartupStep(const char* step) { win32::NoteStartupStep(L"TACTRA_CONSOLE_STARTUP_LOG", step); }

}  // namespace

const wchar_t* ConsoleModuleName(int language) {
  return IsChinese(language) ? TACTRA_WIDEN(CONSOLE_MODULE_ZH) : TACTRA_WIDEN(CONSOLE_MODULE_EN);
}

bool CTactraConsoleApp::InitInstance(const std::wstring& commandLine) {
  std::unique_ptr<SettingsStore> store = CreateRegistryStore();
  {
    ResourceMessages fixedMessages(nullptr, ResourceMessages::Variant::Console);
    language_ = SelectLanguage(CommandLineArguments(commandLine), *store, fixedMessages);
  }
  NoteStartupStep("language-chosen");

  const wchar_t* name = ConsoleModuleName(language_);
  resources_ = win32::LoadLanguageModule(name);
  if (!resources_) {
    // The name is put in place of %s by concatenation: it is never a format string.
    const std::wstring text = std::wstring(L"Cannot find language file: ") + name + L"!";
    MessageBoxW(nullptr, text.c_str(), L"Error", MB_OK | MB_ICONERROR);
    return false;
  }
  NoteStartupStep("module-loaded");

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);
  CUSBTransfer::SetHostFactory(CreateConsoleHost);
  HINSTANCE module = resources_.get();
  ResourceMessages messages(module, ResourceMessages::Variant::Console);
  CTactraConsoleDlg dialog(module, messages, *store);
  dialog.RunModal(nullptr);
  return false;
}

}  // namespace tactra::console
