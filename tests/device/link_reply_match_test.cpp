// Replies tied to their requests: every input report reaches every open handle, so a program
// sees the other program's replies, and a frame may answer twice, late or unasked. Only the
// first reply with the request's key reaches the owner, and only the wait it answers ends.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/device/link_test_support.h"

namespace tactra::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// A link whose waits last 200 ms.
struct MatchLink : BoundLink {
  explicit MatchLink(LinkConfig linkConfig) : BoundLink(WithWait(linkConfig, milliseconds(200))) {}

  // Waits until channel `channel`'s reader has taken `reads` reads, so that what it dropped is
  // known to be dropped.
  void SettleReads(int channel, int reads) {
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (frame[channel]->ReadStarts() < reads && Clock::now() < deadline) std::this_thread::yield();
  }
  std::vector<uint8_t> ReplyCodes() const {
    std::vector<uint8_t> codes;
    for (const Bytes& r : owner.Replies()) codes.push_back(r[1]);
    return codes;
  }
};

Bytes SettingsReply(uint8_t code, uint8_t access, uint8_t value) {
  return MakeReply(7, code, {access, value});
}
Bytes SettingsWrite(uint8_t code, uint8_t value) {
  Bytes bytes(64, 0);
  bytes[0] = 7;
  bytes[1] = code;
  bytes[2] = 2;
  bytes[3] = proto::kAccessWrite;
  bytes[4] = value;
  bytes[5] = 0xFF;
  return bytes;
}

// The console's settings channel: what the frame sends while the console waits for the reply
// to one read of 0x12.
TEST(LinkReplyMatch, OnlyTheFirstMatchingReplyAnswersTheRequest) {
  struct Case {
    const char* name;
    std::vector<FakeReply> sent;  // by the frame, after the request
    bool answered;
    std::vector<uint8_t> handled;  // the codes that reached the owner
  };
  const milliseconds now{0};
  const Case cases[] = {
      {"the answer", {{SettingsReply(0x12, 1, 1), now}}, true, {0x12}},
      {"twice: one is taken",
       {{SettingsReply(0x12, 1, 1), now}, {SettingsReply(0x12, 1, 1), now}},
       true,
       {0x12}},
      {"another code", {{SettingsReply(0x16, 1, 1), now}}, false, {}},
      {"a write acknowledgement of the code", {{SettingsReply(0x12, 2, 0), now}}, false, {}},
      {"another code first, then the answer",
       {{SettingsReply(0x11, 1, 2), now}, {SettingsReply(0x12, 1, 1), milliseconds(20)}},
       true,
       {0x12}},
      {"a calibration reply", {{MakeReply(6, 0x12, {1}), now}}, false, {}},
      {"late", {{SettingsReply(0x12, 1, 1), milliseconds(400)}}, false, {0x12}},
  };
  for (const Case& c : cases) {
    MatchLink b(ConsoleLinkConfig());
    const std::vector<FakeReply> sent = c.sent;
    b.frame[5]->SetResponder([sent](const Bytes&) { return sent; });
    ASSERT_TRUE(b.link.Start());
    const Bytes read = Command(7, 0x12, 64);
    EXPECT_EQ(b.link.Transact(5, read.data(), read.size()), c.answered) << c.name;
    // Every report the frame sent has been read (one read each, and one more under way).
    b.SettleReads(5, static_cast<int>(c.sent.size()) + 1);
    EXPECT_EQ(b.ReplyCodes(), c.handled) << c.name;
  }
}

TEST(LinkReplyMatch, ALateReplyIsTakenOnlyUntilTheChannelsNextRequest) {
  MatchLink b(ConsoleLinkConfig());
  ASSERT_TRUE(b.link.Start());
  const Bytes first = Command(7, 0x12, 64);
  EXPECT_FALSE(b.link.Transact(5, first.data(), first.size()));
  const Bytes second = SettingsWrite(0x16, 1);
  EXPECT_FALSE(b.link.Transact(5, second.data(), second.size()));
  // The first request's answer comes after the second went out: it answers nothing now.
  b.frame[5]->Deliver(SettingsReply(0x12, 1, 1));
  b.frame[5]->Deliver(SettingsReply(0x16, 2, 1));
  ASSERT_TRUE(b.owner.WaitForReplies(1));
  b.SettleReads(5, 3);
  EXPECT_EQ(b.ReplyCodes(), (std::vector<uint8_t>{0x16}));
}

