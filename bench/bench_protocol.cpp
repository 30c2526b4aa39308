// Recognising and dispatching one reply, as the reader workers do for every read.
#include <benchmark/benchmark.h>

#include <vector>

#include "device/protocol.h"

using namespace tactra::proto;

namespace {

std::vector<uint8_t> SettingsReply() {
  std::vector<uint8_t> r(64, 0);
  const uint8_t values[] = {kAccessRead, 1, 5, 0x03, 0xE8};
  ReportBuffer b;
  BuildCommand(b, kSettingsReportId, CMD_CFG_14, values, sizeof values);
  r.assign(b.begin(), b.end());
  return r;
}

void BM_ConsoleRecogniseAndDispatch(benchmark::State& state) {
  const std::vector<uint8_t> reply = SettingsReply();
  int taken = 0;
  for (auto _ : state) {
    const uint8_t* data = reply.data();
    benchmark::DoNotOptimize(data);
    if (IsConsoleReply(data, reply.size()) && data[1] == CMD_CFG_14 && data[3] == kAccessRead) {
      taken += GetBE16(data + 6);
    }
    benchmark::DoNotOptimize(taken);
  }
}
BENCHMARK(BM_ConsoleRecogniseAndDispatch);

void BM_CalibrationSplitTouchRead(benchmark::State& state) {
  std::vector<uint8_t> read(62 * 16, 0);
  for (std::size_t i = 0; i < read.size(); i += 62) {
    read[i] = kTouchReportId;
    read[i + 1] = 3;
  }
  for (auto _ : state) {
    unsigned sum = 0;
    SplitCalibrationRead(read.data(), read.size(), 62, [&](const uint8_t* r, std::size_t n, ReportKind k) {
      RawPoint p;
      if (k == ReportKind::Touch && ParseTouchReport(r, n, p)) sum += p.x;
    });
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * 16);
}
BENCHMARK(BM_CalibrationSplitTouchRead);

void BM_CalibrationReplyRecognise(benchmark::State& state) {
  ReportBuffer b;
  const uint8_t mode = 3;
  BuildCommand(b, kCalibrationReportId, CMD_CAL_GET_MODE, &mode, 1);
  for (auto _ : state) {
    int kinds = 0;
    SplitCalibrationRead(b.data(), 48, 48,
                         [&](const uint8_t*, std::size_t, ReportKind k) { kinds += k == ReportKind::Reply; });
    benchmark::DoNotOptimize(kinds);
  }
}
BENCHMARK(BM_CalibrationReplyRecognise);

}  // namespace
