// The framing between the virtual frame's driver and its bridge: reports survive any split of the
// byte stream, every length is bounded, and a broken stream stays broken.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "vframe/pipe_frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Encode(const Bytes& report) {
  Bytes frame(VFRAME_MAX_FRAME + 8);
  frame.resize(vframe_encode(report.data(), report.size(), frame.data(), frame.size()));
  return frame;
}

// Feeds `stream` in pieces of `piece` bytes; the reports taken out, and whether the stream broke.
std::vector<Bytes> Decode(const Bytes& stream, std::size_t piece, bool& bad) {
  vframe_decoder decoder;
  vframe_decoder_reset(&decoder);
  std::vector<Bytes> reports;
  bad = false;
  for (std::size_t at = 0; at < stream.size() && !bad;) {
    const std::size_t end = std::min(stream.size(), at + piece);
    while (at < end && !bad) {
      const std::size_t used = vframe_feed(&decoder, stream.data() + at, end - at);
      at += used;
      const unsigned char* report = nullptr;
      std::size_t length = 0;
      const vframe_next next = vframe_next_report(&decoder, &report, &length);
      if (next == VFRAME_REPORT) reports.emplace_back(report, report + length);
      bad = next == VFRAME_BAD;
      if (used == 0 && next != VFRAME_REPORT) break;  // a decoder that takes nothing more is done
    }
  }
  return reports;
}

TEST(PipeFrameTest, ReportsSurviveEverySplitOfTheStream) {
  const std::vector<Bytes> reports = {Bytes{6, 0x01, 0, 0xFF}, Bytes(48, 0x5A), Bytes(1, 7),
                                      Bytes(VFRAME_MAX_REPORT, 0xC3), Bytes(62, 2)};
  Bytes stream;
  for (const Bytes& r : reports) {
    const Bytes frame = Encode(r);
    ASSERT_EQ(frame.size(), r.size() + VFRAME_FRAME_HEADER);
    stream.insert(stream.end(), frame.begin(), frame.end());
  }
  for (std::size_t piece :
       {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{50}, std::size_t{1025}, stream.size()}) {
    bool bad = true;
    EXPECT_EQ(Decode(stream, piece, bad), reports) << "pieces of " << piece;
    EXPECT_FALSE(bad) << "pieces of " << piece;
  }
}

TEST(PipeFrameTest, LengthsOutsideTheLimitsAreRefusedOnBothSides) {
  uint8_t out[VFRAME_MAX_FRAME];
  const Bytes big(VFRAME_MAX_REPORT + 1, 1);
  struct Case {
    const char* name;
    std::size_t length;
    std::size_t room;
    std::size_t encoded;
  };
  const Case encodes[] = {
      {"empty", 0, sizeof out, 0},
      {"longest", VFRAME_MAX_REPORT, sizeof out, VFRAME_MAX_FRAME},
      {"too long", VFRAME_MAX_REPORT + 1, sizeof out, 0},
      {"no room", 10, 11, 0},
      {"exact room", 10, 12, 12},
  };
  for (const Case& c : encodes)
    EXPECT_EQ(vframe_encode(big.data(), c.length, out, c.room), c.encoded) << c.name;

  struct Stream {
    const char* name;
    Bytes bytes;
    std::size_t reports;
    bool bad;
  };
  const Stream streams[] = {
      {"zero length", {0, 0, 1, 2}, 0, true},
      {"length beyond the limit", {0x01, 0x04, 1}, 0, true},
      {"good then zero length", {1, 0, 9, 0, 0, 1, 0, 9}, 1, true},
      {"header cut short", {3, 0, 1, 2, 3, 1}, 1, false},
  };
  for (const Stream& s : streams) {
    bool bad = false;
    EXPECT_EQ(Decode(s.bytes, 1, bad).size(), s.reports) << s.name;
    EXPECT_EQ(bad, s.bad) << s.name;
  }
  // Broken stays broken: nothing more is taken, nothing comes out.
  vframe_decoder decoder;
  vframe_decoder_reset(&decoder);
  const uint8_t zero[] = {0, 0};
  vframe_feed(&decoder, zero, 2);
  const uint8_t good[] = {1, 0, 5};
  EXPECT_EQ(vframe_feed(&decoder, good, sizeof good), 0u);
  const unsigned char* report = nullptr;
  std::size_t length = 0;
  EXPECT_EQ(vframe_next_report(&decoder, &report, &length), VFRAME_BAD);
}

// What vframe_take hands out of a stream, in order: reports as they are, acknowledgements as
// "ack SEQ taken|lost".
struct Taken {
  std::vector<std::string> items;
  static void Report(void* self, const unsigned char* report, std::size_t length) {
    static_cast<Taken*>(self)->items.push_back("report " + std::to_string(length) + " " +
                                               std::to_string(report[0]));
  }
  static void Ack(void* self, unsigned seq, int taken) {
    static_cast<Taken*>(self)->items.push_back("ack " + std::to_string(seq) + (taken ? " taken" : " lost"));
  }
};

TEST(PipeFrameTest, AcknowledgementsTravelBetweenReportsAndOnlyWhereTheyAreExpected) {
  uint8_t ack[VFRAME_FRAME_HEADER];
  ASSERT_EQ(vframe_encode_ack(5, 1, ack, sizeof ack), VFRAME_FRAME_HEADER);
  EXPECT_EQ(ack[0], 5);
  EXPECT_EQ(ack[1], 0xC0);
  EXPECT_EQ(vframe_encode_ack(5, 1, ack, 1), 0u);
  Bytes stream;
  const auto add = [&stream](const Bytes& b) { stream.insert(stream.end(), b.begin(), b.end()); };
  const auto acknowledgement = [](unsigned seq, int taken) {
    Bytes b(VFRAME_FRAME_HEADER);
    vframe_encode_ack(seq, taken, b.data(), b.size());
    return b;
  };
  add(Encode(Bytes(48, 6)));
  add(acknowledgement(1, 1));
  add(acknowledgement(VFRAME_SEQ_MASK + 2, 0));  // numbers wrap
  add(Encode(Bytes{7, 1}));
  add(acknowledgement(VFRAME_SEQ_MASK, 1));
  const std::vector<std::string> expected = {"report 48 6", "ack 1 taken", "ack 1 lost", "report 2 7",
                                             "ack 16383 taken"};
  for (std::size_t piece : {std::size_t{1}, std::size_t{3}, stream.size()}) {
    vframe_decoder decoder;
    vframe_decoder_reset(&decoder);
    Taken taken;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      const std::size_t n = std::min(piece, stream.size() - at);
      ASSERT_TRUE(vframe_take(&decoder, stream.data() + at, n, Taken::Report, Taken::Ack, &taken)) << piece;
    }
    EXPECT_EQ(taken.items, expected) << "pieces of " << piece;
  }
  // The bridge never receives one: there it breaks the stream.
  vframe_decoder decoder;
  vframe_decoder_reset(&decoder);
  Taken taken;
  EXPECT_FALSE(vframe_take(&decoder, stream.data(), stream.size(), Taken::Report, nullptr, &taken));
  EXPECT_EQ(taken.items, std::vector<std::string>{"report 48 6"});
}

}  // namespace