// A late reply on one channel is handed over, but must not end the wait under way on another.
TEST(LinkReplyMatch, ALateReplyNeverEndsAnotherRequestsWait) {
  MatchLink b(ConsoleLinkConfig());
  ASSERT_TRUE(b.link.Start());
  const Bytes read = Command(7, 0x13, 64);
  EXPECT_FALSE(b.link.Transact(5, read.data(), read.size()));
  auto settings = b.frame[5];
  b.frame[4]->SetResponder([settings](const Bytes&) {
    settings->Deliver(SettingsReply(0x13, 1, 2));
    return std::vector<FakeReply>{};
  });
  const Bytes getMode = Command(6, 0x01, 48);
  const auto begin = Clock::now();
  EXPECT_FALSE(b.link.Transact(4, getMode.data(), getMode.size()));
  EXPECT_GE(Clock::now() - begin, milliseconds(200));
  EXPECT_EQ(b.ReplyCodes(), (std::vector<uint8_t>{0x13}));
}

// The calibration program: the frame's samples reach the run at any time and end no wait; the
// console drops them. A flood of replies nobody asked for reaches neither.
TEST(LinkReplyMatch, SamplesPassUnaskedRepliesAreDropped) {
  struct Case {
    const char* name;
    LinkConfig config;
    std::size_t samples;
  };
  const Case cases[] = {{"calibration program", CalibrationLinkConfig(), 1000},
                        {"console", ConsoleLinkConfig(), 0}};
  for (const Case& c : cases) {
    MatchLink b(c.config);
    ASSERT_TRUE(b.link.Start());
    std::vector<FakeReply> flood;
    for (int i = 0; i < 1000; ++i) {
      Bytes sample = MakeReply(6, proto::CMD_CAL_SAMPLE, {7, 1, 2, 3, 4});
      sample.resize(48, 0);
      Bytes refusal = MakeReply(6, proto::CMD_CAL_END, {0});
      refusal.resize(48, 0);
      flood.push_back({sample, milliseconds(0)});
      flood.push_back({refusal, milliseconds(0)});
    }
    b.frame[4]->SetResponder([flood](const Bytes&) { return flood; });
    const Bytes begin = Command(6, proto::CMD_CAL_BEGIN, 48);
    EXPECT_FALSE(b.link.Transact(4, begin.data(), begin.size())) << c.name;
    b.SettleReads(4, 2001);
    EXPECT_EQ(b.owner.Replies().size(), c.samples) << c.name;
    for (const Bytes& r : b.owner.Replies()) ASSERT_EQ(r[1], proto::CMD_CAL_SAMPLE) << c.name;
  }
}

// A request whose write failed was never asked of the frame: a reply with its key that comes
// after is the answer to someone else's request, not to this one.
TEST(LinkReplyMatch, ARequestThatNeverWentOutTakesNoReply) {
  MatchLink b(ConsoleLinkConfig());
  ASSERT_TRUE(b.link.Start());
  b.frame[5]->writeFails = true;
  const Bytes read = Command(7, 0x12, 64);
  EXPECT_FALSE(b.link.Transact(5, read.data(), read.size()));
  b.frame[5]->Deliver(SettingsReply(0x12, 1, 1));
  b.SettleReads(5, 2);
  EXPECT_TRUE(b.owner.Replies().empty());
}

// A rebinding forgets what the old binding was asked.
TEST(LinkReplyMatch, AStartForgetsTheOpenRequests) {
  MatchLink b(ConsoleLinkConfig());
  ASSERT_TRUE(b.link.Start());
  const Bytes read = Command(7, 0x12, 64);
  EXPECT_FALSE(b.link.Transact(5, read.data(), read.size()));
  ASSERT_TRUE(b.link.Start());
  b.frame[5]->Deliver(SettingsReply(0x12, 1, 1));
  b.SettleReads(5, 2);
  EXPECT_TRUE(b.owner.Replies().empty());
}

// A frame that stops taking output reports: each command costs its wait, and once the frame
// takes reports again the next command goes out and is answered.
TEST(LinkStalledWrite, AWriteNobodyWaitsForIsCancelled) {
  MatchLink b(ConsoleLinkConfig());
  b.frame[5]->SetResponder(EchoResponder());
  ASSERT_TRUE(b.link.Start());
  const Bytes read = Command(7, 0x12, 64);
  b.frame[5]->writeStalls = true;
  for (int i = 1; i <= 3; ++i) {
    const auto begin = Clock::now();
    EXPECT_FALSE(b.link.Transact(5, read.data(), read.size()));
    EXPECT_GE(Clock::now() - begin, milliseconds(200)) << "command " << i << " did not go out";
    EXPECT_EQ(b.frame[5]->CancelledWrites(), i);
  }
  b.frame[5]->writeStalls = false;
  EXPECT_TRUE(b.link.Transact(5, read.data(), read.size()));
  EXPECT_EQ(b.frame[5]->Written().size(), 4u);
}

}  // namespace
}  // namespace tactra::test
