// The calibration program's only window: the full-screen run. It owns the link to the frame,
// moves the run's state to its controls, draws the targets and takes the ways out.
#pragma once

#include <windows.h>

#include <array>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "calibration/run.h"
#include "common/settings_store.h"
#include "common/win32/message_box.h"
#include "device/hid_host.h"
#include "device/link.h"
#include "ui/dialog.h"
#include "ui/handles.h"

namespace tactra::calib {

// Posted by the reader worker after the last target.
constexpr UINT WM_CALIBRATION_COMPLETE = WM_USER + 101;
// Posted when a notice of the simulated frame's host is waiting in the queue.
constexpr UINT WM_DEVICE_NOTICE = WM_APP + 1;
constexpr UINT_PTR kBlinkTimer = 1;
constexpr UINT kBlinkPeriodMs = 500;

class CCalibrationDlg : public ui::Dialog, private RunPort, private RunComputer, private LinkOwner {
 public:
  CCalibrationDlg(HINSTANCE resources, ResourceMessages& messages, SettingsStore& settings,
                  std::unique_ptr<HidHost> host);
  ~CCalibrationDlg() override;

 protected:
  void FieldsToControls() override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void OnDestroy() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  // RunPort.
  int GetLinkState() const override;
  void SetLinkState(int state) override;
  bool Transact(const uint8_t* report, std::size_t length) override;
  void Pause(std::chrono::milliseconds duration) override;
  void PostCompletion() override;
  // RunComputer.
  RunResult Compute(int mode, const MeasuredTargets& targets) override;
  // LinkOwner (reader workers).
  void OnDeviceReply(const uint8_t* report, std::size_t length) override;
  void OnTouchReport(const uint8_t* report, std::size_t length) override;
  void OnLinkMessage(int textId, int captionId) override;

  void AddAboutItem();
  void LayOut();
  void CreateTextFont();
  void RegisterNotices();
  void OnTimer();
  void OnPaint();
  void DrawTarget(HDC target, int slot);
  void OnCompletion();
  void OnNotice(DeviceNotice notice, const std::wstring& path);
  void DrainNotices();
  void OkPath();
  void CancelPath();
  // CMD_CAL_END [1] or [0] (or message 1065), 500 ms, then the dialog ends.
  void ClosePath(bool keep);
  void ShowButtons();
  INT_PTR OnControlColour(UINT message, HDC dc, HWND control);

  ResourceMessages& messages_;
  SettingsStore& settings_;
  std::unique_ptr<HidHost> host_;
  std::unique_ptr<Link> link_;
  std::unique_ptr<NoticeRegistration> notices_;
  CalibrationRun run_;

  int osClass_ = 0;
  int orientation_ = 0;
  bool closing_ = false;
  bool startupNoted_ = false;

  ui::UniqueIcon icon_;
  ui::UniqueIcon smallIcon_;
  ui::UniqueIcon okIcon_;
  ui::UniqueIcon cancelIcon_;
  ui::UniqueBrush background_;
  ui::UniqueFont textFont_;
  ui::WindowTimer timer_;
  ui::CursorHider cursor_;
  std::array<RECT, kTargetSlots> targets_{};

  // Notices of a host that calls back from its own thread, handed to the window.
  std::mutex noticeMutex_;
  std::deque<std::pair<DeviceNotice, std::wstring>> noticeQueue_;
};

}  // namespace tactra::calib
