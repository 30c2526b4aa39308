// The frame model, command by command: what it answers, what it keeps, and every fault.
#include <gtest/gtest.h>

#include "device/protocol.h"
#include "sim/frame_model.h"

namespace tactra::sim {
namespace {

using namespace tactra::proto;
using Bytes = std::vector<uint8_t>;

Bytes Command(uint8_t id, uint8_t code, Bytes payload) {
  ReportBuffer b;
  EXPECT_TRUE(BuildCommand(b, id, code, payload.data(), payload.size()));
  return Bytes(b.begin(), b.begin() + (id == kCalibrationReportId ? 48 : 64));
}

// Sends one command on its channel and returns the one reply (empty when none came).
Bytes Send(FrameModel& m, uint8_t id, uint8_t code, Bytes payload = {}) {
  const Bytes c = Command(id, code, payload);
  std::vector<OutReport> out;
  m.HandleOutput(id == kCalibrationReportId ? kCalibrationChannel : kSettingsChannel, c.data(), c.size(),
                 out);
  if (out.empty()) return {};
  EXPECT_EQ(out.size(), 1u);
  return out[0].bytes;
}

Bytes Payload(const Bytes& reply) { return Bytes(reply.begin() + 3, reply.begin() + 3 + reply[2]); }

TEST(FrameModelSettingsTest, EveryReadHasTheFramingAndLengthTheConsoleChecks) {
  struct Case {
    uint8_t code;
    uint8_t n;
  };
  const Case cases[] = {{CMD_INFO_01, 3},      {CMD_INFO_LISTS, 43},  {CMD_INFO_TEXT_F2, 9},
                        {CMD_INFO_TEXT_F3, 9}, {CMD_INFO_TEXT_F4, 9}, {CMD_INFO_TEXT_F5, 57},
                        {CMD_CFG_11, 2},       {CMD_CFG_12, 4},       {CMD_CAL_OPTION_13, 2},
                        {CMD_CFG_14, 5},       {CMD_CFG_15, 5},       {CMD_CFG_16, 3},
                        {CMD_CFG_17, 5},       {CMD_CFG_21, 6}};
  FrameModel m;
  for (const Case& c : cases) {
    const Bytes r = Send(m, kSettingsReportId, c.code, {kAccessRead});
    ASSERT_EQ(r.size(), 64u) << int(c.code);
    EXPECT_TRUE(IsConsoleReply(r.data(), r.size())) << int(c.code);
    EXPECT_EQ(r[1], c.code);
    EXPECT_EQ(r[2], c.n) << int(c.code);
    EXPECT_EQ(r[3], kAccessRead);
  }
}

TEST(FrameModelSettingsTest, DefaultValuesAreValidAndListsParse) {
  FrameModel m;
  EXPECT_TRUE(IsValidSettings(m.settings()));
  const Bytes r = Send(m, kSettingsReportId, CMD_INFO_LISTS, {kAccessRead});
  const InfoLists lists = ParseInfoLists(r.data(), r.size());
  EXPECT_EQ(lists.listA, "1+2+3");
  EXPECT_EQ(lists.listB, "10+20+30+40");
  const Bytes t = Send(m, kSettingsReportId, CMD_CFG_14, {kAccessRead});
  EXPECT_EQ(GetBE16(&t[6]), 300);
}

TEST(FrameModelSettingsTest, WritesTakeValidValuesOnlyAndAcknowledge) {
  struct Case {
    uint8_t code;
    Bytes values;
    bool taken;
    uint8_t ackN;
  };
  const Case cases[] = {
      {CMD_CFG_11, {1}, true, 2},
      {CMD_CFG_11, {0}, false, 2},
      {CMD_CFG_12, {0, 1, 0}, true, 2},
      {CMD_CFG_12, {0, 2, 0}, false, 2},
      {CMD_CAL_OPTION_13, {4}, true, 2},
      {CMD_CAL_OPTION_13, {5}, false, 2},
      {CMD_CFG_14, {1, 10, 0x03, 0xE8}, true, 5},
      {CMD_CFG_14, {1, 5, 0x00, 150}, false, 5},
      {CMD_CFG_14, {1, 11, 0x01, 0x2C}, false, 5},
      {CMD_CFG_15, {1, 1, 0x13, 0x88}, true, 5},   // 5000
      {CMD_CFG_15, {1, 1, 0x15, 0x7C}, false, 5},  // 5500
      {CMD_CFG_16, {0, 77}, true, 2},
      {CMD_CFG_17, {5, 1, 10, 1}, true, 2},
      {CMD_CFG_17, {6, 1, 10, 1}, false, 2},
      {CMD_CFG_21, {1, 0, 180, 0x07, 0xD0}, true, 6},
      {CMD_CFG_21, {1, 0, 4, 0x07, 0xD0}, false, 6},
      {CMD_CFG_21, {1, 0, 3, 0x00, 101}, false, 6},
      {CMD_CFG_ACTION_81, {}, true, 5},
      {CMD_INFO_TEXT_F2, {1}, false, 2},  // information cannot be written
      {CMD_CFG_12, {1, 1}, false, 2},     // too few values
  };
  for (const Case& c : cases) {
    FrameModel m;
    Bytes payload{kAccessWrite};
    payload.insert(payload.end(), c.values.begin(), c.values.end());
    const FrameSettings before = m.settings();
    const Bytes r = Send(m, kSettingsReportId, c.code, payload);
    ASSERT_FALSE(r.empty()) << int(c.code);
    EXPECT_TRUE(IsConsoleReply(r.data(), r.size()));
    EXPECT_EQ(r[2], c.ackN) << int(c.code);
    EXPECT_EQ(r[3], kAccessWrite);
    EXPECT_EQ(r[4], c.taken ? 1 : 0) << int(c.code) << " " << int(c.values.empty() ? 0 : c.values[0]);
    if (!c.taken) {
      EXPECT_TRUE(m.settings() == before) << int(c.code);
    }
  }
}

TEST(FrameModelSettingsTest, WrittenValuesReadBackAndADisabledFunctionKeepsItsValues) {
  FrameModel m;
  Send(m, kSettingsReportId, CMD_CFG_21, {kAccessWrite, 1, 0, 60, 0x03, 0xE8});
  EXPECT_EQ(Payload(Send(m, kSettingsReportId, CMD_CFG_21, {kAccessRead})), (Bytes{1, 1, 0, 60, 0x03, 0xE8}));
  const Bytes ack = Send(m, kSettingsReportId, CMD_CFG_21, {kAccessWrite, 0, 0, 7, 0, 7});
  EXPECT_EQ(ack[4], 1);
  EXPECT_EQ(Payload(Send(m, kSettingsReportId, CMD_CFG_21, {kAccessRead})), (Bytes{1, 0, 0, 60, 0x03, 0xE8}));
  const uint64_t revision = m.revision();
  Send(m, kSettingsReportId, CMD_CAL_OPTION_13, {kAccessWrite, 3});
  EXPECT_EQ(m.settings().option13, 3);
  EXPECT_GT(m.revision(), revision);
  // The configuration action restores the factory configuration but not the option.
  Send(m, kSettingsReportId, CMD_CFG_ACTION_81, {kAccessWrite});
  EXPECT_EQ(m.settings().cfg21A, FrameSettings{}.cfg21A);
  EXPECT_EQ(m.settings().option13, 3);
}

TEST(FrameModelCalibrationTest, ConversationKeepsTheResultInTheRecord) {
  FrameModel m;
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_GET_MODE)), Bytes{3});
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_SET_MODE, {4})), Bytes{1});
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_SET_MODE, {5})), Bytes{0});
  EXPECT_EQ(m.mode(), 4);
  // A result before the run began is refused.
  Bytes result(36);
  for (std::size_t i = 0; i < result.size(); ++i) result[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_WRITE_RESULT, result)), Bytes{0});
  const Bytes begin = Send(m, kCalibrationReportId, CMD_CAL_BEGIN);
  EXPECT_TRUE(IsCalibrationReply(begin.data(), begin.size()));
  EXPECT_EQ(Payload(begin), Bytes{1});
  EXPECT_TRUE(m.calibrating());
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_WRITE_RESULT, Bytes(12))), Bytes{0});  // wrong size
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_WRITE_RESULT, result)), Bytes{1});
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_END, {1})), Bytes{1});
  EXPECT_FALSE(m.calibrating());
  const Bytes read = Send(m, kCalibrationReportId, CMD_CAL_READ_DATA);
  ASSERT_EQ(read[2], 41);
  EXPECT_TRUE(IsCalibrationReply(read.data(), read.size()));
  const Bytes record = Payload(read);
  EXPECT_EQ(record[0], 4);  // made in mode 4
  EXPECT_EQ(record[2], 1);  // a kept calibration
  EXPECT_EQ(record[3], 0);  // points, not coefficients
  EXPECT_EQ(Bytes(record.begin() + 5, record.end()), result);
}

