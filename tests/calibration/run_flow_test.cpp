// The run around the samples: opening conversation, replies, timer and countdown, result and
// the two ways out.
#include <gtest/gtest.h>

#include "resources/kelvane_ids.h"
#include "tests/fakes/run_fakes.h"

namespace tactra::calib::test {
namespace {

TEST(Conversation, OpensWithModeThenBeginAndTheFixedPauses) {
  RunRig rig;
  rig.run.OpenConversation();
  EXPECT_EQ(rig.Log(), (std::vector<std::string>{"send 1", "redraw", "pause 50", "send 3", "pause 500"}));
  ASSERT_EQ(rig.link.Sent().size(), 2u);
  const std::vector<uint8_t> getMode{6, 1, 0, 0xFF};
  EXPECT_EQ(rig.link.Sent()[0].bytes.size(), 48u);
  EXPECT_TRUE(std::equal(getMode.begin(), getMode.end(), rig.link.Sent()[0].bytes.begin()));
}

TEST(Conversation, WithoutAFrameEachCommandShowsNotConnectedAndThePausesStay) {
  RunRig rig;
  rig.link.state = kLinkNone;
  rig.run.OpenConversation();
  rig.run.Finish(true);
  EXPECT_TRUE(rig.link.Sent().empty());
  EXPECT_EQ(rig.Log(), (std::vector<std::string>{"redraw", "pause 50", "pause 500", "pause 500"}));
  EXPECT_EQ(rig.messages.Shown(), (std::vector<std::pair<int, int>>(3, {IDS_NOT_CONNECTED, IDS_CAPTION})));
}

TEST(Conversation, FinishSendsEndWithTheChoice) {
  for (bool ok : {true, false}) {
    RunRig rig;
    rig.run.Finish(ok);
    ASSERT_EQ(rig.link.Sent().size(), 1u);
    const Bytes b = rig.link.Sent()[0].bytes;
    EXPECT_EQ(b[1], proto::CMD_CAL_END);
    EXPECT_EQ(b[2], 1);
    EXPECT_EQ(b[3], ok ? 1 : 0);
    EXPECT_EQ(b[4], 0xFF);
    EXPECT_EQ(rig.Log().back(), "pause 500");
  }
}

TEST(Replies, ModeBeginAndRefusals) {
  struct Case {
    const char* name;
    std::vector<uint8_t> reply;
    bool asked;  // the answer to the run's own request, within its wait
    int mode;
    int targets;
    int linkState;
    int refusals;
  };
  const std::vector<Case> cases{
      // Until the frame says otherwise the run has the initial mode's five targets.
      {"mode 2", Reply(1, {2}), true, 2, 4, 1, 0},
      {"mode 4", Reply(1, {4}), true, 4, 9, 1, 0},
      {"mode 4 nobody asked for", Reply(1, {4}), false, 3, 5, 1, 0},
      {"mode 5 is not a mode", Reply(1, {5}), true, 3, 5, 1, 0},
      {"mode reply with two bytes", Reply(1, {2, 0}), true, 3, 5, 1, 0},
      {"begin acknowledged", Reply(3, {1}), false, 3, 5, 2, 0},
      {"begin refused", Reply(3, {0}), false, 3, 5, 1, 1},
      {"result refused", Reply(4, {0}), false, 3, 5, 1, 1},
      {"result taken", Reply(4, {1}), false, 3, 5, 1, 0},
      {"end refused", Reply(5, {0}), false, 3, 5, 1, 1},
      {"unknown code", Reply(9, {0}), false, 3, 5, 1, 0},
  };
  for (const auto& c : cases) {
    RunRig rig;
    if (c.asked) {
      const Bytes reply = c.reply;
      rig.link.responder = [reply](int, const Bytes& written) {
        return written[1] == proto::CMD_CAL_GET_MODE ? std::vector<Bytes>{reply} : std::vector<Bytes>{};
      };
      rig.run.OpenConversation();
    } else {
      rig.run.OnDeviceReply(c.reply.data(), c.reply.size());
    }
    EXPECT_EQ(rig.run.mode(), c.mode) << c.name;
    EXPECT_EQ(rig.run.targetCount(), c.targets) << c.name;
    EXPECT_EQ(rig.link.GetLinkState(), c.linkState) << c.name;
    // Refusals are the window's to show, never a box on the reader worker.
    EXPECT_EQ(rig.port.refusals.load(), c.refusals) << c.name;
    EXPECT_TRUE(rig.messages.Shown().empty()) << c.name;
  }
}

// The mode reply at every point of the run: only the first answer to the run's own request,
// within its wait, sets the mode; when the first target is already on screen and the mode is
// another, the targets start again from the new mode's first, without the samples so far.
TEST(Replies, TheModeReplyAtEveryPointOfTheRun) {
  struct Case {
    const char* name;
    std::vector<std::string> script;
    int mode;
    int current;
    int samples;
  };
  const Case cases[] = {
      {"answered before the target is drawn", {"begin", "answer 4", "draw", "touch"}, 4, 0, 1},
      {"answered after the target is drawn, same mode", {"begin", "draw", "touch", "answer 3"}, 3, 0, 1},
      {"answered after the target is drawn, another mode", {"begin", "draw", "touch", "answer 4"}, 4, 0, 0},
      {"the new mode's target drawn again", {"begin", "draw", "answer 4", "touch", "draw", "touch"}, 4, 0, 1},
      {"answered after target 0 was taken", {"begin", "draw", "hold", "answer 2"}, 2, 0, 0},
      {"answered twice", {"begin", "draw", "answer 4", "twice 2", "draw", "touch"}, 4, 0, 1},
      {"after the wait", {"begin", "draw", "timeout", "late 4", "touch"}, 3, 0, 1},
      {"the console's request, later", {"begin", "draw", "timeout", "late 2", "hold"}, 3, 1, 0},
      {"no sample before a target is drawn", {"begin", "answer 3", "touch", "touch"}, 3, 0, 0},
  };
  for (const Case& c : cases) {
    RunRig rig;
    Bytes pending;
    for (const std::string& step : c.script) {
      const std::string verb = step.substr(0, step.find(' '));
      const uint8_t value =
          step.find(' ') == std::string::npos ? 0 : uint8_t(std::stoi(step.substr(step.find(' '))));
      const Bytes reply = Reply(proto::CMD_CAL_GET_MODE, {value});
      // The reply comes while the mode request waits ("answer", "twice"), or after it ("late").
      const auto converse = [&](std::vector<Bytes> replies) {
        rig.link.responder = [replies](int, const Bytes& written) {
          return written[1] == proto::CMD_CAL_GET_MODE ? replies : std::vector<Bytes>{};
        };
        rig.run.OpenConversation();
        rig.link.responder = nullptr;
      };
      if (verb == "begin") rig.run.BeginCollecting();
      if (verb == "draw") {
        rig.run.OnTimer();
        rig.run.OnTargetsDrawn(rig.run.generation());
      }
      if (verb == "touch") rig.Touch(2048, 2048);
      if (verb == "hold") rig.HoldTarget(2048, 2048);
      if (verb == "answer") converse({reply});
      if (verb == "twice") {
        // A second answer to the same request after the first was taken.
        rig.run.OnDeviceReply(reply.data(), reply.size());
      }
      if (verb == "timeout") converse({});
      if (verb == "late") rig.run.OnDeviceReply(reply.data(), reply.size());
    }
    EXPECT_EQ(rig.run.mode(), c.mode) << c.name;
    EXPECT_EQ(rig.run.targetCount(), proto::TargetCountForMode(c.mode)) << c.name;
    EXPECT_EQ(rig.run.currentTarget(), c.current) << c.name;
    EXPECT_EQ(rig.run.sampleCount(), c.samples) << c.name;
  }
}

TEST(Timer, CountdownAndTheTwentySecondTimeOut) {
  RunRig rig;
  rig.messages.texts[1057] = L"Left:";
  rig.messages.texts[1058] = L"s";
  rig.StartInMode(4);
  EXPECT_EQ(rig.run.instructionText(), L"<1055>");
  EXPECT_EQ(rig.run.OnTimer(), TickAction::Continue);
  EXPECT_EQ(rig.run.countdownText(), L"Left: 20 s");
  std::vector<int> shown;
  for (int tick = 2; tick < 40; ++tick) {
    ASSERT_EQ(rig.run.OnTimer(), TickAction::Continue) << tick;
    shown.push_back(std::stoi(rig.run.countdownText().substr(6)));
  }
  EXPECT_EQ(shown.front(), 19);
  EXPECT_EQ(shown[1], 19);
  EXPECT_EQ(shown.back(), 1);
  EXPECT_FALSE(rig.run.buttonsVisible());
  EXPECT_EQ(rig.run.OnTimer(), TickAction::Cancel);
}

TEST(Timer, AnAcceptedTargetRestartsTheClock) {
  RunRig rig;
  rig.StartInMode(4);
  for (int i = 0; i < 39; ++i) rig.run.OnTimer();
  rig.HoldTarget(2048, 2048);
  for (int i = 0; i < 39; ++i) ASSERT_EQ(rig.run.OnTimer(), TickAction::Continue);
  EXPECT_EQ(rig.run.OnTimer(), TickAction::Cancel);
}

TEST(Timer, AfterCompletionThirtySecondsWithButtons) {
  RunRig rig;
  rig.StartInMode(2);
  rig.HoldTarget(100, 100);
  rig.HoldTarget(4000, 100);
  rig.HoldTarget(4000, 4000);
  rig.HoldTarget(100, 4000);
  ASSERT_TRUE(rig.run.done());
  EXPECT_EQ(rig.run.OnTimer(), TickAction::Continue);
  EXPECT_EQ(rig.run.instructionText(), L"<1056>");
  EXPECT_EQ(rig.run.countdownText(), L"<1057> 30 <1058>");
  EXPECT_TRUE(rig.run.buttonsVisible());
  for (int tick = 2; tick < 60; ++tick) ASSERT_EQ(rig.run.OnTimer(), TickAction::Continue) << tick;
  EXPECT_EQ(rig.run.countdownText(), L"<1057> 1 <1058>");
  EXPECT_EQ(rig.run.OnTimer(), TickAction::Cancel);
}

TEST(Timer, CurrentTargetBlinksWithTheTimer) {
  RunRig rig;
  rig.StartInMode(4);
  EXPECT_TRUE(rig.run.MarksFor(0).crosshair);
  EXPECT_FALSE(rig.run.MarksFor(0).brackets);
  rig.run.OnTimer();
  EXPECT_TRUE(rig.run.MarksFor(0).brackets);
  EXPECT_EQ(rig.run.MarksFor(0).pen, MarkPen::Current);
  EXPECT_FALSE(rig.run.MarksFor(1).crosshair) << "targets still to come show nothing";
  rig.run.OnTimer();
  EXPECT_FALSE(rig.run.MarksFor(0).brackets);
}

TEST(ResourceTexts, PercentSignsAreNeverFormatDirectives) {
  RunRig rig;
  rig.messages.texts[1057] = L"%s%d 100%% %n";
  rig.messages.texts[1058] = L"%";
  rig.StartInMode(4);
  rig.run.OnTimer();
  EXPECT_EQ(rig.run.countdownText(), L"%s%d 100% %n 20 %");
}

TEST(Result, WrittenOnceDoneWithThePayloadOfTheComputation) {
  RunRig rig;
  rig.StartInMode(2);
  EXPECT_FALSE(rig.run.WriteResult()) << "nothing to write before completion";
  rig.HoldTarget(100, 100);
  rig.HoldTarget(4000, 100);
  rig.HoldTarget(4000, 4000);
  rig.HoldTarget(100, 4000);
  ASSERT_TRUE(rig.run.WriteResult());
  ASSERT_EQ(rig.link.Sent().size(), 1u);
  const Bytes b = rig.link.Sent()[0].bytes;
  EXPECT_EQ(b[1], proto::CMD_CAL_WRITE_RESULT);
  EXPECT_EQ(b[2], 12);
  EXPECT_EQ(b[3], 0xAB);
  EXPECT_EQ(b[15], 0xFF);
  EXPECT_TRUE(rig.run.okAvailable());
}

TEST(Result, ADegenerateFitSendsNothingAndLeavesOnlyCancel) {
  RunRig rig;
  rig.computer.ok = false;
  rig.StartInMode(2);
  rig.HoldTarget(100, 100);
  rig.HoldTarget(4000, 100);
  rig.HoldTarget(4000, 4000);
  rig.HoldTarget(100, 4000);
  EXPECT_FALSE(rig.run.WriteResult());
  EXPECT_TRUE(rig.link.Sent().empty());
  EXPECT_FALSE(rig.run.okAvailable());
  EXPECT_EQ(rig.messages.Shown(), (std::vector<std::pair<int, int>>{{IDS_REFUSED, IDS_CAPTION}}));
}

// Calibrate again after a kept run: the same run object starts over as at the start, whatever
// the first run left behind (another mode, a result, the buttons, a late drawing).
TEST(Restart, ASecondRunAsAtTheStart) {
  RunRig rig;
  rig.StartInMode(2);
  for (int i = 0; i < 3; ++i) rig.run.OnTimer();
  const int oldGeneration = rig.run.generation();
  rig.HoldTarget(100, 100);
  rig.HoldTarget(4000, 100);
  rig.HoldTarget(4000, 4000);
  rig.HoldTarget(100, 4000);
  rig.run.OnTimer();
  ASSERT_TRUE(rig.run.WriteResult());
  rig.run.Finish(true);
  ASSERT_TRUE(rig.run.buttonsVisible());
  rig.link.ForgetSent();
  rig.log.Clear();

  rig.run.Restart();
  EXPECT_FALSE(rig.run.done());
  EXPECT_FALSE(rig.run.buttonsVisible());
  EXPECT_TRUE(rig.run.okAvailable());
  EXPECT_EQ(rig.run.mode(), proto::kModeFivePoint);
  EXPECT_EQ(rig.run.targetCount(), 5);
  EXPECT_EQ(rig.run.currentTarget(), -1);
  EXPECT_EQ(rig.run.instructionText(), rig.messages.LoadText(IDS_INSTRUCTION));
  EXPECT_TRUE(rig.run.countdownText().empty());
  EXPECT_FALSE(rig.run.WriteResult()) << "the first run's result is not written again";
  // A drawing of the first run's targets does not let samples count.
  rig.run.BeginCollecting();
  rig.run.OnTargetsDrawn(oldGeneration);
  rig.Touch(2000, 2000);
  EXPECT_EQ(rig.run.sampleCount(), 0);
  for (int slot = 0; slot < kTargetSlots; ++slot) EXPECT_FALSE(rig.run.MarksFor(slot).crosshair) << slot;

  // Mode request, begin, then the new mode's targets from the first, with their full time.
  const Bytes answer = Reply(proto::CMD_CAL_GET_MODE, {4});
  rig.link.responder = [answer](int, const Bytes& written) {
    return written[1] == proto::CMD_CAL_GET_MODE ? std::vector<Bytes>{answer} : std::vector<Bytes>{};
  };
  rig.run.OpenConversation();
  EXPECT_EQ(rig.Log(), (std::vector<std::string>{"send 1", "redraw", "pause 50", "send 3", "pause 500"}));
  EXPECT_EQ(rig.run.mode(), proto::kModeNinePoint);
  rig.run.OnTargetsDrawn(rig.run.generation());
  EXPECT_TRUE(rig.run.MarksFor(TargetSlot(4, 0)).crosshair);
  EXPECT_EQ(rig.run.OnTimer(), TickAction::Continue);
  EXPECT_EQ(rig.run.tickCounter(), 1);
  const uint16_t grid[3] = {200, 2000, 3800};
  for (int k = 0; k < 9; ++k) rig.HoldTarget(grid[k % 3], grid[k / 3]);
  EXPECT_TRUE(rig.run.done());
  EXPECT_EQ(rig.computer.calls, 2);
  EXPECT_EQ(rig.computer.lastMode, 4);
  EXPECT_EQ(rig.port.posts.load(), 2);
}

}  // namespace
}  // namespace tactra::calib::test
