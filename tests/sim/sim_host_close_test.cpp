// The simulator host's reads when the frame goes away right after sending: every report that
// came is read, then the read ends empty, as after an unplug. Natively and under Wine (where
// the socket's events, not poll, wake the reader).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "device/event.h"
#include "sim/net.h"
#include "sim/sim_hid_host.h"
#include "sim/wire.h"

namespace tactra::sim {
namespace {

using namespace std::chrono_literals;

// Reads one message from a blocking socket; false when the peer closed or sent garbage.
bool ReadMessage(const net::Socket& s, wire::Message& m) {
  wire::Decoder decoder;
  uint8_t byte = 0;
  for (;;) {
    if (decoder.Next(m) == wire::Decoder::Status::Message) return true;
    if (net::Recv(s, &byte, 1) != 1 || !decoder.Feed(&byte, 1)) return false;
  }
}

// Stands in for the frame: answers one open of a read handle, sends one input report, then
// (while the reader is busy with it) `more` reports and closes at once.
void ServeOneOpenThenClose(const net::Socket& listener, int more) {
  std::vector<net::PollItem> wait{{listener.native(), true, false}};
  if (net::Poll(wait, 10000) <= 0) return;
  net::Socket s = net::Accept(listener);
  if (!s.valid() || !net::SetNonBlocking(s, false)) return;
  wire::Message open;
  if (!ReadMessage(s, open)) return;
  auto send = [&s](const wire::Bytes& m) { return net::SendAll(s, m.data(), m.size()); };
  auto report = [](int n) {
    const uint8_t bytes[64] = {6, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)};
    return wire::EncodeReport(wire::kInput, bytes, sizeof bytes);
  };
  if (!send(wire::EncodeOpened({true, 64, 64}))) return;
  std::this_thread::sleep_for(200ms);  // the reader waits for it
  if (!send(report(0))) return;
  std::this_thread::sleep_for(200ms);
  wire::Bytes batch;
  for (int i = 1; i <= more; ++i) {
    const wire::Bytes m = report(i);
    batch.insert(batch.end(), m.begin(), m.end());
  }
  send(batch);
}

TEST(SimHostCloseTest, ReadEndsEmptyOnceTheFrameClosedRightAfterSending) {
  // A few reports (one receive takes them), and more than one receive holds.
  for (int reports : {2, 300}) {
    uint16_t port = 0;
    net::Socket listener = net::ListenLoopback(0, port);
    ASSERT_TRUE(listener.valid());
    std::thread frame([&] { ServeOneOpenThenClose(listener, reports); });
    std::unique_ptr<HidHost> host = CreateSimHidHost("127.0.0.1", port);
    std::unique_ptr<HidReader> handle = host->OpenReader(L"\\\\?\\hid#frame");
    ASSERT_NE(handle, nullptr);
    // The watchdog: a read that hangs ends as Stopped, and the test fails.
    Event stop, finished;
    std::thread watchdog([&] {
      if (!finished.Wait(std::chrono::milliseconds(15000))) stop.Set();
    });
    int got = 0;
    ReadResult result = ReadResult::Completed;
    for (;;) {
      // Busy elsewhere while the rest and the close arrive: the next read finds both waiting.
      if (got == 1) std::this_thread::sleep_for(500ms);
      uint8_t buffer[64] = {};
      std::size_t count = 0;
      result = handle->Read(buffer, sizeof buffer, count, stop);
      if (result != ReadResult::Completed || count == 0) break;
      EXPECT_EQ(count, 64u);
      EXPECT_EQ(buffer[1] | (buffer[2] << 8), got) << "reports out of order";
      ++got;
    }
    finished.Set();
    watchdog.join();
    frame.join();
    EXPECT_EQ(result, ReadResult::Completed) << reports << " reports: the read still waited after the close";
    EXPECT_EQ(got, reports + 1);
  }
}

}  // namespace
}  // namespace tactra::sim