TEST(FrameModelCalibrationTest, AbandonAndPowerLossKeepNothing) {
  FrameModel m;
  const CalibrationRecord factory = m.record();
  Send(m, kCalibrationReportId, CMD_CAL_BEGIN);
  Send(m, kCalibrationReportId, CMD_CAL_WRITE_RESULT, Bytes(36, 9));
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_END, {0})), Bytes{1});
  EXPECT_TRUE(m.record() == factory);
  Send(m, kCalibrationReportId, CMD_CAL_BEGIN);
  Send(m, kCalibrationReportId, CMD_CAL_WRITE_RESULT, Bytes(36, 9));
  m.PowerOff();
  EXPECT_FALSE(m.calibrating());
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_END, {1})), Bytes{0});  // nothing to keep
  EXPECT_TRUE(m.record() == factory);
}

TEST(FrameModelCalibrationTest, FourPointResultIsKeptAsCoefficientsAndImportIsVerbatim) {
  FrameModel m;
  Send(m, kCalibrationReportId, CMD_CAL_SET_MODE, {2});
  Send(m, kCalibrationReportId, CMD_CAL_BEGIN);
  const Bytes coefficients{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_WRITE_RESULT, coefficients)), Bytes{1});
  Send(m, kCalibrationReportId, CMD_CAL_END, {1});
  const Bytes record = Payload(Send(m, kCalibrationReportId, CMD_CAL_READ_DATA));
  EXPECT_EQ(record[3], 1);
  EXPECT_EQ(Bytes(record.begin() + 5, record.begin() + 17), coefficients);
  EXPECT_EQ(Bytes(record.begin() + 17, record.end()), Bytes(24, 0));

  Bytes imported(41);
  for (std::size_t i = 0; i < imported.size(); ++i) imported[i] = static_cast<uint8_t>(200 - i);
  Send(m, kCalibrationReportId, CMD_CAL_WRITE_DATA, imported);
  imported[2] = imported[3] = imported[4] = 1;  // the flags are kept as set or not
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_READ_DATA)), imported);
  Send(m, kCalibrationReportId, CMD_CAL_ACTION_09);
  EXPECT_TRUE(m.record() == FrameModel::FactoryRecord());
}

