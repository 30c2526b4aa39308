// Start, the workers' end, arrival and removal, and what repeated cycles leave behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "device/link_start.h"
#include "tests/device/link_test_support.h"

namespace tactra::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(LinkStartTest, WorkersAndPausesFollowTheProgram) {
  struct Case {
    LinkConfig config;
    std::vector<int> readChannels;
    milliseconds pause;
  };
  for (const Case& c : {Case{ConsoleLinkConfig(), {3, 4, 5}, milliseconds(300)},
                        Case{CalibrationLinkConfig(), {0, 2, 4}, milliseconds(200)}}) {
    FakeHidHost host;
    auto frame = host.AddFrame(L"frame", c.config);
    PauseLog log;
    Link link(host, c.config, log.sleeper());
    ASSERT_TRUE(link.Start());
    EXPECT_EQ(link.WorkerCount(), 6);
    EXPECT_EQ(log.pauses, std::vector<milliseconds>(3, c.pause));
    // Every reader of a bound channel has a read pending; the others read nothing.
    for (int channel = 0; channel < kChannelCount; ++channel) {
      const bool reads =
          std::find(c.readChannels.begin(), c.readChannels.end(), channel) != c.readChannels.end();
      const auto deadline = Clock::now() + milliseconds(2000);
      while (reads && frame[channel]->ReadStarts() == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(milliseconds(1));
      }
      EXPECT_EQ(frame[channel]->ReadStarts() > 0, reads) << channel;
    }
  }
}

// Only the first worker channel opens before the pauses (and before the window is made, at the
// opened hook); each further one opens within the pause before its workers start, the channels
// without workers within the last. Each pause runs its full length from its workers' start, also
// after an opening that took longer than the pause before it.
TEST(LinkStartTest, ChannelsOpenWithinThePausesWhichKeepTheirLength) {
  struct Case {
    const char* name;
    LinkConfig config;
    int slowChannel;  // each of its opens takes three pauses (-1: none)
    std::string steps;
  };
  LinkConfig quick = CalibrationLinkConfig();
  quick.workerPause = milliseconds(20);
  const Case cases[] = {
      {"console", ConsoleLinkConfig(), -1, "33o44p55p001122p"},
      {"calibration program", CalibrationLinkConfig(), -1, "00o22p44p113355p"},
      {"a slow opening", quick, 2, "00o22p44p113355p"},
  };
  for (const Case& c : cases) {
    FakeHidHost host;
    host.AddFrame(L"frame", c.config);
    std::mutex mutex;
    std::string steps;  // a channel's digit at each open, o at the opened hook, p at each pause
    const auto note = [&](char step) {
      std::lock_guard<std::mutex> lock(mutex);
      steps += step;
    };
    host.onOpen = [&](const std::wstring& path) {
      note(static_cast<char>(path.back()));
      if (path.back() == L'0' + c.slowChannel) std::this_thread::sleep_for(3 * c.config.workerPause);
    };
    PauseLog log;
    log.also = [&] { note('p'); };
    Link link(host, c.config, log.sleeper());
    link.SetOpenedHook([&] { note('o'); });
    ASSERT_TRUE(link.Start()) << c.name;
    EXPECT_EQ(steps, c.steps) << c.name;
    EXPECT_EQ(host.LiveHandles(), 12) << c.name;
    EXPECT_EQ(log.pauses, std::vector<milliseconds>(3, c.config.workerPause)) << c.name;
    if (c.slowChannel >= 0) {
      // The second pause began when its workers started, after the slow opening.
      ASSERT_EQ(log.begun.size(), 3u);
      EXPECT_GE(log.begun[1] - log.begun[0], 6 * c.config.workerPause) << c.name;
    }
  }
}

TEST(LinkStartTest, NothingFoundStartsNoWorkers) {
  for (const LinkConfig& config : {ConsoleLinkConfig(), CalibrationLinkConfig()}) {
    FakeHidHost host;
    PauseLog log;
    Link link(host, config, log.sleeper());
    link.SetLinkState(kLinkStarted);
    EXPECT_FALSE(link.Start());
    EXPECT_FALSE(link.HasDevices());
    EXPECT_EQ(link.GetLinkState(), kLinkNone);
    EXPECT_EQ(link.WorkerCount(), 0);
    EXPECT_TRUE(log.pauses.empty());
  }
}

