// The collection of samples: series rules, averaging, acceptance of targets, completion.
#include <gtest/gtest.h>

#include <thread>

#include "resources/kelvane_ids.h"
#include "tests/fakes/run_fakes.h"

namespace tactra::calib::test {
namespace {

TEST(TargetSlot, OrderOfEachMode) {
  const std::vector<int> four{1, 3, 5, 7};
  const std::vector<int> five{0, 1, 3, 5, 7};
  const std::vector<int> nine{0, 1, 2, 3, 4, 5, 6, 7, 8};
  for (auto [mode, slots] : {std::pair{2, four}, std::pair{3, five}, std::pair{4, nine}}) {
    for (std::size_t k = 0; k < slots.size(); ++k) EXPECT_EQ(TargetSlot(mode, int(k)), slots[k]) << mode;
    EXPECT_EQ(TargetSlot(mode, int(slots.size())), -1) << mode;
    EXPECT_EQ(TargetSlot(mode, -1), -1) << mode;
  }
  EXPECT_EQ(TargetSlot(5, 0), -1);
}

struct SeriesCase {
  const char* name;
  std::vector<std::pair<uint16_t, uint16_t>> points;
  int expectedCount;
};

TEST(SampleSeries, StrayPointsRestartTheSeriesFromThatPoint) {
  const std::vector<SeriesCase> cases{
      {"steady", {{100, 100}, {100, 100}, {101, 99}}, 3},
      {"exactly 20 from last and mean passes", {{100, 100}, {120, 100}}, 2},
      {"21 from the last restarts", {{100, 100}, {121, 100}}, 1},
      {"diagonal beyond 20 restarts", {{100, 100}, {115, 115}}, 1},
      {"diagonal within 20 passes", {{100, 100}, {112, 116}}, 2},
      // Each step is 15 from the last, but 130 lies 25 from the mean of 100, 100, 115 (105).
      {"far from the mean restarts", {{100, 100}, {100, 100}, {115, 100}, {130, 100}}, 1},
      {"restart keeps counting from the stray point", {{100, 100}, {500, 500}, {505, 505}}, 2},
      // Squares of raw 16-bit distances do not fit 32 bits.
      {"extreme coordinates restart", {{0, 0}, {65535, 65535}}, 1},
      {"extreme coordinates steady", {{65535, 65535}, {65535, 65535}}, 2},
  };
  for (const auto& c : cases) {
    RunRig rig;
    rig.StartInMode(4);
    for (auto [x, y] : c.points) rig.Touch(x, y);
    EXPECT_EQ(rig.run.sampleCount(), c.expectedCount) << c.name;
  }
}

TEST(SampleSeries, LiftedFingerNeitherKeepsNorDiscards) {
  RunRig rig;
  rig.StartInMode(4);
  rig.Touch(100, 100, 5);
  for (uint8_t state : {0, 1, 4}) {
    auto lifted = TouchReport(3000, 3000, state);
    rig.run.HandleSample(lifted.data(), lifted.size());
    EXPECT_EQ(rig.run.touchState(), Touch::NotTouching);
  }
  EXPECT_EQ(rig.run.sampleCount(), 5);
  rig.Touch(100, 100);
  EXPECT_EQ(rig.run.sampleCount(), 6);
  EXPECT_EQ(rig.run.touchState(), Touch::Touching);
}

// Each report reaches the run as its reader worker hands it over: touch reports to HandleSample,
// replies of the calibration channel to OnDeviceReply. Only a touching report of the right
// length adds to the series.
TEST(SampleSeries, WhatCountsAsATouch) {
  struct Case {
    const char* name;
    Bytes report;
    bool isReply;
    Touch state;  // Unknown: the report was not taken at all
  };
  const Case cases[] = {
      {"touch report, contact state 2", TouchReport(300, 400, 2), false, Touch::Touching},
      {"touch report, contact state 3", TouchReport(300, 400, 3), false, Touch::Touching},
      {"touch report, contact state 1", TouchReport(300, 400, 1), false, Touch::NotTouching},
      {"sample reply, state 7", Reply(proto::CMD_CAL_SAMPLE, {7, 0x2C, 0x01, 0x90, 0x01}), true,
       Touch::Touching},
      {"sample reply, state 6", Reply(proto::CMD_CAL_SAMPLE, {6, 0x2C, 0x01, 0x90, 0x01}), true,
       Touch::NotTouching},
      // The terminator would be read as the high byte of Y.
      {"sample reply, four bytes", Reply(proto::CMD_CAL_SAMPLE, {7, 0x2C, 0x01, 0x90}), true, Touch::Unknown},
      {"sample reply, six bytes", Reply(proto::CMD_CAL_SAMPLE, {7, 0x2C, 0x01, 0x90, 0x01, 0}), true,
       Touch::Unknown},
      {"sample reply, no payload", Reply(proto::CMD_CAL_SAMPLE, {}), true, Touch::Unknown},
  };
  for (const Case& c : cases) {
    RunRig rig;
    rig.StartInMode(4);
    for (int i = 0; i < kSeriesLength; ++i) {
      if (c.isReply) {
        rig.run.OnDeviceReply(c.report.data(), c.report.size());
      } else {
        rig.run.HandleSample(c.report.data(), c.report.size());
      }
    }
    EXPECT_EQ(rig.run.touchState(), c.state) << c.name;
    // A whole series of touches takes the target at (300, 400).
    const bool taken = c.state == Touch::Touching;
    EXPECT_EQ(rig.run.currentTarget(), taken ? 1 : 0) << c.name;
    EXPECT_EQ(rig.run.sampleCount(), 0) << c.name;
    EXPECT_EQ(rig.run.measured().rx[0], taken ? 300 : 0) << c.name;
    EXPECT_EQ(rig.run.measured().ry[0], taken ? 400 : 0) << c.name;
  }
}

TEST(SampleSeries, OtherLengthsAndIdleRunAreIgnored) {
  RunRig rig;
  auto touch = TouchReport(100, 100);
  rig.run.HandleSample(touch.data(), touch.size());  // before the run started
  EXPECT_EQ(rig.run.sampleCount(), 0);
  rig.run.BeginCollecting();  // no mode reply: the initial mode's five targets
  EXPECT_EQ(rig.run.targetCount(), 5);
  rig.run.HandleSample(touch.data(), touch.size());
  EXPECT_EQ(rig.run.sampleCount(), 0) << "a finger resting before the target is drawn";
  rig.run.OnTargetsDrawn(rig.run.generation());
  EXPECT_EQ(rig.run.sampleCount(), 0) << "nothing is drawn until the mode is settled";
  rig.run.OnTimer();
  rig.run.OnTargetsDrawn(rig.run.generation());
  rig.run.HandleSample(touch.data(), touch.size());
  EXPECT_EQ(rig.run.sampleCount(), 1);
  rig.run.HandleSample(touch.data(), 61);
  rig.run.HandleSample(touch.data(), 6);
  EXPECT_EQ(rig.run.sampleCount(), 1);
}

TEST(SampleSeries, TheFirstTenSamplesAreNotAveraged) {
  RunRig rig;
  rig.StartInMode(4);
  rig.Touch(1000, 2000, 10);
  rig.Touch(1010, 2014, 89);
  EXPECT_EQ(rig.run.currentTarget(), 0);
  rig.Touch(1010, 2014);
  ASSERT_EQ(rig.run.currentTarget(), 1);
  EXPECT_EQ(rig.run.measured().rx[0], 1010);
  EXPECT_EQ(rig.run.measured().ry[0], 2014);
}

TEST(SampleSeries, AverageTruncates) {
  RunRig rig;
  rig.StartInMode(4);
  rig.Touch(500, 500, 10);
  rig.Touch(501, 500, 89);  // 89 x 501 + 500 over 90 = 500.98...
  rig.Touch(500, 500);
  EXPECT_EQ(rig.run.measured().rx[0], 500);
}

TEST(SampleSeries, SampleRepliesCountLikeTouchReports) {
  RunRig rig;
  rig.StartInMode(4);
  auto sample = Reply(proto::CMD_CAL_SAMPLE, {7, 0x10, 0x01, 0x20, 0x02});
  for (int i = 0; i < kSeriesLength; ++i) rig.run.OnDeviceReply(sample.data(), sample.size());
  EXPECT_EQ(rig.run.currentTarget(), 1);
  EXPECT_EQ(rig.run.measured().rx[0], 0x110);
  EXPECT_EQ(rig.run.measured().ry[0], 0x220);
  auto notTouching = Reply(proto::CMD_CAL_SAMPLE, {6, 0, 0, 0, 0});
  rig.run.OnDeviceReply(notTouching.data(), notTouching.size());
  EXPECT_EQ(rig.run.touchState(), Touch::NotTouching);
}

TEST(TargetAcceptance, FirstTargetTakesNoDistanceTestAndTheSameSpotIsTakenAgain) {
  RunRig rig;
  rig.StartInMode(3);
  rig.HoldTarget(2048, 2048);
  ASSERT_EQ(rig.run.currentTarget(), 1);
  rig.run.OnTimer();
  rig.run.OnTimer();
  rig.run.OnTimer();
  // 999.5 units away: still too close to the previous target.
  rig.HoldTarget(2048 + 600, 2048 + 799);
  EXPECT_EQ(rig.run.currentTarget(), 1);
  EXPECT_EQ(rig.run.sampleCount(), 0);
  EXPECT_EQ(rig.run.tickCounter(), 3) << "a target taken again keeps its clock";
  // Exactly 1000 away is far enough.
  rig.HoldTarget(2048 + 600, 2048 + 800);
  EXPECT_EQ(rig.run.currentTarget(), 2);
  EXPECT_EQ(rig.run.tickCounter(), 0);
}

TEST(TargetAcceptance, ModeThreeTakesTopLeftSecond) {
  RunRig rig;
  rig.StartInMode(3);
  rig.HoldTarget(2048, 2048);
  rig.run.OnTimer();  // blink on
  const TargetMarks topLeft = rig.run.MarksFor(1);
  EXPECT_TRUE(topLeft.crosshair);
  EXPECT_TRUE(topLeft.brackets);
  EXPECT_EQ(topLeft.pen, MarkPen::Current);
  EXPECT_FALSE(rig.run.MarksFor(2).crosshair) << "top-centre is not a target of mode 3";
  EXPECT_EQ(rig.run.MarksFor(0).pen, MarkPen::Taken);
}

// A reader worker reads the current target, then waits for the series while the other worker
// accepts that target (or the last one): its sample belongs to no series.
TEST(TargetAcceptance, ASampleForATargetAlreadyAcceptedIsDropped) {
  RunRig rig;
  rig.StartInMode(2);
  rig.HoldTarget(100, 100);
  ASSERT_EQ(rig.run.currentTarget(), 1);
  rig.run.TakeSample(0, 100, 100);
  EXPECT_EQ(rig.run.sampleCount(), 0);
  rig.HoldTarget(4000, 100);
  rig.HoldTarget(4000, 4000);
  rig.HoldTarget(100, 4000);
  ASSERT_TRUE(rig.run.done());
  for (int i = 0; i < kSeriesLength; ++i) rig.run.TakeSample(3, 100, 4000);
  EXPECT_EQ(rig.run.sampleCount(), 0);
  EXPECT_EQ(rig.run.currentTarget(), 4);
  EXPECT_EQ(rig.run.measured().rx[4], 0);
  EXPECT_EQ(rig.port.posts.load(), 1);
}

// Corner targets of the nine-point run, far enough apart from one to the next.
const std::vector<std::pair<uint16_t, uint16_t>> kNinePoints{{2048, 2048}, {127, 127},   {2048, 127},
                                                             {3968, 127},  {3968, 2048}, {3968, 3968},
                                                             {2048, 3968}, {127, 3968},  {127, 2048}};

TEST(Completion, ComputesPostsOnceAndIgnoresLaterTouches) {
  RunRig rig;
  rig.StartInMode(4);
  for (auto [x, y] : kNinePoints) rig.HoldTarget(x, y);
  EXPECT_TRUE(rig.run.done());
  EXPECT_EQ(rig.run.currentTarget(), 9);
  EXPECT_EQ(rig.port.posts.load(), 1);
  ASSERT_EQ(rig.computer.calls, 1);
  EXPECT_EQ(rig.computer.lastMode, 4);
  for (std::size_t k = 0; k < kNinePoints.size(); ++k) {
    EXPECT_EQ(rig.computer.last.rx[k], kNinePoints[k].first);
    EXPECT_EQ(rig.computer.last.ry[k], kNinePoints[k].second);
  }
  rig.HoldTarget(1000, 1000);
  rig.HoldTarget(3000, 3000);
  EXPECT_EQ(rig.run.sampleCount(), 0);
  EXPECT_EQ(rig.port.posts.load(), 1);
  EXPECT_EQ(rig.computer.calls, 1);
}

TEST(Completion, EveryTargetShowsTakenAndNoneBlinks) {
  for (int mode : {2, 3, 4}) {
    RunRig rig;
    rig.StartInMode(mode);
    const int count = proto::TargetCountForMode(mode);
    for (int k = 0; k < count; ++k) {
      const int slot = TargetSlot(mode, k);
      rig.HoldTarget(kNinePoints[slot].first, kNinePoints[slot].second);
    }
    ASSERT_TRUE(rig.run.done()) << mode;
    for (int blinkPhase = 0; blinkPhase < 2; ++blinkPhase) {
      rig.run.OnTimer();
      for (int slot = 0; slot < kTargetSlots; ++slot) {
        bool used = false;
        for (int k = 0; k < count; ++k) used |= TargetSlot(mode, k) == slot;
        const TargetMarks m = rig.run.MarksFor(slot);
        EXPECT_EQ(m.crosshair, used) << mode << " slot " << slot;
        EXPECT_EQ(m.brackets, used) << mode << " slot " << slot;
        if (used) {
          EXPECT_EQ(m.pen, mode == 2 ? MarkPen::Default : MarkPen::Taken) << mode;
        }
      }
    }
  }
}

TEST(Completion, TwoReaderWorkersCompleteOnce) {
  RunRig rig;
  rig.StartInMode(2);
  const std::vector<std::pair<uint16_t, uint16_t>> corners{
      {100, 100}, {4000, 100}, {4000, 4000}, {100, 4000}};
  // Both workers deliver the same finger, as a frame sending touch reports and sample replies.
  auto feed = [&](bool asReplies) {
    for (auto [x, y] : corners) {
      auto touch = TouchReport(x, y);
      auto reply = Reply(proto::CMD_CAL_SAMPLE,
                         {7, uint8_t(x & 0xFF), uint8_t(x >> 8), uint8_t(y & 0xFF), uint8_t(y >> 8)});
      while (rig.run.currentTarget() < 4 &&
             corners[std::size_t(rig.run.currentTarget())] == std::pair<uint16_t, uint16_t>{x, y}) {
        if (asReplies) {
          rig.run.OnDeviceReply(reply.data(), reply.size());
        } else {
          rig.run.HandleSample(touch.data(), touch.size());
        }
      }
    }
  };
  std::thread a(feed, false);
  std::thread b(feed, true);
  a.join();
  b.join();
  EXPECT_TRUE(rig.run.done());
  EXPECT_EQ(rig.port.posts.load(), 1);
  EXPECT_EQ(rig.computer.calls, 1);
}

}  // namespace
}  // namespace tactra::calib::test
