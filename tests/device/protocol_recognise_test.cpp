#include <gtest/gtest.h>

#include <vector>

#include "device/protocol.h"

using namespace tactra::proto;

namespace {

// A reply report of `length` bytes with ID, code, N and the terminator at 3+N (when it fits).
std::vector<uint8_t> Reply(uint8_t id, uint8_t code, uint8_t n, std::size_t length) {
  std::vector<uint8_t> r(length, 0);
  r[0] = id;
  r[1] = code;
  r[2] = n;
  if (3u + n < length) r[3 + n] = 0xFF;
  return r;
}

TEST(ConsoleReply, FramingChecks) {
  struct Case {
    const char* what;
    std::vector<uint8_t> read;
    bool accepted;
  } cases[] = {
      {"settings reply", Reply(7, 0x14, 5, 64), true},
      {"calibration reply", Reply(6, 0x01, 1, 48), true},
      {"N = 57 is the largest taken", Reply(7, 0xF5, 57, 64), true},
      {"N = 58 dropped though it fits", Reply(7, 0xF5, 58, 64), false},
      {"N = 59 dropped", Reply(7, 0xF5, 59, 64), false},
      {"N = 60 dropped", Reply(7, 0xF5, 60, 64), false},
      {"report ID 8 passes", Reply(8, 0x01, 0, 64), true},
      {"report ID 9 fails", Reply(9, 0x01, 0, 64), false},
      {"report ID 0x80 passes as a negative byte", Reply(0x80, 0x01, 0, 64), true},
      {"report ID 0xFF passes as a negative byte", Reply(0xFF, 0x01, 0, 64), true},
      {"terminator exactly at the last byte read", Reply(7, 0x01, 3, 7), true},
      {"terminator beyond the bytes read", Reply(7, 0x01, 4, 7), false},
      {"three bytes cannot hold a terminator", Reply(7, 0x01, 0, 3), false},
      {"one byte", std::vector<uint8_t>{7}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsConsoleReply(c.read.data(), c.read.size()), c.accepted) << c.what;

  auto bad = Reply(7, 0x12, 4, 64);
  bad[7] = 0xFE;
  EXPECT_FALSE(IsConsoleReply(bad.data(), bad.size())) << "terminator not 0xFF";
  EXPECT_FALSE(IsConsoleReply(bad.data(), 0)) << "empty read";
  std::vector<uint8_t> big = Reply(7, 0x12, 4, 2048);
  EXPECT_TRUE(IsConsoleReply(big.data(), 2047));
  EXPECT_FALSE(IsConsoleReply(big.data(), 2048)) << "more than 2047 bytes";
}

TEST(CalibrationReply, FramingChecks) {
  struct Case {
    const char* what;
    std::vector<uint8_t> report;
    bool accepted;
  } cases[] = {
      {"48-byte reply", Reply(6, 0x01, 1, 48), true},
      {"64-byte reply", Reply(6, 0x01, 1, 64), true},
      {"N = 44: terminator at byte 47", Reply(6, 0x04, 44, 48), true},
      {"N = 45: terminator beyond byte 47", Reply(6, 0x04, 45, 48), false},
      {"N = 59 in 64 bytes", Reply(6, 0x04, 59, 64), true},
      {"N = 60 in 64 bytes", Reply(6, 0x04, 60, 64), false},
      {"report 7 is not the calibration program's", Reply(7, 0x01, 1, 64), false},
      {"length 62", Reply(6, 0x01, 1, 62), false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsCalibrationReply(c.report.data(), c.report.size()), c.accepted) << c.what;
}

TEST(CalibrationRead, SplitsWholeMultiplesOnly) {
  // Two 48-byte reports in one read: a reply and a broken one.
  std::vector<uint8_t> read = Reply(6, 0x03, 1, 48);
  std::vector<uint8_t> second = Reply(6, 0x05, 1, 48);
  second[4] = 0;  // terminator gone
  read.insert(read.end(), second.begin(), second.end());

  std::vector<ReportKind> kinds;
  auto visit = [&](const uint8_t*, std::size_t length, ReportKind kind) {
    EXPECT_EQ(length, 48u);
    kinds.push_back(kind);
  };
  EXPECT_EQ(SplitCalibrationRead(read.data(), read.size(), 48, visit), 2u);
  EXPECT_EQ(kinds, (std::vector<ReportKind>{ReportKind::Reply, ReportKind::Ignored}));

  kinds.clear();
  EXPECT_EQ(SplitCalibrationRead(read.data(), 95, 48, visit), 0u) << "not a multiple";
  EXPECT_EQ(SplitCalibrationRead(read.data(), 0, 48, visit), 0u) << "empty read after removal";
  EXPECT_EQ(SplitCalibrationRead(read.data(), 48, 0, visit), 0u) << "unbound channel";
  EXPECT_TRUE(kinds.empty());
}

TEST(CalibrationRead, TouchReportsOnlyWhereTheLengthIsAMultipleOf62) {
  std::vector<uint8_t> touch(124, 0);
  touch[0] = 2;
  touch[62] = 2;
  int touches = 0;
  SplitCalibrationRead(touch.data(), touch.size(), 62,
                       [&](const uint8_t*, std::size_t, ReportKind k) { touches += k == ReportKind::Touch; });
  EXPECT_EQ(touches, 2);

  // The same byte 0 on the 6-byte channel 2 is not a touch report.
  std::vector<uint8_t> small(6, 0);
  small[0] = 2;
  EXPECT_EQ(ClassifyCalibrationReport(small.data(), small.size(), 6), ReportKind::Ignored);
  // A reply on the touch channel would need length 48 or 64.
  auto reply = Reply(6, 0x01, 1, 62);
  EXPECT_EQ(ClassifyCalibrationReport(reply.data(), reply.size(), 62), ReportKind::Ignored);
}

TEST(TouchReport, ContactStatesAndCoordinates) {
  std::vector<uint8_t> report(62, 0);
  report[0] = 2;
  PutLE16(&report[3], 1000);
  PutLE16(&report[5], 0xFFFF);
  for (uint8_t state = 0; state <= 4; ++state) {
    report[1] = state;
    RawPoint p;
    ASSERT_TRUE(ParseTouchReport(report.data(), report.size(), p));
    EXPECT_EQ(p.touching, state == 2 || state == 3) << int(state);
    EXPECT_EQ(p.x, 1000);
    EXPECT_EQ(p.y, 0xFFFF);
  }
  RawPoint p;
  EXPECT_FALSE(ParseTouchReport(report.data(), 61, p));
}

TEST(CalSample, StateSevenIsATouch) {
  uint8_t payload[5] = {7, 0, 0, 0, 0};
  PutLE16(payload + 1, 513);
  PutLE16(payload + 3, 4095);
  RawPoint p;
  ASSERT_TRUE(ParseCalSample(payload, 5, p));
  EXPECT_TRUE(p.touching);
  EXPECT_EQ(p.x, 513);
  EXPECT_EQ(p.y, 4095);
  payload[0] = 6;
  ASSERT_TRUE(ParseCalSample(payload, 5, p));
  EXPECT_FALSE(p.touching);
  EXPECT_FALSE(ParseCalSample(payload, 4, p));
}

}  // namespace