TEST(LinkStartTest, WorkersRunAlsoOnUnboundOrUnreadableChannels) {
  const LinkConfig config = ConsoleLinkConfig();
  FakeHidHost host;
  auto frame = host.AddFrame(L"frame", config);
  host.Unplug(frame[3]->info().path);
  frame[4]->readCannotStart = true;
  Link link(host, config, NoSleep());
  ASSERT_TRUE(link.Start());
  EXPECT_EQ(link.GetDeviceCount(), 5);
  EXPECT_EQ(link.WorkerCount(), 6);
  const auto begin = Clock::now();
  link.StopWorkers();
  EXPECT_LT(Clock::now() - begin, milliseconds(500));
  EXPECT_EQ(link.RunningWorkers(), 0);
}

TEST(LinkStopTest, WorkersEndWithinTheWaitsAndTheLinkRestarts) {
  const LinkConfig config = ConsoleLinkConfig();
  FakeHidHost host;
  auto frame = host.AddFrame(L"frame", config);
  frame[5]->SetResponder(EchoResponder());
  RecordingOwner owner;
  Link link(host, config, NoSleep());
  link.SetOwner(&owner);
  ASSERT_TRUE(link.Start());
  const auto begin = Clock::now();
  link.StopWorkers();
  EXPECT_LT(Clock::now() - begin, milliseconds(2000));
  EXPECT_EQ(link.RunningWorkers(), 0);
  EXPECT_EQ(link.WorkerCount(), 0);
  // The stop event is re-armed: the next workers run and answer.
  ASSERT_TRUE(link.Start());
  const Bytes command = Command(7, 0x01, 64);
  EXPECT_TRUE(link.Transact(5, command.data(), command.size()));
}

// Open replaces the handles the workers read from, so it ends them first; a Start on a running
// link goes through Open and leaves one set of six.
TEST(LinkStopTest, OpenOnARunningLinkEndsItsWorkersFirst) {
  struct Case {
    const char* name;
    bool start;  // Start again, or Open alone
    int workers;
  };
  for (const Case& c : {Case{"open", false, 0}, Case{"start", true, 6}}) {
    const LinkConfig config = ConsoleLinkConfig();
    FakeHidHost host;
    host.AddFrame(L"frame", config);
    Link link(host, config, NoSleep());
    ASSERT_TRUE(link.Start());
    if (c.start) {
      ASSERT_TRUE(link.Start());
    } else {
      ASSERT_EQ(link.Open(), 6);
    }
    EXPECT_EQ(link.WorkerCount(), c.workers) << c.name;
    EXPECT_EQ(link.RunningWorkers(), c.workers) << c.name;
    EXPECT_EQ(host.LiveHandles(), 12) << c.name;
  }
}

TEST(LinkStopTest, AWorkerBusyBeyondTheWaitsIsStillWaitedFor) {
  LinkConfig config = ConsoleLinkConfig();
  config.replyWait = milliseconds(50);
  FakeHidHost host;
  auto frame = host.AddFrame(L"frame", config);
  RecordingOwner owner;
  std::atomic<bool> inHandler{false};
  std::atomic<bool> handlerDone{false};
  owner.onReply = [&](const Bytes&) {
    inHandler = true;
    std::this_thread::sleep_for(milliseconds(2300));
    handlerDone = true;
  };
  Link link(host, config, NoSleep());
  link.SetOwner(&owner);
  ASSERT_TRUE(link.Start());
  frame[5]->SetResponder(EchoResponder());
  const Bytes command = Command(7, 0x01, 64);
  EXPECT_FALSE(link.Transact(5, command.data(), command.size()));  // the handler outlasts the wait
  while (!inHandler) std::this_thread::sleep_for(milliseconds(1));
  link.StopWorkers();
  EXPECT_TRUE(handlerDone.load());
  EXPECT_EQ(link.RunningWorkers(), 0);
}

struct NoticeLink {
  explicit NoticeLink(LinkConfig c = ConsoleLinkConfig()) : config(c), link(host, config, NoSleep()) {}
  LinkConfig config;
  FakeHidHost host;
  Link link;
};