TEST(FrameModelFaultTest, EachFaultChangesTheReplyAsTold) {
  FrameModel m;
  m.SetFault({0, CMD_CAL_OPTION_13}, {FaultKind::Silent});
  EXPECT_TRUE(Send(m, kSettingsReportId, CMD_CAL_OPTION_13, {kAccessWrite, 2}).empty());
  EXPECT_EQ(m.settings().option13, 0);  // a silent frame did nothing

  m.SetFault({0, CMD_CAL_OPTION_13}, {FaultKind::Refuse});
  Bytes r = Send(m, kSettingsReportId, CMD_CAL_OPTION_13, {kAccessWrite, 2});
  EXPECT_EQ(r[4], 0);
  EXPECT_EQ(m.settings().option13, 0);

  m.SetFault({0, CMD_CAL_OPTION_13}, {FaultKind::Malformed, Malformation::Terminator});
  r = Send(m, kSettingsReportId, CMD_CAL_OPTION_13, {kAccessWrite, 2});
  EXPECT_FALSE(IsConsoleReply(r.data(), r.size()));
  EXPECT_EQ(m.settings().option13, 2);  // done, but the answer is broken

  m.SetFault({0, CMD_CAL_GET_MODE}, {FaultKind::Malformed, Malformation::Length});
  r = Send(m, kCalibrationReportId, CMD_CAL_GET_MODE);
  EXPECT_FALSE(IsCalibrationReply(r.data(), r.size()));
  EXPECT_FALSE(IsConsoleReply(r.data(), r.size()));

  // A fault on one report ID leaves the same code on the other channel alone.
  m.SetFault({kSettingsReportId, CMD_INFO_01},
             {FaultKind::Delay, Malformation::Terminator, std::chrono::milliseconds(250)});
  std::vector<OutReport> out;
  const Bytes info = Command(kSettingsReportId, CMD_INFO_01, {kAccessRead});
  m.HandleOutput(kSettingsChannel, info.data(), info.size(), out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].delay.count(), 250);
  EXPECT_EQ(Send(m, kCalibrationReportId, CMD_CAL_GET_MODE)[2], 60);  // still malformed
  m.SetFault({0, CMD_CAL_GET_MODE}, {FaultKind::None});
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_GET_MODE)), Bytes{3});

  m.SetFault({0, CMD_CAL_BEGIN}, {FaultKind::Refuse});
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_BEGIN)), Bytes{0});
  EXPECT_FALSE(m.calibrating());
}

