// Writes, replies and the wait for them, with both programs' framing.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "tests/device/link_test_support.h"

namespace tactra::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(LinkWriteTest, StateZeroTouchesNothing) {
  BoundLink b(ConsoleLinkConfig());
  ASSERT_TRUE(b.link.Start());
  b.link.SetLinkState(kLinkNone);
  const Bytes command = Command(7, 0x01, 64);
  EXPECT_FALSE(b.link.Write(5, command.data(), command.size()));
  EXPECT_FALSE(b.link.Transact(5, command.data(), command.size()));
  EXPECT_EQ(b.frame[5]->WriteCalls(), 0);
}

TEST(LinkWriteTest, RejectsWhatCannotBeWritten) {
  BoundLink b(ConsoleLinkConfig());
  ASSERT_TRUE(b.link.Start());
  const Bytes command = Command(7, 0x01, 64);
  EXPECT_FALSE(b.link.Write(-1, command.data(), command.size()));
  EXPECT_FALSE(b.link.Write(6, command.data(), command.size()));
  EXPECT_FALSE(b.link.Write(5, nullptr, 64));
  EXPECT_FALSE(b.link.Write(5, command.data(), 0));
  b.frame[5]->writeFails = true;
  EXPECT_FALSE(b.link.Write(5, command.data(), command.size()));
  b.frame[5]->writeFails = false;
  EXPECT_TRUE(b.link.Write(5, command.data(), command.size()));
  ASSERT_EQ(b.frame[5]->Written().size(), 1u);
  EXPECT_EQ(b.frame[5]->Written()[0], command);
}

TEST(LinkWriteTest, UnboundChannelCannotBeWritten) {
  const LinkConfig config = ConsoleLinkConfig();
  FakeHidHost host;
  HidInterface settings;
  settings.path = L"settings";
  settings.vendorId = 0x595A;
  settings.productId = 0x0008;
  settings.capsOk = true;
  settings.inputLength = settings.outputLength = 64;
  host.Add(settings);
  Link link(host, config, NoSleep());
  ASSERT_TRUE(link.Start());
  const Bytes command = Command(6, 0x01, 48);
  EXPECT_FALSE(link.Write(4, command.data(), command.size()));
}

TEST(LinkWriteTest, SecondWriteWhileTheFirstIsInFlightFailsWithoutWaiting) {
  BoundLink b(WithWait(ConsoleLinkConfig(), milliseconds(5000)));
  ASSERT_TRUE(b.link.Start());
  b.frame[5]->writeStalls = true;
  const Bytes command = Command(7, 0x01, 64);
  EXPECT_TRUE(b.link.Write(5, command.data(), command.size()));
  const auto begin = Clock::now();
  EXPECT_FALSE(b.link.Transact(5, command.data(), command.size()));
  EXPECT_LT(Clock::now() - begin, milliseconds(1000));
  b.frame[5]->CompleteStalledWrite();
  b.frame[5]->writeStalls = false;
  EXPECT_TRUE(b.link.Write(5, command.data(), command.size()));
}

TEST(LinkTransactTest, ReplyTimingsWithinAndBeyondTheWait) {
  struct Case {
    const char* name;
    bool answers;
    milliseconds delay;
    bool expected;
  };
  const Case cases[] = {
      {"immediate", true, milliseconds(0), true},
      {"delayed", true, milliseconds(50), true},
      {"never", false, milliseconds(0), false},
      {"too late", true, milliseconds(700), false},
  };
  for (const Case& c : cases) {
    BoundLink b(WithWait(ConsoleLinkConfig(), milliseconds(350)));
    if (c.answers) b.frame[5]->SetResponder(EchoResponder(c.delay));
    ASSERT_TRUE(b.link.Start());
    const Bytes command = Command(7, 0xF2, 64);
    EXPECT_EQ(b.link.Transact(5, command.data(), command.size()), c.expected) << c.name;
    if (c.answers) {
      // A reply after the wait is still handed to the owner.
      ASSERT_TRUE(b.owner.WaitForReplies(1)) << c.name;
      EXPECT_EQ(b.owner.Replies()[0][1], 0xF2) << c.name;
    }
  }
}

