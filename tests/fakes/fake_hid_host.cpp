#include "tests/fakes/fake_hid_host.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#ifndef _WIN32
#include <dirent.h>
#endif

namespace tactra::test {

namespace {

// Counted while open, so that tests find handles that outlive their binding.
class FakeHandle {
 protected:
  FakeHandle(std::shared_ptr<FakeInterface> device, std::shared_ptr<FakeCounters> counters)
      : device_(std::move(device)), counters_(std::move(counters)) {
    counters_->liveHandles.fetch_add(1);
  }
  ~FakeHandle() { counters_->liveHandles.fetch_sub(1); }

  std::shared_ptr<FakeInterface> device_;
  std::shared_ptr<FakeCounters> counters_;
};

class FakeReader : public HidReader, private FakeHandle {
 public:
  FakeReader(std::shared_ptr<FakeInterface> device, std::shared_ptr<FakeCounters> counters)
      : FakeHandle(std::move(device), std::move(counters)) {}
  ReadResult Read(uint8_t* buffer, std::size_t capacity, std::size_t& count, const Event& stop) override {
    return device_->Read(buffer, capacity, count, stop);
  }
};

class FakeWriter : public HidWriter, private FakeHandle {
 public:
  FakeWriter(std::shared_ptr<FakeInterface> device, std::shared_ptr<FakeCounters> counters)
      : FakeHandle(std::move(device), std::move(counters)) {}
  bool Write(const uint8_t* data, std::size_t length) override { return device_->Write(data, length); }
  bool WaitWriteDone(const Event& stop) override { return device_->WaitWriteDone(stop); }
  void CancelWrite() override { device_->CancelWrite(); }
};

class FakeRegistration : public NoticeRegistration {
 public:
  explicit FakeRegistration(std::shared_ptr<FakeCounters> counters) : counters_(std::move(counters)) {
    counters_->liveRegistrations.fetch_add(1);
  }
  ~FakeRegistration() override { counters_->liveRegistrations.fetch_sub(1); }

 private:
  std::shared_ptr<FakeCounters> counters_;
};

}  // namespace

void FakeInterface::SetResponder(Responder responder) {
  std::lock_guard<std::mutex> lock(mutex_);
  responder_ = std::move(responder);
}

void FakeInterface::Deliver(const Bytes& bytes, std::chrono::milliseconds delay) {
  std::lock_guard<std::mutex> lock(mutex_);
  input_.emplace(Clock::now() + delay, bytes);
  inputReady_.Set();
}

void FakeInterface::Remove() {
  std::lock_guard<std::mutex> lock(mutex_);
  removed_ = true;
  inputReady_.Set();
}

void FakeInterface::CompleteStalledWrite() {
  std::lock_guard<std::mutex> lock(mutex_);
  writeInFlight_ = false;
  writeDone_.Set();
}

void FakeInterface::CancelWrite() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (writeInFlight_) cancelledWrites_.fetch_add(1);
  writeInFlight_ = false;
}

std::vector<Bytes> FakeInterface::Written() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

ReadResult FakeInterface::Read(uint8_t* buffer, std::size_t capacity, std::size_t& count, const Event& stop) {
  count = 0;
  for (;;) {
    std::chrono::milliseconds wait = kInfinite;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (removed_) {
        // A read in flight when the device went away ends with nothing; no new one starts.
        if (!readPending_) {
          refusedReads_.fetch_add(1);
          return ReadResult::CannotStart;
        }
        readPending_ = false;
        return ReadResult::Completed;
      }
      if (!readPending_) {
        if (readCannotStart.load()) {
          refusedReads_.fetch_add(1);
          return ReadResult::CannotStart;
        }
        readPending_ = true;
        readStarts_.fetch_add(1);
      }
      const auto now = Clock::now();
      if (!input_.empty() && input_.begin()->first <= now) {
        const Bytes& bytes = input_.begin()->second;
        count = std::min(capacity, bytes.size());
        std::memcpy(buffer, bytes.data(), count);
        input_.erase(input_.begin());
        readPending_ = false;
        return ReadResult::Completed;
      }
      inputReady_.Reset();
      if (!input_.empty()) {
        wait = std::chrono::ceil<std::chrono::milliseconds>(input_.begin()->first - now);
      }
    }
    if (WaitAny({&stop, &inputReady_}, wait) == 0) return ReadResult::Stopped;
  }
}

bool FakeInterface::Write(const uint8_t* data, std::size_t length) {
  writeCalls_.fetch_add(1);
  Bytes bytes(data, data + length);
  Responder responder;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (removed_ || writeFails.load() || writeInFlight_) return false;
    written_.push_back(bytes);
    if (writeStalls.load()) {
      writeInFlight_ = true;
      return true;
    }
    writeDone_.Set();
    responder = responder_;
  }
  if (responder) {
    for (const FakeReply& reply : responder(bytes)) Deliver(reply.bytes, reply.delay);
  }
  return true;
}

