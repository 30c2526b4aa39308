// The calibration run without its window: the opening conversation with the frame, the
// collection of samples on the reader worker, the timer with its countdown, what each target
// shows, completion and the OK and Cancel paths. The dialog moves this state to the screen.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "common/messages.h"
#include "device/link_port.h"
#include "device/protocol.h"

namespace tactra::calib {

constexpr int kTargetSlots = 9;     // one target control per grid point
constexpr int kSeriesLength = 100;  // samples per series
constexpr int kSeriesDropped = 10;  // the first samples of a series are not averaged
constexpr int kStrayLimit = 20;     // raw units a sample may stray from the series
constexpr int kMinTargetSpacing = 1000;
constexpr int kTargetTimeoutTicks = 40;
constexpr int kCompletionTimeoutTicks = 60;

// The target control (counted from the centre's, IDC_TARGET_CENTRE) that shows target k of a
// mode; -1 outside the mode's targets.
int TargetSlot(int mode, int k);

// Touch state of the latest sample.
enum class Touch { Unknown = 3, Touching = 1, NotTouching = 2 };

// Pen of a target's marks.
enum class MarkPen { Default, Current, Taken };

struct TargetMarks {
  bool crosshair = false;
  bool brackets = false;
  MarkPen pen = MarkPen::Default;
};

// What the run needs of the dialog around it (the link is reached through its port).
class RunPort {
 public:
  virtual ~RunPort() = default;
  virtual void Pause(std::chrono::milliseconds duration) = 0;
  // Reader worker, after the last target: ask the user-interface thread to write the result.
  virtual void PostCompletion() = 0;
  // True once the user or the clock has asked the run to end: the opening conversation then
  // sends nothing more.
  virtual bool Interrupted() const { return false; }
  // Reader worker: the frame refused a command; the window's thread says so (message 1066).
  virtual void PostRefusal() = 0;
  // Window thread: the targets' marks changed (the mode is known); they are drawn anew at once.
  virtual void RedrawTargets() = 0;
};

// The measured points of the targets in the order they were taken.
struct MeasuredTargets {
  std::array<uint16_t, kTargetSlots> rx{};
  std::array<uint16_t, kTargetSlots> ry{};
};

// The computation the run calls on the reader worker at completion. `ok` false: no result
// can be written (a degenerate four-point fit).
struct RunResult {
  bool ok = false;
  proto::ResultPayload payload;
};

class RunComputer {
 public:
  virtual ~RunComputer() = default;
  virtual RunResult Compute(int mode, const MeasuredTargets& targets) = 0;
};

// What the timer asks of the dialog.
enum class TickAction { Continue, Cancel };

// How a run ended: the program's exit code, for whoever started it.
enum class RunEnd : int {
  Kept = 0,       // OK: the frame keeps the result
  Abandoned = 1,  // Cancel, Escape or the window closed
  NoFrame = 2,    // no frame at the start
  TimedOut = 3,   // a target or the completion ran out of time
  Removed = 4,    // the frame went during the run
  Refused = 5,    // the frame refused a command of the run
  NotRun = 6,     // no run: the program's language module is missing
};

// A refusal outweighs how the run was ended, since the frame may not keep what it refused;
// a frame that was never there or went outweighs both.
constexpr RunEnd ReportedEnd(RunEnd how, bool refused) {
  if (how == RunEnd::NoFrame || how == RunEnd::Removed || !refused) return how;
  return RunEnd::Refused;
}

class CalibrationRun {
 public:
  CalibrationRun(LinkPort& link, RunPort& port, Messages& messages, RunComputer& computer);
  CalibrationRun(const CalibrationRun&) = delete;
  CalibrationRun& operator=(const CalibrationRun&) = delete;

  // The opening conversation once the link has started: asks the frame its mode, then starts
  // its calibration, each followed by its pause (proto::pacing). While no frame is bound each
  // command is replaced by the not-connected message; an interruption ends it after the step
  // under way.
  void OpenConversation();
  // Target 0 is due. It is shown once the frame has said its mode, or from the first tick when
  // it does not; samples count once it has been drawn.
  void BeginCollecting();
  // User-interface thread, after painting the targets as MarksFor said while generation() was
  // `generation`: the current target is on screen, so samples count from now on.
  void OnTargetsDrawn(int generation);
  // Changes whenever the targets start again in another mode.
  int generation() const { return generation_.load(); }

