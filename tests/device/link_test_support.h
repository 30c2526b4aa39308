// Helpers shared by the link's tests: the recording owner, and a sleeper that records the
// pauses instead of sleeping.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "device/link.h"
#include "device/protocol.h"
#include "tests/fakes/fake_hid_host.h"
#include "tests/fakes/recording_owner.h"

namespace tactra::test {

// Records the pauses of Start instead of sleeping: each one's length and when it began; `also`
// runs at each.
struct PauseLog {
  std::mutex mutex;
  std::vector<std::chrono::milliseconds> pauses;
  std::vector<std::chrono::steady_clock::time_point> begun;
  std::function<void()> also;
  Sleeper sleeper() {
    return [this](std::chrono::steady_clock::time_point from, std::chrono::milliseconds length) {
      std::lock_guard<std::mutex> lock(mutex);
      pauses.push_back(length);
      begun.push_back(from);
      if (also) also();
    };
  }
};

inline Sleeper NoSleep() {
  return [](std::chrono::steady_clock::time_point, std::chrono::milliseconds) {};
}

// A command report as the programs build it, zeroed to `length`: ID, code, N = 0, 0xFF; on the
// settings channel a read (N = 1, access byte 1), which EchoResponder's reply answers.
inline Bytes Command(uint8_t reportId, uint8_t code, std::size_t length) {
  Bytes bytes(length, 0);
  bytes[0] = reportId;
  bytes[1] = code;
  if (reportId == proto::kSettingsReportId) {
    bytes[2] = 1;
    bytes[3] = proto::kAccessRead;
    bytes[4] = 0xFF;
  } else {
    bytes[3] = 0xFF;
  }
  return bytes;
}

// A bound link over one frame, pauses skipped; its workers run once the test starts it.
struct BoundLink {
  explicit BoundLink(LinkConfig linkConfig) : config(linkConfig), link(host, config, NoSleep()) {
    frame = host.AddFrame(L"frame", config);
    link.SetOwner(&owner);
  }
  LinkConfig config;
  FakeHidHost host;
  std::vector<std::shared_ptr<FakeInterface>> frame;
  RecordingOwner owner;
  Link link;
};

inline LinkConfig WithWait(LinkConfig config, std::chrono::milliseconds wait) {
  config.replyWait = wait;
  return config;
}

}  // namespace tactra::test
