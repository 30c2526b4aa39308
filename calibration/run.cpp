#include "calibration/run.h"

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

int64_t DistanceSquared(int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
  const int64_t dx = x1 - x2;
  const int64_t dy = y1 - y2;
  return dx * dx + dy * dy;
}

std::wstring CountdownText(const std::wstring& before, int seconds, const std::wstring& after) {
  return before + L" " + std::to_wstring(seconds) + L" " + after;
}

CalibrationRun::CalibrationRun(RunPort& port, Messages& messages, RunComputer& computer)
    : port_(port), messages_(messages), computer_(computer) {
  instruction_ = Text(kStrInstruction);
}

std::wstring CalibrationRun::Text(int id) { return UnescapePercent(messages_.LoadText(id)); }

void CalibrationRun::Send(uint8_t code, const uint8_t* payload, std::size_t length) {
  if (port_.GetLinkState() == 0) {
    messages_.ShowResourceMessage(kStrNotConnected, kStrCaption, L"");
    return;
  }
  proto::ReportBuffer buffer;
  if (!proto::BuildCommand(buffer, proto::kCalibrationReportId, code, payload, length)) return;
  port_.Transact(buffer.data(), proto::kCalibrationReportLength);
}

void CalibrationRun::OpenConversation() {
  Send(proto::CMD_CAL_GET_MODE, nullptr, 0);
  port_.Pause(proto::pacing::kAfterGetMode);
  Send(proto::CMD_CAL_BEGIN, nullptr, 0);
  port_.Pause(proto::pacing::kAfterBegin);
}

void CalibrationRun::BeginCollecting() { current_.store(0); }

void CalibrationRun::OnDeviceReply(const uint8_t* report, std::size_t length) {
  if (length < 4) return;
  const uint8_t code = report[1];
  const uint8_t n = report[2];
  switch (code) {
    case proto::CMD_CAL_GET_MODE:
      if (n == 1 && proto::IsValidMode(report[3])) {
        mode_.store(report[3]);
        targetCount_.store(proto::TargetCountForMode(report[3]));
      }
      break;
    case proto::CMD_CAL_BEGIN:
      if (n != 1) break;
      if (report[3] == 1) {
        port_.SetLinkState(2);
      } else {
        messages_.ShowResourceMessage(kStrRefused, kStrCaption, L"");
      }
      break;
    case proto::CMD_CAL_WRITE_RESULT:
    case proto::CMD_CAL_END:
      if (n == 1 && report[3] == 0) messages_.ShowResourceMessage(kStrRefused, kStrCaption, L"");
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
  if (k < 0 || k >= targetCount_.load()) return;

  bool touching = false;
  uint16_t x = 0;
  uint16_t y = 0;
  if (length == proto::kTouchReportLength) {
    touching = report[1] == 2 || report[1] == 3;
    x = proto::GetLE16(report + 3);
    y = proto::GetLE16(report + 5);
  } else if (length == 5) {
    touching = report[0] == 7;
    x = proto::GetLE16(report + 1);
    y = proto::GetLE16(report + 3);
  } else {
    return;
  }
  touch_.store(touching ? Touch::Touching : Touch::NotTouching);
  if (!touching) return;  // a lifted finger neither keeps nor discards the series

  std::lock_guard<std::mutex> lock(seriesMutex_);
  // Another worker may have accepted the target meanwhile.
  if (current_.load() != k || done_.load() != 0) return;
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
  const int ticks = ticks_.fetch_add(1) + 1;
  if (done_.load() == 0) {
    if (ticks >= kTargetTimeoutTicks) return TickAction::Cancel;
    countdown_ = CountdownText(Text(kStrCountdownBefore), (kTargetTimeoutTicks + 1 - ticks) / 2,
                               Text(kStrCountdownAfter));
    return TickAction::Continue;
  }
  if (ticks >= kCompletionTimeoutTicks) return TickAction::Cancel;
  instruction_ = Text(kStrInstructionDone);
  countdown_ = CountdownText(Text(kStrCountdownBefore), (kCompletionTimeoutTicks + 1 - ticks) / 2,
                             Text(kStrCountdownAfter));
  buttonsVisible_ = true;
  return TickAction::Continue;
}

bool CalibrationRun::WriteResult() {
  if (done_.load() == 0) return false;
  if (!result_.ok) {
    // A fit without a finite result must not reach the frame; only Cancel remains.
    okAvailable_ = false;
    messages_.ShowResourceMessage(kStrRefused, kStrCaption, L"");
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

TargetMarks CalibrationRun::MarksFor(int slot) const {
  TargetMarks marks;
  const int mode = mode_.load();
  const int count = targetCount_.load();
  const int current = current_.load();
  if (current < 0) return marks;
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