// Each case under both programs' rules: they differ only where no frame is bound and something
// other than a bound path arrives, which the console takes as a reason to look again.
TEST(LinkNoticeTest, ArrivalAndRemovalRules) {
  struct Outcome {
    NoticeOutcome outcome;
    int stateAfter;
    int enumerations;  // Enumerate calls after the notice
  };
  struct Case {
    const char* name;
    bool frameAtStart;
    int state;  // set after the first Start
    DeviceNotice notice;
    const wchar_t* path;
    Outcome boundPathsOnly;
    Outcome anyArrival;
  };
  constexpr Outcome kNothingUnbound{NoticeOutcome::Nothing, kLinkNone, 1};
  constexpr Outcome kFoundAgain{NoticeOutcome::Started, kLinkBound, 2};
  const Case cases[] = {
      {"arrival, nothing found yet", false, kLinkNone, DeviceNotice::Arrival, L"frame&col05", kFoundAgain,
       kFoundAgain},
      {"arrival of a bound path in state 0", true, kLinkNone, DeviceNotice::Arrival, L"FRAME&COL05",
       kFoundAgain, kFoundAgain},
      {"second arrival while bound",
       true,
       kLinkBound,
       DeviceNotice::Arrival,
       L"frame&col05",
       {NoticeOutcome::Nothing, kLinkBound, 1},
       {NoticeOutcome::Nothing, kLinkBound, 1}},
      {"unrelated device", true, kLinkNone, DeviceNotice::Arrival, L"mouse", kNothingUnbound, kFoundAgain},
      {"frame at another port", true, kLinkNone, DeviceNotice::Arrival, L"elsewhere&col05", kNothingUnbound,
       kFoundAgain},
      {"removal in state 1",
       true,
       kLinkBound,
       DeviceNotice::Removal,
       L"frame&col04",
       {NoticeOutcome::Removed, kLinkNone, 1},
       {NoticeOutcome::Removed, kLinkNone, 1}},
      {"removal in state 2",
       true,
       kLinkStarted,
       DeviceNotice::Removal,
       L"frame&col00",
       {NoticeOutcome::Removed, kLinkNone, 1},
       {NoticeOutcome::Removed, kLinkNone, 1}},
      {"removal in state 0", true, kLinkNone, DeviceNotice::Removal, L"frame&col04", kNothingUnbound,
       kNothingUnbound},
      {"removal of another device",
       true,
       kLinkBound,
       DeviceNotice::Removal,
       L"mouse",
       {NoticeOutcome::Nothing, kLinkBound, 1},
       {NoticeOutcome::Nothing, kLinkBound, 1}},
  };
  for (const Case& c : cases) {
    for (const bool anyArrival : {false, true}) {
      LinkConfig config = ConsoleLinkConfig();
      config.anyArrivalFindsAgain = anyArrival;
      const Outcome& expected = anyArrival ? c.anyArrival : c.boundPathsOnly;
      const std::string name = std::string(c.name) + (anyArrival ? ", any arrival" : ", bound paths only");
      NoticeLink n(config);
      if (c.frameAtStart) n.host.AddFrame(L"frame", n.config);
      EXPECT_EQ(n.link.Start(), c.frameAtStart) << name;
      n.link.SetLinkState(c.state);
      if (!c.frameAtStart) n.host.AddFrame(L"frame", n.config);
      if (std::wstring(c.path) == L"elsewhere&col05") n.host.AddFrame(L"elsewhere", n.config);
      EXPECT_EQ(n.link.OnDeviceNotice(c.notice, c.path), expected.outcome) << name;
      EXPECT_EQ(n.link.GetLinkState(), expected.stateAfter) << name;
      EXPECT_EQ(n.host.EnumerateCalls(), expected.enumerations) << name;
      // The workers keep running after a removal; one set of six either way.
      EXPECT_EQ(n.link.WorkerCount(), n.link.HasDevices() ? 6 : 0) << name;
    }
  }
}

