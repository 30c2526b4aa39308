// The calibration file: its exact bytes, round trips of every kind of value, and every kind of
// file the writer cannot have made refused.
#include <gtest/gtest.h>

#include <functional>

#include "console/calibration_file.h"

namespace tactra::console {
namespace {

using proto::CalibrationRecord;

std::string Raw(const char* text, std::size_t length) { return std::string(text, length); }

// A record with a value of every kind: zero, small, five and six characters, both signs.
CalibrationRecord Mixed() {
  CalibrationRecord r;
  r.value1 = 3;
  r.value2 = 2;
  r.flags = {true, false, true};
  const uint16_t values[18] = {0,      1,      127,    4095,   9999,   10000, 32767, 0x8000, 0xD8F0,
                               0xD8F1, 0xFFFF, 0xFF9C, 0x7FFF, 0x8001, 2048,  3968,  100,    65436};
  for (int k = 0; k < proto::kRecordPoints; ++k) {
    r.x[k] = values[2 * k];
    r.y[k] = values[2 * k + 1];
  }
  return r;
}

TEST(CalibrationFile, ExampleRecordBeginsWithItsLayout) {
  CalibrationRecord r;
  r.value1 = 4;
  r.value2 = 0;
  r.flags = {false, true, false};
  r.x[0] = 100;
  r.y[0] = 2000;
  const std::string file = EncodeCalibrationFile(r);
  ASSERT_EQ(file.size(), kCalibrationFileLength);
  EXPECT_EQ(file.substr(0, 25), Raw("4\r\n0\r\n010\r\n100\0\0\0"
                                    "2000\0\0\r\n",
                                    25));
  // Every other point is (0, 0): "0" and five NULs per field.
  for (int k = 1; k < proto::kRecordPoints; ++k)
    EXPECT_EQ(file.substr(11 + 14 * k, 14), Raw("0\0\0\0\0\0"
                                                "0\0\0\0\0\0\r\n",
                                                14))
        << k;
}

TEST(CalibrationFile, NumberFieldsAreSignedTextAndSixCharactersFillTheirField) {
  struct Case {
    uint16_t value;
    const char* field;  // six bytes
  };
  const Case cases[] = {
      {0, "0\0\0\0\0\0"},  {9999, "9999\0\0"}, {32767, "32767\0"}, {0xFFFF, "-1\0\0\0\0"},
      {0xD8F1, "-9999\0"}, {0xD8F0, "-10000"}, {0x8000, "-32768"},
  };
  for (const Case& c : cases) {
    CalibrationRecord r;
    r.x[8] = c.value;
    r.y[8] = 7;
    const std::string file = EncodeCalibrationFile(r);
    ASSERT_EQ(file.size(), kCalibrationFileLength);
    // The last point line: X, then Y, then the file's last line end.
    EXPECT_EQ(file.substr(123, 14), Raw(c.field, 6) + Raw("7\0\0\0\0\0\r\n", 8)) << c.value;
  }
}

TEST(CalibrationFile, EveryRecordRoundTrips) {
  std::vector<CalibrationRecord> records{CalibrationRecord(), Mixed()};
  // Every head value (past 207 the character wraps beyond 0xFF) and every flag pattern.
  for (int v = 0; v < 256; ++v) {
    CalibrationRecord r = Mixed();
    r.value1 = static_cast<uint8_t>(v);
    r.value2 = static_cast<uint8_t>(255 - v);
    r.flags = {(v & 1) != 0, (v & 2) != 0, (v & 4) != 0};
    records.push_back(r);
  }
  // Every 16-bit value in X and Y.
  for (uint32_t v = 0; v <= 0xFFFF; v += 9) {
    CalibrationRecord r;
    r.x[v % 9] = static_cast<uint16_t>(v);
    r.y[(v + 4) % 9] = static_cast<uint16_t>(0xFFFF - v);
    records.push_back(r);
  }
  for (const CalibrationRecord& r : records) {
    CalibrationRecord back;
    back.value1 = 99;
    ASSERT_TRUE(DecodeCalibrationFile(EncodeCalibrationFile(r), back));
    ASSERT_TRUE(back == r) << int(r.value1) << " " << r.x[0];
  }
}

TEST(CalibrationFile, AcceptsHandWrittenNumbersOfTheSameForm) {
  // Leading zeros and "-0" are an optional minus and digits too.
  std::string file = EncodeCalibrationFile(CalibrationRecord());
  file.replace(11, 6, Raw("00042\0", 6));
  file.replace(17, 6, Raw("-0\0\0\0\0", 6));
  CalibrationRecord r;
  ASSERT_TRUE(DecodeCalibrationFile(file, r));
  EXPECT_EQ(r.x[0], 42);
  EXPECT_EQ(r.y[0], 0);
}

TEST(CalibrationFile, RefusesWhatTheWriterCannotHaveMade) {
  const std::string good = EncodeCalibrationFile(Mixed());
  auto field = [](int k, bool y) { return static_cast<std::size_t>(11 + 14 * k + (y ? 6 : 0)); };
  auto setField = [&](int k, bool y, const std::string& six) {
    return [=](std::string& f) { f.replace(field(k, y), 6, six); };
  };
  struct Case {
    const char* what;
    std::function<void(std::string&)> change;
  };
  const Case cases[] = {
      {"empty", [](std::string& f) { f.clear(); }},
      {"one byte short", [](std::string& f) { f.pop_back(); }},
      {"one byte more", [](std::string& f) { f.push_back('\n'); }},
      {"cut after the head", [](std::string& f) { f.resize(11); }},
      {"line ends made LF",
       [](std::string& f) {
         std::string out;
         for (char c : f)
           if (c != '\r') out.push_back(c);
         f = out;
       }},
      {"line end of the head moved", [](std::string& f) { std::swap(f[1], f[2]); }},
      {"flags line end", [](std::string& f) { f[9] = ' '; }},
      {"point line end", [](std::string& f) { f[11 + 14 * 4 + 12] = '\n'; }},
      {"last line end", [](std::string& f) { f[136] = '\0'; }},
      {"flag 2", [](std::string& f) { f[6] = '2'; }},
      {"flag letter", [](std::string& f) { f[8] = 'x'; }},
      {"letters", setField(0, false, Raw("abc\0\0\0", 6))},
      {"digits then a letter", setField(1, true, Raw("12a\0\0\0", 6))},
      {"leading blank", setField(2, false, Raw(" 12\0\0\0", 6))},
      {"plus sign", setField(3, true, Raw("+12\0\0\0", 6))},
      {"minus alone", setField(4, false, Raw("-\0\0\0\0\0", 6))},
      {"empty field", setField(5, true, Raw("\0\0\0\0\0\0", 6))},
      {"text after a NUL", setField(6, false,
                                    Raw("12\0"
                                        "3\0\0",
                                        6))},
      {"blank padding", setField(7, true, Raw("12    ", 6))},
      {"two minus signs", setField(8, false, Raw("--12\0\0", 6))},
      {"above 16 bits", setField(0, true, Raw("32768\0", 6))},
      {"six digits", setField(1, false, Raw("100000", 6))},
      {"below 16 bits", setField(8, true, Raw("-32769", 6))},
  };
  for (const Case& c : cases) {
    std::string file = good;
    c.change(file);
    CalibrationRecord r;
    r.value1 = 77;
    EXPECT_FALSE(DecodeCalibrationFile(file, r)) << c.what;
    EXPECT_EQ(r.value1, 77) << c.what << ": the record was changed";
  }
}

}  // namespace
}  // namespace tactra::console
