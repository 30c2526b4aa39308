// Fakes around the calibration run: a port that records what the run sends and a message
// recorder whose texts are "<id>" unless a test sets one.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "calibration/run.h"

namespace tactra::calib::test {

struct SentReport {
  std::vector<uint8_t> bytes;
};

class FakePort : public RunPort {
 public:
  int GetLinkState() const override { return state.load(); }
  void SetLinkState(int s) override { state.store(s); }
  bool Transact(const uint8_t* report, std::size_t length) override {
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back("send " + std::to_string(report[1]));
    sent.push_back({std::vector<uint8_t>(report, report + length)});
    return true;
  }
  void Pause(std::chrono::milliseconds d) override {
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back("pause " + std::to_string(d.count()));
  }
  void PostCompletion() override { ++posts; }

  std::atomic<int> state{1};
  std::atomic<int> posts{0};
  std::mutex mutex;
  std::vector<std::string> log;
  std::vector<SentReport> sent;
};

class TextMessages : public Messages {
 public:
  std::wstring LoadText(int id) override {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = texts.find(id);
    return it != texts.end() ? it->second : L"<" + std::to_wstring(id) + L">";
  }
  void ShowResourceMessage(int textId, int captionId, const std::wstring&) override {
    std::lock_guard<std::mutex> lock(mutex);
    shown.push_back({textId, captionId});
  }
  void ShowFixedMessage(const std::wstring&, const std::wstring&, bool) override {}

  std::mutex mutex;
  std::map<int, std::wstring> texts;
  std::vector<std::pair<int, int>> shown;
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

// A touch report of the frame: contact state 3, raw X and Y.
inline std::vector<uint8_t> TouchReport(uint16_t x, uint16_t y, uint8_t state = 3) {
  std::vector<uint8_t> r(proto::kTouchReportLength, 0);
  r[0] = proto::kTouchReportId;
  r[1] = state;
  proto::PutLE16(&r[3], x);
  proto::PutLE16(&r[5], y);
  return r;
}

// A reply of the calibration channel with a payload.
inline std::vector<uint8_t> Reply(uint8_t code, std::vector<uint8_t> payload) {
  std::vector<uint8_t> r(proto::kCalibrationReportLength, 0);
  r[0] = proto::kCalibrationReportId;
  r[1] = code;
  r[2] = static_cast<uint8_t>(payload.size());
  for (std::size_t i = 0; i < payload.size(); ++i) r[3 + i] = payload[i];
  r[3 + payload.size()] = 0xFF;
  return r;
}

struct RunRig {
  FakePort port;
  TextMessages messages;
  FakeComputer computer;
  CalibrationRun run{port, messages, computer};

  void StartInMode(int mode) {
    auto r = Reply(proto::CMD_CAL_GET_MODE, {static_cast<uint8_t>(mode)});
    run.OnDeviceReply(r.data(), r.size());
    run.BeginCollecting();
  }
  void Touch(uint16_t x, uint16_t y, int times = 1) {
    auto r = TouchReport(x, y);
    for (int i = 0; i < times; ++i) run.HandleSample(r.data(), r.size());
  }
  // A full steady series at one point: the target's measured point is (x, y).
  void HoldTarget(uint16_t x, uint16_t y) { Touch(x, y, kSeriesLength); }
};

}  // namespace tactra::calib::test
