#include "sim/finger.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "device/protocol.h"

namespace tactra::sim {

using namespace tactra::proto;

namespace {

// Catching up after a late tick sends what was due, but never floods a client at once.
constexpr int kMaxStepsPerTick = 1000;

uint16_t ClampRaw(double v) {
  const double r = std::floor(v);
  if (!(r >= 0)) return 0;
  if (r > 65535) return 65535;
  return static_cast<uint16_t>(r);
}

}  // namespace

RawMap DefaultRawMap(int width, int height) {
  RawMap m;
  m.a = 4096.0 / std::max(1, width);
  m.e = 4096.0 / std::max(1, height);
  return m;
}

bool ParseRawMap(const std::string& text, RawMap& out) {
  double v[6];
  const char* p = text.c_str();
  for (int i = 0; i < 6; ++i) {
    char* end = nullptr;
    v[i] = std::strtod(p, &end);
    if (end == p || !std::isfinite(v[i])) return false;
    p = end;
    if (i < 5) {
      if (*p != ',') return false;
      ++p;
    }
  }
  if (*p != '\0') return false;
  out = {v[0], v[1], v[2], v[3], v[4], v[5]};
  return true;
}

std::vector<ScreenPoint> TargetPoints(int mode, int width, int height) {
  // Target controls in control order (centre, then clockwise from top-left), as fractions:
  // 0 = 1/32, 1 = 1/2, 2 = 31/32.
  static const int kCells[9][2] = {{1, 1}, {0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {1, 2}, {0, 2}, {0, 1}};
  auto at = [](int cell, int size) {
    if (cell == 0) return size * 0.03125;
    if (cell == 1) return size * 0.5;
    return size * 31 * 0.03125;
  };
  const int count = TargetCountForMode(mode);
  std::vector<ScreenPoint> points;
  for (int k = 0; k < count; ++k) {
    int i = k;
    if (mode == kModeFivePoint) i = k == 0 ? 0 : 2 * k - 1;
    if (mode == kModeFourPoint) i = 2 * k + 1;
    points.push_back({at(kCells[i][0], width), at(kCells[i][1], height)});
  }
  return points;
}

Finger::Finger(FingerConfig config, uint32_t seed) : config_(config), random_(seed) {
  config_.rateHz = std::clamp(config_.rateHz, 1, 10000);
  config_.holdSamples = std::max(1, config_.holdSamples);
  config_.noise = std::max(0, config_.noise);
}

std::chrono::nanoseconds Finger::Period() const {
  return std::chrono::nanoseconds(1000000000LL / config_.rateHz);
}

std::array<uint16_t, 2> Finger::Raw(double x, double y) const {
  const RawMap& m = config_.map;
  return {ClampRaw(m.a * x + m.b * y + m.c + 0.5), ClampRaw(m.d * x + m.e * y + m.f + 0.5)};
}

void Finger::Begin(int mode, Clock::time_point now) {
  calibrating_ = true;
  liftPending_ = false;
  if (config_.automatic) {
    targets_ = TargetPoints(mode, config_.screenWidth, config_.screenHeight);
    target_ = 0;
    samplesLeft_ = config_.holdSamples;
    touching_ = false;
    due_ = targets_.empty() ? std::nullopt : std::optional<Clock::time_point>(now + kStartDelay);
  } else {
    due_ = touching_ ? std::optional<Clock::time_point>(now) : std::nullopt;
  }
}

void Finger::End() {
  calibrating_ = false;
  liftPending_ = false;
  due_.reset();
  if (config_.automatic) touching_ = false;
}

bool Finger::Touch(double x, double y, Clock::time_point now) {
  if (config_.automatic) return false;
  position_ = {x, y};
  touching_ = true;
  liftPending_ = false;
  if (calibrating_ && !due_) due_ = now;
  return true;
}

bool Finger::Lift(Clock::time_point now) {
  if (config_.automatic) return false;
  if (touching_ && calibrating_) {
    liftPending_ = true;
    due_ = now;
  }
  touching_ = false;
  return true;
}

std::optional<Clock::time_point> Finger::NextDue() const { return due_; }

void Finger::Tick(Clock::time_point now, std::vector<OutReport>& out) {
  for (int steps = 0; due_ && *due_ <= now && steps < kMaxStepsPerTick; ++steps) {
    const Clock::time_point at = *due_;
    if (!config_.automatic) {
      if (liftPending_) {
        liftPending_ = false;
        Emit(false, out);
        due_.reset();
      } else {
        Emit(true, out);
        due_ = at + Period();
      }
      continue;
    }
    if (samplesLeft_ > 0) {
      touching_ = true;
      position_ = targets_[target_];
      Emit(true, out);
      --samplesLeft_;
      due_ = at + Period();
      continue;
    }
    // The target was held long enough: lift, then move on to the next one.
    touching_ = false;
    Emit(false, out);
    ++target_;
    samplesLeft_ = config_.holdSamples;
    if (target_ < targets_.size()) {
      due_ = at + kLiftPause;
    } else {
      due_.reset();
    }
  }
}

void Finger::Emit(bool touching, std::vector<OutReport>& out) {
  std::array<uint16_t, 2> raw = Raw(position_.x, position_.y);
  if (touching && config_.noise > 0) {
    std::uniform_int_distribution<int> jitter(-config_.noise, config_.noise);
    for (uint16_t& v : raw) v = ClampRaw(static_cast<double>(v) + jitter(random_));
  }
  OutReport touch;
  touch.channel = kTouchChannel;
  touch.bytes.assign(kTouchReportLength, 0);
  touch.bytes[0] = kTouchReportId;
  touch.bytes[1] = touching ? 3 : 0;
  PutLE16(&touch.bytes[3], raw[0]);
  PutLE16(&touch.bytes[5], raw[1]);
  out.push_back(std::move(touch));
  if (!config_.calibrationSamples) return;
  OutReport sample;
  sample.channel = kCalibrationChannel;
  sample.bytes.assign(kCalibrationReportLength, 0);
  sample.bytes[0] = kCalibrationReportId;
  sample.bytes[1] = CMD_CAL_SAMPLE;
  sample.bytes[2] = 5;
  sample.bytes[3] = touching ? 7 : 0;
  PutLE16(&sample.bytes[4], raw[0]);
  PutLE16(&sample.bytes[6], raw[1]);
  sample.bytes[8] = 0xFF;
  out.push_back(std::move(sample));
}

}  // namespace tactra::sim
