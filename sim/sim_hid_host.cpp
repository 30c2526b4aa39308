#include "sim/sim_hid_host.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "sim/net.h"
#include "sim/request.h"
#include "sim/socket_waiter.h"
#include "sim/wire.h"

namespace tactra::sim {

namespace {

class SimHandle : public HidHandle {
 public:
  SimHandle(net::Socket socket, wire::Decoder decoder, Access access, uint16_t outputLength)
      : socket_(std::move(socket)),
        decoder_(std::move(decoder)),
        access_(access),
        outputLength_(outputLength) {
    if (access_ == Access::Read) waiter_ = std::make_unique<SocketWaiter>(socket_);
  }

  ReadResult Read(uint8_t* buffer, std::size_t capacity, std::size_t& count, const Event& stop) override {
    count = 0;
    if (access_ != Access::Read || broken_ || !waiter_->valid()) return ReadResult::CannotStart;
    uint8_t chunk[4096];
    for (;;) {
      wire::Message m;
      const wire::Decoder::Status status = decoder_.Next(m);
      if (status == wire::Decoder::Status::Message) {
        wire::Bytes report;
        if (!wire::ParseReport(m, wire::kInput, report)) return Broken();
        count = report.size() < capacity ? report.size() : capacity;
        std::memcpy(buffer, report.data(), count);
        return ReadResult::Completed;
      }
      if (status == wire::Decoder::Status::Bad) return Broken();
      std::size_t n = 0;
      const SocketWaiter::Result got = waiter_->Receive(chunk, sizeof chunk, n, stop);
      if (got == SocketWaiter::Result::Stopped) return ReadResult::Stopped;
      if (got != SocketWaiter::Result::Received || !decoder_.Feed(chunk, n)) return Broken();
    }
  }

  bool Write(const uint8_t* data, std::size_t length) override {
    std::lock_guard<std::mutex> lock(writeMutex_);
    // The system HID stack refuses a buffer of any other length than the output report's.
    if (access_ != Access::Write || broken_ || length != outputLength_ || length == 0) return false;
    // The frame never speaks on a write connection: anything readable is its closing.
    std::vector<net::PollItem> probe{{socket_.native(), true, false}};
    if (net::Poll(probe, 0) != 0) {
      broken_ = true;
      return false;
    }
    const wire::Bytes message = wire::EncodeReport(wire::kOutput, data, length);
    if (!net::SendAll(socket_, message.data(), message.size())) {
      broken_ = true;
      return false;
    }
    written_.Set();
    return true;
  }

  bool WaitWriteDone(const Event& stop) override {
    if (WaitAny({&stop, &written_}, kInfinite) != 1) return false;
    written_.Reset();
    return true;
  }
  // A write here is done once its bytes are sent.
  void CancelWrite() override {}

 private:
  // The frame went away: this read completes empty, and no later read can start.
  ReadResult Broken() {
    broken_ = true;
    return ReadResult::Completed;
  }

  net::Socket socket_;
  wire::Decoder decoder_;
  Access access_;
  uint16_t outputLength_;
  std::unique_ptr<SocketWaiter> waiter_;
  std::mutex writeMutex_;
  bool broken_ = false;  // guarded by the one reader, or by writeMutex_ for writers
  Event written_;
};

class SimNoticeRegistration : public NoticeRegistration {
 public:
  SimNoticeRegistration(net::Socket socket, NoticeCallback callback)
      : socket_(std::move(socket)), callback_(std::move(callback)), waiter_(socket_) {
    thread_ = std::thread([this] { Listen(); });
  }
  ~SimNoticeRegistration() override {
    stop_.Set();
    thread_.join();
  }