// Each program's own wait: the console gives up after 2 s, while the calibration program still
// takes a reply that the frame sends 2.5 s late. The cases run side by side.
TEST(LinkTransactTest, EachProgramWaitsItsOwnTimeForAReply) {
  struct Case {
    const char* name;
    LinkConfig config;
    int channel;
    uint8_t reportId;
    bool answered;
    milliseconds atLeast, below;  // how long Transact took
  };
  const Case cases[] = {
      {"console", ConsoleLinkConfig(), 5, 7, false, milliseconds(2000), milliseconds(2500)},
      {"calibration", CalibrationLinkConfig(), 4, 6, true, milliseconds(2500), milliseconds(5000)},
  };
  std::vector<std::future<void>> runs;
  for (const Case& c : cases) {
    runs.push_back(std::async(std::launch::async, [&c] {
      BoundLink b(c.config);
      b.frame[c.channel]->SetResponder(EchoResponder(milliseconds(2500)));
      ASSERT_TRUE(b.link.Start());
      const Bytes command = Command(c.reportId, 0x01, b.config.channels[c.channel].output);
      const auto begin = Clock::now();
      EXPECT_EQ(b.link.Transact(c.channel, command.data(), command.size()), c.answered) << c.name;
      const auto took = Clock::now() - begin;
      EXPECT_GE(took, c.atLeast) << c.name;
      EXPECT_LT(took, c.below) << c.name;
    }));
  }
  for (auto& run : runs) {
    ASSERT_EQ(run.wait_for(std::chrono::seconds(30)), std::future_status::ready) << "a Transact hangs";
  }
}

TEST(LinkTransactTest, ReplyHandledBeforeTheWriteDoesNotCount) {
  BoundLink b(WithWait(ConsoleLinkConfig(), milliseconds(300)));
  ASSERT_TRUE(b.link.Start());
  b.frame[5]->Deliver(MakeReply(7, 0x01, {1, 0, 5}));
  // The reader's second read proves it is done with the first report.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (b.frame[5]->ReadStarts() < 2 && Clock::now() < deadline) std::this_thread::yield();
  ASSERT_EQ(b.frame[5]->ReadStarts(), 2);
  EXPECT_TRUE(b.owner.Replies().empty()) << "a reply nobody asked for reached the owner";
  const Bytes command = Command(7, 0x01, 64);
  EXPECT_FALSE(b.link.Transact(5, command.data(), command.size()));
}

TEST(LinkTransactTest, HandlerWritesAreVisibleWhenTransactReturns) {
  BoundLink b(ConsoleLinkConfig());
  b.frame[5]->SetResponder(EchoResponder());
  int field = 0;  // plain field: ordered only by the reply event
  b.owner.onReply = [&](const Bytes& reply) { field = reply[1]; };
  ASSERT_TRUE(b.link.Start());
  for (uint8_t code : {0x11, 0x12, 0x16}) {
    const Bytes command = Command(7, code, 64);
    ASSERT_TRUE(b.link.Transact(5, command.data(), command.size()));
    EXPECT_EQ(field, code);
  }
}

TEST(LinkTransactTest, ConsoleDropsBadlyFramedReadsWithoutSignalling) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool accepted;
  };
  Bytes noTerminator = MakeReply(7, 0x01, {1, 5});
  noTerminator.back() = 0;
  Bytes nTooLarge(64, 0);
  nTooLarge[0] = 7;
  nTooLarge[2] = 58;
  nTooLarge[61] = 0xFF;
  const Case cases[] = {
      {"good", MakeReply(7, 0x01, {1, 5}), true},
      // Framed well enough, but it answers no request the console sends.
      {"high report id passes the signed test", MakeReply(0x80, 0x01, {1}), false},
      {"report id 9", MakeReply(9, 0x01, {1}), false},
      {"no terminator", noTerminator, false},
      {"N 58", nTooLarge, false},
  };
  for (const Case& c : cases) {
    BoundLink b(WithWait(ConsoleLinkConfig(), milliseconds(150)));
    ASSERT_TRUE(b.link.Start());
    const Bytes reply = c.bytes;
    b.frame[5]->SetResponder([reply](const Bytes&) {
      return std::vector<FakeReply>{{reply, milliseconds(0)}};
    });
    const Bytes command = Command(7, 0x01, 64);
    EXPECT_EQ(b.link.Transact(5, command.data(), command.size()), c.accepted) << c.name;
    EXPECT_EQ(b.owner.Replies().size(), c.accepted ? 1u : 0u) << c.name;
  }
}

TEST(LinkTransactTest, ConsoleReadsOnlyItsWorkerChannels) {
  BoundLink b(ConsoleLinkConfig());
  ASSERT_TRUE(b.link.Start());
  b.frame[0]->Deliver(MakeReply(7, 0x01, {1}));
  b.frame[3]->Deliver(MakeReply(7, 0x02, {1}));
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (b.frame[3]->ReadStarts() < 2 && Clock::now() < deadline) std::this_thread::yield();
  EXPECT_EQ(b.frame[3]->ReadStarts(), 2);
  EXPECT_EQ(b.frame[0]->ReadStarts(), 0);
}

Bytes CalibrationReport(uint8_t code, const Bytes& payload) {
  Bytes report = MakeReply(6, code, payload);
  report.resize(48, 0);
  return report;
}

