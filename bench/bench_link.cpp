// Transact against a host whose frame answers at once: what the link itself adds to a round trip
// (write, reader wake-up, reply check, handler, reply event, sender wake-up).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "device/link.h"
#include "device/protocol.h"

namespace tactra {
namespace {

// The settings collection of a frame that answers every report at once with a valid reply.
class InstantDevice {
 public:
  ReadResult Read(uint8_t* buffer, std::size_t capacity, std::size_t& count, const Event& stop) {
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!pending_.empty()) {
          const std::vector<uint8_t>& report = pending_.front();
          count = std::min(capacity, report.size());
          std::memcpy(buffer, report.data(), count);
          pending_.pop_front();
          return ReadResult::Completed;
        }
        ready_.Reset();
      }
      if (WaitAny({&stop, &ready_}, kInfinite) == 0) return ReadResult::Stopped;
    }
  }
  bool Write(const uint8_t* data, std::size_t length) {
    std::vector<uint8_t> reply(proto::kSettingsReportLength, 0);
    reply[0] = data[0];
    reply[1] = length > 1 ? data[1] : 0;
    reply[2] = 1;
    reply[3] = proto::kAccessRead;
    reply[4] = 0xFF;
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.push_back(std::move(reply));
    ready_.Set();
    return true;
  }

 private:
  std::mutex mutex_;
  std::deque<std::vector<uint8_t>> pending_;
  Event ready_;
};

class InstantReader : public HidReader {
 public:
  explicit InstantReader(InstantDevice& device) : device_(device) {}
  ReadResult Read(uint8_t* buffer, std::size_t capacity, std::size_t& count, const Event& stop) override {
    return device_.Read(buffer, capacity, count, stop);
  }

 private:
  InstantDevice& device_;
};

class InstantWriter : public HidWriter {
 public:
  explicit InstantWriter(InstantDevice& device) : device_(device) {}
  bool Write(const uint8_t* data, std::size_t length) override { return device_.Write(data, length); }
  // Writes complete at once here; the write-completion worker only waits for the stop.
  bool WaitWriteDone(const Event& stop) override {
    stop.Wait();
    return false;
  }
  void CancelWrite() override {}

 private:
  InstantDevice& device_;
};

class InstantHost : public HidHost {
 public:
  std::vector<HidInterface> Enumerate() override {
    HidInterface settings;
    settings.path = L"instant&col05";
    settings.vendorId = 0x595A;
    settings.productId = 0x0008;
    settings.capsOk = true;
    settings.inputLength = settings.outputLength = 64;
    return {settings};
  }
  std::unique_ptr<HidReader> OpenReader(const std::wstring&) override {
    return std::make_unique<InstantReader>(device_);
  }
  std::unique_ptr<HidWriter> OpenWriter(const std::wstring&) override {
    return std::make_unique<InstantWriter>(device_);
  }
  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void*, NoticeCallback) override {
    return nullptr;
  }

 private:
  InstantDevice device_;
};

class CountingOwner : public LinkOwner {
 public:
  void OnDeviceReply(const uint8_t* report, std::size_t) override { lastCode_ = report[1]; }
  uint8_t lastCode_ = 0;  // ordered by the reply event
};

void BM_TransactInstantReply(benchmark::State& state) {
  InstantHost host;
  CountingOwner owner;
  Link link(host, ConsoleLinkConfig(), [](auto, auto) {});
  link.SetOwner(&owner);
  if (!link.Start()) {
    state.SkipWithError("no link");
    return;
  }
  proto::ReportBuffer command;
  proto::BuildSettingsRead(command, proto::CMD_INFO_01);
  std::vector<double> micros;
  micros.reserve(1 << 20);
  std::size_t failures = 0;
  for (auto _ : state) {
    const auto begin = std::chrono::steady_clock::now();
    const bool answered = link.Transact(proto::kSettingsChannel, command.data(), command.size());
    const auto end = std::chrono::steady_clock::now();
    if (!answered) ++failures;
    const double seconds = std::chrono::duration<double>(end - begin).count();
    state.SetIterationTime(seconds);
    micros.push_back(seconds * 1e6);
  }
  std::sort(micros.begin(), micros.end());
  auto at = [&](double q) {
    return micros.empty() ? 0.0 : micros[static_cast<std::size_t>(q * (micros.size() - 1))];
  };
  state.counters["p50_us"] = at(0.50);
  state.counters["p99_us"] = at(0.99);
  state.counters["max_us"] = micros.empty() ? 0.0 : micros.back();
  state.counters["failures"] = static_cast<double>(failures);
}
BENCHMARK(BM_TransactInstantReply)->UseManualTime()->Unit(benchmark::kMicrosecond)->MinTime(2.0);

}  // namespace
}  // namespace tactra
