#include "console/app/console_app.h"

#include <commctrl.h>

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
  if (!LoadLanguage(commandLine, *store, L"" CONSOLE_MODULE_EN, L"" CONSOLE_MODULE_ZH, L"!")) return false;
  NoteStartupStep("module-loaded");

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);
  // Every box of the console carries its caption and stands on its own.
  ResourceMessages messages(resources(), BoxStyle{IDS_CAPTION, false});
  CTactraConsoleDlg dialog(resources(), messages, *store);
  RunMainWindow(dialog, NoteStartupStep);
  return false;
}

}  // namespace tactra::console
