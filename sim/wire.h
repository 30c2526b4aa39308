// The byte protocol between the simulated frame and its clients (docs/sim-wire-protocol.md).
// Every message is a 4-byte little-endian body length followed by the body: one type byte and
// its payload. Every field has a hard limit; a stream that breaks one is dropped, never guessed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tactra::sim::wire {

// Limits of the stream and of each field.
constexpr std::size_t kHeaderLength = 4;
constexpr std::size_t kMaxBody = 65536;
constexpr std::size_t kMaxReport = 1024;
constexpr std::size_t kMaxPath = 256;
constexpr std::size_t kMaxInterfaces = 16;
constexpr std::size_t kMaxControlArgs = 16;
constexpr std::size_t kMaxControlArg = 200;

// `wait-received` without --timeout waits this long; --timeout takes up to the longest.
constexpr std::chrono::milliseconds kDefaultReceivedWait{10000};
constexpr long kLongestReceivedWaitMs = 3600000;

// A number of a control command: decimal digits, or 0x and hexadecimal digits; nothing else (no
// sign, no spaces, no octal). False when it is not one or lies outside min..max.
bool ParseControlNumber(const std::string& text, long min, long max, long& out);

// Client to server.
constexpr uint8_t kEnumerate = 0x01;
constexpr uint8_t kOpen = 0x02;
constexpr uint8_t kOutput = 0x03;
constexpr uint8_t kSubscribe = 0x04;
constexpr uint8_t kControl = 0x05;
// Server to client.
constexpr uint8_t kInterfaces = 0x81;
constexpr uint8_t kOpened = 0x82;
constexpr uint8_t kInput = 0x83;
constexpr uint8_t kNotice = 0x84;
constexpr uint8_t kControlText = 0x85;
constexpr uint8_t kControlDone = 0x86;
constexpr uint8_t kAck = 0x87;

constexpr uint8_t kAccessRead = 0;
constexpr uint8_t kAccessWrite = 1;
constexpr uint8_t kNoticeArrival = 1;
constexpr uint8_t kNoticeRemoval = 2;

using Bytes = std::vector<uint8_t>;

struct Message {
  uint8_t type = 0;
  Bytes payload;
};

// Cuts a byte stream into messages. Holds at most one header and one body beyond what the
// caller has taken, so a client cannot make it grow without bound.
class Decoder {
 public:
  enum class Status { NeedMore, Message, Bad };

  // Appends received bytes. False (and the decoder turns bad) when they would exceed what
  // one message may hold beyond the bytes still buffered.
  bool Feed(const uint8_t* data, std::size_t length);
  // The next whole message, if any. Bad when a header breaks the limits.
  Status Next(Message& out);
  bool bad() const { return bad_; }

 private:
  Bytes buffer_;
  std::size_t start_ = 0;
  bool bad_ = false;
};

struct InterfaceInfo {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t inputLength = 0;
  uint16_t outputLength = 0;
  std::string path;
};

struct OpenRequest {
  uint8_t access = kAccessRead;
  std::string path;
};

struct OpenReply {
  bool ok = false;
  uint16_t inputLength = 0;
  uint16_t outputLength = 0;
};

struct Notice {
  uint8_t kind = kNoticeArrival;
  std::string path;
};

// A path is 1..kMaxPath printable ASCII characters.
bool IsValidPath(const std::string& path);

// Encoders return the whole message, header included; empty when a field breaks its limit.
Bytes EncodeEmpty(uint8_t type);
Bytes EncodeOpen(const OpenRequest& request);
Bytes EncodeReport(uint8_t type, const uint8_t* report, std::size_t length);  // kOutput, kInput
Bytes EncodeControl(const std::vector<std::string>& args);
Bytes EncodeInterfaces(const std::vector<InterfaceInfo>& interfaces);
Bytes EncodeOpened(const OpenReply& reply);
Bytes EncodeNotice(const Notice& notice);
Bytes EncodeControlText(const std::string& text);  // text of at most kMaxBody - 1 bytes
Bytes EncodeControlDone(uint8_t exitCode);
// The frame took the `number`th output report of this write connection (the first is 1).
Bytes EncodeAck(uint32_t number);

// Parsers take a decoded message of the matching type and check every field; false when
// the type differs or any field breaks its limit or the payload has bytes left over.
bool ParseOpen(const Message& m, OpenRequest& out);
bool ParseReport(const Message& m, uint8_t type, Bytes& out);
bool ParseControl(const Message& m, std::vector<std::string>& out);
bool ParseInterfaces(const Message& m, std::vector<InterfaceInfo>& out);
bool ParseOpened(const Message& m, OpenReply& out);
bool ParseNotice(const Message& m, Notice& out);
bool ParseControlDone(const Message& m, uint8_t& exitCode);
bool ParseAck(const Message& m, uint32_t& number);

}  // namespace tactra::sim::wire