TEST(FrameModelFaultTest, DuplicateSendsTheReplyTwiceAndDoesTheCommandOnce) {
  struct Case {
    FaultKey key;
    uint8_t id;
    uint8_t code;
    Bytes payload;
    std::size_t copies;
  };
  const Case cases[] = {
      {{0, CMD_CAL_BEGIN}, kCalibrationReportId, CMD_CAL_BEGIN, {}, 2},
      {{kCalibrationReportId, 0x01}, kCalibrationReportId, CMD_CAL_GET_MODE, {}, 2},
      {{kCalibrationReportId, 0x01}, kSettingsReportId, CMD_INFO_01, {kAccessRead}, 1},  // other channel
      {{0, CMD_CAL_OPTION_13}, kSettingsReportId, CMD_CAL_OPTION_13, {kAccessWrite, 3}, 2},
      {{0, 0xEE}, kSettingsReportId, 0xEE, {kAccessRead}, 2},  // unknown: "not done", twice
  };
  for (const Case& c : cases) {
    FrameModel m;
    m.SetFault(c.key, {FaultKind::Duplicate});
    const Bytes command = Command(c.id, c.code, c.payload);
    const int channel = c.id == kCalibrationReportId ? kCalibrationChannel : kSettingsChannel;
    std::vector<OutReport> out;
    m.HandleOutput(channel, command.data(), command.size(), out);
    ASSERT_EQ(out.size(), c.copies) << int(c.code);
    const Bytes& first = out[0].bytes;
    EXPECT_TRUE(c.id == kCalibrationReportId ? IsCalibrationReply(first.data(), first.size())
                                             : IsConsoleReply(first.data(), first.size()))
        << int(c.code);
    for (const OutReport& r : out) {
      EXPECT_EQ(r.bytes, first) << int(c.code);
      EXPECT_EQ(r.channel, channel);
      EXPECT_EQ(r.delay.count(), 0);
    }
    EXPECT_LE(m.calibrationRuns(), 1u) << "begun twice";
    // Done, not refused: the write is taken and acknowledged as taken.
    if (c.code == CMD_CAL_OPTION_13) {
      EXPECT_EQ(first[4], 1);
      EXPECT_EQ(m.settings().option13, 3);
    }
  }
  FrameModel m;
  m.SetFault({0, CMD_CAL_GET_MODE}, {FaultKind::Duplicate});
  m.SetFault({0, CMD_CAL_GET_MODE}, {FaultKind::None});
  EXPECT_EQ(Payload(Send(m, kCalibrationReportId, CMD_CAL_GET_MODE)), Bytes{3});  // one reply again
}

TEST(FrameModelInputTest, LogsEverythingButAnswersOnlyWellFormedReports) {
  FrameModel m;
  std::vector<OutReport> out;
  Bytes c = Command(kSettingsReportId, CMD_CFG_11, {kAccessRead});
  m.HandleOutput(kSettingsChannel, c.data(), 63, out);     // wrong length
  m.HandleOutput(kCalibrationChannel, c.data(), 48, out);  // report 7 on the calibration channel
  c[4] = 0;                                                // terminator gone
  m.HandleOutput(kSettingsChannel, c.data(), c.size(), out);
  Bytes big(64, 0);
  big[0] = kSettingsReportId;
  big[2] = 200;  // N beyond the report
  m.HandleOutput(kSettingsChannel, big.data(), big.size(), out);
  const uint8_t one = 1;
  m.HandleOutput(0, &one, 1, out);  // channel 0 takes no output
  EXPECT_TRUE(out.empty());
  ASSERT_EQ(m.received().size(), 5u);
  EXPECT_EQ(m.received()[1].channel, kCalibrationChannel);
  EXPECT_EQ(m.received()[1].bytes.size(), 48u);
  EXPECT_EQ(m.receivedTotal(), 5u);
}

TEST(FrameModelInputTest, LogOfLongReportsStaysBounded) {
  FrameModel m;
  std::vector<OutReport> out;
  const Bytes longest(1024, 0x55);  // the longest report the wire carries
  const std::size_t reports = FrameModel::kReceivedLogBytes / longest.size() + 100;
  for (std::size_t i = 0; i < reports; ++i)
    m.HandleOutput(kSettingsChannel, longest.data(), longest.size(), out);
  std::size_t kept = 0;
  for (const ReceivedReport& r : m.received()) kept += r.bytes.size();
  EXPECT_LE(kept, FrameModel::kReceivedLogBytes);
  EXPECT_EQ(m.receivedTotal(), reports);
}

}  // namespace
}  // namespace tactra::sim
