// Fakes around the calibration run: the dialog's side of the run (pauses, the completion
// message, interruption), a computation that records its input, and touch and reply reports.
#pragma once

#include <atomic>
#include <vector>

#include "calibration/run.h"
#include "tests/fakes/fake_link_port.h"
#include "tests/fakes/recording_messages.h"

namespace tactra::calib::test {

using tactra::test::Bytes;
using tactra::test::EventLog;
using tactra::test::FakeLinkPort;
using tactra::test::RecordingMessages;

class FakeRunPort : public RunPort {
 public:
  explicit FakeRunPort(EventLog& log) : log_(log) {}
  void Pause(std::chrono::milliseconds d) override { log_.Add("pause " + std::to_string(d.count())); }
  void PostCompletion() override { ++posts; }
  bool Interrupted() const override { return interrupted.load(); }
  void PostRefusal() override { ++refusals; }
  void RedrawTargets() override { log_.Add("redraw"); }

  std::atomic<int> posts{0};
  std::atomic<int> refusals{0};  // handed to the window's thread
  std::atomic<bool> interrupted{false};

 private:
  EventLog& log_;
};

class FakeComputer : public RunComputer {
 public:
  RunResult Compute(int mode, const MeasuredTargets& targets) override {
    ++calls;
    lastMode = mode;
    last = targets;
    RunResult r;
    r.ok = ok;
    r.payload.length = 12;
    r.payload.bytes[0] = 0xAB;
    return r;
  }
  bool ok = true;
  int calls = 0;
  int lastMode = 0;
  MeasuredTargets last;
};

// A touch report of the frame: contact state 3 unless given, raw X and Y.
inline Bytes TouchReport(uint16_t x, uint16_t y, uint8_t state = 3) {
  Bytes r(proto::kTouchReportLength, 0);
  r[0] = proto::kTouchReportId;
  r[1] = state;
  proto::PutLE16(&r[3], x);
  proto::PutLE16(&r[5], y);
  return r;
}

// A reply of the calibration channel with a payload.
inline Bytes Reply(uint8_t code, const Bytes& payload) {
  return tactra::test::MakeReplyReport(proto::kCalibrationReportId, code, payload,
                                       proto::kCalibrationReportLength);
}

struct RunRig {
  EventLog log;
  FakeLinkPort link;
  FakeRunPort port{log};
  RecordingMessages messages;
  FakeComputer computer;
  CalibrationRun run{link, port, messages, computer};

  RunRig() {
    link.log = &log;
    link.onReply = [this](const uint8_t* report, std::size_t length) { run.OnDeviceReply(report, length); };
  }
  std::vector<std::string> Log() const { return log.Entries(); }
  // The run's mode request answered with `mode`, target 0 due and drawn; what the opening
  // conversation sent and logged is forgotten.
  void StartInMode(int mode) {
    const Bytes r = Reply(proto::CMD_CAL_GET_MODE, {static_cast<uint8_t>(mode)});
    link.responder = [r](int, const Bytes& written) {
      return written[1] == proto::CMD_CAL_GET_MODE ? std::vector<Bytes>{r} : std::vector<Bytes>{};
    };
    run.BeginCollecting();
    run.OpenConversation();
    link.responder = nullptr;
    link.ForgetSent();
    log.Clear();
    run.OnTargetsDrawn(run.generation());
  }
  void Touch(uint16_t x, uint16_t y, int times = 1) {
    auto r = TouchReport(x, y);
    for (int i = 0; i < times; ++i) run.HandleSample(r.data(), r.size());
  }
  // A full steady series at one point: the target's measured point is (x, y).
  void HoldTarget(uint16_t x, uint16_t y) { Touch(x, y, kSeriesLength); }
};

}  // namespace tactra::calib::test
