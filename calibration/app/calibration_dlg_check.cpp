// The check after a kept result: Check on the finished screen, the five points one at a time,
// each touch's distance beside its point, then Done or Calibrate again.
#include <algorithm>

#include "calibration/app/calibration_dlg.h"
#include "calibration/app/startup_steps.h"
#include "resources/kelvane_ids.h"
#include "ui/controls.h"
#include "ui/scopes.h"

namespace tactra::calib {

namespace {

constexpr COLORREF kWaitingPen = RGB(255, 0, 255);
constexpr COLORREF kTouchedPen = RGB(128, 128, 128);

int DistanceId(int i) { return IDC_CHECK_DISTANCE_0 + i; }

}  // namespace

void CCalibrationDlg::PrepareCheck() {
  checkTexts_.complete = UnescapePercent(messages_.LoadText(IDS_CHECK_COMPLETE));
  checkTexts_.largest = UnescapePercent(messages_.LoadText(IDS_CHECK_LARGEST));
  checkTexts_.mean = UnescapePercent(messages_.LoadText(IDS_CHECK_MEAN));
  checkTexts_.pixels = UnescapePercent(messages_.LoadText(IDS_CHECK_PIXELS));
}

void CCalibrationDlg::LayOutCheck(const RunLayout& run) {
  RECT client{};
  GetClientRect(hwnd(), &client);
  const int w = client.right - client.left;
  const int h = client.bottom - client.top;
  auto extent = [this](int id) {
    const SIZE s = ui::ItemSize(hwnd(), id);
    return Extent{s.cx, s.cy};
  };
  CheckExtents e;
  e.ok = extent(IDOK);
  e.cancel = extent(IDCANCEL);
  e.check = extent(IDC_CHECK);
  e.cross = extent(IDC_TARGET_CENTRE);
  // The check's instruction hangs from the top with the countdown under it.
  e.instruction = run.instructionSize;
  e.instruction.h =
      std::max(e.instruction.h,
               TextHeight(UnescapePercent(messages_.LoadText(IDS_CHECK_INSTRUCTION)), e.instruction.w));
  e.countdown = extent(IDC_COUNTDOWN);
  e.label = extent(IDC_CHECK_DISTANCE_0);
  e.done = extent(IDC_DONE);
  e.again = extent(IDC_CALIBRATE_AGAIN);
  cross_ = {e.cross.w, e.cross.h};
  checkLayout_ = ComputeCheckLayout(w, h, run, e);
  ui::MoveItem(hwnd(), IDC_CHECK, checkLayout_.check.x, checkLayout_.check.y);
  ui::MoveItem(hwnd(), IDC_DONE, checkLayout_.done.x, checkLayout_.done.y);
  ui::MoveItem(hwnd(), IDC_CALIBRATE_AGAIN, checkLayout_.again.x, checkLayout_.again.y);
  for (int i = 0; i < kCheckPointCount; ++i)
    ui::MoveItem(hwnd(), DistanceId(i), checkLayout_.labels[i].x, checkLayout_.labels[i].y);
  // Laid out anew during the check (a change of scaling): its texts stay where the check has them.
  if (checking_) PlaceCheckTexts();
}

void CCalibrationDlg::StartCheck() {
  if (closing_ || checking_ || !run_.done() || !run_.okAvailable() || !run_.buttonsVisible()) return;
  NoteStartupStep("check-started");
  // The result is kept first, as OK keeps it: whatever the check shows, the frame has it.
  end_ = RunEnd::Kept;
  run_.Finish(true);
  checking_ = true;
  // Each point's 20 s count from when it shows, not from the run's last tick.
  timer_.Start(hwnd(), kBlinkTimer, kBlinkPeriodMs);
  for (int id : {IDOK, IDCANCEL, IDC_CHECK}) ui::ShowItem(hwnd(), id, false);
  RECT client{};
  GetClientRect(hwnd(), &client);
  check_.Start(client.right - client.left, client.bottom - client.top);
  PlaceCheckTexts();
  ShowInstruction(UnescapePercent(messages_.LoadText(IDS_CHECK_INSTRUCTION)));
  ShowCheckCountdown();
  InvalidateRect(hwnd(), nullptr, TRUE);
}

void CCalibrationDlg::PlaceCheckTexts() {
  FitInstruction();
  ui::MoveItem(hwnd(), IDC_COUNTDOWN, checkLayout_.countdown.x, checkLayout_.countdown.y);
}

void CCalibrationDlg::OnCheckTouch(POINT at) {
  const int i = check_.current();
  if (!check_.Touch({at.x, at.y})) return;
  ui::SetItemText(hwnd(), DistanceId(i), LabelText(check_.distance(i), checkTexts_));
  ui::ShowItem(hwnd(), DistanceId(i), true);
  RedrawCheckPoint(i);
  if (check_.running()) {
    timer_.Start(hwnd(), kBlinkTimer, kBlinkPeriodMs);
    RedrawCheckPoint(check_.current());
    ShowCheckCountdown();  // the next point's full time
    return;
  }
  ShowCheckEnd();
}

void CCalibrationDlg::OnCheckTick() {
  if (!check_.running()) return;
  if (!check_.Tick()) {
    // A point not touched in time ends the check, and the program: the frame keeps the result.
    EndAfterCheck();
    return;
  }
  ShowCheckCountdown();
}

void CCalibrationDlg::ShowCheckCountdown() {
  ui::SetItemText(
      hwnd(), IDC_COUNTDOWN,
      CountdownText(UnescapePercent(messages_.LoadText(IDS_COUNTDOWN_BEFORE)), check_.secondsLeft(),
                    UnescapePercent(messages_.LoadText(IDS_COUNTDOWN_AFTER))));
}

void CCalibrationDlg::ShowCheckEnd() {
  ui::ShowItem(hwnd(), IDC_COUNTDOWN, false);
  ShowInstruction(SummaryText(check_, checkTexts_));
  ui::ShowItem(hwnd(), IDC_DONE, true);
  ui::ShowItem(hwnd(), IDC_CALIBRATE_AGAIN, true);
  NoteStartupStep("check-complete");
}

void CCalibrationDlg::EndAfterCheck() {
  if (closing_) return;
  closing_ = true;
  NoteStartupStep("close-asked");
  timer_.Stop();
  // A refusal of the end is said before the window goes.
  tasks_.RunPending();
  EndDialog(IDOK);
}

void CCalibrationDlg::CalibrateAgain() {
  if (closing_ || !checking_ || check_.running()) return;
  NoteStartupStep("calibrate-again");
  checking_ = false;
  std::vector<int> ids{IDC_DONE, IDC_CALIBRATE_AGAIN};
  for (int i = 0; i < kCheckPointCount; ++i) ids.push_back(DistanceId(i));
  for (int id : ids) ui::ShowItem(hwnd(), id, false);
  ui::ShowItem(hwnd(), IDC_COUNTDOWN, true);
  // As at the start: the controls at their places, the first target with its countdown, then
  // the opening conversation once the window has drawn it.
  LayOut();
  run_.Restart();
  end_ = RunEnd::Abandoned;
  FieldsToControls();
  run_.BeginCollecting();
  timer_.Start(hwnd(), kBlinkTimer, kBlinkPeriodMs);
  cursor_.Hide();
  InvalidateRect(hwnd(), nullptr, TRUE);
  PostMessageW(hwnd(), WM_OPEN_CONVERSATION, 0, 0);
}

bool CCalibrationDlg::OnCommand(int id, int code, HWND) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_CHECK:
      StartCheck();
      return true;
    case IDC_DONE:
      if (checking_ && !check_.running()) EndAfterCheck();
      return true;
    case IDC_CALIBRATE_AGAIN:
      CalibrateAgain();
      return true;
    default:
      return false;
  }
}