bool FakeInterface::WaitWriteDone(const Event& stop) {
  writeDone_.Reset();
  return WaitAny({&writeDone_, &stop}, kInfinite) == 0;
}

std::shared_ptr<FakeInterface> FakeHidHost::Add(HidInterface info) {
  auto device = std::make_shared<FakeInterface>(std::move(info));
  std::lock_guard<std::mutex> lock(mutex_);
  present_.push_back(device);
  return device;
}

std::vector<std::shared_ptr<FakeInterface>> FakeHidHost::AddFrame(const std::wstring& prefix,
                                                                  const LinkConfig& config, uint16_t vendorId,
                                                                  uint16_t productId) {
  std::vector<std::shared_ptr<FakeInterface>> collections;
  for (int channel = 0; channel < kChannelCount; ++channel) {
    HidInterface info;
    info.path = prefix + L"&col0" + std::to_wstring(channel);
    info.vendorId = vendorId;
    info.productId = productId;
    info.capsOk = true;
    info.inputLength = config.channels[channel].input;
    info.outputLength = config.channels[channel].output;
    collections.push_back(Add(info));
  }
  return collections;
}

void FakeHidHost::Unplug(const std::wstring& path) {
  std::shared_ptr<FakeInterface> device;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it =
        std::find_if(present_.begin(), present_.end(), [&](const auto& d) { return d->info().path == path; });
    if (it == present_.end()) return;
    device = *it;
    present_.erase(it);
  }
  device->Remove();
}

std::shared_ptr<FakeInterface> FakeHidHost::Find(const std::wstring& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& device : present_) {
    if (device->info().path == path) return device;
  }
  return nullptr;
}

void FakeHidHost::Fire(DeviceNotice notice, const std::wstring& path) {
  NoticeCallback callback;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    callback = callback_;
  }
  if (callback) callback(notice, path);
}

std::vector<HidInterface> FakeHidHost::Enumerate() {
  enumerateCalls_.fetch_add(1);
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<HidInterface> list;
  for (const auto& device : present_) {
    list.push_back(device->info());
    // The system stops enumerating at a record it cannot allocate.
    if (device->info().outcome == EnumOutcome::AllocationFailed) break;
  }
  return list;
}

std::shared_ptr<FakeInterface> FakeHidHost::FindToOpen(const std::wstring& path, bool reading) {
  counters_->openCalls.fetch_add(1);
  if (onOpen) onOpen(path);
  std::shared_ptr<FakeInterface> device = Find(path);
  if (!device || (reading ? device->readOpenFails : device->writeOpenFails)) return nullptr;
  return device;
}

std::unique_ptr<HidReader> FakeHidHost::OpenReader(const std::wstring& path) {
  std::shared_ptr<FakeInterface> device = FindToOpen(path, true);
  return device ? std::make_unique<FakeReader>(device, counters_) : nullptr;
}

std::unique_ptr<HidWriter> FakeHidHost::OpenWriter(const std::wstring& path) {
  std::shared_ptr<FakeInterface> device = FindToOpen(path, false);
  return device ? std::make_unique<FakeWriter>(device, counters_) : nullptr;
}

std::unique_ptr<NoticeRegistration> FakeHidHost::RegisterArrivalNotifications(void* /*window*/,
                                                                              NoticeCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  callback_ = std::move(callback);
  return std::make_unique<FakeRegistration>(counters_);
}

Bytes MakeReply(uint8_t reportId, uint8_t code, const Bytes& payload) {
  Bytes bytes(payload.size() + 4, 0);
  bytes[0] = reportId;
  bytes[1] = code;
  bytes[2] = static_cast<uint8_t>(payload.size());
  std::copy(payload.begin(), payload.end(), bytes.begin() + 3);
  bytes.back() = 0xFF;
  return bytes;
}

Responder EchoResponder(std::chrono::milliseconds delay) {
  return [delay](const Bytes& written) {
    if (written.size() < 2) return std::vector<FakeReply>{};
    Bytes reply = MakeReply(written[0], written[1], {1, 1});
    // A frame answers with a whole report of the collection's length.
    if (reply.size() < written.size()) reply.resize(written.size(), 0);
    return std::vector<FakeReply>{{reply, delay}};
  };
}

int ProcessThreadCount() {
#ifdef _WIN32
  return -1;
#else
  DIR* dir = opendir("/proc/self/task");
  if (dir == nullptr) return -1;
  int count = 0;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count;
#endif
}

}  // namespace tactra::test