  // Reader worker: an accepted reply of the calibration channel. The mode is taken only from
  // the answer to the run's own mode request, within its wait; when it names another mode after
  // the first target was on screen, the targets start again from the new mode's first.
  void OnDeviceReply(const uint8_t* report, std::size_t length);
  // Reader worker: a touch report (62 bytes) or a CMD_CAL_SAMPLE payload (5 bytes).
  void HandleSample(const uint8_t* report, std::size_t length);
  // One touching sample for target `k`, as the reader worker took it before it held the series.
  // Nothing happens when the run has moved past `k` meanwhile (another worker accepted it).
  void TakeSample(int k, uint16_t x, uint16_t y);

  // User-interface thread, on each tick of the run's timer.
  TickAction OnTimer();
  // User-interface thread, on the completion message: writes the result for the mode.
  // Returns false when there was no result to write.
  bool WriteResult();
  // The end of both paths: CMD_CAL_END telling the frame to keep the result or drop it (or the
  // not-connected message), then the pause before closing.
  void Finish(bool ok);
  // User-interface thread, after a finished run: back to the state of a new run (the initial
  // mode, no target, no samples, no result), for another run in the same window; the opening
  // conversation and BeginCollecting follow as at the start.
  void Restart();

  // What the dialog shows.
  const std::wstring& instructionText() const { return instruction_; }
  const std::wstring& countdownText() const { return countdown_; }
  bool buttonsVisible() const { return buttonsVisible_; }
  // False after a completion without a result: only Cancel is offered.
  bool okAvailable() const { return okAvailable_; }
  TargetMarks MarksFor(int slot) const;

  int mode() const { return mode_.load(); }
  bool modeSettled() const { return modeSettled_.load(); }
  int targetCount() const { return targetCount_.load(); }
  int currentTarget() const { return current_.load(); }
  int tickCounter() const { return ticks_.load(); }
  bool done() const { return done_.load() != 0; }
  bool blink() const { return blink_; }
  Touch touchState() const { return touch_.load(); }
  int sampleCount() const { return sampleCount_; }
  // Complete only after completion; read on the user-interface thread after PostCompletion.
  const MeasuredTargets& measured() const { return measured_; }
  const RunResult& result() const { return result_; }

 private:
  std::wstring Text(int id);
  void Send(uint8_t code, const uint8_t* payload, std::size_t length);
  void AcceptSeries();
  void Complete();
  void TakeMode(int mode);

  LinkPort& link_;
  RunPort& port_;
  Messages& messages_;
  RunComputer& computer_;

  // Shared between the reader worker and the user-interface thread.
  std::atomic<int> mode_{proto::kModeFivePoint};
  std::atomic<bool> modeSettled_{false};
  std::atomic<int> targetCount_{proto::TargetCountForMode(proto::kModeFivePoint)};
  std::atomic<int> current_{-1};
  std::atomic<int> ticks_{0};
  std::atomic<int> done_{0};
  std::atomic<Touch> touch_{Touch::Unknown};
  std::atomic<bool> modeAsked_{false};    // the run's mode request waits for its answer
  std::atomic<bool> targetShown_{false};  // the current layout's target has been drawn
  std::atomic<int> generation_{0};

  // Touch reports and sample replies arrive on two reader workers: the series is theirs,
  // one at a time.
  std::mutex seriesMutex_;
  std::array<uint16_t, kSeriesLength> sx_{};
  std::array<uint16_t, kSeriesLength> sy_{};
  int sampleCount_ = 0;
  MeasuredTargets measured_;
  RunResult result_;

  // User-interface thread only.
  bool blink_ = false;
  bool buttonsVisible_ = false;
  bool okAvailable_ = true;
  std::wstring instruction_;
  std::wstring countdown_;
};

// The text before the countdown, the seconds left and the text after: only the number is
// formatted, the resource texts are never format strings.
std::wstring CountdownText(const std::wstring& before, int seconds, const std::wstring& after);

}  // namespace tactra::calib