void CCalibrationDlg::RedrawCheckPoint(int i) {
  if (i < 0 || i >= kCheckPointCount) return;
  const Point p = check_.point(i);
  const RECT r{p.x - cross_.cx / 2, p.y - cross_.cy / 2, p.x - cross_.cx / 2 + cross_.cx,
               p.y - cross_.cy / 2 + cross_.cy};
  InvalidateRect(hwnd(), &r, TRUE);
}

void CCalibrationDlg::PaintCheck(HDC dc) {
  win32::UniquePen waiting(CreatePen(PS_SOLID, 1, kWaitingPen));
  win32::UniquePen touched(CreatePen(PS_SOLID, 1, kTouchedPen));
  const int shown = std::min(check_.current() + (check_.running() ? 1 : 0), kCheckPointCount);
  for (int i = 0; i < shown; ++i) {
    const bool isWaiting = check_.running() && i == check_.current();
    ui::SelectGuard pen(dc, isWaiting ? waiting.get() : touched.get());
    const Point p = check_.point(i);
    const int left = p.x - cross_.cx / 2;
    const int top = p.y - cross_.cy / 2;
    for (const Segment& s : Crosshair(cross_.cx, cross_.cy)) {
      MoveToEx(dc, left + s.from.x, top + s.from.y, nullptr);
      LineTo(dc, left + s.to.x, top + s.to.y);
    }
    for (const auto& bracket : CornerBrackets(cross_.cx, cross_.cy)) {
      POINT points[3];
      for (int k = 0; k < 3; ++k) points[k] = {left + bracket[k].x, top + bracket[k].y};
      Polyline(dc, points, 3);
    }
  }
}

}  // namespace tactra::calib
