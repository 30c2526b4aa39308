#include "console/app/config_dlg.h"

#include <commctrl.h>

#include "common/win32/system_facts_win32.h"
#include "resources/console_ids.h"
#include "ui/controls.h"

namespace tactra::console {

namespace {

// The drop-down lists, whose items are the module's strings.
constexpr int kLists[] = {IDC_CFG_11,       IDC_CFG_12A,   IDC_CFG_12B,      IDC_CFG_12C,
                          IDC_CFG_16_ON,    IDC_CFG_17C,   IDC_CFG_17D,      IDC_CFG_21_ON,
                          IDC_CFG_21_A,     IDC_CFG_21_B,  IDC_CFG_15_ON,    IDC_CFG_15_TIME,
                          IDC_CFG_15_LEVEL, IDC_CFG_14_ON, IDC_CFG_14_LEVEL, IDC_CFG_14_TIME};

// The edit box shows two digits; the frame's values beyond them are set, not typed.
constexpr WPARAM kEditLimit = 2;

LRESULT SendItem(HWND dialog, int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
  return SendDlgItemMessageW(dialog, id, message, wParam, lParam);
}

// One control as the model shows it; positions are set only when they differ, so that nothing
// moves under the user's hand.
void ShowControl(HWND dialog, const ControlView& c) {
  switch (c.kind) {
    case ControlKind::List:
      if (ui::SelectedListItem(dialog, c.id) != c.position) ui::SelectListItem(dialog, c.id, c.position);
      break;
    case ControlKind::Slider:
      if (SendItem(dialog, c.id, TBM_GETPOS) != c.position)
        SendItem(dialog, c.id, TBM_SETPOS, TRUE, c.position);
      break;
    case ControlKind::Spin:
      if (SendItem(dialog, c.id, UDM_GETPOS32) != c.position)
        SendItem(dialog, c.id, UDM_SETPOS32, 0, c.position);
      break;
    case ControlKind::Edit:
      ui::SetItemText(dialog, c.id, c.text);
      break;
    case ControlKind::Label:
    case ControlKind::Button:
      break;
  }
  ui::EnableItem(dialog, c.id, c.enabled);
  ui::ShowItem(dialog, c.id, c.visible);
}

}  // namespace

CConfigDlg::CConfigDlg(HINSTANCE resources, PageContext context, ConsoleModel& console)
    : ConsolePage(resources, IDD_PAGE_CONFIG),
      console_(console),
      model_(std::move(context), ConfigOsCode(QueryVersionRecord())) {}

BOOL CConfigDlg::OnInitDialog() {
  for (int id : kLists) ui::FillListFromStrings(hwnd(), id, resources());
  for (int id : {IDC_CFG_17A, IDC_CFG_17B})
    SendItem(hwnd(), id, TBM_SETRANGE, FALSE, MAKELPARAM(kSliderMin, kSliderMax));
  SendItem(hwnd(), IDC_CFG_16_SPIN, UDM_SETRANGE32, kSpinMin, kSpinMax);
  UDACCEL accel{1, 1};
  SendItem(hwnd(), IDC_CFG_16_SPIN, UDM_SETACCEL, 1, reinterpret_cast<LPARAM>(&accel));
  // Only the spin box and the frame change the value; typed text would never be read.
  SendItem(hwnd(), IDC_CFG_16_TEXT, EM_SETREADONLY, TRUE);
  SendItem(hwnd(), IDC_CFG_16_TEXT, EM_LIMITTEXT, kEditLimit);
  FieldsToControls();
  return TRUE;
}

void CConfigDlg::Refresh() {
  model_.Refresh();
  FieldsToControls();
}

void CConfigDlg::FieldsToControls() {
  if (!hwnd()) return;
  const ConfigView view = model_.View();
  for (const ControlView& control : view.controls) ShowControl(hwnd(), control);
}

bool CConfigDlg::OnCommand(int id, int code, HWND) {
  if (code == BN_CLICKED && (id == IDC_CFG_APPLY || id == IDC_CFG_DEFAULT)) {
    console_.RunSequence([this, id] { id == IDC_CFG_APPLY ? model_.Apply() : model_.Default(); });
    FieldsToControls();
    return true;
  }
  if (code != CBN_SELCHANGE) return false;
  model_.OnListSelect(id, ui::SelectedListItem(hwnd(), id));
  FieldsToControls();
  return true;
}

bool CConfigDlg::OnNotify(const NMHDR& header, LPARAM lParam, INT_PTR& result) {
  if (header.idFrom != IDC_CFG_16_SPIN || header.code != UDN_DELTAPOS) return false;
  const auto* change = reinterpret_cast<const NMUPDOWN*>(lParam);
  model_.OnSpinDelta(change->iPos, change->iDelta);
  // The spin box moves itself once this returns; only its edit box is the page's to set now.
  ui::SetItemText(hwnd(), IDC_CFG_16_TEXT, model_.View()[IDC_CFG_16_TEXT].text);
  result = 0;
  return true;
}

bool CConfigDlg::OnScroll(UINT message, WPARAM, HWND slider) {
  // The sliders' level changes only when the user moves one, never when one is drawn.
  if (message != WM_HSCROLL || slider == nullptr) return false;
  const int id = GetDlgCtrlID(slider);
  if (id != IDC_CFG_17A && id != IDC_CFG_17B) return false;
  model_.OnSlider(id, static_cast<int>(SendMessageW(slider, TBM_GETPOS, 0, 0)));
  FieldsToControls();
  return true;
}

}  // namespace tactra::console
