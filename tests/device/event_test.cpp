// The manual-reset event and waits on several events.
#include "device/event.h"

#include <gtest/gtest.h>

#include <thread>

namespace tactra {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(EventTest, ManualResetStaysSetUntilReset) {
  Event event;
  ASSERT_TRUE(event.valid());
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(milliseconds(0)));
  event.Set();
  event.Set();
  EXPECT_TRUE(event.Wait(milliseconds(0)));
  EXPECT_TRUE(event.Wait(milliseconds(0)));
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(milliseconds(0)));
  event.Reset();
  EXPECT_FALSE(event.Wait(milliseconds(0)));
}

TEST(EventTest, TimedWaitLastsItsTimeOut) {
  Event event;
  const auto begin = Clock::now();
  EXPECT_FALSE(event.Wait(milliseconds(50)));
  const auto waited = Clock::now() - begin;
  EXPECT_GE(waited, milliseconds(50));
  EXPECT_LT(waited, milliseconds(1000));
}

TEST(EventTest, WaitAnyReportsTheFirstSetEvent) {
  Event a, b, c;
  EXPECT_EQ(WaitAny({&a, &b, &c}, milliseconds(0)), -1);
  c.Set();
  EXPECT_EQ(WaitAny({&a, &b, &c}, milliseconds(0)), 2);
  b.Set();
  EXPECT_EQ(WaitAny({&a, &b, &c}, kInfinite), 1);
  EXPECT_EQ(WaitAny({}, milliseconds(0)), -1);
}

TEST(EventTest, WaitWakesWhenAnotherThreadSetsAndSeesItsWrites) {
  Event ready;
  int payload = 0;  // ordered by the event alone
  std::thread setter([&] {
    std::this_thread::sleep_for(milliseconds(20));
    payload = 42;
    ready.Set();
  });
  EXPECT_EQ(WaitAny({&ready}, milliseconds(5000)), 0);
  EXPECT_EQ(payload, 42);
  setter.join();
}

TEST(EventTest, LiveCountFollowsConstructionAndDestruction) {
  const long before = Event::LiveCount();
  {
    Event a, b;
    EXPECT_EQ(Event::LiveCount(), before + 2);
  }
  EXPECT_EQ(Event::LiveCount(), before);
}

}  // namespace
}  // namespace tactra
