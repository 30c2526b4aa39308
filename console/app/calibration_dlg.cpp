#include "console/app/calibration_dlg.h"

#include "common/win32/handles_win32.h"
#include "resources/console_ids.h"
#include "ui/controls.h"
#include "ui/scopes.h"

namespace tactra::console {

namespace {

constexpr int kOptionIds[kOptionButtons] = {IDC_CAL_OPTION_0, IDC_CAL_OPTION_1, IDC_CAL_OPTION_2,
                                            IDC_CAL_OPTION_3};
constexpr int kModeIds[] = {IDC_CAL_MODE_2, IDC_CAL_MODE_3, IDC_CAL_MODE_4};
constexpr int kModeOfButton[] = {proto::kModeFourPoint, proto::kModeFivePoint, proto::kModeNinePoint};
constexpr int kActionIds[] = {IDC_CAL_START, IDC_CAL_EXPORT, IDC_CAL_IMPORT, IDC_CAL_FACTORY, IDC_CAL_APPLY};

template <std::size_t N>
int IndexOf(const int (&ids)[N], int id) {
  for (std::size_t i = 0; i < N; ++i) {
    if (ids[i] == id) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

CCalibrationDlg::CCalibrationDlg(HINSTANCE resources, PageContext context, ConsoleModel& console)
    : ConsolePage(resources, IDD_PAGE_CALIBRATION),
      console_(console),
      model_(std::move(context), CalibrationSeams{dialogs_, files_, starter_, texts_}) {
  model_.SetControlsChanged([this] { FieldsToControls(); });
}

BOOL CCalibrationDlg::OnInitDialog() {
  HWND main = GetAncestor(hwnd(), GA_ROOT);
  dialogs_.SetOwner(main);
  texts_.SetOwner(main);
  pictureRect_ = ui::ItemClientRect(hwnd(), IDC_CAL_PICTURE);
  return TRUE;
}

void CCalibrationDlg::Refresh() {
  model_.Refresh();
  FieldsToControls();
}

void CCalibrationDlg::FieldsToControls() {
  if (!hwnd()) return;
  const CalibrationView view = model_.View();
  for (int i = 0; i < kOptionButtons; ++i) {
    ui::SetChecked(hwnd(), kOptionIds[i], i == view.checkedOption);
    ui::EnableItem(hwnd(), kOptionIds[i], view.optionsEnabled);
  }
  for (std::size_t i = 0; i < std::size(kModeIds); ++i) {
    ui::SetChecked(hwnd(), kModeIds[i], kModeOfButton[i] == view.checkedMode);
    ui::EnableItem(hwnd(), kModeIds[i], view.modesEnabled);
  }
  for (int id : kActionIds) ui::EnableItem(hwnd(), id, view.actionsEnabled);
  // The illustration follows the option value.
  InvalidateRect(hwnd(), nullptr, TRUE);
}

bool CCalibrationDlg::OnCommand(int id, int code, HWND) {
  if (code != BN_CLICKED) return false;
  // The radio buttons are not automatic: a click chooses the clicked one, so the page checks it
  // before it reads them, as an automatic button would have been.
  if (const int option = IndexOf(kOptionIds, id); option >= 0) {
    ui::SetChecked(hwnd(), id, true);
    std::array<bool, kOptionButtons> checked{};
    for (int i = 0; i < kOptionButtons; ++i)
      checked[static_cast<std::size_t>(i)] = ui::IsChecked(hwnd(), kOptionIds[i]);
    model_.OnOptionClicked(option, checked);
    FieldsToControls();
    return true;
  }
  if (const int mode = IndexOf(kModeIds, id); mode >= 0) {
    ui::SetChecked(hwnd(), id, true);
    std::array<bool, 3> checked{};
    for (std::size_t i = 0; i < checked.size(); ++i) checked[i] = ui::IsChecked(hwnd(), kModeIds[i]);
    model_.OnModeClicked(kModeOfButton[mode], checked);
    FieldsToControls();
    return true;
  }
  switch (id) {
    case IDC_CAL_APPLY:
      console_.RunSequence([this] { model_.Apply(); });
      return true;
    case IDC_CAL_FACTORY:
      console_.RunSequence([this] {
        model_.RestoreFactory();
        FieldsToControls();
      });
      return true;
    case IDC_CAL_START:
      console_.RunSequence([this] { model_.StartCalibrationProgram(); });
      return true;
    case IDC_CAL_EXPORT:
      console_.RunSequence([this] { model_.Export(); });
      return true;
    case IDC_CAL_IMPORT:
      console_.RunSequence([this] { model_.Import(); });
      return true;
    default:
      return false;
  }
}

void CCalibrationDlg::Paint() {
  ui::PaintScope paint(hwnd());
  SetMapMode(paint.dc(), MM_TEXT);
  const int bitmapId = model_.View().illustration;
  if (bitmapId == 0) return;
  // Loaded anew on every paint, from the language module.
  win32::UniqueBitmap bitmap(static_cast<HBITMAP>(
      LoadImageW(resources(), MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  BITMAP size{};
  if (!bitmap || !GetObjectW(bitmap.get(), sizeof size, &size)) return;
  const std::optional<PixelRect> drawn =
      FitIllustration(size.bmWidth, size.bmHeight,
                      {pictureRect_.left, pictureRect_.top, pictureRect_.right, pictureRect_.bottom});
  if (!drawn) return;
  win32::UniqueMemoryDc memory(CreateCompatibleDC(nullptr));
  if (!memory) return;
  ui::SelectGuard selected(memory.get(), bitmap.get());
  StretchBlt(paint.dc(), drawn->left, drawn->top, drawn->right - drawn->left, drawn->bottom - drawn->top,
             memory.get(), 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
}

}  // namespace tactra::console
