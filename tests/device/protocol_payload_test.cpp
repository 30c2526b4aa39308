#include <gtest/gtest.h>

#include <vector>

#include "device/protocol.h"

using namespace tactra::proto;

namespace {

TEST(CalibrationRecord, LayoutAndRoundTrip) {
  CalibrationRecord record;
  record.value1 = 3;
  record.value2 = 200;
  record.flags = {true, false, true};
  for (int i = 0; i < kRecordPoints; ++i) {
    record.x[i] = static_cast<uint16_t>(1000 + i);
    record.y[i] = static_cast<uint16_t>(0xFF00 + i);
  }
  const RecordBytes bytes = EncodeRecord(record);
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(bytes[1], 200);
  EXPECT_EQ(bytes[2], 1);
  EXPECT_EQ(bytes[3], 0);
  EXPECT_EQ(bytes[4], 1);
  EXPECT_EQ(bytes[5], 0xE8);  // X of point 0, low byte first
  EXPECT_EQ(bytes[6], 0x03);
  EXPECT_EQ(bytes[7], 0x00);  // Y of point 0
  EXPECT_EQ(bytes[8], 0xFF);
  EXPECT_EQ(bytes[5 + 4 * 8], 0xF0);  // X of point 8 = 1008
  EXPECT_EQ(bytes[40], 0xFF);         // high byte of Y of point 8, the record's last byte
  EXPECT_EQ(DecodeRecord(bytes.data()), record);

  // Any nonzero flag byte reads as set.
  RecordBytes raw{};
  raw[3] = 0x80;
  EXPECT_EQ(DecodeRecord(raw.data()).flags, (std::array<bool, 3>{false, true, false}));
}

TEST(CalibrationResult, AffineKeepsTheLowSixteenBits) {
  const ResultPayload p = EncodeAffineResult({4096, 0, -1, 70000, -32769, 32767});
  ASSERT_EQ(p.length, 12u);
  const std::vector<uint8_t> expected = {0x00, 0x10, 0x00, 0x00, 0xFF, 0xFF,
                                         0x70, 0x11, 0xFF, 0x7F, 0xFF, 0x7F};
  EXPECT_EQ(std::vector<uint8_t>(p.bytes.begin(), p.bytes.begin() + p.length), expected);
}

TEST(CalibrationResult, BorderPairsXThenY) {
  std::array<int32_t, 9> bx{}, by{};
  for (int i = 0; i < 9; ++i) {
    bx[i] = 1000 * i;
    by[i] = -i;
  }
  const ResultPayload p = EncodeBorderResult(bx, by);
  ASSERT_EQ(p.length, 36u);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(GetLE16(&p.bytes[4 * i]), static_cast<uint16_t>(1000 * i)) << i;
    EXPECT_EQ(GetLE16(&p.bytes[4 * i + 2]), static_cast<uint16_t>(-i & 0xFFFF)) << i;
  }
}

std::vector<uint8_t> ListsReply(std::vector<uint8_t> a, uint8_t countA, std::vector<uint8_t> b,
                                uint8_t countB) {
  std::vector<uint8_t> r(64, 0);
  r[0] = 7;
  r[1] = CMD_INFO_LISTS;
  r[2] = 43;
  r[3] = kAccessRead;
  r[4] = countA;
  for (std::size_t i = 0; i < a.size(); ++i) r[5 + i] = a[i];
  r[19] = countB;
  for (std::size_t i = 0; i < b.size(); ++i) r[20 + i] = b[i];
  r[46] = 0xFF;
  return r;
}

TEST(InfoLists, ValuesJoinedByPlusAsSignedBytes) {
  auto r = ListsReply({1, 2, 3}, 3, {0xFF, 0x80, 127}, 3);
  InfoLists lists = ParseInfoLists(r.data(), r.size());
  EXPECT_EQ(lists.listA, "1+2+3");
  EXPECT_EQ(lists.listB, "-1+-128+127");

  r = ListsReply({}, 0, {5}, 1);
  lists = ParseInfoLists(r.data(), r.size());
  EXPECT_EQ(lists.listA, "");
  EXPECT_EQ(lists.listB, "5");
}

TEST(InfoLists, CountsBeyondTheRoomAreClamped) {
  // Values that tell their places apart; list B from 30 on.
  std::vector<uint8_t> a(14), b(26);
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<uint8_t>(1 + i);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(30 + i);
  // Count A of 200 would take count B (255, read as -1) as a fifteenth value; the terminator
  // after list B would be a twenty-seventh value of B.
  const auto r = ListsReply(a, 200, b, 255);
  const InfoLists lists = ParseInfoLists(r.data(), r.size());
  EXPECT_EQ(lists.listA, "1+2+3+4+5+6+7+8+9+10+11+12+13+14");
  EXPECT_EQ(lists.listB, "30+31+32+33+34+35+36+37+38+39+40+41+42+43+44+45+46+47+48+49+50+51+52+53+54+55");
  // A short report holds less of list B.
  EXPECT_EQ(ParseInfoLists(r.data(), 22).listB, "30+31");
  EXPECT_EQ(ParseInfoLists(r.data(), 20).listB, "");
  EXPECT_EQ(ParseInfoLists(r.data(), 19).listA, "");
}

}  // namespace
