// The simulated finger: while the frame calibrates it produces touch reports (and optionally
// calibration samples) from screen points through a raw map. In auto mode it touches the
// targets of the current mode in the order the calibration run takes them; in manual mode it
// goes where it is told. Time is passed in, so tests need no clock.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/frame_model.h"

namespace tactra::sim {

using Clock = std::chrono::steady_clock;

// raw X = floor(a*x + b*y + c + 0.5), raw Y = floor(d*x + e*y + f + 0.5).
struct RawMap {
  double a = 4.0, b = 0.0, c = 0.0, d = 0.0, e = 4096.0 / 768.0, f = 0.0;
};

// The map that spreads a W x H screen over 0..4095 raw units.
RawMap DefaultRawMap(int width, int height);
// "a,b,c,d,e,f"; false when it is not six finite numbers.
bool ParseRawMap(const std::string& text, RawMap& out);

struct FingerConfig {
  bool automatic = true;
  int screenWidth = 1024;
  int screenHeight = 768;
  RawMap map = DefaultRawMap(1024, 768);
  int noise = 0;  // uniform in [-noise, +noise] raw units on each axis
  int rateHz = 100;
  int holdSamples = 120;
  bool calibrationSamples = false;  // also send CMD_CAL_SAMPLE on the calibration channel
};

struct ScreenPoint {
  double x;
  double y;
};

// The screen points of the calibration targets of `mode`, in the order the run takes them.
std::vector<ScreenPoint> TargetPoints(int mode, int width, int height);

class Finger {
 public:
  static constexpr std::chrono::milliseconds kStartDelay{1000};
  static constexpr std::chrono::milliseconds kLiftPause{500};

  explicit Finger(FingerConfig config, uint32_t seed = 1);

  // The frame acknowledged CMD_CAL_BEGIN in `mode`: auto touching starts after kStartDelay.
  void Begin(int mode, Clock::time_point now);
  // Calibration ended (or power lost): the finger stops producing reports.
  void End();
  // Manual finger: down at a screen point, or lifted. False in auto mode.
  bool Touch(double x, double y, Clock::time_point now);
  bool Lift(Clock::time_point now);

  // When the next report is due; empty while the finger has nothing to send.
  std::optional<Clock::time_point> NextDue() const;
  // Appends every report due at `now`.
  void Tick(Clock::time_point now, std::vector<OutReport>& out);

  bool touching() const { return touching_; }
  ScreenPoint position() const { return position_; }
  const FingerConfig& config() const { return config_; }

  // The raw point of a screen point, without noise, clamped to 0..65535.
  std::array<uint16_t, 2> Raw(double x, double y) const;

 private:
  void Emit(bool touching, std::vector<OutReport>& out);
  std::chrono::nanoseconds Period() const;

  FingerConfig config_;
  std::mt19937 random_;
  bool calibrating_ = false;
  bool touching_ = false;
  bool liftPending_ = false;  // a release report is still to be sent
  ScreenPoint position_{0, 0};
  std::optional<Clock::time_point> due_;
  // Auto plan.
  std::vector<ScreenPoint> targets_;
  std::size_t target_ = 0;
  int samplesLeft_ = 0;
};

}  // namespace tactra::sim
