// The manual-reset event and waits on several events.
#include "device/event.h"
#include "device/hid_host.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <optional>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

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

#ifndef _WIN32
// An event made while the process has no descriptor to spare: it has none of its own. Nothing
// else happens meanwhile (the sanitizers' checks need descriptors too).
std::shared_ptr<std::optional<Event>> EventWithoutDescriptor() {
  rlimit saved{};
  getrlimit(RLIMIT_NOFILE, &saved);
  // Every descriptor below the lowest free one is taken, so a limit there leaves none.
  auto event = std::make_shared<std::optional<Event>>();
  const int lowest = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (lowest < 0) return nullptr;
  close(lowest);
  rlimit none = saved;
  none.rlim_cur = static_cast<rlim_t>(lowest);
  setrlimit(RLIMIT_NOFILE, &none);
  event->emplace();
  setrlimit(RLIMIT_NOFILE, &saved);
  return event;
}

TEST(EventTest, WaitOnAnEventWithoutDescriptorEndsWhenItIsSet) {
  struct Case {
    const char* name;
    bool withValidEvent;  // waited on together with an ordinary event
  };
  for (const Case c : {Case{"alone", false}, Case{"beside another", true}}) {
    const auto holder = EventWithoutDescriptor();
    ASSERT_NE(holder, nullptr);
    Event* broken = &holder->value();
    ASSERT_FALSE(broken->valid()) << c.name;
    auto other = std::make_shared<Event>();
    // On a thread of its own, so that a wait that never ends fails the test instead of hanging it.
    std::packaged_task<int()> wait([holder, other, broken, c] {
      return c.withValidEvent ? WaitAny({other.get(), broken}, kInfinite) : WaitAny({broken}, kInfinite);
    });
    std::future<int> woke = wait.get_future();
    std::thread(std::move(wait)).detach();
    std::this_thread::sleep_for(milliseconds(50));
    broken->Set();
    ASSERT_EQ(woke.wait_for(milliseconds(5000)), std::future_status::ready) << c.name << ": the wait went on";
    EXPECT_EQ(woke.get(), c.withValidEvent ? 1 : 0) << c.name;
    // A timed wait still lasts its time-out, and a reset is seen.
    broken->Reset();
    EXPECT_FALSE(broken->Wait(milliseconds(30))) << c.name;
  }
}
#endif

// A cancelled write's wait, on a clock whose timed waits last a whole number of the system's
// timer ticks (Windows' default 15.6 ms, and a fine one); the signal ends a wait at once.
TEST(WaitBoundedTest, ATimerTickCannotStretchTheLimit) {
  using std::chrono::microseconds;
  struct Case {
    Clock::duration tick;
    Clock::duration completesAt;  // Clock::duration::max(): never
    bool done;
  };
  const Clock::duration never = Clock::duration::max();
  const Case cases[] = {
      {microseconds(15625), never, false},
      {microseconds(15625), milliseconds(40), true},
      {microseconds(1000), never, false},
      {microseconds(1000), milliseconds(0), true},
      {microseconds(1000), milliseconds(199), true},
  };
  for (const Case& c : cases) {
    const Clock::time_point start{};
    Clock::time_point now = start;
    int waits = 0;
    const bool done = WaitBounded(
        [&] { return now - start >= c.completesAt; },
        [&](milliseconds d) {
          ++waits;
          const Clock::duration timed = (Clock::duration(d) + c.tick - Clock::duration(1)) / c.tick * c.tick;
          now += c.completesAt != never ? std::min(timed, start + c.completesAt - now) : timed;
        },
        [&] { return now; }, kCancelLimit);
    EXPECT_EQ(done, c.done) << c.completesAt.count();
    EXPECT_LE(now - start, milliseconds(250)) << waits << " waits";
    if (done) {
      EXPECT_EQ(now - start, c.completesAt) << "done as soon as it completed";
    }
  }
}

}  // namespace
}  // namespace tactra
