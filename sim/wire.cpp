#include "sim/wire.h"

#include <cstdlib>
#include <cstring>

namespace tactra::sim::wire {

namespace {

// Appends fields to a body and finishes it with its header.
class Writer {
 public:
  explicit Writer(uint8_t type) : bytes_(kHeaderLength, 0) { bytes_.push_back(type); }
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U16(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v & 0xFF));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
  }
  void Raw(const void* data, std::size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + length);
  }
  Bytes Finish() {
    const std::size_t body = bytes_.size() - kHeaderLength;
    if (body > kMaxBody) return {};
    for (int i = 0; i < 4; ++i) bytes_[i] = static_cast<uint8_t>((body >> (8 * i)) & 0xFF);
    return std::move(bytes_);
  }

 private:
  Bytes bytes_;
};

// Reads fields of a payload; every read checks what is left.
class Reader {
 public:
  explicit Reader(const Bytes& b) : p_(b.data()), left_(b.size()) {}
  bool U8(uint8_t& v) {
    if (left_ < 1) return false;
    v = *p_;
    Skip(1);
    return true;
  }
  bool U16(uint16_t& v) {
    if (left_ < 2) return false;
    v = static_cast<uint16_t>(p_[0] | (p_[1] << 8));
    Skip(2);
    return true;
  }
  bool U32(uint32_t& v) {
    if (left_ < 4) return false;
    v = static_cast<uint32_t>(p_[0]) | (static_cast<uint32_t>(p_[1]) << 8) |
        (static_cast<uint32_t>(p_[2]) << 16) | (static_cast<uint32_t>(p_[3]) << 24);
    Skip(4);
    return true;
  }
  bool Text(std::size_t length, std::string& out) {
    if (left_ < length) return false;
    out.assign(reinterpret_cast<const char*>(p_), length);
    Skip(length);
    return true;
  }
  bool Done() const { return left_ == 0; }

 private:
  void Skip(std::size_t n) {
    p_ += n;
    left_ -= n;
  }
  const uint8_t* p_;
  std::size_t left_;
};

bool IsPrintable(const std::string& s) {
  for (char c : s) {
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

bool ReadPath(Reader& r, std::string& out) {
  uint16_t length = 0;
  return r.U16(length) && length >= 1 && length <= kMaxPath && r.Text(length, out) && IsPrintable(out);
}

void WritePath(Writer& w, const std::string& path) {
  w.U16(static_cast<uint16_t>(path.size()));
  w.Raw(path.data(), path.size());
}

}  // namespace

bool Decoder::Feed(const uint8_t* data, std::size_t length) {
  if (bad_) return false;
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  if (buffer_.size() - start_ + length > kHeaderLength + kMaxBody + kMaxBody) {
    bad_ = true;
    return false;
  }
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), data, data + length);
  return true;
}

Decoder::Status Decoder::Next(Message& out) {
  if (bad_) return Status::Bad;
  const std::size_t available = buffer_.size() - start_;
  if (available < kHeaderLength) return Status::NeedMore;
  const uint8_t* h = buffer_.data() + start_;
  const uint32_t body = static_cast<uint32_t>(h[0]) | (static_cast<uint32_t>(h[1]) << 8) |
                        (static_cast<uint32_t>(h[2]) << 16) | (static_cast<uint32_t>(h[3]) << 24);
  if (body < 1 || body > kMaxBody) {
    bad_ = true;
    return Status::Bad;
  }
  if (available - kHeaderLength < body) return Status::NeedMore;
  out.type = h[kHeaderLength];
  out.payload.assign(h + kHeaderLength + 1, h + kHeaderLength + body);
  start_ += kHeaderLength + body;
  return Status::Message;
}

bool IsValidPath(const std::string& path) {
  return !path.empty() && path.size() <= kMaxPath && IsPrintable(path);
}

Bytes EncodeEmpty(uint8_t type) { return Writer(type).Finish(); }

Bytes EncodeOpen(const OpenRequest& request) {
  if (!IsValidPath(request.path) || request.access > kAccessWrite) return {};
  Writer w(kOpen);
  w.U8(request.access);
  WritePath(w, request.path);
  return w.Finish();
}

Bytes EncodeReport(uint8_t type, const uint8_t* report, std::size_t length) {
  if (length < 1 || length > kMaxReport) return {};
  Writer w(type);
  w.Raw(report, length);
  return w.Finish();
}

Bytes EncodeControl(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > kMaxControlArgs) return {};
  Writer w(kControl);
  w.U8(static_cast<uint8_t>(args.size()));
  for (const std::string& arg : args) {
    if (arg.size() > kMaxControlArg || !IsPrintable(arg)) return {};
    w.U8(static_cast<uint8_t>(arg.size()));
    w.Raw(arg.data(), arg.size());
  }
  return w.Finish();
}

