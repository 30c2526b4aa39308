#include "console/app/info_dlg.h"

#include "resources/console_ids.h"
#include "ui/controls.h"

namespace tactra::console {

CInfoDlg::CInfoDlg(HINSTANCE resources, PageContext context)
    : ConsolePage(resources, IDD_PAGE_INFO), model_(std::move(context)) {}

void CInfoDlg::Refresh() {
  model_.Refresh();
  FieldsToControls();
}

void CInfoDlg::FieldsToControls() {
  const InfoView view = model_.View();
  ui::SetItemText(hwnd(), IDC_INFO_VALUE_01, view.value01);
  ui::SetItemText(hwnd(), IDC_INFO_COUNT_A, view.countA);
  ui::SetItemText(hwnd(), IDC_INFO_COUNT_B, view.countB);
  ui::SetItemText(hwnd(), IDC_INFO_LIST_A, view.listA);
  ui::SetItemText(hwnd(), IDC_INFO_LIST_B, view.listB);
  const int texts[] = {IDC_INFO_TEXT_F2, IDC_INFO_TEXT_F3, IDC_INFO_TEXT_F4, IDC_INFO_TEXT_F5};
  for (std::size_t i = 0; i < view.texts.size(); ++i) ui::SetItemText(hwnd(), texts[i], view.texts[i]);
}

}  // namespace tactra::console
