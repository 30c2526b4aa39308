#include "device/protocol.h"

#include <algorithm>
#include <cstring>

namespace tactra::proto {

namespace {

struct NamedCode {
  uint8_t code;
  const char* name;
};

constexpr NamedCode kCalibrationNames[] = {
    {CMD_CAL_GET_MODE, "CMD_CAL_GET_MODE"},
    {CMD_CAL_SET_MODE, "CMD_CAL_SET_MODE"},
    {CMD_CAL_BEGIN, "CMD_CAL_BEGIN"},
    {CMD_CAL_WRITE_RESULT, "CMD_CAL_WRITE_RESULT"},
    {CMD_CAL_END, "CMD_CAL_END"},
    {CMD_CAL_WRITE_DATA, "CMD_CAL_WRITE_DATA"},
    {CMD_CAL_READ_DATA, "CMD_CAL_READ_DATA"},
    {CMD_CAL_SAMPLE, "CMD_CAL_SAMPLE"},
    {CMD_CAL_ACTION_09, "CMD_CAL_ACTION_09"},
};

constexpr NamedCode kSettingsNames[] = {
    {CMD_INFO_01, "CMD_INFO_01"},
    {CMD_INFO_LISTS, "CMD_INFO_LISTS"},
    {CMD_INFO_TEXT_F2, "CMD_INFO_TEXT_F2"},
    {CMD_INFO_TEXT_F3, "CMD_INFO_TEXT_F3"},
    {CMD_INFO_TEXT_F4, "CMD_INFO_TEXT_F4"},
    {CMD_INFO_TEXT_F5, "CMD_INFO_TEXT_F5"},
    {CMD_CFG_11, "CMD_CFG_11"},
    {CMD_CFG_12, "CMD_CFG_12"},
    {CMD_CAL_OPTION_13, "CMD_CAL_OPTION_13"},
    {CMD_CFG_14, "CMD_CFG_14"},
    {CMD_CFG_15, "CMD_CFG_15"},
    {CMD_CFG_16, "CMD_CFG_16"},
    {CMD_CFG_17, "CMD_CFG_17"},
    {CMD_CFG_21, "CMD_CFG_21"},
    {CMD_CFG_ACTION_81, "CMD_CFG_ACTION_81"},
};

template <std::size_t N>
const char* Find(const NamedCode (&table)[N], uint8_t code) {
  for (const NamedCode& entry : table) {
    if (entry.code == code) return entry.name;
  }
  return "";
}

// The terminator at 3+N must lie within `length` bytes.
bool TerminatorWithin(const uint8_t* report, std::size_t length) {
  const std::size_t at = 3 + static_cast<std::size_t>(report[2]);
  return at < length && report[at] == 0xFF;
}

}  // namespace

const char* CommandName(uint8_t reportId, uint8_t code) {
  if (reportId == kCalibrationReportId) return Find(kCalibrationNames, code);
  if (reportId == kSettingsReportId) return Find(kSettingsNames, code);
  return "";
}

bool BuildCommand(ReportBuffer& buffer, uint8_t reportId, uint8_t code, const uint8_t* payload,
                  std::size_t length) {
  buffer.fill(0);
  if (length > kMaxPayload) return false;
  buffer[0] = reportId;
  buffer[1] = code;
  buffer[2] = static_cast<uint8_t>(length);
  if (length > 0) std::memcpy(buffer.data() + 3, payload, length);
  buffer[3 + length] = 0xFF;
  return true;
}

void BuildSettingsRead(ReportBuffer& buffer, uint8_t code) {
  const uint8_t access = kAccessRead;
  BuildCommand(buffer, kSettingsReportId, code, &access, 1);
}

bool BuildSettingsWrite(ReportBuffer& buffer, uint8_t code, const uint8_t* values, std::size_t count) {
  std::array<uint8_t, kMaxPayload> payload{};
  if (count + 1 > payload.size()) {
    buffer.fill(0);
    return false;
  }
  payload[0] = kAccessWrite;
  if (count > 0) std::memcpy(payload.data() + 1, values, count);
  return BuildCommand(buffer, kSettingsReportId, code, payload.data(), count + 1);
}

bool IsConsoleReply(const uint8_t* data, std::size_t count) {
  if (count < 1 || count > 2047) return false;
  if (static_cast<int8_t>(data[0]) > 8) return false;
  if (count < 3 || data[2] > 57) return false;
  return TerminatorWithin(data, count);
}

bool IsCalibrationReply(const uint8_t* report, std::size_t length) {
  if (length != kCalibrationReportLength && length != kSettingsReportLength) return false;
  if (report[0] != kCalibrationReportId || report[2] > 59) return false;
  return TerminatorWithin(report, length);
}

ReportKind ClassifyCalibrationReport(const uint8_t* report, std::size_t length, std::size_t inputLength) {
  if (length == 0) return ReportKind::Ignored;
  if (report[0] == kTouchReportId) {
    return inputLength % kTouchReportLength == 0 ? ReportKind::Touch : ReportKind::Ignored;
  }
  if (report[0] == kCalibrationReportId && IsCalibrationReply(report, length)) return ReportKind::Reply;
  return ReportKind::Ignored;
}

ReplyKey KeyOf(const uint8_t* report, std::size_t length) {
  ReplyKey key;
  if (report == nullptr || length < 2) return key;
  key.reportId = report[0];
  key.code = report[1];
  if (key.reportId == kSettingsReportId && length >= 4 && report[2] >= 1) key.access = report[3];
  return key;
}

bool IsFrameSample(const uint8_t* report, std::size_t length) {
  return report != nullptr && length >= 2 && report[0] == kCalibrationReportId && report[1] == CMD_CAL_SAMPLE;
}

bool ParseTouchReport(const uint8_t* report, std::size_t length, RawPoint& point) {
  if (length != kTouchReportLength) return false;
  point.touching = report[1] == 2 || report[1] == 3;
  point.x = GetLE16(report + 3);
  point.y = GetLE16(report + 5);
  return true;
}

bool ParseCalSample(const uint8_t* payload, std::size_t length, RawPoint& point) {
  if (length != 5) return false;
  point.touching = payload[0] == 7;
  point.x = GetLE16(payload + 1);
  point.y = GetLE16(payload + 3);
  return true;
}

RecordBytes EncodeRecord(const CalibrationRecord& record) {
  RecordBytes bytes{};
  bytes[0] = record.value1;
  bytes[1] = record.value2;
  for (std::size_t i = 0; i < record.flags.size(); ++i) bytes[2 + i] = record.flags[i] ? 1 : 0;
  for (int i = 0; i < kRecordPoints; ++i) {
    PutLE16(&bytes[5 + 4 * i], record.x[i]);
    PutLE16(&bytes[7 + 4 * i], record.y[i]);
  }
  return bytes;
}

CalibrationRecord DecodeRecord(const uint8_t* bytes) {
  CalibrationRecord record;
  record.value1 = bytes[0];
  record.value2 = bytes[1];
  for (std::size_t i = 0; i < record.flags.size(); ++i) record.flags[i] = bytes[2 + i] != 0;
  for (int i = 0; i < kRecordPoints; ++i) {
    record.x[i] = GetLE16(bytes + 5 + 4 * i);
    record.y[i] = GetLE16(bytes + 7 + 4 * i);
  }
  return record;
}

namespace {
// The two's-complement low 16 bits, without the implementation-defined narrowing.
uint16_t Low16(int32_t v) { return static_cast<uint16_t>(static_cast<uint32_t>(v) & 0xFFFFu); }
}  // namespace

ResultPayload EncodeAffineResult(const std::array<int32_t, 6>& c) {
  ResultPayload out;
  for (std::size_t i = 0; i < c.size(); ++i) PutLE16(&out.bytes[2 * i], Low16(c[i]));
  out.length = kAffineResultLength;
  return out;
}

ResultPayload EncodeBorderResult(const std::array<int32_t, 9>& bx, const std::array<int32_t, 9>& by) {
  ResultPayload out;
  for (std::size_t i = 0; i < bx.size(); ++i) {
    PutLE16(&out.bytes[4 * i], Low16(bx[i]));
    PutLE16(&out.bytes[4 * i + 2], Low16(by[i]));
  }
  out.length = kBorderResultLength;
  return out;
}

std::string JoinSignedValues(const uint8_t* values, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) text += '+';
    text += std::to_string(static_cast<int>(static_cast<int8_t>(values[i])));
  }
  return text;
}

InfoLists ParseInfoLists(const uint8_t* report, std::size_t length) {
  // Access byte at 3, countA at 4, list A at 5..18, countB at 19, list B from 20.
  constexpr std::size_t kCountA = 4, kListA = 5, kCountB = 19, kListB = 20;
  InfoLists lists;
  if (length <= kCountB) return lists;
  const std::size_t countA = std::min<std::size_t>(report[kCountA], kListARoom);
  const std::size_t roomB = std::min(kListBRoom, length - kListB);
  const std::size_t countB = std::min<std::size_t>(report[kCountB], roomB);
  lists.listA = JoinSignedValues(report + kListA, countA);
  lists.listB = JoinSignedValues(report + kListB, countB);
  return lists;
}

}  // namespace tactra::proto