 private:
  void Listen() {
    wire::Decoder decoder;
    uint8_t chunk[4096];
    for (;;) {
      wire::Message m;
      wire::Decoder::Status status;
      while ((status = decoder.Next(m)) == wire::Decoder::Status::Message) {
        wire::Notice notice;
        if (!wire::ParseNotice(m, notice)) return;
        Notify(notice);
      }
      std::size_t n = 0;
      if (status == wire::Decoder::Status::Bad ||
          waiter_.Receive(chunk, sizeof chunk, n, stop_) != SocketWaiter::Result::Received ||
          !decoder.Feed(chunk, n)) {
        return;
      }
    }
  }

  void Notify(const wire::Notice& notice) {
    const DeviceNotice kind =
        notice.kind == wire::kNoticeArrival ? DeviceNotice::Arrival : DeviceNotice::Removal;
    try {
      callback_(kind, WidenPath(notice.path));
    } catch (...) {
      // The owner's handling must not end the notice thread, nor the process.
    }
  }

  net::Socket socket_;
  NoticeCallback callback_;
  SocketWaiter waiter_;
  Event stop_;
  std::thread thread_;
};

class SimHidHost : public HidHost {
 public:
  SimHidHost(std::string host, uint16_t port) : host_(std::move(host)), port_(port) {}

  std::vector<HidInterface> Enumerate() override {
    std::vector<HidInterface> found;
    Request request(host_, port_, wire::EncodeEmpty(wire::kEnumerate));
    wire::Message answer;
    std::vector<wire::InterfaceInfo> list;
    if (!request.Next(answer, kAnswerLimit) || !wire::ParseInterfaces(answer, list)) return found;
    for (const wire::InterfaceInfo& i : list) {
      HidInterface hid;
      hid.path = WidenPath(i.path);
      hid.vendorId = i.vendorId;
      hid.productId = i.productId;
      hid.capsOk = true;
      hid.inputLength = i.inputLength;
      hid.outputLength = i.outputLength;
      found.push_back(std::move(hid));
    }
    return found;
  }

  std::unique_ptr<HidHandle> Open(const std::wstring& path, Access access) override {
    bool ok = false;
    wire::OpenRequest request;
    request.path = NarrowPath(path, ok);
    if (!ok) return nullptr;
    request.access = access == Access::Read ? wire::kAccessRead : wire::kAccessWrite;
    // The request's decoder keeps whatever followed the answer: a reader's first input reports.
    Request asked(host_, port_, wire::EncodeOpen(request));
    wire::Message answer;
    wire::OpenReply reply;
    if (!asked.Next(answer, kAnswerLimit) || !wire::ParseOpened(answer, reply) || !reply.ok) return nullptr;
    return std::make_unique<SimHandle>(std::move(asked.socket()), std::move(asked.decoder()), access,
                                       reply.outputLength);
  }

  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void* /*window*/,
                                                                   NoticeCallback callback) override {
    Request request(host_, port_, wire::EncodeEmpty(wire::kSubscribe));
    if (!request.sent()) return nullptr;
    return std::make_unique<SimNoticeRegistration>(std::move(request.socket()), std::move(callback));
  }

 private:
  std::string host_;
  uint16_t port_;
};

}  // namespace

std::string NarrowPath(const std::wstring& path, bool& ok) {
  std::string narrow;
  ok = !path.empty();
  for (wchar_t c : path) {
    if (c < 0x20 || c > 0x7E) ok = false;
    narrow += static_cast<char>(c & 0x7F);
  }
  ok = ok && wire::IsValidPath(narrow);
  return narrow;
}

std::wstring WidenPath(const std::string& path) { return std::wstring(path.begin(), path.end()); }

std::unique_ptr<HidHost> CreateSimHidHost(const std::string& host, uint16_t port) {
  return std::make_unique<SimHidHost>(host, port);
}

std::unique_ptr<HidHost> CreateSimHidHostFromEnvironment() {
  const char* value = std::getenv(kFrameSimVariable);
  std::string host;
  uint16_t port = 0;
  if (value == nullptr || !net::ParseHostPort(value, host, port)) return nullptr;
  return CreateSimHidHost(host, port);
}

}  // namespace tactra::sim
