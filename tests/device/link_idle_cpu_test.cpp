// Idle workers must sleep in their waits: reads that cannot start, and reads that stay pending,
// also on a link that was stopped and started again (its stop event set and reset once).
#include <gtest/gtest.h>
#include <time.h>

#include <cstdio>
#include <thread>

#include "tests/device/link_test_support.h"

namespace tactra::test {
namespace {

using std::chrono::milliseconds;

milliseconds ProcessCpuTime() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return milliseconds(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

TEST(LinkIdleTest, SixIdleWorkersUseAlmostNoCpu) {
  struct Case {
    const char* name;
    LinkConfig config;
    bool readsCannotStart;
    bool restarted;
  };
  const Case cases[] = {
      {"console, reads cannot start", ConsoleLinkConfig(), true, false},
      {"calibration, reads cannot start", CalibrationLinkConfig(), true, false},
      {"console, reads pending", ConsoleLinkConfig(), false, false},
      {"calibration, reads pending, after a stop and start", CalibrationLinkConfig(), false, true},
  };
  for (const Case& c : cases) {
    FakeHidHost host;
    auto frame = host.AddFrame(L"frame", c.config);
    for (auto& collection : frame) collection->readCannotStart = c.readsCannotStart;
    Link link(host, c.config, NoSleep());
    ASSERT_TRUE(link.Start());
    if (c.restarted) {
      link.StopWorkers();
      ASSERT_TRUE(link.Start());
    }
    std::this_thread::sleep_for(milliseconds(50));  // let the workers reach their waits
    ASSERT_EQ(link.RunningWorkers(), 6);
    const milliseconds before = ProcessCpuTime();
    std::this_thread::sleep_for(milliseconds(2000));
    const milliseconds used = ProcessCpuTime() - before;
    EXPECT_LT(used.count(), 20) << c.name;
    std::printf("%s: %lld ms of CPU in 2 s\n", c.name, static_cast<long long>(used.count()));
  }
}

}  // namespace
}  // namespace tactra::test
