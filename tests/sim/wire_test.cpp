// The wire codec: round trips, and the limits that make a stream bad.
#include <gtest/gtest.h>

#include "sim/state_file.h"
#include "sim/wire.h"

namespace tactra::sim {
namespace {

using namespace wire;

std::vector<Message> Decode(const Bytes& stream, bool& bad, std::size_t chunk = 3) {
  Decoder d;
  std::vector<Message> messages;
  bad = false;
  for (std::size_t at = 0; at < stream.size() && !bad; at += chunk) {
    const std::size_t n = std::min(chunk, stream.size() - at);
    if (!d.Feed(stream.data() + at, n)) bad = true;
    Message m;
    Decoder::Status s;
    while ((s = d.Next(m)) == Decoder::Status::Message) messages.push_back(m);
    if (s == Decoder::Status::Bad) bad = true;
  }
  return messages;
}

TEST(WireTest, MessagesSurviveAStreamCutAnywhere) {
  Bytes stream = EncodeOpen({kAccessWrite, "\\\\?\\hid#x"});
  const Bytes report(64, 7);
  for (const Bytes& m :
       {EncodeReport(kOutput, report.data(), report.size()), EncodeControl({"fault", "0x13"}),
        EncodeInterfaces({{1, 2, 62, 0, "p0"}, {1, 2, 64, 64, "p5"}}), EncodeNotice({kNoticeRemoval, "p5"}),
        EncodeControlDone(3), EncodeAck(0x01020304)}) {
    stream.insert(stream.end(), m.begin(), m.end());
  }
  bool bad = false;
  const auto messages = Decode(stream, bad);
  ASSERT_FALSE(bad);
  ASSERT_EQ(messages.size(), 7u);
  OpenRequest open;
  ASSERT_TRUE(ParseOpen(messages[0], open));
  EXPECT_EQ(open.path, "\\\\?\\hid#x");
  Bytes out;
  ASSERT_TRUE(ParseReport(messages[1], kOutput, out));
  EXPECT_EQ(out, report);
  std::vector<std::string> args;
  ASSERT_TRUE(ParseControl(messages[2], args));
  EXPECT_EQ(args, (std::vector<std::string>{"fault", "0x13"}));
  std::vector<InterfaceInfo> list;
  ASSERT_TRUE(ParseInterfaces(messages[3], list));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].outputLength, 64);
  Notice notice;
  ASSERT_TRUE(ParseNotice(messages[4], notice));
  EXPECT_EQ(notice.kind, kNoticeRemoval);
  uint8_t code = 0;
  ASSERT_TRUE(ParseControlDone(messages[5], code));
  EXPECT_EQ(code, 3);
  uint32_t number = 0;
  ASSERT_TRUE(ParseAck(messages[6], number));
  EXPECT_EQ(number, 0x01020304u);  // little-endian on the wire
  EXPECT_EQ(EncodeAck(0x01020304), (Bytes{5, 0, 0, 0, kAck, 4, 3, 2, 1}));
}

TEST(WireTest, HeadersBeyondTheLimitsMakeTheStreamBad) {
  for (const Bytes& header : {Bytes{0, 0, 0, 0}, Bytes{1, 0, 1, 0}, Bytes{0xFF, 0xFF, 0xFF, 0xFF}}) {
    bool bad = false;
    Decode(header, bad);
    EXPECT_TRUE(bad);
  }
}

TEST(WireTest, FieldsBeyondTheirLimitsAreRejected) {
  EXPECT_TRUE(EncodeOpen({kAccessRead, std::string(kMaxPath + 1, 'a')}).empty());
  EXPECT_TRUE(EncodeOpen({kAccessRead, "bad\npath"}).empty());
  EXPECT_TRUE(EncodeControl(std::vector<std::string>(kMaxControlArgs + 1, "x")).empty());
  const Bytes huge(kMaxReport + 1, 0);
  EXPECT_TRUE(EncodeReport(kOutput, huge.data(), huge.size()).empty());
  EXPECT_TRUE(EncodeReport(kOutput, huge.data(), 0).empty());

  // Hand-made payloads: a path length past the end, bytes left over, a bad access byte.
  const auto parse = [](uint8_t type, Bytes payload) { return Message{type, std::move(payload)}; };
  OpenRequest open;
  EXPECT_FALSE(ParseOpen(parse(kOpen, {0, 10, 0, 'a'}), open));
  EXPECT_FALSE(ParseOpen(parse(kOpen, {0, 1, 0, 'a', 'b'}), open));
  EXPECT_FALSE(ParseOpen(parse(kOpen, {2, 1, 0, 'a'}), open));
  EXPECT_FALSE(ParseOpen(parse(kOpen, {0, 0, 0}), open));
  EXPECT_TRUE(ParseOpen(parse(kOpen, {0, 1, 0, 'a'}), open));
  std::vector<std::string> args;
  EXPECT_FALSE(ParseControl(parse(kControl, {0}), args));
  EXPECT_FALSE(ParseControl(parse(kControl, {1, 5, 'd'}), args));
  std::vector<InterfaceInfo> list;
  EXPECT_FALSE(ParseInterfaces(parse(kInterfaces, {17}), list));
  Notice notice;
  EXPECT_FALSE(ParseNotice(parse(kNotice, {3, 1, 0, 'p'}), notice));
  Bytes report;
  EXPECT_FALSE(ParseReport(parse(kInput, {}), kInput, report));
  EXPECT_FALSE(ParseReport(parse(kInput, {1}), kOutput, report));
  // An acknowledgement is exactly its 4-byte number.
  uint32_t number = 0;
  for (const Bytes& payload : {Bytes{}, Bytes{1, 0, 0}, Bytes{1, 0, 0, 0, 0}}) {
    EXPECT_FALSE(ParseAck(parse(kAck, payload), number)) << payload.size();
  }
  EXPECT_FALSE(ParseAck(parse(kControlDone, {1, 0, 0, 0}), number));
  EXPECT_TRUE(ParseAck(parse(kAck, {1, 0, 0, 0}), number));
}

TEST(StateFileTest, RoundTripsAndRejectsBrokenFiles) {
  FrameState s;
  s.mode = 4;
  s.settings.cfg14 = {1, 9, 800};
  s.settings.option13 = 2;
  s.record.x[8] = 4000;
  s.record.flags[1] = true;
  FrameState back;
  ASSERT_TRUE(ParseState(FormatState(s), back));
  EXPECT_EQ(back.mode, 4);
  EXPECT_TRUE(back.settings == s.settings);
  EXPECT_TRUE(back.record == s.record);

  const std::string good = FormatState(s);
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  for (const std::string& broken :
       {replaced("mode 4", "mode 5"), replaced("cfg14 1 9 800", "cfg14 1 9 850"),
        replaced("cfg11 2", "cfg11"), replaced("record ", "record 00"),
        replaced("cfg16 1 10", "cfg16 1 10 3"), replaced("mode 4\n", ""), replaced("cfg17", "cfg99"),
        replaced("cfg11 2", "mode 4")}) {  // a key twice and another missing
    FrameState out;
    out.mode = 2;
    EXPECT_FALSE(ParseState(broken, out)) << broken;
    EXPECT_EQ(out.mode, 2);  // untouched
  }
}

}  // namespace
}  // namespace tactra::sim
