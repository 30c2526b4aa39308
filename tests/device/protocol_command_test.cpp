#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device/protocol.h"

using namespace tactra::proto;

namespace {

std::vector<uint8_t> Bytes(const ReportBuffer& b, std::size_t n) { return {b.begin(), b.begin() + n}; }

TEST(CommandReport, NoPayloadIsIdCodeZeroTerminatorThenZeroes) {
  for (uint8_t id : {kCalibrationReportId, kSettingsReportId}) {
    ReportBuffer buffer;
    buffer.fill(0xAA);
    ASSERT_TRUE(BuildCommand(buffer, id, 0x03, nullptr, 0));
    std::vector<uint8_t> expected(buffer.size(), 0);
    expected[0] = id;
    expected[1] = 0x03;
    expected[3] = 0xFF;
    EXPECT_EQ(Bytes(buffer, buffer.size()), expected) << "report " << int(id);
  }
}

TEST(CommandReport, PayloadThenTerminatorAtThreePlusN) {
  ReportBuffer buffer;
  const uint8_t payload[] = {1, 2, 3, 4, 5};
  ASSERT_TRUE(BuildCommand(buffer, kCalibrationReportId, CMD_CAL_END, payload, sizeof payload));
  EXPECT_EQ(Bytes(buffer, 10), (std::vector<uint8_t>{6, CMD_CAL_END, 5, 1, 2, 3, 4, 5, 0xFF, 0}));
}

TEST(CommandReport, LargestPayloadFitsAndOneMoreIsRefused) {
  std::vector<uint8_t> payload(kMaxPayload + 1, 0x11);
  ReportBuffer buffer;
  ASSERT_TRUE(BuildCommand(buffer, kSettingsReportId, 0x12, payload.data(), kMaxPayload));
  EXPECT_EQ(buffer[3 + kMaxPayload], 0xFF);
  buffer.fill(0x55);
  EXPECT_FALSE(BuildCommand(buffer, kSettingsReportId, 0x12, payload.data(), payload.size()));
  EXPECT_EQ(buffer, ReportBuffer{});
}

TEST(CommandReport, SettingsReadAndWriteCarryTheAccessByte) {
  ReportBuffer buffer;
  BuildSettingsRead(buffer, CMD_CFG_14);
  EXPECT_EQ(Bytes(buffer, 5), (std::vector<uint8_t>{7, 0x14, 1, kAccessRead, 0xFF}));

  uint8_t values[4] = {1, 5, 0, 0};
  PutBE16(values + 2, 1000);  // T = 1000 goes out high byte first
  ASSERT_TRUE(BuildSettingsWrite(buffer, CMD_CFG_14, values, 4));
  EXPECT_EQ(Bytes(buffer, 9), (std::vector<uint8_t>{7, 0x14, 5, kAccessWrite, 1, 5, 0x03, 0xE8, 0xFF}));

  // The configuration action is a write request with no values.
  ASSERT_TRUE(BuildSettingsWrite(buffer, CMD_CFG_ACTION_81, nullptr, 0));
  EXPECT_EQ(Bytes(buffer, 5), (std::vector<uint8_t>{7, 0x81, 1, kAccessWrite, 0xFF}));
}

TEST(ByteOrder, CalibrationLittleSettingsBig) {
  uint8_t b[2];
  PutLE16(b, 1000);
  EXPECT_EQ(b[0], 0xE8);
  EXPECT_EQ(b[1], 0x03);
  EXPECT_EQ(GetLE16(b), 1000);
  PutBE16(b, 1000);
  EXPECT_EQ(b[0], 0x03);
  EXPECT_EQ(b[1], 0xE8);
  EXPECT_EQ(GetBE16(b), 1000);
  PutBE16(b, 0xFFFF);
  EXPECT_EQ(GetBE16(b), 0xFFFF);
}

TEST(CommandNames, EveryListedCodeHasItsName) {
  struct Case {
    uint8_t id, code;
    const char* name;
  } cases[] = {
      {6, 0x01, "CMD_CAL_GET_MODE"},
      {6, 0x04, "CMD_CAL_WRITE_RESULT"},
      {6, 0x08, "CMD_CAL_SAMPLE"},
      {6, 0x09, "CMD_CAL_ACTION_09"},
      {7, 0x01, "CMD_INFO_01"},
      {7, 0xF5, "CMD_INFO_TEXT_F5"},
      {7, 0x13, "CMD_CAL_OPTION_13"},
      {7, 0x81, "CMD_CFG_ACTION_81"},
      {6, 0x13, ""},
      {7, 0x09, ""},
      {2, 0x01, ""},
  };
  for (const Case& c : cases)
    EXPECT_STREQ(CommandName(c.id, c.code), c.name) << int(c.id) << "/" << int(c.code);
}

TEST(Modes, TargetCountsAndValidity) {
  EXPECT_EQ(TargetCountForMode(2), 4);
  EXPECT_EQ(TargetCountForMode(3), 5);
  EXPECT_EQ(TargetCountForMode(4), 9);
  for (int bad : {0, 1, 5, -1, 255}) {
    EXPECT_FALSE(IsValidMode(bad));
    EXPECT_EQ(TargetCountForMode(bad), 0);
  }
}

}  // namespace
