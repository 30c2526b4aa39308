#include "calibration/run.h"

#include "calibration/compute.h"
#include "resources/kelvane_ids.h"

namespace tactra::calib {

namespace {

constexpr int64_t kStrayLimitSquared = int64_t{kStrayLimit} * kStrayLimit;
constexpr int64_t kMinSpacingSquared = int64_t{kMinTargetSpacing} * kMinTargetSpacing;

}  // namespace

int TargetSlot(int mode, int k) {
  if (k < 0 || k >= proto::TargetCountForMode(mode)) return -1;
  switch (mode) {
    case proto::kModeNinePoint:
      return k;
    case proto::kModeFivePoint:
      return k == 0 ? 0 : 2 * k - 1;
    case proto::kModeFourPoint:
      return 2 * k + 1;
    default:
      return -1;
  }
}

std::wstring CountdownText(const std::wstring& before, int seconds, const std::wstring& after) {
  return before + L" " + std::to_wstring(seconds) + L" " + after;
}

CalibrationRun::CalibrationRun(LinkPort& link, RunPort& port, Messages& messages, RunComputer& computer)
    : link_(link), port_(port), messages_(messages), computer_(computer) {
  instruction_ = Text(IDS_INSTRUCTION);
}

std::wstring CalibrationRun::Text(int id) { return UnescapePercent(messages_.LoadText(id)); }

void CalibrationRun::Send(uint8_t code, const uint8_t* payload, std::size_t length) {
  if (link_.GetLinkState() == kLinkNone) {
    messages_.ShowResourceMessage(IDS_NOT_CONNECTED, IDS_CAPTION, L"");
    return;
  }
  proto::ReportBuffer buffer;
  if (!proto::BuildCommand(buffer, proto::kCalibrationReportId, code, payload, length)) return;
  link_.Transact(proto::kCalibrationChannel, buffer.data(), proto::kCalibrationReportLength);
}

void CalibrationRun::OpenConversation() {
  modeAsked_.store(true);
  Send(proto::CMD_CAL_GET_MODE, nullptr, 0);
  // A mode reply after the wait, a second one or one to another program's request is not ours.
  modeAsked_.store(false);
  // Answered or not, the mode is what it is now, and the first target shows without waiting
  // for the next blink.
  modeSettled_.store(true);
  port_.RedrawTargets();
  if (port_.Interrupted()) return;
  port_.Pause(proto::pacing::kAfterGetMode);
  if (port_.Interrupted()) return;
  Send(proto::CMD_CAL_BEGIN, nullptr, 0);
  if (port_.Interrupted()) return;
  port_.Pause(proto::pacing::kAfterBegin);
}

void CalibrationRun::BeginCollecting() { current_.store(0); }

void CalibrationRun::OnTargetsDrawn(int generation) {
  std::lock_guard<std::mutex> lock(seriesMutex_);
  if (generation == generation_.load() && current_.load() >= 0 && modeSettled_.load())
    targetShown_.store(true);
}

void CalibrationRun::TakeMode(int mode) {
  std::lock_guard<std::mutex> lock(seriesMutex_);
  const bool moved = mode != mode_.load();
  mode_.store(mode);
  targetCount_.store(proto::TargetCountForMode(mode));
  modeSettled_.store(true);
  if (!moved || !targetShown_.load()) return;
  // Targets measured at the other mode's places would be computed as this mode's: start again.
  generation_.fetch_add(1);
  targetShown_.store(false);
  sampleCount_ = 0;
  measured_ = MeasuredTargets();
  result_ = RunResult();
  done_.store(0);
  ticks_.store(0);
  if (current_.load() >= 0) current_.store(0);
}

void CalibrationRun::OnDeviceReply(const uint8_t* report, std::size_t length) {
  if (length < 4) return;
  const uint8_t code = report[1];
  const uint8_t n = report[2];
  switch (code) {
    case proto::CMD_CAL_GET_MODE:
      // Only the first answer to the run's own request, within its wait.
      if (n != 1 || !modeAsked_.exchange(false)) break;
      if (proto::IsValidMode(report[3])) {
        TakeMode(report[3]);
      } else {
        modeSettled_.store(true);
      }
      break;
    case proto::CMD_CAL_BEGIN:
      if (n != 1) break;
      if (report[3] == 1) {
        link_.SetLinkState(kLinkStarted);
      } else {
        port_.PostRefusal();
      }
      break;
    case proto::CMD_CAL_WRITE_RESULT:
    case proto::CMD_CAL_END:
      if (n == 1 && report[3] == 0) port_.PostRefusal();
      break;
    case proto::CMD_CAL_SAMPLE:
      // The framing check guarantees the five payload bytes lie within the report.
      if (n == 5 && length >= 8) HandleSample(report + 3, 5);
      break;
    default:
      break;
  }
}

void CalibrationRun::HandleSample(const uint8_t* report, std::size_t length) {
  const int k = current_.load();
  // A finger already resting on the frame must not take a target the user has not seen.
  if (k < 0 || k >= targetCount_.load() || !targetShown_.load()) return;
  proto::RawPoint point;
  const bool parsed = length == proto::kTouchReportLength ? proto::ParseTouchReport(report, length, point)
                                                          : proto::ParseCalSample(report, length, point);
  if (!parsed) return;
  touch_.store(point.touching ? Touch::Touching : Touch::NotTouching);
  // A lifted finger neither keeps nor discards the series.
  if (point.touching) TakeSample(k, point.x, point.y);
}

void CalibrationRun::TakeSample(int k, uint16_t x, uint16_t y) {
  std::lock_guard<std::mutex> lock(seriesMutex_);
  // Another worker may have accepted the target meanwhile.
  if (current_.load() != k || done_.load() != 0 || !targetShown_.load()) return;
  const int n = sampleCount_;
  if (n > 0) {
    int64_t sumX = 0;
    int64_t sumY = 0;
    for (int i = 0; i < n; ++i) {
      sumX += sx_[i];
      sumY += sy_[i];
    }
    const bool strayFromLast = DistanceSquared(x, y, sx_[n - 1], sy_[n - 1]) > kStrayLimitSquared;
    const bool strayFromMean = DistanceSquared(x, y, sumX / n, sumY / n) > kStrayLimitSquared;
    if (strayFromLast || strayFromMean) sampleCount_ = 0;
  }
  sx_[sampleCount_] = x;
  sy_[sampleCount_] = y;
  ++sampleCount_;
  if (sampleCount_ < kSeriesLength) return;
  AcceptSeries();
}

void CalibrationRun::AcceptSeries() {
  const int k = current_.load();
  int64_t sumX = 0;
  int64_t sumY = 0;
  for (int i = kSeriesDropped; i < kSeriesLength; ++i) {
    sumX += sx_[i];
    sumY += sy_[i];
  }
  constexpr int averaged = kSeriesLength - kSeriesDropped;
  measured_.rx[k] = static_cast<uint16_t>(sumX / averaged);
  measured_.ry[k] = static_cast<uint16_t>(sumY / averaged);
  sampleCount_ = 0;

  if (k > 0 && DistanceSquared(measured_.rx[k], measured_.ry[k], measured_.rx[k - 1], measured_.ry[k - 1]) <
                   kMinSpacingSquared) {
    return;  // the same spot as the previous target: take this one again, the clock runs on
  }
  ticks_.store(0);
  current_.store(k + 1);
  if (k + 1 == targetCount_.load()) Complete();
}

void CalibrationRun::Complete() {
  done_.store(1);
  result_ = computer_.Compute(mode_.load(), measured_);
  port_.PostCompletion();
}

TickAction CalibrationRun::OnTimer() {
  blink_ = !blink_;
  // A frame that has not said its mode by now gets the initial mode's targets.
  modeSettled_.store(true);
  const int ticks = ticks_.fetch_add(1) + 1;
  if (done_.load() == 0) {
    if (ticks >= kTargetTimeoutTicks) return TickAction::Cancel;
    countdown_ = CountdownText(Text(IDS_COUNTDOWN_BEFORE), (kTargetTimeoutTicks + 1 - ticks) / 2,
                               Text(IDS_COUNTDOWN_AFTER));
    return TickAction::Continue;
  }
  if (ticks >= kCompletionTimeoutTicks) return TickAction::Cancel;
  instruction_ = Text(IDS_INSTRUCTION_DONE);
  countdown_ = CountdownText(Text(IDS_COUNTDOWN_BEFORE), (kCompletionTimeoutTicks + 1 - ticks) / 2,
                             Text(IDS_COUNTDOWN_AFTER));
  buttonsVisible_ = true;
  return TickAction::Continue;
}

bool CalibrationRun::WriteResult() {
  if (done_.load() == 0) return false;
  if (!result_.ok) {
    // A fit without a finite result must not reach the frame; only Cancel remains.
    okAvailable_ = false;
    messages_.ShowResourceMessage(IDS_REFUSED, IDS_CAPTION, L"");
    return false;
  }
  Send(proto::CMD_CAL_WRITE_RESULT, result_.payload.bytes.data(), result_.payload.length);
  return true;
}

void CalibrationRun::Finish(bool ok) {
  const uint8_t keep = ok ? 1 : 0;
  Send(proto::CMD_CAL_END, &keep, 1);
  port_.Pause(proto::pacing::kBeforeClose);
}

void CalibrationRun::Restart() {
  {
    std::lock_guard<std::mutex> lock(seriesMutex_);
    // A drawing of the finished run that lands late must not count for the new one.
    generation_.fetch_add(1);
    targetShown_.store(false);
    current_.store(-1);
    done_.store(0);
    ticks_.store(0);
    modeAsked_.store(false);
    modeSettled_.store(false);
    mode_.store(proto::kModeFivePoint);
    targetCount_.store(proto::TargetCountForMode(proto::kModeFivePoint));
    touch_.store(Touch::Unknown);
    sampleCount_ = 0;
    measured_ = MeasuredTargets();
    result_ = RunResult();
  }
  blink_ = false;
  buttonsVisible_ = false;
  okAvailable_ = true;
  instruction_ = Text(IDS_INSTRUCTION);
  countdown_.clear();
}

TargetMarks CalibrationRun::MarksFor(int slot) const {
  TargetMarks marks;
  const int mode = mode_.load();
  const int count = targetCount_.load();
  const int current = current_.load();
  if (current < 0 || !modeSettled_.load()) return marks;
  const bool plainPen = mode == proto::kModeFourPoint;
  for (int k = 0; k < count; ++k) {
    if (TargetSlot(mode, k) != slot) continue;
    if (k < current) {
      marks.crosshair = true;
      marks.brackets = true;
      marks.pen = plainPen ? MarkPen::Default : MarkPen::Taken;
    } else if (k == current) {
      marks.crosshair = true;
      marks.brackets = blink_;
      marks.pen = plainPen ? MarkPen::Default : MarkPen::Current;
    }
    break;
  }
  return marks;
}

}  // namespace tactra::calib