TEST(LinkCalibrationTest, ReadsAreCutIntoReportsOfTheChannelLength) {
  BoundLink b(CalibrationLinkConfig());
  b.link.SetOwner(&b.owner);
  ASSERT_TRUE(b.link.Start());
  EXPECT_EQ(b.link.GetLinkState(), kLinkBound);
  // Two reports in one read: a sample and the reply to the mode request.
  Bytes two = CalibrationReport(0x08, {7, 0xE8, 0x03, 0x10, 0x00});
  const Bytes second = CalibrationReport(0x01, {3});
  two.insert(two.end(), second.begin(), second.end());
  b.frame[4]->SetResponder([two](const Bytes&) { return std::vector<FakeReply>{{two, milliseconds(0)}}; });
  const Bytes getMode = Command(6, 0x01, 48);
  EXPECT_TRUE(b.link.Transact(4, getMode.data(), getMode.size()));
  ASSERT_TRUE(b.owner.WaitForReplies(2));
  EXPECT_EQ(b.owner.Replies()[0][1], 0x08);
  EXPECT_EQ(b.owner.Replies()[1][1], 0x01);
  // A read that is not a whole number of reports is dropped.
  Bytes ragged = CalibrationReport(0x01, {2});
  ragged.push_back(0);
  b.frame[4]->Deliver(ragged);
  // Touch reports on channel 0 go to the touch handler.
  Bytes touch(62, 0);
  touch[0] = 2;
  touch[1] = 3;
  b.frame[0]->Deliver(touch);
  ASSERT_TRUE(b.owner.WaitForTouches(1));
  EXPECT_EQ(b.owner.Touches()[0].size(), 62u);
  EXPECT_EQ(b.owner.Replies().size(), 2u);
}

TEST(LinkCalibrationTest, TransactWaitsForACalibrationReply) {
  BoundLink b(WithWait(CalibrationLinkConfig(), milliseconds(300)));
  b.frame[4]->SetResponder(EchoResponder(milliseconds(20)));
  ASSERT_TRUE(b.link.Start());
  const Bytes command = Command(6, 0x03, 48);
  EXPECT_TRUE(b.link.Transact(4, command.data(), command.size()));
  // A 64-byte settings report is not the calibration program's to read.
  b.frame[5]->SetResponder(EchoResponder());
  const Bytes settings = Command(7, 0x01, 64);
  EXPECT_FALSE(b.link.Transact(5, settings.data(), settings.size()));
}

TEST(LinkCalibrationTest, TouchReportsDoNotEndTheWaitForAReply) {
  BoundLink b(CalibrationLinkConfig());
  // The frame never answers the command; meanwhile the finger touches twice in one read.
  Bytes touches(124, 0);
  touches[0] = touches[62] = 2;
  touches[1] = touches[63] = 3;
  auto touchChannel = b.frame[0];
  b.frame[4]->SetResponder([touchChannel, touches](const Bytes&) {
    touchChannel->Deliver(touches);
    return std::vector<FakeReply>{};
  });
  // Once the second touch is handled the reader is past the first one: the reply event shows
  // whether the first touch report set it.
  b.link.SetReplyWaiter(
      [&](const Event& reply, milliseconds) { return b.owner.WaitForTouches(2) && reply.IsSet(); });
  ASSERT_TRUE(b.link.Start());
  const Bytes command = Command(6, 0x03, 48);
  EXPECT_FALSE(b.link.Transact(4, command.data(), command.size()));
  EXPECT_EQ(b.owner.Touches().size(), 2u);
  EXPECT_TRUE(b.owner.Replies().empty());
}

TEST(LinkTransactTest, RemovalDuringTheWaitEndsByTimeOutAndTheReaderGoesIdle) {
  BoundLink b(WithWait(ConsoleLinkConfig(), milliseconds(300)));
  // The frame goes away as soon as it has taken the command, before it answers.
  const std::wstring path = b.frame[5]->info().path;
  b.frame[5]->SetResponder([&b, path](const Bytes&) {
    b.host.Unplug(path);
    return std::vector<FakeReply>{};
  });
  ASSERT_TRUE(b.link.Start());
  const Bytes command = Command(7, 0x01, 64);
  EXPECT_FALSE(b.link.Transact(5, command.data(), command.size()));
  EXPECT_EQ(b.link.OnDeviceNotice(DeviceNotice::Removal, path), NoticeOutcome::Removed);
  // The reader's read ended with the device; the next one could not start, and the reader then
  // waits for the stop event instead of trying again.
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (b.frame[5]->RefusedReads() == 0 && Clock::now() < deadline) std::this_thread::yield();
  EXPECT_EQ(b.frame[5]->RefusedReads(), 1);
  EXPECT_EQ(b.link.RunningWorkers(), 6);
  EXPECT_FALSE(b.link.Transact(5, command.data(), command.size()));
  b.link.StopWorkers();
  EXPECT_EQ(b.frame[5]->RefusedReads(), 1);
}

}  // namespace
}  // namespace tactra::test
