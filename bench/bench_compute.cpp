// The calibration computation runs on a reader worker between the last sample and the posted
// message; it must stay far below any pause of the run (the shortest is 20 ms).
#include <benchmark/benchmark.h>

#include "calibration/compute.h"

namespace {

tactra::CalibrationInput Input(int mode) {
  tactra::CalibrationInput in;
  in.mode = mode;
  in.osClass = 6;
  in.orientation = 1;
  // A slightly skewed frame with raw coordinates of 0..4095.
  const uint16_t x4[] = {300, 3800, 3900, 200};
  const uint16_t y4[] = {250, 400, 3700, 3600};
  const uint16_t x5[] = {2050, 131, 3990, 3960, 90};
  const uint16_t y5[] = {2000, 140, 160, 3950, 3931};
  const uint16_t x9[] = {2050, 130, 2040, 3990, 4001, 3960, 2100, 90, 120};
  const uint16_t y9[] = {2000, 140, 100, 160, 2070, 3950, 4010, 3930, 1990};
  const int count = tactra::proto::TargetCountForMode(mode);
  for (int k = 0; k < count; ++k) {
    in.rx[k] = count == 4 ? x4[k] : count == 5 ? x5[k] : x9[k];
    in.ry[k] = count == 4 ? y4[k] : count == 5 ? y5[k] : y9[k];
  }
  return in;
}

void BM_ComputeCalibration(benchmark::State& state) {
  tactra::CalibrationInput in = Input(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(in);
    tactra::CalibrationResult r = tactra::ComputeCalibration(in);
    benchmark::DoNotOptimize(r);
  }
}
BENCHMARK(BM_ComputeCalibration)->Arg(2)->Arg(3)->Arg(4)->ArgName("mode");

}  // namespace