Bytes EncodeInterfaces(const std::vector<InterfaceInfo>& interfaces) {
  if (interfaces.size() > kMaxInterfaces) return {};
  Writer w(kInterfaces);
  w.U8(static_cast<uint8_t>(interfaces.size()));
  for (const InterfaceInfo& i : interfaces) {
    if (!IsValidPath(i.path)) return {};
    w.U16(i.vendorId);
    w.U16(i.productId);
    w.U16(i.inputLength);
    w.U16(i.outputLength);
    WritePath(w, i.path);
  }
  return w.Finish();
}

Bytes EncodeOpened(const OpenReply& reply) {
  Writer w(kOpened);
  w.U8(reply.ok ? 1 : 0);
  w.U16(reply.inputLength);
  w.U16(reply.outputLength);
  return w.Finish();
}

Bytes EncodeNotice(const Notice& notice) {
  if (!IsValidPath(notice.path) || (notice.kind != kNoticeArrival && notice.kind != kNoticeRemoval)) {
    return {};
  }
  Writer w(kNotice);
  w.U8(notice.kind);
  WritePath(w, notice.path);
  return w.Finish();
}

Bytes EncodeControlText(const std::string& text) {
  if (text.size() > kMaxBody - 1) return {};
  Writer w(kControlText);
  w.Raw(text.data(), text.size());
  return w.Finish();
}

Bytes EncodeControlDone(uint8_t exitCode) {
  Writer w(kControlDone);
  w.U8(exitCode);
  return w.Finish();
}

Bytes EncodeAck(uint32_t number) {
  Writer w(kAck);
  w.U32(number);
  return w.Finish();
}

bool ParseOpen(const Message& m, OpenRequest& out) {
  if (m.type != kOpen) return false;
  Reader r(m.payload);
  return r.U8(out.access) && out.access <= kAccessWrite && ReadPath(r, out.path) && r.Done();
}

bool ParseReport(const Message& m, uint8_t type, Bytes& out) {
  if (m.type != type || m.payload.empty() || m.payload.size() > kMaxReport) return false;
  out = m.payload;
  return true;
}

bool ParseControl(const Message& m, std::vector<std::string>& out) {
  if (m.type != kControl) return false;
  Reader r(m.payload);
  uint8_t count = 0;
  if (!r.U8(count) || count < 1 || count > kMaxControlArgs) return false;
  out.clear();
  for (uint8_t i = 0; i < count; ++i) {
    uint8_t length = 0;
    std::string arg;
    if (!r.U8(length) || length > kMaxControlArg || !r.Text(length, arg) || !IsPrintable(arg)) return false;
    out.push_back(std::move(arg));
  }
  return r.Done();
}

bool ParseInterfaces(const Message& m, std::vector<InterfaceInfo>& out) {
  if (m.type != kInterfaces) return false;
  Reader r(m.payload);
  uint8_t count = 0;
  if (!r.U8(count) || count > kMaxInterfaces) return false;
  out.clear();
  for (uint8_t i = 0; i < count; ++i) {
    InterfaceInfo info;
    if (!r.U16(info.vendorId) || !r.U16(info.productId) || !r.U16(info.inputLength) ||
        !r.U16(info.outputLength) || !ReadPath(r, info.path)) {
      return false;
    }
    if (info.inputLength > kMaxReport || info.outputLength > kMaxReport) return false;
    out.push_back(std::move(info));
  }
  return r.Done();
}

bool ParseOpened(const Message& m, OpenReply& out) {
  if (m.type != kOpened) return false;
  Reader r(m.payload);
  uint8_t ok = 0;
  if (!r.U8(ok) || ok > 1 || !r.U16(out.inputLength) || !r.U16(out.outputLength) || !r.Done()) return false;
  out.ok = ok == 1;
  return out.inputLength <= kMaxReport && out.outputLength <= kMaxReport;
}

bool ParseNotice(const Message& m, Notice& out) {
  if (m.type != kNotice) return false;
  Reader r(m.payload);
  return r.U8(out.kind) && (out.kind == kNoticeArrival || out.kind == kNoticeRemoval) &&
         ReadPath(r, out.path) && r.Done();
}

bool ParseControlDone(const Message& m, uint8_t& exitCode) {
  if (m.type != kControlDone) return false;
  Reader r(m.payload);
  return r.U8(exitCode) && r.Done();
}

bool ParseAck(const Message& m, uint32_t& number) {
  if (m.type != kAck) return false;
  Reader r(m.payload);
  return r.U32(number) && r.Done();
}

bool ParseControlNumber(const std::string& text, long min, long max, long& out) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  // Too many digits make strtol stop at its largest value, which no range here takes.
  if (digits.empty() ||
      digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") != std::string::npos) {
    return false;
  }
  const long v = std::strtol(digits.c_str(), nullptr, hex ? 16 : 10);
  if (v < min || v > max) return false;
  out = v;
  return true;
}

}  // namespace tactra::sim::wire
