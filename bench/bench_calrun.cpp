// The run's sample handling on the reader worker: every touch report of the frame (about
// 100 per second) goes through HandleSample, so one call must cost far less than the 10 ms
// between reports, also when a wandering finger restarts the series on every report.
#include <benchmark/benchmark.h>

#include <vector>

#include "calibration/run.h"

namespace {

using namespace tactra;

// Answers the mode request with nine points, as the reader worker would within the wait.
class NinePointLink : public LinkPort {
 public:
  calib::CalibrationRun* run = nullptr;
  int GetLinkState() const override { return kLinkBound; }
  void SetLinkState(int) override {}
  int GetOutputLength(int) const override { return 48; }
  bool Transact(int, const uint8_t* request, std::size_t) override {
    if (run == nullptr || request[1] != proto::CMD_CAL_GET_MODE) return true;
    std::vector<uint8_t> reply(proto::kCalibrationReportLength, 0);
    reply[0] = proto::kCalibrationReportId;
    reply[1] = proto::CMD_CAL_GET_MODE;
    reply[2] = 1;
    reply[3] = proto::kModeNinePoint;
    reply[4] = 0xFF;
    run->OnDeviceReply(reply.data(), reply.size());
    return true;
  }
};

class NullPort : public calib::RunPort {
 public:
  void Pause(std::chrono::milliseconds) override {}
  void PostCompletion() override {}
  void PostRefusal() override {}
  void RedrawTargets() override {}
};

class NullMessages : public Messages {
 public:
  std::wstring LoadText(int) override { return L"text"; }
  void ShowResourceMessage(int, int, const std::wstring&) override {}
  void ShowFixedMessage(const std::wstring&, const std::wstring&, bool) override {}
};

class NullComputer : public calib::RunComputer {
 public:
  calib::RunResult Compute(int, const calib::MeasuredTargets&) override { return {}; }
};

std::vector<uint8_t> Touch(uint16_t x, uint16_t y) {
  std::vector<uint8_t> r(proto::kTouchReportLength, 0);
  r[0] = proto::kTouchReportId;
  r[1] = 3;
  proto::PutLE16(&r[3], x);
  proto::PutLE16(&r[5], y);
  return r;
}

void StartNinePoint(NinePointLink& link, calib::CalibrationRun& run) {
  link.run = &run;
  run.BeginCollecting();
  run.OpenConversation();
  run.OnTargetsDrawn(run.generation());
}

// A steady finger: 99 reports grow the series (each compared with its last sample and its
// mean), then a stray one restarts it, so target 0 is never taken. Time per report.
void BM_HandleSampleSteady(benchmark::State& state) {
  NinePointLink link;
  NullPort port;
  NullMessages messages;
  NullComputer computer;
  calib::CalibrationRun run(link, port, messages, computer);
  StartNinePoint(link, run);
  const auto a = Touch(2048, 2048);
  const auto b = Touch(2050, 2049);
  const auto far = Touch(100, 100);
  for (auto _ : state) {
    for (int i = 0; i < calib::kSeriesLength - 1; ++i) {
      const auto& r = (i & 1) ? a : b;
      run.HandleSample(r.data(), r.size());
    }
    run.HandleSample(far.data(), far.size());
  }
  state.SetItemsProcessed(state.iterations() * calib::kSeriesLength);
}
BENCHMARK(BM_HandleSampleSteady);

// A finger that strays just after the series has grown long: the mean over 98 samples is
// recomputed and the series restarts.
void BM_HandleSampleStrayAtLongSeries(benchmark::State& state) {
  NinePointLink link;
  NullPort port;
  NullMessages messages;
  NullComputer computer;
  calib::CalibrationRun run(link, port, messages, computer);
  StartNinePoint(link, run);
  const auto steady = Touch(2048, 2048);
  const auto far = Touch(3000, 3000);
  for (auto _ : state) {
    state.PauseTiming();
    run.HandleSample(far.data(), far.size());
    for (int i = 0; i < calib::kSeriesLength - 3; ++i) run.HandleSample(steady.data(), steady.size());
    state.ResumeTiming();
    run.HandleSample(far.data(), far.size());
  }
}
BENCHMARK(BM_HandleSampleStrayAtLongSeries);

}  // namespace
