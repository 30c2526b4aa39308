// The calibration run over a scripted frame and the real computation. The input chooses the
// events of a run in any order: replies of the calibration channel (mode replies, the
// acknowledgements, samples), series of touch reports held at one point long enough to take a
// target, timer ticks, the targets drawn (in the current or a stale generation), the opening
// conversation with the frame's answers to it, the result written, the end, an interruption,
// the frame going away and coming back.
//
// After every event: the mode is one of the three and the target count its own; the current
// target lies within the run, and a done run has taken them all; the marks show exactly the
// targets taken and the current one; no tick lets a run stand still for longer than its
// timeout; every report sent is framed, and the result written has the length of the mode the
// run says it has.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "calibration/compute.h"
#include "calibration/run.h"
#include "fuzz/fuzz_input.h"
#include "tests/fakes/fake_link_port.h"
#include "tests/fakes/recording_messages.h"
#include "tests/fakes/run_fakes.h"

using tactra::fuzz::Check;
using tactra::fuzz::Input;
using namespace tactra;
using namespace tactra::calib;
namespace fakes = tactra::test;
namespace run_fakes = tactra::calib::test;
using fakes::Bytes;

namespace {

constexpr std::size_t kMaxEvents = 300;
constexpr uint8_t kMaxRepliesPerRequest = 3;

std::size_t ResultLength(int mode) {
  return mode == proto::kModeFourPoint ? proto::kAffineResultLength : proto::kBorderResultLength;
}

class Computer : public RunComputer {
 public:
  Computer(int osClass, int orientation) : osClass_(osClass), orientation_(orientation) {}
  RunResult Compute(int mode, const MeasuredTargets& targets) override {
    CalibrationInput input;
    input.mode = mode;
    input.osClass = osClass_;
    input.orientation = orientation_;
    input.rx = targets.rx;
    input.ry = targets.ry;
    const CalibrationResult computed = ComputeCalibration(input);
    // Four corners on one line have no result; every other run has one of its mode's length.
    Check(computed.ok || mode == proto::kModeFourPoint);
    Check(!computed.ok || computed.payload.length == ResultLength(mode));
    RunResult result;
    result.ok = computed.ok;
    result.payload = computed.payload;
    return result;
  }

 private:
  int osClass_;
  int orientation_;
};

class Rig {
 public:
  explicit Rig(Input& input) : in_(input), computer_(in_.Byte() % 8, in_.Byte() % 4) {
    link_.responder = [this](int, const Bytes&) { return Answer(); };
    link_.onReply = [this](const uint8_t* report, std::size_t length) { run_.OnDeviceReply(report, length); };
    run_.BeginCollecting();
    Observe();
  }

  void Run() {
    for (std::size_t i = 0; i < kMaxEvents && !in_.empty(); ++i) {
      Event(in_.Byte());
      CheckState();
      CheckSent();
    }
  }

 private:
  std::vector<Bytes> Answer() {
    std::vector<Bytes> replies;
    const uint8_t count = in_.Byte() % (kMaxRepliesPerRequest + 1);
    for (uint8_t i = 0; i < count; ++i) replies.push_back(MakeReply());
    return replies;
  }

  // A report of the calibration channel: mostly one of the codes the run takes with a payload
  // of the length it takes, now and then any code or N, or a short report.
  Bytes MakeReply() {
    static constexpr uint8_t kCodes[] = {proto::CMD_CAL_GET_MODE, proto::CMD_CAL_BEGIN,
                                         proto::CMD_CAL_WRITE_RESULT, proto::CMD_CAL_END,
                                         proto::CMD_CAL_SAMPLE};
    const uint8_t shape = in_.Byte();
    const uint8_t code = shape & 0x80 ? in_.Byte() : kCodes[shape % sizeof kCodes];
    const uint8_t n = shape & 0x40 ? in_.Byte() : code == proto::CMD_CAL_SAMPLE ? 5 : 1;
    const std::size_t length = (shape & 0x30) == 0x30 ? in_.Byte() % 8 : proto::kCalibrationReportLength;
    Bytes report(length, 0);
    if (length > 0) report[0] = proto::kCalibrationReportId;
    if (length > 1) report[1] = code;
    if (length > 2) report[2] = n;
    std::size_t at = 3;
    if (code == proto::CMD_CAL_GET_MODE && length > at && !(shape & 0x08)) {
      report[at++] = static_cast<uint8_t>(proto::kModeFourPoint + in_.Byte() % 3);
    }
    for (; at < length && at < 3u + n; ++at) report[at] = in_.Byte();
    if (at < length) report[at] = 0xFF;
    return report;
  }

  // A point held still for `count` reports, each within a few units of the first.
  void Hold(bool asSamples) {
    const uint16_t x = in_.Le16();
    const uint16_t y = in_.Le16();
    const uint8_t count = in_.Byte();
    const uint8_t state = in_.Byte() < 0xF0 ? (asSamples ? 7 : 3) : in_.Byte();
    uint32_t jitter = in_.Byte();
    for (uint8_t i = 0; i < count; ++i) {
      jitter = jitter * 1103515245u + 12345u;
      const uint16_t jx = static_cast<uint16_t>(x + ((jitter >> 16) & 7));
      const uint16_t jy = static_cast<uint16_t>(y + ((jitter >> 20) & 7));
      if (asSamples) {
        const Bytes report =
            fakes::MakeReplyReport(proto::kCalibrationReportId, proto::CMD_CAL_SAMPLE,
                                   {state, static_cast<uint8_t>(jx & 0xFF), static_cast<uint8_t>(jx >> 8),
                                    static_cast<uint8_t>(jy & 0xFF), static_cast<uint8_t>(jy >> 8)},
                                   proto::kCalibrationReportLength);
        run_.OnDeviceReply(report.data(), report.size());
      } else {
        const Bytes report = run_fakes::TouchReport(jx, jy, state);
        run_.HandleSample(report.data(), report.size());
      }
      CheckState();
    }
  }

