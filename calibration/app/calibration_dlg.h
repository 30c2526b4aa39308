// The calibration program's only window: the full-screen run. It owns the link to the frame,
// moves the run's state to its controls, draws the targets and takes the ways out.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "calibration/check.h"
#include "calibration/run.h"
#include "calibration/run_layout.h"
#include "common/settings_store.h"
#include "common/win32/handles_win32.h"
#include "common/win32/message_box_win32.h"
#include "device/hid_host.h"
#include "device/link.h"
#include "device/link_start.h"
#include "programs/win32/program_window_win32.h"
#include "ui/dialog.h"
#include "ui/program_icon.h"
#include "ui/scopes.h"
#include "ui/window_tasks.h"

namespace tactra::calib {

// Posted by the reader worker after the last target.
constexpr UINT WM_CALIBRATION_COMPLETE = WM_USER + 101;
// Work handed over by other threads: the run's refusals, and the notices of a host with a
// thread of its own (a queue of their own, so that they are not held with the refusals).
using ui::WM_WINDOW_TASKS;
constexpr UINT WM_NOTICE_TASKS = WM_APP + 3;
// Posted to itself at start: the opening conversation runs once the window is on screen.
constexpr UINT WM_OPEN_CONVERSATION = WM_APP + 2;
// WM_POINTERDOWN: touch and pen from Windows 8 on; the headers of the Windows 7 build hide it.
constexpr UINT kPointerDown = 0x0246;
constexpr UINT_PTR kBlinkTimer = 1;
constexpr UINT kBlinkPeriodMs = 500;

class CCalibrationDlg : public ProgramWindow, private RunPort, private RunComputer, private LinkOwner {
 public:
  // `host` is the one ChooseHidHost gives: never null. The run covers the monitor
  // `chooseMonitor` gives, asked when the window is made.
  CCalibrationDlg(HINSTANCE resources, ResourceMessages& messages, SettingsStore& settings,
                  std::unique_ptr<HidHost> host, std::function<ScreenRect()> chooseMonitor);
  ~CCalibrationDlg() override;
  // Before the window is made: the link starts meanwhile, on a thread of its own.
  void BeginLinkStart() { linkStart_.Begin(); }
  // Once the window has gone: how the run ended.
  RunEnd end() const { return ReportedEnd(end_, refused_); }

 protected:
  void FieldsToControls() override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnDestroy() override;
  bool OnProgramMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
  bool OnTimer(UINT_PTR id) override;
  bool OnPaint() override {
    Paint();
    return true;
  }
  bool OnControlColour(UINT message, HDC dc, HWND control, HBRUSH& brush) override;
  bool OnDrawItem(const DRAWITEMSTRUCT& item) override;
  bool OnCommand(int id, int code, HWND control) override;
  // What other threads handed over; held while the opening conversation waits, so that no box
  // opens inside its wait.
  void OnWindowTasks() override;
  void OnNotice(DeviceNotice notice, const std::wstring& path) override;

 private:
  // RunPort.
  void Pause(std::chrono::milliseconds duration) override;
  void PostCompletion() override;
  bool Interrupted() const override { return closeRequest_ != CloseRequest::None || noticeStops_; }
  void PostRefusal() override;
  void RedrawTargets() override;
  // RunComputer.
  RunResult Compute(int mode, const MeasuredTargets& targets) override;
  // LinkOwner (reader workers).
  void OnDeviceReply(const uint8_t* report, std::size_t length) override;
  void OnTouchReport(const uint8_t* report, std::size_t length) override;
  void OnLinkEvent(LinkEvent event) override;

  void LayOut();
  void CreateTextFont();
  // The instruction's text, on as many lines as it needs within the monitor.
  void ShowInstruction(const std::wstring& text);
  void FitInstruction();
  int TextHeight(const std::wstring& text, int width) const;
  void RegisterNotices();
  void OnBlink();
  void Paint();
  void DrawTarget(HDC target, int slot);
  void OnCompletion();
  void OnOpenConversation();
  void OkPath();
  void CancelPath(RunEnd why = RunEnd::Abandoned);
  // Tells the frame to keep or drop the result (the run's Finish), then the dialog ends.
  void ClosePath(bool keep, RunEnd why = RunEnd::Abandoned);
  void ShowButtons();

  // The check after a kept result (calibration_dlg_check.cpp).
  void PrepareCheck();
  void LayOutCheck(const RunLayout& run);
  void StartCheck();
  void PlaceCheckTexts();
  // A touch or a click at a point of the window while a check point waits.
  void OnCheckTouch(POINT at);
  void OnCheckTick();
  void ShowCheckCountdown();
  void ShowCheckEnd();
  // The result was kept when the check began: the window just goes.
  void EndAfterCheck();
  void CalibrateAgain();
  void PaintCheck(HDC dc);
  void RedrawCheckPoint(int i);
  HBRUSH ControlColour(UINT message, HDC dc, HWND control);

  ResourceMessages& messages_;
  SettingsStore& settings_;
  std::unique_ptr<HidHost> host_;
  Link link_;  // after the host it uses
  LinkStart linkStart_;
  std::unique_ptr<NoticeRegistration> notices_;
  CalibrationRun run_;
  ui::WindowTasks tasks_{WM_WINDOW_TASKS};
  ui::WindowTasks noticeTasks_{WM_NOTICE_TASKS};

  // Asked once the link's start is under way: looking at the monitors takes time under way too.
  std::function<ScreenRect()> chooseMonitor_;
  ScreenRect monitor_{};
  RunLayout runLayout_{};
  int dpi_ = 96;
  SIZE instructionTemplate_{};  // at dpi_
  int osClass_ = 0;
  int orientation_ = 0;
  bool closing_ = false;
  RunEnd end_ = RunEnd::Abandoned;  // the path the run ended by
  bool refused_ = false;            // the frame refused a command of the run
  bool startupNoted_ = false;
  // While the opening conversation waits, the window goes on handling its messages; a way out
  // taken meanwhile is carried out once the conversation has stopped, and so is a completion.
  enum class CloseRequest { None, Keep, Abandon };
  bool conversing_ = false;
  CloseRequest closeRequest_ = CloseRequest::None;
  bool completionPending_ = false;
  bool tasksHeld_ = false;  // tasks came while the conversation waited
  // Notices that came while the conversation waited: taken once it has stopped (the link must
  // not be bound again under its wait); the removal of the frame stops it.
  std::vector<std::pair<DeviceNotice, std::wstring>> heldNotices_;
  bool noticeStops_ = false;

  win32::UniqueIcon okIcon_;
  win32::UniqueIcon cancelIcon_;
  win32::UniqueBrush background_;
  win32::UniqueFont textFont_;
  ui::WindowTimer timer_;
  ui::CursorHider cursor_;
  std::array<RECT, kTargetSlots> targets_{};

  CalibrationCheck check_;
  bool checking_ = false;  // from Check until the window goes or the run starts again
  CheckLayout checkLayout_;
  CheckTexts checkTexts_;
  SIZE cross_{};  // a check point's cross: the size of a target
};

}  // namespace tactra::calib
