#include "console/app/config_dlg.h"

#include "resources/console_ids.h"
#include "ui/controls.h"

namespace tactra::console {

namespace {

// The drop-down lists, whose items are the module's strings.
constexpr int kLists[] = {IDC_CFG_11,       IDC_CFG_12A,   IDC_CFG_12B,      IDC_CFG_12C,
                          IDC_CFG_16_ON,    IDC_CFG_17C,   IDC_CFG_17D,      IDC_CFG_21_ON,
                          IDC_CFG_21_A,     IDC_CFG_21_B,  IDC_CFG_15_ON,    IDC_CFG_15_TIME,
                          IDC_CFG_15_LEVEL, IDC_CFG_14_ON, IDC_CFG_14_LEVEL, IDC_CFG_14_TIME};

}  // namespace

CConfigDlg::CConfigDlg(HINSTANCE resources) : ConsolePage(resources, IDD_PAGE_CONFIG) {}

BOOL CConfigDlg::OnInitDialog() {
  for (int id : kLists) ui::FillListFromStrings(hwnd(), id, resources());
  return TRUE;
}

}  // namespace tactra::console
