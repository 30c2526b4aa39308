#include "console/app/options_dlg.h"

#include "common/win32/program_path_win32.h"
#include "resources/console_ids.h"
#include "ui/controls.h"

namespace tactra::console {

namespace {

// The buffer the program's path is read into for the Run entry.
constexpr std::size_t kPathCapacity = MAX_PATH;

}  // namespace

COptionsDlg::COptionsDlg(HINSTANCE resources, ConsoleModel& console, SettingsStore& store, Messages& messages)
    : ConsolePage(resources, IDD_PAGE_OPTIONS), console_(console), model_(store, messages) {}

void COptionsDlg::FieldsToControls() {
  if (!hwnd()) return;
  const OptionsView view = model_.View();
  ui::SetChecked(hwnd(), IDC_OPT_ENGLISH, view.english);
  ui::SetChecked(hwnd(), IDC_OPT_CHINESE, view.chinese);
  ui::SetChecked(hwnd(), IDC_OPT_LOGON, view.logon);
  ui::SetChecked(hwnd(), IDC_OPT_MINIMIZE, view.minimize);
}

bool COptionsDlg::OnCommand(int id, int code, HWND) {
  if (code != BN_CLICKED) return false;
  const bool checked = ui::IsChecked(hwnd(), id);
  switch (id) {
    case IDC_OPT_ENGLISH:
      model_.OnEnglish(checked);
      if (checked) ui::SetChecked(hwnd(), IDC_OPT_CHINESE, false);
      return true;
    case IDC_OPT_CHINESE:
      model_.OnChinese(checked);
      if (checked) ui::SetChecked(hwnd(), IDC_OPT_ENGLISH, false);
      return true;
    case IDC_OPT_LOGON:
      model_.OnLogon(checked);
      return true;
    case IDC_OPT_MINIMIZE:
      model_.OnMinimize(checked);
      return true;
    case IDC_OPT_APPLY:
      console_.RunSequence([this] {
        std::wstring path;
        std::optional<std::wstring> program;
        if (win32::ProgramPath(path, kPathCapacity)) program = path;
        model_.Apply(program);
      });
      return true;
    default:
      return false;
  }
}

}  // namespace tactra::console