// A frame plugged into a new port: the system sets up its collections one by one, seconds
// apart. Each arrival binds again until every channel the program needs is bound, in the state
// the link had; after that, further arrivals change nothing.
TEST(LinkNoticeTest, CollectionsArrivingOneByOneAreBoundAsTheyCome) {
  struct Case {
    const char* name;
    LinkConfig config;
    int lastNeeded;  // the collection whose arrival completes what the program needs
  };
  const Case cases[] = {{"console", ConsoleLinkConfig(), 5},
                        {"calibration program", CalibrationLinkConfig(), 4}};
  for (const Case& c : cases) {
    FakeHidHost host;
    auto frame = host.AddFrame(L"frame", c.config);
    for (int i = 1; i < kChannelCount; ++i) host.Unplug(frame[i]->info().path);
    Link link(host, c.config, NoSleep());
    ASSERT_TRUE(link.Start()) << c.name;
    link.SetLinkState(kLinkStarted);
    EXPECT_FALSE(link.NeededChannelsBound()) << c.name;
    for (int i = 1; i < kChannelCount; ++i) {
      frame[i] = host.Add(frame[i]->info());
      const NoticeOutcome expected = i <= c.lastNeeded ? NoticeOutcome::Started : NoticeOutcome::Nothing;
      EXPECT_EQ(link.OnDeviceNotice(DeviceNotice::Arrival, frame[i]->info().path), expected)
          << c.name << " " << i;
      EXPECT_EQ(link.NeededChannelsBound(), i >= c.lastNeeded) << c.name << " " << i;
      EXPECT_EQ(link.GetLinkState(), kLinkStarted) << c.name << " " << i;
    }
    // Bound last when the needed collections were all there.
    EXPECT_EQ(link.GetDeviceCount(), c.lastNeeded + 1) << c.name;
    EXPECT_EQ(link.WorkerCount(), 6) << c.name;
  }
}

TEST(LinkNoticeTest, PlugInAfterAnEmptyStartBindsThroughArrival) {
  NoticeLink n;
  EXPECT_FALSE(n.link.Start());
  n.host.Add(HidInterface{L"usb-mouse", EnumOutcome::Ok, 0x046D, 0xC077, true, 8, 0});
  EXPECT_EQ(n.link.OnDeviceNotice(DeviceNotice::Arrival, L"usb-mouse"), NoticeOutcome::StartFailed);
  auto frame = n.host.AddFrame(L"frame", n.config);
  EXPECT_EQ(n.link.OnDeviceNotice(DeviceNotice::Arrival, frame[2]->info().path), NoticeOutcome::Started);
  EXPECT_EQ(n.link.GetDeviceCount(), 6);
}

TEST(LinkNoticeTest, NoticesReachTheRegisteredCallbackUntilTheRegistrationEnds) {
  NoticeLink n;
  std::vector<std::pair<DeviceNotice, std::wstring>> seen;
  auto registration = n.link.RegisterArrivalNotifications(
      nullptr, [&](DeviceNotice notice, const std::wstring& p) { seen.emplace_back(notice, p); });
  ASSERT_NE(registration, nullptr);
  EXPECT_EQ(n.host.LiveRegistrations(), 1);
  n.host.Fire(DeviceNotice::Arrival, L"frame&col04");
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].second, L"frame&col04");
  registration.reset();
  EXPECT_EQ(n.host.LiveRegistrations(), 0);
}

