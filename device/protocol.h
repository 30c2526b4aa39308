// The frame's command protocol: report layouts, command codes, reply recognition and
// payloads. Pure code without I/O, shared by both programs and the simulated frame.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tactra::proto {

// Report IDs and lengths (the ID byte included).
constexpr uint8_t kTouchReportId = 2;
constexpr uint8_t kCalibrationReportId = 6;
constexpr uint8_t kSettingsReportId = 7;
constexpr std::size_t kTouchReportLength = 62;
constexpr std::size_t kCalibrationReportLength = 48;
constexpr std::size_t kSettingsReportLength = 64;

// Channels of the frame that carry the protocol.
constexpr int kTouchChannel = 0;
constexpr int kCalibrationChannel = 4;
constexpr int kSettingsChannel = 5;

// Calibration channel (kCalibrationReportId).
constexpr uint8_t CMD_CAL_GET_MODE = 0x01;
constexpr uint8_t CMD_CAL_SET_MODE = 0x02;
constexpr uint8_t CMD_CAL_BEGIN = 0x03;
constexpr uint8_t CMD_CAL_WRITE_RESULT = 0x04;
constexpr uint8_t CMD_CAL_END = 0x05;
constexpr uint8_t CMD_CAL_WRITE_DATA = 0x06;
constexpr uint8_t CMD_CAL_READ_DATA = 0x07;
constexpr uint8_t CMD_CAL_SAMPLE = 0x08;
constexpr uint8_t CMD_CAL_ACTION_09 = 0x09;

// Settings channel (kSettingsReportId).
constexpr uint8_t CMD_INFO_01 = 0x01;
constexpr uint8_t CMD_INFO_LISTS = 0x02;
constexpr uint8_t CMD_INFO_TEXT_F2 = 0xF2;
constexpr uint8_t CMD_INFO_TEXT_F3 = 0xF3;
constexpr uint8_t CMD_INFO_TEXT_F4 = 0xF4;
constexpr uint8_t CMD_INFO_TEXT_F5 = 0xF5;
constexpr uint8_t CMD_CFG_11 = 0x11;
constexpr uint8_t CMD_CFG_12 = 0x12;
constexpr uint8_t CMD_CAL_OPTION_13 = 0x13;
constexpr uint8_t CMD_CFG_14 = 0x14;
constexpr uint8_t CMD_CFG_15 = 0x15;
constexpr uint8_t CMD_CFG_16 = 0x16;
constexpr uint8_t CMD_CFG_17 = 0x17;
constexpr uint8_t CMD_CFG_21 = 0x21;
constexpr uint8_t CMD_CFG_ACTION_81 = 0x81;

// First payload byte of every settings-channel request and reply.
constexpr uint8_t kAccessRead = 1;
constexpr uint8_t kAccessWrite = 2;

// The name of a command code on a channel's report ID, or "" for a code the protocol lacks.
const char* CommandName(uint8_t reportId, uint8_t code);

// Calibration modes and their target counts.
constexpr int kModeFourPoint = 2;
constexpr int kModeFivePoint = 3;
constexpr int kModeNinePoint = 4;
constexpr bool IsValidMode(int mode) { return mode >= kModeFourPoint && mode <= kModeNinePoint; }
constexpr int TargetCountForMode(int mode) {
  return mode == kModeFourPoint ? 4 : mode == kModeFivePoint ? 5 : mode == kModeNinePoint ? 9 : 0;
}

// Fixed pauses and waits between and around commands.
namespace pacing {
using std::chrono::milliseconds;
constexpr milliseconds kAfterRead{20};
constexpr milliseconds kAfterWrite{30};
constexpr milliseconds kBeforeReread{100};
constexpr milliseconds kAfterGetMode{50};
constexpr milliseconds kAfterBegin{500};
constexpr milliseconds kBeforeClose{500};
constexpr milliseconds kConsoleReplyWait{2000};
constexpr milliseconds kCalibrationReplyWait{20000};
}  // namespace pacing

// The largest report either program builds; a command buffer of this size fits any channel.
constexpr std::size_t kMaxReportLength = 64;
using ReportBuffer = std::array<uint8_t, kMaxReportLength>;

// Largest payload that still leaves room for the terminator in a 64-byte report.
constexpr std::size_t kMaxPayload = kMaxReportLength - 4;

// Zeroes the buffer and writes ID, code, N, payload and the terminator 0xFF at 3+N.
// Returns false (buffer zeroed) when the payload does not fit.
bool BuildCommand(ReportBuffer& buffer, uint8_t reportId, uint8_t code, const uint8_t* payload,
                  std::size_t length);

// A settings-channel read request: the read access byte is the whole payload.
void BuildSettingsRead(ReportBuffer& buffer, uint8_t code);
// A settings-channel write request: the write access byte, then the values.
bool BuildSettingsWrite(ReportBuffer& buffer, uint8_t code, const uint8_t* values, std::size_t count);

// Reply recognition ---------------------------------------------------------------------