  void Event(uint8_t event) {
    switch (event % 12) {
      case 0:
      case 1:
        Hold(event & 0x10);
        break;
      case 2: {
        const Bytes report = MakeReply();
        run_.OnDeviceReply(report.data(), report.size());
        break;
      }
      case 3: {
        // Any bytes as a touch report or a sample's payload.
        const Bytes report = in_.Take(in_.Bit() ? proto::kTouchReportLength : 5);
        run_.HandleSample(report.data(), report.size());
        break;
      }
      case 4:
      case 5:
        Ticks(1 + in_.Byte() % 64);
        break;
      case 6:
        run_.OnTargetsDrawn(run_.generation() - (in_.Byte() < 0xF0 ? 0 : 1));
        break;
      case 7:
        run_.OpenConversation();
        break;
      case 8:
        WriteResult();
        break;
      case 9:
        run_.Finish(in_.Bit());
        break;
      case 10:
        port_.interrupted = in_.Bit();
        break;
      default:
        link_.state = in_.Byte() % 3;
        break;
    }
  }

  // Progress is a target taken or the targets started again; the ticks count from there.
  void Observe() {
    if (run_.currentTarget() != lastTarget_ || run_.generation() != lastGeneration_) idleTicks_ = 0;
    lastTarget_ = run_.currentTarget();
    lastGeneration_ = run_.generation();
  }

  void Ticks(int count) {
    for (int i = 0; i < count; ++i) {
      Observe();
      const TickAction action = run_.OnTimer();
      ++idleTicks_;
      const int timeout = run_.done() ? kCompletionTimeoutTicks : kTargetTimeoutTicks;
      Check(idleTicks_ < timeout || action == TickAction::Cancel);
      CheckState();
    }
  }

  void WriteResult() {
    const int mode = run_.mode();
    const bool bound = link_.state.load() != kLinkNone;
    const std::size_t sentBefore = link_.Sent().size();
    const std::size_t messagesBefore = messages_.Count();
    const bool written = run_.WriteResult();
    CheckState();
    Check(run_.mode() == mode);
    const std::vector<fakes::SentReport> sent = link_.Sent();
    if (!written) {
      // Nothing to write, or a result that must not reach the frame: said so, nothing sent.
      Check(sent.size() == sentBefore);
      Check(!run_.done() || messages_.Count() == messagesBefore + 1);
      return;
    }
    Check(run_.done() && run_.result().ok);
    if (!bound) {
      Check(sent.size() == sentBefore && messages_.Count() == messagesBefore + 1);
      return;
    }
    Check(sent.size() == sentBefore + 1);
    const Bytes& r = sent.back().bytes;
    Check(r[1] == proto::CMD_CAL_WRITE_RESULT && r[2] == ResultLength(mode));
  }

  void CheckState() {
    const int mode = run_.mode();
    const int count = run_.targetCount();
    const int current = run_.currentTarget();
    Check(proto::IsValidMode(mode));
    Check(count == proto::TargetCountForMode(mode));
    Check(current >= -1 && current <= count);
    Check(!run_.done() || current == count);
    Check(run_.sampleCount() >= 0 && run_.sampleCount() < kSeriesLength);
    if (run_.done() && run_.result().ok) Check(run_.result().payload.length == ResultLength(mode));
    // The marks: a crosshair on each target taken and on the current one, nowhere else.
    int marked = 0;
    for (int slot = 0; slot < kTargetSlots; ++slot) {
      if (run_.MarksFor(slot).crosshair) ++marked;
    }
    const int expected = current < 0 || !run_.modeSettled() ? 0 : current < count ? current + 1 : count;
    Check(marked == expected);
  }

  void CheckSent() {
    const std::vector<fakes::SentReport> sent = link_.Sent();
    for (std::size_t i = checkedSent_; i < sent.size(); ++i) {
      const Bytes& r = sent[i].bytes;
      Check(sent[i].channel == proto::kCalibrationChannel && r.size() == proto::kCalibrationReportLength);
      Check(r[0] == proto::kCalibrationReportId);
      const std::size_t n = r[2];
      Check(3 + n < r.size() && r[3 + n] == 0xFF);
      for (std::size_t j = 4 + n; j < r.size(); ++j) Check(r[j] == 0);
      switch (r[1]) {
        case proto::CMD_CAL_GET_MODE:
        case proto::CMD_CAL_BEGIN:
          Check(n == 0);
          break;
        case proto::CMD_CAL_END:
          Check(n == 1 && (r[3] == 0 || r[3] == 1));
          break;
        case proto::CMD_CAL_WRITE_RESULT:
          Check(n == proto::kAffineResultLength || n == proto::kBorderResultLength);
          break;
        default:
          Check(false);
      }
    }
    checkedSent_ = sent.size();
  }

  Input& in_;
  fakes::EventLog log_;
  fakes::FakeLinkPort link_;
  run_fakes::FakeRunPort port_{log_};
  fakes::RecordingMessages messages_;
  Computer computer_;
  CalibrationRun run_{link_, port_, messages_, computer_};

  std::size_t checkedSent_ = 0;
  int lastTarget_ = 0;
  int lastGeneration_ = 0;
  int idleTicks_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > 2047) return 0;
  Input in(data, size);
  Rig rig(in);
  rig.Run();
  return 0;
}
