// Drawing of the run: the nine targets through an off-screen bitmap each, and the colours of
// the text controls.
#include "calibration/app/calibration_dlg.h"
#include "calibration/app/startup_steps.h"
#include "calibration/run_layout.h"
#include "resources/kelvane_ids.h"

namespace tactra::calib {

namespace {

constexpr COLORREF kTextColour = RGB(0, 0, 224);
constexpr COLORREF kCurrentPen = RGB(255, 0, 255);
constexpr COLORREF kTakenPen = RGB(128, 128, 128);

}  // namespace

void CCalibrationDlg::Paint() {
  ui::PaintScope paint(hwnd());
  if (IsIconic(hwnd())) {
    icon().DrawCentred(hwnd(), paint.dc());
    return;
  }
  if (checking_) {
    PaintCheck(paint.dc());
    return;
  }
  const int generation = run_.generation();
  for (int slot = 0; slot < kTargetSlots; ++slot) DrawTarget(paint.dc(), slot);
  run_.OnTargetsDrawn(generation);
  if (!startupNoted_ && run_.currentTarget() == 0 && run_.MarksFor(TargetSlot(run_.mode(), 0)).crosshair) {
    startupNoted_ = true;
    NoteFirstTargetShown();
  }
}

void CCalibrationDlg::DrawTarget(HDC target, int slot) {
  const RECT& r = targets_[slot];
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  win32::UniqueMemoryDc memory(CreateCompatibleDC(target));
  win32::UniqueBitmap bitmap(CreateCompatibleBitmap(target, w, h));
  if (!memory || !bitmap) return;
  ui::SelectGuard selectBitmap(memory.get(), bitmap.get());
  const RECT all{0, 0, w, h};
  FillRect(memory.get(), &all, background_.get());

  const TargetMarks marks = run_.MarksFor(slot);
  win32::UniquePen pen;
  if (marks.pen == MarkPen::Current) pen.reset(CreatePen(PS_SOLID, 1, kCurrentPen));
  if (marks.pen == MarkPen::Taken) pen.reset(CreatePen(PS_SOLID, 1, kTakenPen));
  ui::SelectGuard selectPen(memory.get(), pen.get());
  if (marks.crosshair) {
    for (const Segment& s : Crosshair(w, h)) {
      MoveToEx(memory.get(), s.from.x, s.from.y, nullptr);
      LineTo(memory.get(), s.to.x, s.to.y);
    }
  }
  if (marks.brackets) {
    for (const auto& bracket : CornerBrackets(w, h)) {
      POINT points[3];
      for (int i = 0; i < 3; ++i) points[i] = {bracket[i].x, bracket[i].y};
      Polyline(memory.get(), points, 3);
    }
  }
  BitBlt(target, r.left, r.top, w, h, memory.get(), 0, 0, SRCCOPY);
}

HBRUSH CCalibrationDlg::ControlColour(UINT message, HDC dc, HWND control) {
  const int id = GetDlgCtrlID(control);
  const bool text =
      message == WM_CTLCOLOREDIT ||
      (message == WM_CTLCOLORSTATIC && (id == IDC_INSTRUCTION || id == IDC_COUNTDOWN ||
                                        (id >= IDC_CHECK_DISTANCE_0 && id <= IDC_CHECK_DISTANCE_4)));
  if (text) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kTextColour);
  }
  return background_.get();
}

}  // namespace tactra::calib
