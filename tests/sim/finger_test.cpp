// The simulated finger: target order, raw mapping, timing, and that a run accepts its points.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/finger.h"

namespace tactra::sim {
namespace {

using namespace tactra::proto;
using std::chrono::milliseconds;

struct Touch {
  bool touching;
  int x, y;
};

std::vector<Touch> Touches(const std::vector<OutReport>& reports) {
  std::vector<Touch> t;
  for (const OutReport& r : reports) {
    if (r.channel != kTouchChannel) continue;
    RawPoint p;
    EXPECT_TRUE(ParseTouchReport(r.bytes.data(), r.bytes.size(), p));
    t.push_back({p.touching, p.x, p.y});
  }
  return t;
}

TEST(FingerTest, TargetsFollowTheRunsOrderForEachMode) {
  const auto five = TargetPoints(kModeFivePoint, 1024, 768);
  ASSERT_EQ(five.size(), 5u);
  EXPECT_DOUBLE_EQ(five[0].x, 512);  // centre first
  EXPECT_DOUBLE_EQ(five[1].x, 32);   // then top-left, not top-centre
  EXPECT_DOUBLE_EQ(five[1].y, 24);
  EXPECT_DOUBLE_EQ(five[2].x, 992);  // top-right
  EXPECT_DOUBLE_EQ(five[4].y, 744);  // bottom-left
  const auto four = TargetPoints(kModeFourPoint, 1024, 768);
  ASSERT_EQ(four.size(), 4u);
  EXPECT_DOUBLE_EQ(four[0].x, 32);
  EXPECT_DOUBLE_EQ(four[3].x, 32);
  EXPECT_DOUBLE_EQ(four[3].y, 744);
  EXPECT_EQ(TargetPoints(kModeNinePoint, 1024, 768).size(), 9u);
  EXPECT_TRUE(TargetPoints(7, 1024, 768).empty());
}

TEST(FingerTest, RawMapRoundsHalfUpAndDefaultSpreadsTheScreen) {
  FingerConfig config;
  config.map = {1.5, 0.25, 0.0, 0.0, 1.0, -0.5};
  Finger f(config);
  EXPECT_EQ(f.Raw(3, 2)[0], 5);  // 4.5 + 0.5 -> 5
  EXPECT_EQ(f.Raw(3, 2)[1], 2);  // 1.5 + 0.5 -> 2
  EXPECT_EQ(f.Raw(-100, 0)[0], 0);
  config.map = DefaultRawMap(1024, 768);
  Finger d(config);
  EXPECT_EQ(d.Raw(32, 24)[0], 128);
  EXPECT_EQ(d.Raw(992, 744)[1], 3968);
  EXPECT_LE(d.Raw(1023, 767)[0], 4095);
  RawMap parsed;
  EXPECT_TRUE(ParseRawMap("1,0,-3.5,0,2e0,7", parsed));
  EXPECT_DOUBLE_EQ(parsed.c, -3.5);
  EXPECT_FALSE(ParseRawMap("1,0,0,0,1", parsed));
  EXPECT_FALSE(ParseRawMap("1,0,0,0,1,0,", parsed));
  EXPECT_FALSE(ParseRawMap("1,0,0,0,1,nan", parsed));
}

TEST(FingerTest, AutoTouchesEachTargetAfterTheStartDelayThenStops) {
  FingerConfig config;
  config.holdSamples = 3;
  config.rateHz = 100;
  Finger f(config);
  const Clock::time_point t0{};
  f.Begin(kModeFourPoint, t0);
  ASSERT_TRUE(f.NextDue().has_value());
  EXPECT_EQ(*f.NextDue() - t0, milliseconds(1000));
  std::vector<OutReport> out;
  f.Tick(t0 + milliseconds(999), out);
  EXPECT_TRUE(out.empty());
  f.Tick(t0 + milliseconds(1020), out);  // samples at 1000, 1010, 1020
  EXPECT_EQ(out.size(), 3u);
  f.Tick(t0 + milliseconds(1030), out);  // the lift
  auto t = Touches(out);
  ASSERT_EQ(t.size(), 4u);
  EXPECT_FALSE(t[3].touching);
  EXPECT_EQ(*f.NextDue() - t0, milliseconds(1530));  // half a second lifted
  f.Tick(t0 + milliseconds(10000), out);
  t = Touches(out);
  ASSERT_EQ(t.size(), 16u);
  EXPECT_EQ(t[4].x, 3968);
  EXPECT_EQ(t[4].y, 128);
  EXPECT_FALSE(f.NextDue().has_value());  // finished: nothing more to do
}

TEST(FingerTest, AutoPointsSatisfyTheRunsAcceptanceWithNoise) {
  // Every series of 100 samples stays within 20 units of its last sample and its mean, and
  // consecutive targets lie at least 1000 units apart.
  for (int mode : {kModeFourPoint, kModeFivePoint, kModeNinePoint}) {
    FingerConfig config;
    config.noise = 5;
    Finger f(config);
    f.Begin(mode, Clock::time_point{});
    std::vector<OutReport> out;
    while (f.NextDue()) f.Tick(*f.NextDue(), out);
    std::vector<std::pair<double, double>> means;
    std::vector<Touch> series;
    for (const Touch& t : Touches(out)) {
      if (t.touching) {
        if (!series.empty()) {
          EXPECT_LE(std::hypot(t.x - series.back().x, t.y - series.back().y), 20.0);
        }
        series.push_back(t);
        continue;
      }
      ASSERT_EQ(series.size(), 120u);
      double mx = 0, my = 0;
      for (const Touch& s : series) mx += s.x, my += s.y;
      means.push_back({mx / series.size(), my / series.size()});
      series.clear();
    }
    ASSERT_EQ(means.size(), static_cast<std::size_t>(TargetCountForMode(mode)));
    for (std::size_t k = 1; k < means.size(); ++k) {
      EXPECT_GE(std::hypot(means[k].first - means[k - 1].first, means[k].second - means[k - 1].second),
                1000.0);
    }
  }
}

TEST(FingerTest, ManualFingerSendsOnlyWhileCalibratingAndTouching) {
  FingerConfig config;
  config.automatic = false;
  config.calibrationSamples = true;
  Finger f(config);
  const Clock::time_point t0{};
  EXPECT_TRUE(f.Touch(100, 200, t0));
  EXPECT_FALSE(f.NextDue().has_value());  // not calibrating: silent
  f.Begin(kModeFivePoint, t0);
  std::vector<OutReport> out;
  f.Tick(t0 + milliseconds(15), out);
  ASSERT_EQ(out.size(), 4u);  // two touch reports and two samples
  RawPoint p;
  ASSERT_TRUE(ParseCalSample(out[1].bytes.data() + 3, 5, p));
  EXPECT_TRUE(p.touching);
  EXPECT_EQ(p.x, 400);
  EXPECT_TRUE(IsCalibrationReply(out[1].bytes.data(), out[1].bytes.size()));
  out.clear();
  EXPECT_TRUE(f.Lift(t0 + milliseconds(20)));
  f.Tick(t0 + milliseconds(100), out);
  ASSERT_EQ(Touches(out).size(), 1u);
  EXPECT_FALSE(Touches(out)[0].touching);
  EXPECT_FALSE(f.NextDue().has_value());

  FingerConfig autoConfig;
  Finger a(autoConfig);
  EXPECT_FALSE(a.Touch(1, 1, t0));
}

}  // namespace
}  // namespace tactra::sim