// The console's check of one read: 1..2047 bytes, report ID as a signed byte at most 8,
// N at most 57, and the terminator at 3+N within the bytes read.
bool IsConsoleReply(const uint8_t* data, std::size_t count);

// The calibration program's check of one report cut from a read: the calibration report ID,
// the length of a calibration or settings report, N at most 59, terminator at 3+N within it.
bool IsCalibrationReply(const uint8_t* report, std::size_t length);

enum class ReportKind { Ignored, Touch, Reply };

// What ties a reply to its request: the same report ID and code and, on the settings channel,
// the same access byte. Replies carry no sequence number, so this is all there is.
struct ReplyKey {
  uint8_t reportId = 0;
  uint8_t code = 0;
  uint8_t access = 0;  // the settings channel's first payload byte; 0 elsewhere
  bool operator==(const ReplyKey& o) const {
    return reportId == o.reportId && code == o.code && access == o.access;
  }
};
// The key of a request or of a reply alike; `length` is at least 4 for any framed report.
ReplyKey KeyOf(const uint8_t* report, std::size_t length);
// A report the frame sends on its own, answering no request: the calibration samples.
bool IsFrameSample(const uint8_t* report, std::size_t length);

// What the calibration program makes of one report of a read on a channel whose input
// reports are `inputLength` bytes long.
ReportKind ClassifyCalibrationReport(const uint8_t* report, std::size_t length, std::size_t inputLength);

// Cuts a calibration-program read into reports of the channel's input length and hands each
// to `visit(report, length, kind)`. Nothing is visited unless the count is a positive
// multiple of the input length. Returns the number of reports visited.
template <typename Visit>
std::size_t SplitCalibrationRead(const uint8_t* data, std::size_t count, std::size_t inputLength,
                                 Visit&& visit) {
  if (inputLength == 0 || count == 0 || count % inputLength != 0) return 0;
  const std::size_t reports = count / inputLength;
  for (std::size_t i = 0; i < reports; ++i) {
    const uint8_t* report = data + i * inputLength;
    visit(report, inputLength, ClassifyCalibrationReport(report, inputLength, inputLength));
  }
  return reports;
}

// Byte order -----------------------------------------------------------------------------

inline uint16_t GetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint16_t GetBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutBE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v & 0xFF);
}

// Touch reports and samples ----------------------------------------------------------------

struct RawPoint {
  bool touching = false;
  uint16_t x = 0;
  uint16_t y = 0;
};

// A touch report (62 bytes): contact state 2 or 3 is a touch; X, Y little-endian at 3 and 5.
bool ParseTouchReport(const uint8_t* report, std::size_t length, RawPoint& point);
// A CMD_CAL_SAMPLE payload (5 bytes): state 7 is a touch; X, Y little-endian at 1 and 3.
bool ParseCalSample(const uint8_t* payload, std::size_t length, RawPoint& point);

// Calibration record (41 bytes) ------------------------------------------------------------

constexpr std::size_t kCalibrationRecordLength = 41;
constexpr int kRecordPoints = 9;

struct CalibrationRecord {
  uint8_t value1 = 0;
  uint8_t value2 = 0;
  std::array<bool, 3> flags{};
  std::array<uint16_t, kRecordPoints> x{};
  std::array<uint16_t, kRecordPoints> y{};

  bool operator==(const CalibrationRecord& o) const {
    return value1 == o.value1 && value2 == o.value2 && flags == o.flags && x == o.x && y == o.y;
  }
};

using RecordBytes = std::array<uint8_t, kCalibrationRecordLength>;
RecordBytes EncodeRecord(const CalibrationRecord& record);
CalibrationRecord DecodeRecord(const uint8_t* bytes);

// Calibration results (payload of CMD_CAL_WRITE_RESULT) -------------------------------------

constexpr std::size_t kAffineResultLength = 12;
constexpr std::size_t kBorderResultLength = 36;

struct ResultPayload {
  std::array<uint8_t, kBorderResultLength> bytes{};
  std::size_t length = 0;
};

// Four-point mode: c0..c5 as two's-complement low 16 bits, little-endian.
ResultPayload EncodeAffineResult(const std::array<int32_t, 6>& c);
// Five- and nine-point modes: BX[i], BY[i] for i = 0..8, low 16 bits, little-endian.
ResultPayload EncodeBorderResult(const std::array<int32_t, 9>& bx, const std::array<int32_t, 9>& by);

// Information lists (CMD_INFO_LISTS) ----------------------------------------------------------

constexpr std::size_t kListARoom = 14;
constexpr std::size_t kListBRoom = 26;

struct InfoLists {
  std::string listA;  // values as "%d" of signed bytes joined by "+"
  std::string listB;
};

// The "%d" values of `count` signed bytes joined by "+".
std::string JoinSignedValues(const uint8_t* values, std::size_t count);

// Reads both lists of a CMD_INFO_LISTS reply report (64 bytes). Counts larger than the room
// in the report are clamped to it, so the lists never reach beyond the report.
InfoLists ParseInfoLists(const uint8_t* report, std::size_t length);

}  // namespace tactra::proto
