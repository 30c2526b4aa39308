#include "sim/sim_hid_host.h"

#include <chrono>
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

// One open path over its own connection to the frame.
class SimConnection {
 protected:
  SimConnection(net::Socket socket, wire::Decoder decoder)
      : socket_(std::move(socket)),
        decoder_(std::move(decoder)),
        waiter_(std::make_unique<SocketWaiter>(socket_)) {}

  net::Socket socket_;
  wire::Decoder decoder_;
  std::unique_ptr<SocketWaiter> waiter_;
};

class SimReader : public HidReader, private SimConnection {
 public:
  SimReader(net::Socket socket, wire::Decoder decoder)
      : SimConnection(std::move(socket), std::move(decoder)) {}

  ReadResult Read(uint8_t* buffer, std::size_t capacity, std::size_t& count, const Event& stop) override {
    count = 0;
    if (broken_ || !waiter_->valid()) return ReadResult::CannotStart;
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

 private:
  // The frame went away: this read completes empty, and no later read can start.
  ReadResult Broken() {
    broken_ = true;
    return ReadResult::Completed;
  }

  bool broken_ = false;
};

// A write is pending from its Output message until the frame's acknowledgement of it: a frame
// that stops taking reports leaves it pending, as the system's HID stack does. Acknowledgements
// carry the number of the output report they answer, so the late one of a cancelled write never
// ends a later write.
class SimWriter : public HidWriter, private SimConnection {
  // How long a write waits for the acknowledgement of the one before; a frame that stopped
  // taking reports costs it this much, then it is refused.
  static constexpr std::chrono::milliseconds kLateAcknowledgement{100};

 public:
  SimWriter(net::Socket socket, wire::Decoder decoder, uint16_t outputLength)
      : SimConnection(std::move(socket), std::move(decoder)), outputLength_(outputLength) {}

  bool Write(const uint8_t* data, std::size_t length) override {
    std::lock_guard<std::mutex> lock(writeMutex_);
    // The system HID stack refuses a buffer of any other length than the output report's.
    if (length != outputLength_ || length == 0 || !waiter_->valid()) return false;
    // An acknowledgement that came meanwhile ends the last write, whether or not the
    // write-completion worker has seen it yet.
    TakeAcknowledgements();
    AwaitLateAcknowledgement();
    if (broken_ || pending_) return false;
    const wire::Bytes message = wire::EncodeReport(wire::kOutput, data, length);
    if (!net::SendAll(socket_, message.data(), message.size())) {
      Break();
      return false;
    }
    pending_ = true;
    pendingNumber_ = ++sent_;
    return true;
  }

  bool WaitWriteDone(const Event& stop) override {
    if (!waiter_->valid()) return false;
    for (;;) {
      {
        std::lock_guard<std::mutex> lock(writeMutex_);
        TakeAcknowledgements();
        if (done_) {
          done_ = false;
          return true;
        }
        if (broken_) return false;
        // Set again, under the lock, by whatever ends a write from now on.
        changed_.Reset();
      }
      const SocketWaiter::Wake wake = waiter_->WaitReadable(stop, changed_);
      if (wake == SocketWaiter::Wake::Stopped || wake == SocketWaiter::Wake::Failed) return false;
    }
  }

  void CancelWrite() override {
    std::lock_guard<std::mutex> lock(writeMutex_);
    TakeAcknowledgements();
    if (!pending_) return;
    // Its acknowledgement, should it still come, names a write nobody waits for. The cancelled
    // write ends as one the system cancelled: the completion worker sees it end.
    pending_ = false;
    Done();
  }

