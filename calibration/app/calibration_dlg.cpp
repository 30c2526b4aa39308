#include "calibration/app/calibration_dlg.h"

#include <algorithm>

#include "calibration/app/startup_steps.h"
#include "calibration/compute.h"
#include "calibration/double_click.h"
#include "calibration/run_layout.h"
#include "common/win32/system_facts_win32.h"
#include "device/win32/hid_host_win32.h"
#include "resources/kelvane_ids.h"
#include "ui/about_dlg.h"
#include "ui/controls.h"
#include "ui/dpi.h"
#include "ui/icon_button.h"
#include "ui/message_pump.h"

namespace tactra::calib {

namespace {

constexpr COLORREF kBackground = RGB(224, 224, 224);
constexpr int kTextHeight = 24;

}  // namespace

CCalibrationDlg::CCalibrationDlg(HINSTANCE resources, ResourceMessages& messages, SettingsStore& settings,
                                 std::unique_ptr<HidHost> host, std::function<ScreenRect()> chooseMonitor)
    : ProgramWindow(resources, IDD_CALIBRATION, IDR_MAINFRAME),
      messages_(messages),
      settings_(settings),
      host_(std::move(host)),
      link_(*host_, CalibrationLinkConfig()),
      linkStart_(link_, *this, [this] { return link_.Start(); }),
      run_(link_, *this, messages, *this),
      chooseMonitor_(std::move(chooseMonitor)) {}

CCalibrationDlg::~CCalibrationDlg() {
  // The window normally ended the link already; this covers a dialog that never opened.
  linkStart_.Wait();
  notices_.reset();
  link_.End();
}

void CCalibrationDlg::FieldsToControls() {
  ShowInstruction(run_.instructionText());
  ui::SetItemText(hwnd(), IDC_COUNTDOWN, run_.countdownText());
}

BOOL CCalibrationDlg::OnInitDialog() {
  NoteStartupStep("dialog-init");
  // Every message of the run, the double-click adjustment's included, is owned by the run.
  messages_.SetOwner(hwnd());
  tasks_.Attach(hwnd());
  noticeTasks_.Attach(hwnd());
  SetWindowTextW(hwnd(), UnescapePercent(messages_.LoadText(IDS_CAPTION)).c_str());
  ui::AddAboutItem(hwnd(), UnescapePercent(messages_.LoadText(IDS_ABOUTBOX)));
  icon().SetOn(hwnd());
  background_.reset(CreateSolidBrush(kBackground));

  monitor_ = chooseMonitor_();
  dpi_ = ui::WindowDpi(hwnd());
  instructionTemplate_ = ui::ItemSize(hwnd(), IDC_INSTRUCTION);
  CreateTextFont();
  LayOut();
  const int buttonIcon = ui::ItemSize(hwnd(), IDOK).cy >= 40 ? 32 : 16;
  okIcon_.reset(ui::LoadIconSized(resources(), IDI_BUTTON_OK, buttonIcon));
  cancelIcon_.reset(ui::LoadIconSized(resources(), IDI_BUTTON_CANCEL, buttonIcon));
  for (int slot = 0; slot < kTargetSlots; ++slot) {
    targets_[slot] = ui::ItemClientRect(hwnd(), IDC_TARGET_CENTRE + slot);
  }
  PrepareCheck();

  NoteStartupStep("laid-out");
  osClass_ = DetectWindowsClass();
  orientation_ = DetectDisplayOrientation(orientation_);
  NoteStartupStep("display-read");
  AdjustDoubleClick(settings_, messages_);

  // From the first moment: a frame unplugged or plugged again while the run starts is seen,
  // also before the window listened for notices.
  RegisterNotices();
  NoteStartupStep("link-start");
  std::vector<std::pair<DeviceNotice, std::wstring>> missed;
  const bool started = linkStart_.Finish(
      [&missed](DeviceNotice notice, const std::wstring& path) { missed.emplace_back(notice, path); });
  NoteStartupStep("link-started");
  if (!started) {
    messages_.ShowResourceMessage(IDS_NO_FRAME, IDS_NO_FRAME_CAPTION, L"");
    CancelPath(RunEnd::NoFrame);
    return FALSE;
  }
  for (const auto& [notice, path] : missed) {
    noticeTasks_.Post([this, notice = notice, path = path] { OnNotice(notice, path); });
  }
  // The first target and its countdown run from now on, also while the frame takes its time
  // to answer the opening conversation, which starts once the window is on screen.
  timer_.Start(hwnd(), kBlinkTimer, kBlinkPeriodMs);
  run_.BeginCollecting();
  ui::ShowItem(hwnd(), IDOK, false);
  ui::ShowItem(hwnd(), IDCANCEL, false);
  cursor_.Hide();
  PostMessageW(hwnd(), WM_OPEN_CONVERSATION, 0, 0);
  return TRUE;
}

void CCalibrationDlg::OnOpenConversation() {
  if (closing_) return;
  conversing_ = true;
  HWND window = hwnd();
  link_.SetReplyWaiter([this, window](const Event& reply, std::chrono::milliseconds timeout) {
    return ui::WaitHandlingMessages(window, static_cast<HANDLE>(reply.native()),
                                    static_cast<DWORD>(timeout.count()), [this] { return Interrupted(); });
  });
  run_.OpenConversation();
  link_.SetReplyWaiter(nullptr);
  conversing_ = false;
  NoteStartupStep("conversation-opened");
  // What came meanwhile runs from the window's own loop, not inside this handler.
  if (tasksHeld_) PostMessageW(hwnd(), WM_WINDOW_TASKS, 0, 0);
  if (closeRequest_ != CloseRequest::None) {
    ClosePath(closeRequest_ == CloseRequest::Keep);
    return;
  }
  std::vector<std::pair<DeviceNotice, std::wstring>> held;
  held.swap(heldNotices_);
  noticeStops_ = false;
  for (const auto& notice : held) OnNotice(notice.first, notice.second);
  if (completionPending_) OnCompletion();
}

void CCalibrationDlg::LayOut() {
  auto extent = [this](int id) {
    const SIZE s = ui::ItemSize(hwnd(), id);
    return Extent{s.cx, s.cy};
  };
  const Extent target = extent(IDC_TARGET_CENTRE);
  const RunLayout layout =
      ComputeRunLayout(monitor_, target, Extent{instructionTemplate_.cx, instructionTemplate_.cy},
                       extent(IDC_COUNTDOWN), extent(IDOK), extent(IDCANCEL));
  runLayout_ = layout;
  SetWindowPos(hwnd(), nullptr, layout.window.left, layout.window.top, layout.window.width,
               layout.window.height, SWP_NOZORDER | SWP_NOACTIVATE);
  for (int slot = 0; slot < kTargetSlots; ++slot) {
    if (HWND item = Item(IDC_TARGET_CENTRE + slot)) {
      SetWindowPos(item, nullptr, layout.targets[slot].x, layout.targets[slot].y, target.w, target.h,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
  ui::MoveItem(hwnd(), IDC_COUNTDOWN, layout.countdown.x, layout.countdown.y);
  ui::MoveItem(hwnd(), IDOK, layout.ok.x, layout.ok.y);
  ui::MoveItem(hwnd(), IDCANCEL, layout.cancel.x, layout.cancel.y);
  LayOutCheck(layout);  // during a check, it places the check's texts
  if (!checking_) FitInstruction();
}

void CCalibrationDlg::ShowInstruction(const std::wstring& text) {
  if (text == ui::GetItemText(hwnd(), IDC_INSTRUCTION)) return;
  ui::SetItemText(hwnd(), IDC_INSTRUCTION, text);
  FitInstruction();
}

void CCalibrationDlg::FitInstruction() {
  const Extent size = runLayout_.instructionSize;
  if (size.w <= 0) return;  // not laid out yet: the layout fits it
  const int height = std::max(size.h, TextHeight(ui::GetItemText(hwnd(), IDC_INSTRUCTION), size.w));
  // In the run it grows upwards, clear of the countdown; in the check it hangs from the top.
  const Point at = checking_ ? checkLayout_.instruction
                             : Point{runLayout_.instruction.x, InstructionTop(runLayout_, height)};
  SetWindowPos(Item(IDC_INSTRUCTION), nullptr, at.x, at.y, size.w, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The height of `text` wrapped within `width`, as the centred static control wraps it.
int CCalibrationDlg::TextHeight(const std::wstring& text, int width) const {
  ui::WindowDc dc(hwnd());
  ui::SelectGuard font(dc.get(), textFont_.get());
  RECT r{0, 0, width, 0};
  DrawTextW(dc.get(), text.c_str(), static_cast<int>(text.size()), &r,
            DT_CALCRECT | DT_WORDBREAK | DT_CENTER | DT_NOPREFIX);
  return r.bottom - r.top;
}

void CCalibrationDlg::CreateTextFont() {
  // The texts are as large on a scaled monitor as the controls around them. The old font goes
  // only once no control uses it.
  win32::UniqueFont font(CreateFontW(ui::ScaleToDpi(kTextHeight, dpi_), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                     FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                     DEFAULT_QUALITY, FF_SWISS, L"Arial"));
  for (int id : {IDC_INSTRUCTION, IDC_COUNTDOWN, IDOK, IDCANCEL, IDC_CHECK, IDC_DONE, IDC_CALIBRATE_AGAIN,
                 IDC_CHECK_DISTANCE_0, IDC_CHECK_DISTANCE_1, IDC_CHECK_DISTANCE_2, IDC_CHECK_DISTANCE_3,
                 IDC_CHECK_DISTANCE_4}) {
    SendDlgItemMessageW(hwnd(), id, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
  }
  textFont_ = std::move(font);
}

void CCalibrationDlg::RegisterNotices() {
  // The system's notices arrive as WM_DEVICECHANGE; a host with a thread of its own hands them
  // to the window's thread.
  notices_ =
      link_.RegisterArrivalNotifications(hwnd(), [this](DeviceNotice notice, const std::wstring& path) {
        noticeTasks_.Post([this, notice, path] { OnNotice(notice, path); });
      });
}

void CCalibrationDlg::OnWindowTasks() {
  if (conversing_) {
    tasksHeld_ = true;
    return;
  }
  tasksHeld_ = false;
  tasks_.RunPending();
}

void CCalibrationDlg::PostRefusal() {
  tasks_.Post([this] {
    refused_ = true;
    messages_.ShowResourceMessage(IDS_REFUSED, IDS_CAPTION, L"");
  });
}

void CCalibrationDlg::OnNotice(DeviceNotice notice, const std::wstring& path) {
  if (closing_) return;
  if (conversing_) {
    heldNotices_.emplace_back(notice, path);
    if (notice == DeviceNotice::Removal && link_.IsBoundPath(path)) noticeStops_ = true;
    return;
  }
  if (link_.OnDeviceNotice(notice, path) != NoticeOutcome::Removed) return;
  timer_.Stop();
  messages_.ShowResourceMessage(IDS_FRAME_REMOVED, IDS_CAPTION, L"");
  cursor_.Show();
  CancelPath(RunEnd::Removed);
}

void CCalibrationDlg::OnBlink() {
  if (closing_) return;
  if (checking_) {
    OnCheckTick();
    return;
  }
  const TickAction action = run_.OnTimer();
  RedrawTargets();
  if (action == TickAction::Cancel) {
    timer_.Stop();
    CancelPath(RunEnd::TimedOut);
    return;
  }
  FieldsToControls();
  ShowButtons();
}

void CCalibrationDlg::ShowButtons() {
  if (!run_.buttonsVisible()) return;
  ui::ShowItem(hwnd(), IDOK, run_.okAvailable());
  ui::ShowItem(hwnd(), IDCANCEL, true);
  // Only a result the frame was given can be checked.
  ui::ShowItem(hwnd(), IDC_CHECK, run_.okAvailable());
}

void CCalibrationDlg::OnCompletion() {
  // A run that started again in another mode meanwhile is not complete any more.
  if (closing_ || !run_.done()) return;
  if (conversing_) {
    completionPending_ = true;  // the result is written once the conversation is done
    return;
  }
  completionPending_ = false;
  // The cursor count belongs to this thread, so the cursor comes back here, not on the worker.
  cursor_.Show();
  run_.WriteResult();
  RedrawTargets();
}

void CCalibrationDlg::OnOK() {
  if (checking_) {
    // Enter is Done once the check has ended; during it, a key must not take a point.
    if (!check_.running()) EndAfterCheck();
    return;
  }
  // Enter keeps a calibration only once one was computed and written.
  if (!run_.done() || !run_.okAvailable() || !run_.buttonsVisible()) return;
  OkPath();
}

void CCalibrationDlg::OnCancel() {
  if (checking_) {
    EndAfterCheck();
    return;
  }
  CancelPath();
}

void CCalibrationDlg::OkPath() { ClosePath(true); }

void CCalibrationDlg::CancelPath(RunEnd why) { ClosePath(false, why); }

void CCalibrationDlg::ClosePath(bool keep, RunEnd why) {
  if (closing_) return;
  // The first reason to end is the one the run ended by; a later one finds the path taken.
  if (closeRequest_ == CloseRequest::None) end_ = keep ? RunEnd::Kept : why;
  if (conversing_) {
    // A command is under way: the conversation stops after it, then the path is taken.
    if (closeRequest_ == CloseRequest::None)
      closeRequest_ = keep ? CloseRequest::Keep : CloseRequest::Abandon;
    return;
  }
  closing_ = true;
  NoteStartupStep("close-asked");
  timer_.Stop();
  // Closed in any case: a full-screen window that ignores OK and Cancel would trap the user.
  struct EndOnExit {
    CCalibrationDlg& dialog;
    INT_PTR result;
    ~EndOnExit() { dialog.EndDialog(result); }
  } end{*this, keep ? IDOK : IDCANCEL};
  run_.Finish(keep);
  // A refusal of the end is said before the window goes.
  tasks_.RunPending();
}

void CCalibrationDlg::OnDestroy() {
  timer_.Stop();
  cursor_.Show();
  notices_.reset();
  tasks_.Detach();
  noticeTasks_.Detach();
  link_.End();
  NoteStartupStep("link-ended");
  messages_.SetOwner(nullptr);
}

bool CCalibrationDlg::OnTimer(UINT_PTR id) {
  if (id != kBlinkTimer) return false;
  OnBlink();
  return true;
}

bool CCalibrationDlg::OnControlColour(UINT message, HDC dc, HWND control, HBRUSH& brush) {
  const bool ours = message == WM_CTLCOLORDLG || message == WM_CTLCOLORSTATIC || message == WM_CTLCOLOREDIT ||
                    message == WM_CTLCOLORBTN;
  if (!ours || !background_) return false;
  brush = ControlColour(message, dc, control);
  return true;
}

bool CCalibrationDlg::OnDrawItem(const DRAWITEMSTRUCT& item) {
  switch (item.CtlID) {
    case IDOK:
    case IDC_DONE:
      ui::DrawIconButton(item, okIcon_.get());
      return true;
    case IDCANCEL:
      ui::DrawIconButton(item, cancelIcon_.get());
      return true;
    case IDC_CHECK:
    case IDC_CALIBRATE_AGAIN:
      ui::DrawIconButton(item, nullptr);
      return true;
    default:
      return false;
  }
}

bool CCalibrationDlg::OnProgramMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  switch (message) {
    case WM_LBUTTONDOWN:
      if (!checking_) return false;
      OnCheckTouch({static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      return true;
    case kPointerDown: {
      if (!checking_) return false;
      // Touch and pen, in screen coordinates; handled here, so the system makes no click of it.
      POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      ScreenToClient(hwnd(), &at);
      OnCheckTouch(at);
      return true;
    }
    case WM_CALIBRATION_COMPLETE:
      OnCompletion();
      result = 1;
      return true;
    case WM_NOTICE_TASKS:
      noticeTasks_.RunPending();
      return true;
    case WM_OPEN_CONVERSATION:
      OnOpenConversation();
      return true;
    case WM_DPICHANGED: {
      // Moved onto a monitor of another scaling (the window is made on the primary): the run
      // keeps covering its own monitor, at its pixels, rather than take the rectangle the system
      // scales for it; the system scales the controls, the program its own font.
      const int dpi = HIWORD(wParam);
      instructionTemplate_ = {MulDiv(instructionTemplate_.cx, dpi, dpi_),
                              MulDiv(instructionTemplate_.cy, dpi, dpi_)};
      dpi_ = dpi;
      CreateTextFont();
      LayOut();
      result = 0;
      return true;
    }
    default:
      return false;
  }
}

// RunPort ------------------------------------------------------------------------------------

void CCalibrationDlg::Pause(std::chrono::milliseconds duration) {
  const DWORD ms = static_cast<DWORD>(duration.count());
  // During the opening conversation the window stays alive through the pauses too.
  if (conversing_) {
    ui::WaitHandlingMessages(hwnd(), nullptr, ms, [this] { return Interrupted(); });
    return;
  }
  Sleep(ms);
}

void CCalibrationDlg::PostCompletion() { PostMessageW(hwnd(), WM_CALIBRATION_COMPLETE, 0, 0); }

void CCalibrationDlg::RedrawTargets() {
  for (const RECT& rect : targets_) InvalidateRect(hwnd(), &rect, FALSE);
}

RunResult CCalibrationDlg::Compute(int mode, const MeasuredTargets& targets) {
  CalibrationInput input;
  input.mode = mode;
  input.osClass = osClass_;
  input.orientation = orientation_;
  input.rx = targets.rx;
  input.ry = targets.ry;
  const CalibrationResult computed = ComputeCalibration(input);
  RunResult result;
  result.ok = computed.ok;
  result.payload = computed.payload;
  return result;
}

// LinkOwner ----------------------------------------------------------------------------------

void CCalibrationDlg::OnDeviceReply(const uint8_t* report, std::size_t length) {
  run_.OnDeviceReply(report, length);
}

void CCalibrationDlg::OnTouchReport(const uint8_t* report, std::size_t length) {
  run_.HandleSample(report, length);
}

void CCalibrationDlg::OnLinkEvent(LinkEvent event) {
  if (event == LinkEvent::EnumerationOutOfMemory)
    messages_.ShowResourceMessage(IDS_OUT_OF_MEMORY, IDS_CAPTION, L"");
}

}  // namespace tactra::calib
