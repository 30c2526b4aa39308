// The link's workers: a reader and a write-completion worker per worker channel.
#include <algorithm>
#include <system_error>

#include "device/link.h"
#include "device/link_channel.h"
#include "device/protocol.h"

namespace tactra {

void Link::StartWorker(bool reader, int channel) {
  auto worker = std::make_unique<Worker>();
  worker->reader = reader;
  Worker* self = worker.get();
  running_.fetch_add(1);
  try {
    worker->thread = std::thread([this, self, reader, channel] {
      if (reader) {
        ReaderLoop(channel);
      } else {
        WriteDoneLoop(channel);
      }
      running_.fetch_sub(1);
      self->done.Set();
    });
  } catch (const std::system_error&) {
    // No thread to be had: the channel runs without this worker.
    running_.fetch_sub(1);
    return;
  }
  workers_.push_back(std::move(worker));
}

void Link::ReaderLoop(int channel) {
  HidReader* handle = channels_[channel]->read.get();
  uint8_t buffer[kReadBufferSize];
  while (!stop_.IsSet()) {
    std::fill(std::begin(buffer), std::end(buffer), uint8_t{0});
    if (handle == nullptr) break;
    std::size_t count = 0;
    const ReadResult result = handle->Read(buffer, sizeof buffer, count, stop_);
    if (result == ReadResult::Stopped) return;
    // A read that cannot start leaves nothing to wait for but the stop event: no spinning.
    if (result == ReadResult::CannotStart) break;
    HandleRead(channel, buffer, std::min(count, sizeof buffer));
  }
  stop_.Wait();
}

void Link::WriteDoneLoop(int channel) {
  HidWriter* handle = channels_[channel]->write.get();
  // Nothing waits for a write: this worker only follows their completions.
  if (handle != nullptr) {
    while (!stop_.IsSet() && handle->WaitWriteDone(stop_)) {
    }
  }
  stop_.Wait();
}

void Link::HandleRead(int channel, const uint8_t* data, std::size_t count) {
  const auto reply = [this, channel](const uint8_t* report, std::size_t length) {
    if (config_.takesFrameSamples && proto::IsFrameSample(report, length)) {
      // Asked by nobody and waited for by nobody: it never ends a wait.
      CallOwner([&](LinkOwner& owner) { owner.OnDeviceReply(report, length); });
      return;
    }
    // Another program's reply, a second one, or one nobody asked for changes nothing here.
    const uint64_t request = Claim(channel, report, length);
    if (request == 0) return;
    CallOwner([&](LinkOwner& owner) { owner.OnDeviceReply(report, length); });
    // Signalled after the handler, so the sender sees what the handler wrote.
    Answered(request);
  };
  if (config_.framing == ReplyFraming::Console) {
    if (proto::IsConsoleReply(data, count)) reply(data, count);
    return;
  }
  proto::SplitCalibrationRead(data, count, config_.channels[channel].input,
                              [&](const uint8_t* report, std::size_t length, proto::ReportKind kind) {
                                if (kind == proto::ReportKind::Touch) {
                                  CallOwner([&](LinkOwner& owner) { owner.OnTouchReport(report, length); });
                                } else if (kind == proto::ReportKind::Reply) {
                                  reply(report, length);
                                }
                              });
}

void Link::WaitForWorkers() {
  if (workers_.empty()) return;
  stop_.Set();
  // The readers first, then the write-completion workers, each group within its own wait.
  for (bool readers : {true, false}) {
    const auto deadline = std::chrono::steady_clock::now() + kWorkerStopWait;
    for (auto& worker : workers_) {
      if (worker->reader != readers) continue;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      worker->done.Wait(std::max(left, std::chrono::milliseconds(0)));
    }
  }
  // A worker still busy (in an owner's handler) uses the link's handles: wait until it ends.
  for (auto& worker : workers_) {
    if (worker->thread.joinable()) worker->thread.join();
  }
  workers_.clear();
}

void Link::StopWorkers() {
  WaitForWorkers();
  stop_.Reset();
}

void Link::End() {
  WaitForWorkers();
  stop_.Reset();
  ReleaseBindings();
}

}  // namespace tactra