 private:
  // Under writeMutex_: whatever the frame sent on this write connection, without waiting.
  void TakeAcknowledgements() {
    uint8_t chunk[512];
    while (!broken_) {
      wire::Message m;
      wire::Decoder::Status status;
      while ((status = decoder_.Next(m)) == wire::Decoder::Status::Message) {
        uint32_t number = 0;
        if (!wire::ParseAck(m, number)) {
          Break();
          return;
        }
        if (pending_ && number == pendingNumber_) {
          pending_ = false;
          Done();
        }
      }
      if (status == wire::Decoder::Status::Bad) {
        Break();
        return;
      }
      const long n = net::Recv(socket_, chunk, sizeof chunk);
      if (n == net::kWouldBlock) return;
      // Closed: the frame was unplugged or has gone, and the handle with it.
      if (n <= 0 || !decoder_.Feed(chunk, static_cast<std::size_t>(n))) Break();
    }
  }

  // Under writeMutex_. The acknowledgement and the frame's reply travel on two connections, so
  // the reply may be read first; a write right after it waits a moment for the acknowledgement
  // that left before that reply, as the system's stack has completed a write before its answer.
  void AwaitLateAcknowledgement() {
    const auto deadline = std::chrono::steady_clock::now() + kLateAcknowledgement;
    while (pending_ && !broken_) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      std::vector<net::PollItem> readable{{socket_.native(), true, false}};
      if (net::Poll(readable, static_cast<int>(left.count())) <= 0) return;
      TakeAcknowledgements();
    }
  }

  // Under writeMutex_. A write in flight ends with the handle, as on a removed device.
  void Break() {
    broken_ = true;
    if (pending_) {
      pending_ = false;
      Done();
    }
    changed_.Set();
  }

  void Done() {
    done_ = true;
    changed_.Set();
  }

  uint16_t outputLength_;
  // Guarded by writeMutex_.
  std::mutex writeMutex_;
  bool broken_ = false;
  bool pending_ = false;        // a write waits for its acknowledgement
  uint32_t pendingNumber_ = 0;  // the number of its output report on this connection
  uint32_t sent_ = 0;           // output reports sent so far
  bool done_ = false;           // a write ended that WaitWriteDone has not reported yet
  Event changed_;
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

  std::unique_ptr<HidReader> OpenReader(const std::wstring& path) override {
    Opened opened = OpenPath(path, wire::kAccessRead);
    if (!opened.ok) return nullptr;
    return std::make_unique<SimReader>(std::move(opened.socket), std::move(opened.decoder));
  }

  std::unique_ptr<HidWriter> OpenWriter(const std::wstring& path) override {
    Opened opened = OpenPath(path, wire::kAccessWrite);
    if (!opened.ok) return nullptr;
    return std::make_unique<SimWriter>(std::move(opened.socket), std::move(opened.decoder),
                                       opened.outputLength);
  }

  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void* /*window*/,
                                                                   NoticeCallback callback) override {
    Request request(host_, port_, wire::EncodeEmpty(wire::kSubscribe));
    if (!request.sent()) return nullptr;
    return std::make_unique<SimNoticeRegistration>(std::move(request.socket()), std::move(callback));
  }

 private:
  // The connection of an open request the frame said yes to, and the path's output length.
  struct Opened {
    bool ok = false;
    net::Socket socket;
    wire::Decoder decoder;
    uint16_t outputLength = 0;
  };

  Opened OpenPath(const std::wstring& path, uint8_t access) {
    Opened opened;
    bool ok = false;
    wire::OpenRequest request;
    request.path = NarrowPath(path, ok);
    if (!ok) return opened;
    request.access = access;
    // The request's decoder keeps whatever followed the answer: a reader's first input reports.
    Request asked(host_, port_, wire::EncodeOpen(request));
    wire::Message answer;
    wire::OpenReply reply;
    if (!asked.Next(answer, kAnswerLimit) || !wire::ParseOpened(answer, reply) || !reply.ok) return opened;
    opened.ok = true;
    opened.socket = std::move(asked.socket());
    opened.decoder = std::move(asked.decoder());
    opened.outputLength = reply.outputLength;
    return opened;
  }

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
