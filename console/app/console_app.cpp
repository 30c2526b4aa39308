#include "console/app/console_app.h"

#include <commctrl.h>

#include "common/win32/language_module_win32.h"
#include "common/win32/message_box_win32.h"
#include "common/win32/registry_store_win32.h"
#include "console/app/console_dlg.h"
#include "console/app/startup_steps.h"
#include "device/usb_transfer.h"
#include "device/win32/hid_host_win32.h"
#include "programs/host_choice.h"
#include "resources/console_ids.h"

namespace tactra {

std::unique_ptr<HidHost> CreateProcessHost() { return ChooseHidHost(CreateWin32HidHost); }

}  // namespace tactra

namespace tactra::console {

bool CTactraConsoleApp::InitInstance(const std::wstring& commandLine) {
  std::unique_ptr<SettingsStore> store = CreateRegistryStore();
  win32::ProgramLanguage start =
      win32::StartInLanguage(commandLine, *store, L"" CONSOLE_MODULE_EN, L"" CONSOLE_MODULE_ZH, L"!");
  resources_ = std::move(start.module);
  if (!resources_) return false;
  NoteStartupStep("module-loaded");

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);
  HINSTANCE module = resources_.get();
  // Every box of the console carries its caption and stands on its own.
  ResourceMessages messages(module, BoxStyle{IDS_CAPTION, false});
  CTactraConsoleDlg dialog(module, messages, *store);
  dialog.BeginLinkStart();
  NoteStartupStep("link-opened");
  dialog.RunModal(nullptr);
  return false;
}

}  // namespace tactra::console
