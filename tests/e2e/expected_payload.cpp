// Prints, as hex, the CMD_CAL_WRITE_RESULT payload that the computation gives for the raw
// points the simulator's auto finger produces in a mode (no noise): the end-to-end test
// compares it with what the frame received.
//   tactra-e2e-expected MODE WIDTH HEIGHT OS_CLASS ORIENTATION
#include <cstdio>
#include <cstdlib>

#include "calibration/compute.h"
#include "sim/finger.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fputs("usage: tactra-e2e-expected MODE WIDTH HEIGHT OS_CLASS ORIENTATION\n", stderr);
    return 2;
  }
  const int mode = std::atoi(argv[1]);
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  tactra::CalibrationInput input;
  input.mode = mode;
  input.osClass = std::atoi(argv[4]);
  input.orientation = std::atoi(argv[5]);

  tactra::sim::FingerConfig config;
  config.screenWidth = width;
  config.screenHeight = height;
  config.map = tactra::sim::DefaultRawMap(width, height);
  tactra::sim::Finger finger(config);
  const auto points = tactra::sim::TargetPoints(mode, width, height);
  if (points.empty() || points.size() > input.rx.size()) return 1;
  for (std::size_t k = 0; k < points.size(); ++k) {
    const auto raw = finger.Raw(points[k].x, points[k].y);
    input.rx[k] = raw[0];
    input.ry[k] = raw[1];
  }
  const tactra::CalibrationResult result = tactra::ComputeCalibration(input);
  if (!result.ok) {
    std::puts("not-ok");
    return 0;
  }
  for (std::size_t i = 0; i < result.payload.length; ++i) std::printf("%02x", result.payload.bytes[i]);
  std::puts("");
  return 0;
}