// A start on a thread of its own while the window is made: what changes between its look at the
// devices and the window's registration for notices reaches the window as notices, and what the
// link reports meanwhile waits for the window's thread.
TEST(LinkNoticeTest, AStartAheadOfTheWindowMissesNothing) {
  using Notices = std::vector<std::pair<DeviceNotice, std::wstring>>;
  using Change = std::function<void(FakeHidHost&, NoticeLink&)>;
  struct Case {
    const char* name;
    bool frameAtStart;
    bool ahead;  // Begin before Finish, as the programs do
    Change meanwhile;
    bool started;
    Notices missed;
    int stateAfter;  // once the window took the missed notices
  };
  const auto notices = [](DeviceNotice kind, int from, int to) {
    Notices n;
    for (int i = from; i <= to; ++i) n.emplace_back(kind, L"frame&col0" + std::to_wstring(i));
    return n;
  };
  const Change nothing = [](FakeHidHost&, NoticeLink&) {};
  const Change oneWent = [](FakeHidHost& h, NoticeLink&) { h.Unplug(L"frame&col04"); };
  const Change frameWent = [](FakeHidHost& h, NoticeLink&) {
    for (int i = 0; i < kChannelCount; ++i) h.Unplug(L"frame&col0" + std::to_wstring(i));
  };
  const Change frameCame = [](FakeHidHost& h, NoticeLink& n) { h.AddFrame(L"frame", n.config); };
  const Change mouseCame = [](FakeHidHost& h, NoticeLink&) {
    h.Add(HidInterface{L"usb-mouse", EnumOutcome::Ok, 0x046D, 0xC077, true, 8, 0});
  };
  const DeviceNotice removal = DeviceNotice::Removal;
  const Case cases[] = {
      {"nothing changed", true, true, nothing, true, {}, kLinkBound},
      {"one collection went", true, true, oneWent, true, notices(removal, 4, 4), kLinkNone},
      {"the frame went", true, true, frameWent, true, notices(removal, 0, 5), kLinkNone},
      {"the frame came after an empty start", false, true, frameCame, false,
       notices(DeviceNotice::Arrival, 0, 5), kLinkBound},
      {"another device came", true, true, mouseCame, true, {}, kLinkBound},
      // Without Begin the start runs after the registration: the notices themselves tell.
      {"started on the window's thread", true, false, oneWent, true, {}, kLinkBound},
  };
  for (const Case& c : cases) {
    NoticeLink n;
    if (c.frameAtStart) n.host.AddFrame(L"frame", n.config);
    // The start's enumeration runs out of memory after the frame: a link event, for the window.
    n.host.Add(HidInterface{L"broken", EnumOutcome::AllocationFailed, 0, 0, false, 0, 0});
    RecordingOwner owner;
    Event startDone;
    LinkStart start(n.link, owner, [&] {
      const bool ok = n.link.Start();
      n.host.Unplug(L"broken");
      c.meanwhile(n.host, n);
      startDone.Set();
      return ok;
    });
    if (c.ahead) {
      start.Begin();
      ASSERT_TRUE(startDone.Wait(milliseconds(5000))) << c.name;
      EXPECT_TRUE(owner.Events().empty()) << c.name << ": reported on the starting thread";
    }
    Notices missed;
    const auto keep = [&](DeviceNotice notice, const std::wstring& path) {
      missed.emplace_back(notice, path);
    };
    EXPECT_EQ(start.Finish(keep), c.started) << c.name;
    EXPECT_EQ(missed, c.missed) << c.name;
    EXPECT_EQ(owner.Events(), std::vector<LinkEvent>{LinkEvent::EnumerationOutOfMemory}) << c.name;
    for (const auto& [notice, path] : missed) n.link.OnDeviceNotice(notice, path);
    EXPECT_EQ(n.link.GetLinkState(), c.stateAfter) << c.name;
  }
}

// Leaks: cycles of StopWorkers/Start and of removal/arrival leave the counts where they were.
TEST(LinkLeakTest, RepeatedCyclesLeakNoHandlesEventsOrThreads) {
  const LinkConfig config = ConsoleLinkConfig();
  FakeHidHost host;
  auto frame = host.AddFrame(L"frame", config);
  frame[5]->SetResponder(EchoResponder());
  RecordingOwner owner;
  // A first thread may bring helper threads of the runtime (a sanitizer's) with it.
  std::thread([] {}).join();
  const int threadsBefore = ProcessThreadCount();
  {
    Link link(host, config, NoSleep());
    link.SetOwner(&owner);
    ASSERT_TRUE(link.Start());
    const long events = Event::LiveCount();
    const int handles = host.LiveHandles();
    const int threads = ProcessThreadCount();
    const Bytes command = Command(7, 0x01, 64);
    for (int i = 0; i < 20; ++i) {
      link.StopWorkers();
      ASSERT_TRUE(link.Start());
      ASSERT_TRUE(link.Transact(5, command.data(), command.size()));
    }
    for (int i = 0; i < 20; ++i) {
      ASSERT_EQ(link.OnDeviceNotice(DeviceNotice::Removal, frame[5]->info().path), NoticeOutcome::Removed);
      ASSERT_EQ(link.OnDeviceNotice(DeviceNotice::Arrival, frame[5]->info().path), NoticeOutcome::Started);
    }
    EXPECT_EQ(Event::LiveCount(), events);
    EXPECT_EQ(host.LiveHandles(), handles);
    EXPECT_EQ(link.RunningWorkers(), 6);
    if (threads >= 0) {
      EXPECT_EQ(ProcessThreadCount(), threads);
    }
  }
  // Ending the link releases everything it held.
  EXPECT_EQ(host.LiveHandles(), 0);
  if (threadsBefore >= 0) {
    EXPECT_EQ(ProcessThreadCount(), threadsBefore);
  }
}

}  // namespace
}  // namespace tactra::test
