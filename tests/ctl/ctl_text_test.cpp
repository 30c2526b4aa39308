// What the tool reads and writes without a frame: its JSON, its UTF-8 and its backup file.
#include <gtest/gtest.h>

#include "ctl/backup.h"
#include "ctl/json.h"
#include "ctl/tool.h"
#include "ctl/utf8.h"

namespace tactra::ctl {
namespace {

TEST(CtlJsonTest, TakesWhatItWritesAndRefusesEveryMalformedKind) {
  const std::string good =
      R"({"a":[1,-2,9223372036854775807,-9223372036854775808],"b":{"c":null,"d":true,"e":false},)"
      R"("s":"q\"\\\/\n\t\u00e9\u4e2d\ud83d\ude00"})";
  std::string error;
  std::optional<Json> parsed = ParseJson(good, error);
  ASSERT_TRUE(parsed) << error;
  EXPECT_EQ(parsed->Find("a")->items()[3].number(), INT64_MIN);
  EXPECT_EQ(parsed->Find("s")->string(), "q\"\\/\n\t\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  // Written again and read back, nothing changes.
  std::optional<Json> again = ParseJson(parsed->Write(), error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(again->Write(), parsed->Write());

  const char* const bad[] = {
      "",
      "{",
      "{\"a\":1,}",
      "[1 2]",
      "{\"a\" 1}",
      "{a:1}",
      "01",
      "1.5",
      "1e3",
      "-",
      "9223372036854775808",
      "\"\\x\"",
      "\"\\u12\"",
      "\"\\ud800\"",
      "\"\\udc00\"",
      "\"a\nb\"",
      "\"open",
      "tru",
      "{} {}",
      "{\"k\":1,\"k\":2}",
      "\"\xC3\"",
      "\"\xED\xA0\x80\"",
      "[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]",
  };
  for (const char* text : bad) {
    EXPECT_FALSE(ParseJson(text, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(CtlJsonTest, ControlCharactersAreEscaped) {
  Json j = Json::Object();
  j.Set("t", Json::String(std::string("a\x01\x1f\"b", 5)));
  EXPECT_EQ(j.Write(), R"({"t":"a\u0001\u001f\"b"})");
}

TEST(CtlUtf8Test, RoundTripsEveryPlaneAndReplacesWhatIsIllFormed) {
  const std::wstring wide =
      L"A\u00e9\u4e2d\u6587" + std::wstring(sizeof(wchar_t) == 2 ? L"\xd83d\xde00" : L"\U0001F600");
  EXPECT_EQ(ToUtf8(wide), "A\xC3\xA9\xE4\xB8\xAD\xE6\x96\x87\xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf8(ToUtf8(wide)), wide);
  struct Case {
    const char* bytes;
    std::wstring wide;
  };
  const Case cases[] = {
      {"\xC3", L"\uFFFD"},              // cut short
      {"\xC0\xAF", L"\uFFFD"},          // overlong
      {"\xED\xA0\x80", L"\uFFFD"},      // a surrogate
      {"\xF4\x90\x80\x80", L"\uFFFD"},  // past the last code point
      {"\xFFx", L"\uFFFDx"},            // a byte that starts nothing
      {"\xE4\xB8x", L"\uFFFDx"},        // what follows a cut sequence is read anew
  };
  for (const Case& c : cases) EXPECT_EQ(FromUtf8(c.bytes), c.wide) << c.bytes;
}

Backup Sample() {
  Backup b;
  b.info = {"V2.16.03", "20260311", "IR6C", "\xE4\xB8\xAD frame", -7, {1, -2, 3}, {}};
  std::string error;
  b.settings =
      *ParseJson(R"({"cfg11":2,"cfg12":{"a":1,"b":0,"c":1},"cfg14":{"enabled":1,"level":5,"time":300},)"
                 R"("cfg15":{"enabled":0,"level":null,"time":null},"cfg16":{"enabled":1,"value":10},)"
                 R"("cfg17":{"a":3,"b":3,"c":5,"d":5},"cfg21":{"enabled":1,"a":30,"b":500}})",
                 error);
  b.calibration.targets = 9;
  b.calibration.option = 3;
  proto::CalibrationRecord r;
  r.value1 = 255;
  r.value2 = 7;
  r.flags = {true, false, true};
  for (std::size_t i = 0; i < r.x.size(); ++i) {
    r.x[i] = static_cast<uint16_t>(65535 - i);
    r.y[i] = static_cast<uint16_t>(i * 100);
  }
  b.calibration.record = r;
  return b;
}

TEST(CtlBackupTest, EveryFieldSurvivesTheFile) {
  const Backup b = Sample();
  std::string error;
  const std::optional<Backup> back = DecodeBackup(EncodeBackup(b), error);
  ASSERT_TRUE(back) << error;
  EXPECT_EQ(back->info.firmware, b.info.firmware);
  EXPECT_EQ(back->info.date, b.info.date);
  EXPECT_EQ(back->info.model, b.info.model);
  EXPECT_EQ(back->info.description, b.info.description);
  EXPECT_EQ(back->info.value, b.info.value);
  EXPECT_EQ(back->info.listA, b.info.listA);
  EXPECT_EQ(back->info.listB, b.info.listB);
  EXPECT_EQ(back->settings.Write(), b.settings.Write());
  EXPECT_EQ(back->calibration.targets, 9);
  EXPECT_EQ(back->calibration.option, 3);
  ASSERT_TRUE(back->calibration.record);
  EXPECT_TRUE(*back->calibration.record == *b.calibration.record);

  Backup none = b;
  none.calibration.record.reset();
  const std::optional<Backup> without = DecodeBackup(EncodeBackup(none), error);
  ASSERT_TRUE(without) << error;
  EXPECT_FALSE(without->calibration.record);
}

TEST(CtlBackupTest, EachMalformedKindIsRefused) {
  const std::string good = EncodeBackup(Sample());
  // Each edit of the good file, and what the error must name.
  struct Edit {
    const char* from;
    const char* to;
    const char* names;
  };
  const Edit edits[] = {
      {"\"format\":\"tactra-backup\"", "\"format\":\"other\"", "format"},
      {"\"version\":1", "\"version\":2", "version 2"},
      {"\"version\":1", "\"version\":\"1\"", "version"},
      {"\"firmware\":\"V2.16.03\"", "\"firmware\":5", "firmware"},
      {"\"value\":-7", "\"value\":200", "value"},
      {"\"list_a\":[1,-2,3]", "\"list_a\":[1,\"x\"]", "list_a"},
      {"\"list_a\":[1,-2,3]", "\"list_a\":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15]", "list"},
      {"\"cfg15\":{\"enabled\":0", "\"cfg15\":{\"enabled\":2", "cfg15.enabled"},
      {"\"time\":300", "\"time\":350", "cfg14.time"},
      {"\"cfg11\":2", "\"cfg99\":2", "cfg99"},
      {"\"cfg11\":2", "\"cfg11\":\"2\"", "cfg11"},
      {"\"a\":30", "\"a\":31", "cfg21.a"},
      {"\"mode\":9", "\"mode\":3", "mode"},
      {"\"option\":3", "\"option\":5", "option"},
      {"\"value1\":255", "\"value1\":256", "value1"},
      {"\"flags\":[1,0,1]", "\"flags\":[1,0]", "flags"},
      {"\"flags\":[1,0,1]", "\"flags\":[1,0,2]", "flags"},
      {"\"x\":[65535", "\"x\":[65536", "\"x\""},
      {"\"y\":[0,", "\"y\":[-1,", "\"y\""},
      {",\"record\":{", ",\"recorded\":{", "record"},
      {"\"info\":{", "\"info\":[{", "not a backup"},
      {"{\"format\"", "[{\"format\"", "not a backup"},
  };
  for (const Edit& e : edits) {
    std::string text = good;
    const std::size_t at = text.find(e.from);
    ASSERT_NE(at, std::string::npos) << e.from;
    text.replace(at, std::string(e.from).size(), e.to);
    std::string error;
    EXPECT_FALSE(DecodeBackup(text, error)) << e.to;
    EXPECT_NE(error.find(e.names), std::string::npos) << e.to << ": " << error;
  }
  std::string error;
  EXPECT_FALSE(DecodeBackup(good.substr(0, good.size() / 2), error));
}

// Standard output that does not take the result (a full disk, a closed pipe) is a failure of
// its own, said once on standard error; a command's own failure keeps its code.
TEST(CtlDeliverTest, OutputNotWrittenEndsWith1UnlessTheCommandFailedAlready) {
  struct Case {
    ToolOutput result;
    bool outTaken;
    int exit;
    std::string err;
  };
  const std::string lost = "tactractl: the output could not be written\n";
  const Case cases[] = {
      {{kExitDone, "{}\n", ""}, true, kExitDone, ""},
      {{kExitDone, "{}\n", ""}, false, kExitFrameFailed, lost},
      {{kExitNoFrame, "{\"bound\":false}\n", "tactractl: no frame\n"},
       false,
       kExitNoFrame,
       lost + "tactractl: no frame\n"},
      {{kExitBadInput, "", "tactractl: bad\n"}, false, kExitBadInput, "tactractl: bad\n"},
      {{kExitDone, "", ""}, false, kExitDone, ""},  // nothing to write
  };
  for (const Case& c : cases) {
    std::string out, err;
    const int code = Deliver(
        c.result,
        [&](const std::string& text) {
          if (c.outTaken) out += text;
          return c.outTaken;
        },
        [&](const std::string& text) { err += text; });
    EXPECT_EQ(code, c.exit) << c.result.out;
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(out, c.outTaken ? c.result.out : "");
  }
}

}  // namespace
}  // namespace tactra::ctl
