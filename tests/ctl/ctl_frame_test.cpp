// The tool against a served simulated frame: what it prints, what the frame receives and how it
// ends, for every command and the faults a fleet meets.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <thread>

#include "console/calibration_file.h"
#include "console/options_page.h"
#include "ctl/backup.h"
#include "ctl/json.h"
#include "ctl/tool.h"
#include "sim/state_file.h"
#include "tests/fakes/memory_settings_store.h"
#include "tests/sim/served_frame.h"

namespace tactra::ctl {
namespace {

using sim::testing::NoSleep;
using sim::testing::ServedFrame;

class MemoryFiles : public console::FileAccess {
 public:
  bool WriteReplacing(const std::wstring& path, const std::string& content) override {
    files[path] = content;
    return true;
  }
  bool Read(const std::wstring& path, std::size_t limit, std::string& content) override {
    auto it = files.find(path);
    if (it == files.end() || it->second.size() > limit) return false;
    content = it->second;
    return true;
  }
  std::map<std::wstring, std::string> files;
};

// A calibration program that ends as told.
class FakeStarter : public console::ProgramStarter {
 public:
  std::unique_ptr<console::StartedProcess> Start(console::StartOutcome& outcome) override {
    ++starts;
    outcome = exitCode ? console::StartOutcome::Started : console::StartOutcome::FileNotFound;
    if (!exitCode) return nullptr;
    struct Process : console::StartedProcess {
      explicit Process(std::optional<uint32_t> c) : code(c) {}
      bool Running() override { return false; }
      std::optional<uint32_t> WaitForExit(std::chrono::milliseconds) override { return code; }
      std::optional<uint32_t> code;
    };
    return std::make_unique<Process>(exitCode);
  }
  void SetMonitor(std::optional<int> m) override { monitor = m; }
  std::optional<uint32_t> exitCode;  // nothing: the program is not there
  int starts = 0;
  std::optional<int> monitor;  // as set before the last start
};

// The value text of `key` in the frame's dump (an object, a number or a string).
std::string DumpMember(const std::string& dump, const std::string& key) {
  const std::size_t at = dump.find("\"" + key + "\":");
  if (at == std::string::npos) return {};
  std::size_t i = at + key.size() + 3;
  const std::size_t from = i;
  int depth = 0;
  bool quoted = false;
  for (; i < dump.size(); ++i) {
    const char c = dump[i];
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    if (c == '{' || c == '[') ++depth;
    if (c == '}' || c == ']') --depth;
    if (depth < 0 || (depth == 0 && c == ',')) break;
  }
  return dump.substr(from, i - from + (depth == 0 && i < dump.size() && dump[i] == '}' ? 1 : 0));
}

// A host that, as the system's HID stack does, still lists a removed frame's collections for the
// next `lateLooks` enumerations.
class LateRemovalHost : public HidHost {
 public:
  explicit LateRemovalHost(HidHost& inner) : inner_(inner) {}
  std::vector<HidInterface> Enumerate() override {
    std::vector<HidInterface> now = inner_.Enumerate();
    if (!now.empty()) {
      last_ = now;
      left_ = lateLooks;
    } else if (left_ > 0) {
      --left_;
      return last_;
    }
    return now;
  }
  std::unique_ptr<HidReader> OpenReader(const std::wstring& path) override { return inner_.OpenReader(path); }
  std::unique_ptr<HidWriter> OpenWriter(const std::wstring& path) override { return inner_.OpenWriter(path); }
  std::unique_ptr<NoticeRegistration> RegisterArrivalNotifications(void* window,
                                                                   NoticeCallback callback) override {
    return inner_.RegisterArrivalNotifications(window, std::move(callback));
  }
  int lateLooks = 0;

 private:
  HidHost& inner_;
  std::vector<HidInterface> last_;
  int left_ = 0;
};

struct Tool {
  explicit Tool(const ServedFrame& f) : frame(f), host(f.Host()), late(*host) {
    // The system's own key, there on every Windows.
    store.AddKey(Hive::LocalMachine, console::kRunKeyPath);
  }
  ToolOutput Run(std::vector<std::string> args) {
    ToolSeams seams{late,
                    store,
                    files,
                    starter,
                    [this](std::chrono::milliseconds) {
                      if (onPause) onPause();
                    },
                    NoSleep,
                    osCode,
                    consoleBeside,
                    std::chrono::milliseconds(1000)};
    return RunTool(args, seams);
  }
  Json RunJson(std::vector<std::string> args, int expectedExit = kExitDone) {
    args.push_back("--json");
    const ToolOutput out = Run(args);
    EXPECT_EQ(out.exitCode, expectedExit) << args[0] << ": " << out.err;
    std::string error;
    std::optional<Json> parsed = ParseJson(out.out, error);
    EXPECT_TRUE(parsed) << args[0] << ": " << error << " in " << out.out;
    return parsed.value_or(Json());
  }
  std::string Dump() const {
    std::string text;
    frame.Ctl({"dump"}, &text);
    return text;
  }
  int Received() const { return std::stoi(DumpMember(Dump(), "received_count")); }
  // The frame's settings as the tool names them (its dump keeps two of them as lists).
  std::string FrameSettings() const {
    std::string error;
    const Json s = *ParseJson(DumpMember(Dump(), "settings"), error);
    Json out = Json::Object();
    for (const auto& [key, value] : s.members()) {
      if (key == "option13") continue;
      if (value.kind() != Json::Kind::Array) {
        out.Set(key, value);
        continue;
      }
      Json fields = Json::Object();
      const char* names[] = {"a", "b", "c", "d"};
      for (std::size_t i = 0; i < value.items().size(); ++i) fields.Set(names[i], value.items()[i]);
      out.Set(key, fields);
    }
    return out.Write();
  }

  const ServedFrame& frame;
  std::unique_ptr<HidHost> host;
  LateRemovalHost late;
  MemorySettingsStore store;
  MemoryFiles files;
  FakeStarter starter;
  int osCode = console::kOsCodeWithSetting11;
  std::optional<std::wstring> consoleBeside = L"C:\\Tactra\\TactraConsole.exe";
  std::function<void()> onPause;  // in each of the pages' pauses, between requests
};

// What the tool shows with its values the frame told (switched off: null) is the frame's own.
std::string KnownOnly(const Json& settings) {
  Json out = Json::Object();
  for (const auto& [key, value] : settings.members()) {
    if (value.kind() != Json::Kind::Object) {
      out.Set(key, value);
      continue;
    }
    Json fields = Json::Object();
    for (const auto& [field, v] : value.members()) {
      if (!v.isNull()) fields.Set(field, v);
    }
    out.Set(key, fields);
  }
  return out.Write();
}

TEST(CtlFrameTest, ReadsShowTheFramesOwnValues) {
  ServedFrame frame;
  ASSERT_TRUE(frame.listening());
  Tool tool(frame);
  const Json status = tool.RunJson({"status"});
  EXPECT_TRUE(status.Find("bound")->boolean());
  EXPECT_EQ(status.Find("vendor")->string(), "595a");
  EXPECT_EQ(status.Find("channels")->items().size(), 6u);

  const Json info = tool.RunJson({"info"});
  EXPECT_EQ(info.Find("firmware")->string(), "V2.16.03");
  EXPECT_EQ(info.Find("list_b")->Write(), "[10,20,30,40]");

  // Compared where the frame tells: the settings switched off carry no values to show.
  std::string frameSettings = tool.FrameSettings();
  const Json config = tool.RunJson({"config"});
  std::string error;
  Json expected = *ParseJson(frameSettings, error);
  Json cfg15 = Json::Object();
  cfg15.Set("enabled", Json::Number(0));
  expected.Set("cfg15", cfg15);
  EXPECT_EQ(KnownOnly(config), expected.Write());

  const Json calibration = tool.RunJson({"calibration"});
  EXPECT_EQ(calibration.Write(), R"({"mode":5,"option":0})");
  EXPECT_EQ(DumpMember(tool.Dump(), "mode"), "3");
}

TEST(CtlFrameTest, WritesChangeTheFrameAsThePagesDo) {
  ServedFrame frame;
  Tool tool(frame);
  Json after = tool.RunJson({"config", "set", "cfg15.time=1500", "cfg15.enabled=1", "cfg15.level=3",
                             "cfg21.b=2000", "cfg16.value=20", "cfg17.c=10", "cfg12.b=1", "cfg11=1"});
  EXPECT_EQ(after.Find("cfg15")->Write(), R"({"enabled":1,"level":3,"time":1500})");
  const std::string settings = tool.FrameSettings();
  for (const char* part :
       {R"("cfg15":{"enabled":1,"level":3,"time":1500})", R"("b":2000})", R"("value":20})",
        R"("cfg17":{"a":3,"b":3,"c":10,"d":5})", R"("cfg12":{"a":1,"b":1,"c":1})", R"("cfg11":1)"})
    EXPECT_NE(settings.find(part), std::string::npos) << part << " in " << settings;

  EXPECT_EQ(tool.RunJson({"calibration", "set", "mode=9", "option=2"}).Write(), R"({"mode":9,"option":2})");
  EXPECT_EQ(DumpMember(tool.Dump(), "mode"), "4");
  EXPECT_EQ(DumpMember(tool.Dump(), "option13"), "2");
  // Only the option changes; the page sends the mode it shows with it.
  EXPECT_EQ(tool.RunJson({"calibration", "set", "option=1"}).Write(), R"({"mode":9,"option":1})");

  ASSERT_EQ(tool.Run({"config", "defaults"}).exitCode, kExitDone);
  EXPECT_NE(tool.FrameSettings(), settings);
  EXPECT_EQ(tool.Run({"calibration", "restore-factory"}).exitCode, kExitDone);

  // The programs' settings, with the logon entry naming the console in quotes.
  const Json programs = tool.RunJson({"programs", "set", "language=zh", "start-at-logon=on"});
  EXPECT_EQ(programs.Write(), R"({"language":"zh","start_at_logon":true,"minimize_after_start":false})");
  EXPECT_EQ(tool.store.GetString(Hive::LocalMachine, console::kRunKeyPath, console::kRunValueName),
            std::wstring(L"\"C:\\Tactra\\TactraConsole.exe\""));
  tool.RunJson({"programs", "set", "start-at-logon=off"});
  EXPECT_FALSE(tool.store.HasValue(Hive::LocalMachine, console::kRunKeyPath, console::kRunValueName));
}

TEST(CtlFrameTest, BadInputSendsNothing) {
  ServedFrame frame;
  Tool tool(frame);
  tool.files.files[L"short.ini"] = std::string(136, '0');
  tool.files.files[L"bad.json"] = R"({"format":"tactra-backup","version":2})";
  tool.files.files[L"broken.json"] = "{";
  const std::vector<std::vector<std::string>> bad = {
      {"config", "set", "cfg15.time=1501"},
      {"config", "set", "cfg15.time=500", "cfg15.time=1000"},
      {"config", "set", "cfg15.level=3", "cfg15.enabled=0"},
      {"config", "set", "cfg16.value=21"},
      {"config", "set", "cfg16.value=x"},
      {"config", "set", "cfg16.value=+1"},
      {"config", "set", "cfg17.a=0"},
      {"config", "set", "cfg21.a=4"},
      {"config", "set", "cfg12.d=1"},
      {"config", "set", "cfg15.time"},
      {"config", "set"},
      {"config", "reset"},
      {"calibration", "set", "mode=3"},
      {"calibration", "set", "option=4"},
      {"calibration", "set"},
      {"calibration", "set", "mode=4", "mode=5"},
      {"calibration", "export"},
      {"calibration", "import", "missing.ini"},
      {"calibration", "import", "short.ini"},
      {"calibration", "start", "--later"},
      {"calibration", "start", "--monitor"},
      {"calibration", "start", "--monitor", "0"},
      {"calibration", "start", "--monitor", "x"},
      {"calibration", "start", "--monitor", "-1"},
      {"calibration", "start", "--monitor", "2", "--monitor", "3"},
      {"calibration", "start", "--wait", "--wait"},
      {"calibration", "erase"},
      {"restore", "bad.json"},
      {"restore", "broken.json"},
      {"restore", "bad.json", "--settings", "--settings"},
      {"restore"},
      {"backup"},
      {"programs", "set", "language=fr"},
      {"programs", "set", "start-at-logon=yes"},
      {"status", "now"},
      {"frobnicate"},
  };
  for (const auto& args : bad) {
    const ToolOutput out = tool.Run(args);
    EXPECT_EQ(out.exitCode, kExitBadInput) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_EQ(std::count(out.err.begin(), out.err.end(), '\n'), 1) << out.err;
  }
  EXPECT_EQ(tool.Received(), 0);
  EXPECT_EQ(tool.starter.starts, 0);
  EXPECT_TRUE(tool.store.Changes().empty());
  // Help is no error.
  EXPECT_EQ(tool.Run({"--help"}).exitCode, kExitDone);
}

TEST(CtlFrameTest, ASwitchedOffValueIsRefusedAfterTheReadWithoutAWrite) {
  ServedFrame frame;
  Tool tool(frame);
  const ToolOutput out = tool.Run({"config", "set", "cfg15.level=3"});
  EXPECT_EQ(out.exitCode, kExitBadInput);
  EXPECT_NE(out.err.find("cfg15.enabled is 0"), std::string::npos) << out.err;
  // Seven reads, not one write.
  EXPECT_EQ(tool.Received(), 7);
}

TEST(CtlFrameTest, ASettingThePageCannotWriteWholeIsRefusedWithoutAWrite) {
  ServedFrame frame;
  Tool tool(frame);
  // The frame's answer to the read of cfg17 carries a first level out of range: the page does
  // not know it, and writes cfg17 only whole.
  ASSERT_EQ(frame.Ctl({"fault", "7:0x17", "refuse"}), 0);
  const ToolOutput out = tool.Run({"config", "set", "cfg17.b=1"});
  EXPECT_EQ(out.exitCode, kExitFrameFailed);
  EXPECT_NE(out.err.find("cfg17.a"), std::string::npos) << out.err;
  EXPECT_EQ(tool.Received(), 7);
  // Nor can the unknown value be given: the page greys it.
  const ToolOutput also = tool.Run({"config", "set", "cfg17.b=1", "cfg17.a=2"});
  EXPECT_EQ(also.exitCode, kExitFrameFailed);
  EXPECT_NE(also.err.find("cfg17.a cannot be set"), std::string::npos) << also.err;
  EXPECT_EQ(tool.Received(), 14);
  ASSERT_EQ(frame.Ctl({"fault", "7:0x17", "none"}), 0);
  EXPECT_NE(tool.FrameSettings().find(R"("cfg17":{"a":3,"b":3)"), std::string::npos);
}

TEST(CtlFrameTest, FaultsEndWithTheirExitCodes) {
  struct Case {
    const char* fault;  // CODE, kind
    const char* kind;
    std::vector<std::string> args;
    int exit;
  };
  const Case cases[] = {
      {"7:0x15", "refuse", {"config", "set", "cfg15.enabled=1"}, kExitFrameFailed},
      {"7:0x01", "silent", {"info"}, kExitFrameFailed},
      {"7:0x14", "silent", {"config"}, kExitFrameFailed},
      {"7:0x13", "refuse", {"calibration", "set", "option=1"}, kExitFrameFailed},
      {"6:0x01", "silent", {"calibration"}, kExitFrameFailed},
  };
  for (const Case& c : cases) {
    ServedFrame frame;
    Tool tool(frame);
    ASSERT_EQ(frame.Ctl({"fault", c.fault, c.kind}), 0) << c.fault;
    const ToolOutput out = tool.Run(c.args);
    EXPECT_EQ(out.exitCode, c.exit) << c.fault << " " << c.kind << ": " << out.err;
    EXPECT_FALSE(out.err.empty());
  }
  // No frame.
  ServedFrame frame;
  Tool tool(frame);
  ASSERT_EQ(frame.Ctl({"unplug"}), 0);
  for (const char* command : {"status", "info", "config", "calibration"}) {
    const ToolOutput out = tool.Run({command});
    EXPECT_EQ(out.exitCode, kExitNoFrame) << command;
  }
  EXPECT_EQ(tool.RunJson({"status"}, kExitNoFrame).Find("bound")->boolean(), false);
}

TEST(CtlFrameTest, BackupOfOneFrameRestoredOntoAnotherMakesItTheSame) {
  ServedFrame first;
  ServedFrame second;
  Tool a(first);
  Tool b(second);
  // The second differs in settings, mode and record.
  ASSERT_EQ(b.Run({"config", "set", "cfg14.level=9", "cfg21.a=180", "cfg17.b=1"}).exitCode, kExitDone);
  ASSERT_EQ(b.Run({"calibration", "set", "mode=9", "option=3"}).exitCode, kExitDone);
  ASSERT_EQ(a.Run({"config", "set", "cfg15.enabled=1", "cfg15.time=2500"}).exitCode, kExitDone);
  ASSERT_EQ(a.Run({"calibration", "set", "option=2"}).exitCode, kExitDone);
  ASSERT_NE(a.FrameSettings(), b.FrameSettings());

  EXPECT_TRUE(a.RunJson({"backup", "frame.json"}).Find("record")->boolean());
  b.files.files = a.files.files;
  EXPECT_EQ(
      b.RunJson({"restore", "frame.json"}).Write(),
      R"({"settings":true,"calibration":true,"written":["cfg17","cfg21","cfg15","cfg14"],"verified":true})");
  EXPECT_EQ(b.FrameSettings(), a.FrameSettings());
  const std::string da = a.Dump(), db = b.Dump();
  for (const char* key : {"mode", "option13", "record"})
    EXPECT_EQ(DumpMember(db, key), DumpMember(da, key)) << key;

  // On a later system the first setting is neither read nor written, also by a restore.
  Tool later(second);
  later.osCode = 1;
  later.files.files = a.files.files;
  ASSERT_EQ(b.Run({"config", "set", "cfg11=1"}).exitCode, kExitDone);
  ASSERT_EQ(later.Run({"backup", "later.json"}).exitCode, kExitDone);
  EXPECT_NE(later.files.files[L"later.json"].find("\"cfg11\":null"), std::string::npos);
  const int before = later.Received();
  EXPECT_EQ(later.Run({"config", "set", "cfg11=1"}).exitCode, kExitBadInput);
  EXPECT_EQ(later.Received(), before);
  EXPECT_EQ(later.Run({"restore", "frame.json", "--settings"}).exitCode, kExitDone);
  EXPECT_NE(b.FrameSettings().find("\"cfg11\":1"), std::string::npos);

  // Parts on their own: the settings only leave the calibration as it is.
  ASSERT_EQ(b.Run({"calibration", "set", "mode=4"}).exitCode, kExitDone);
  EXPECT_EQ(b.RunJson({"restore", "frame.json", "--settings"}).Write(),
            R"({"settings":true,"calibration":false,"written":["cfg11"]})");
  EXPECT_EQ(DumpMember(b.Dump(), "mode"), "2");
}

TEST(CtlFrameTest, ExportAndImportUseTheConsolesFile) {
  ServedFrame frame;
  Tool tool(frame);
  ASSERT_EQ(tool.Run({"calibration", "export", "cal.ini"}).exitCode, kExitDone);
  ASSERT_EQ(tool.files.files[L"cal.ini"].size(), 137u);
  const int before = tool.Received();
  EXPECT_EQ(tool.Run({"calibration", "import", "cal.ini"}).exitCode, kExitDone);
  // Option and mode read as the tab shows, the record written, then read back.
  EXPECT_EQ(tool.Received(), before + 4);
  // In the four-target mode the console takes no record.
  ASSERT_EQ(tool.Run({"calibration", "set", "mode=4"}).exitCode, kExitDone);
  const ToolOutput out = tool.Run({"calibration", "export", "four.ini"});
  EXPECT_EQ(out.exitCode, kExitFrameFailed);
  EXPECT_NE(out.err.find("5- and 9-target"), std::string::npos) << out.err;
  EXPECT_FALSE(tool.RunJson({"backup", "four.json"}).Find("record")->boolean());
}

TEST(CtlFrameTest, StartWaitsForTheRunAndSaysHowItEnded) {
  struct Case {
    std::optional<uint32_t> programExit;  // nothing: not there
    bool wait;
    int exit;
    const char* ended;
  };
  const Case cases[] = {
      {0u, true, kExitDone, "kept"},
      {1u, true, kExitCalibrationFailed, "abandoned"},
      {3u, true, kExitCalibrationFailed, "timed out"},
      {4u, true, kExitNoFrame, "removed"},
      {5u, true, kExitFrameFailed, "refused"},
      {1u, false, kExitDone, nullptr},
      {std::nullopt, false, kExitCalibrationFailed, nullptr},
  };
  ServedFrame frame;
  for (const Case& c : cases) {
    Tool tool(frame);
    tool.starter.exitCode = c.programExit;
    std::vector<std::string> args{"calibration", "start"};
    if (c.wait) args.push_back("--wait");
    args.push_back("--json");
    const ToolOutput out = tool.Run(args);
    EXPECT_EQ(out.exitCode, c.exit) << out.err;
    EXPECT_EQ(tool.starter.starts, 1);
    if (c.ended)
      EXPECT_NE(out.out.find(std::string("\"ended\":\"") + c.ended + "\""), std::string::npos) << out.out;
  }
}

TEST(CtlFrameTest, StartPutsTheProgramOnTheMonitorGiven) {
  struct Case {
    std::vector<std::string> args;
    std::optional<int> monitor;
    bool waited;
  };
  const Case cases[] = {
      {{"calibration", "start"}, std::nullopt, false},
      {{"calibration", "start", "--monitor", "2"}, 2, false},
      {{"calibration", "start", "--monitor", "12", "--wait"}, 12, true},
      {{"calibration", "start", "--wait", "--monitor", "1"}, 1, true},
  };
  ServedFrame frame;
  for (const Case& c : cases) {
    Tool tool(frame);
    tool.starter.exitCode = 0u;
    tool.starter.monitor = 99;  // whatever came before is replaced
    std::vector<std::string> args = c.args;
    args.push_back("--json");
    const ToolOutput out = tool.Run(args);
    EXPECT_EQ(out.exitCode, kExitDone) << out.err;
    EXPECT_EQ(tool.starter.starts, 1);
    EXPECT_EQ(tool.starter.monitor, c.monitor) << c.args.size();
    EXPECT_EQ(out.out.find("\"ended\":\"kept\"") != std::string::npos, c.waited) << out.out;
  }
}

// The value text of `group` in the tool's view of the frame's settings.
std::string Group(const std::string& settings, const std::string& group) {
  return DumpMember(settings, group);
}

TEST(CtlFrameTest, TwoToolsChangingDifferentSettingsBothKeepTheirs) {
  ServedFrame frame;
  for (int round = 0; round < 20; ++round) {
    const std::string a = round % 2 ? "5" : "2", b = round % 2 ? "2000" : "500";
    Tool first(frame), second(frame);
    int firstExit = -1, secondExit = -1;
    std::thread other([&] { secondExit = second.Run({"config", "set", "cfg21.b=" + b}).exitCode; });
    firstExit = first.Run({"config", "set", "cfg17.a=" + a}).exitCode;
    other.join();
    ASSERT_EQ(firstExit, kExitDone);
    ASSERT_EQ(secondExit, kExitDone);
    const std::string settings = first.FrameSettings();
    ASSERT_EQ(DumpMember(Group(settings, "cfg17"), "a"), a) << "round " << round << ": " << settings;
    ASSERT_EQ(DumpMember(Group(settings, "cfg21"), "b"), b) << "round " << round << ": " << settings;
  }
}

// A restore onto a frame that differs from the backup in four settings and its mode, failing at
// each stage: nothing is written before every read is done, and what was written goes back.
TEST(CtlFrameTest, ARestoreThatFailsPartWayPutsBackWhatItWrote) {
  struct Case {
    const char* fault;  // set once the frame has received `after` requests
    const char* kind;
    int after;
    const char* failed;  // the group named as failed; empty: no setting written
    bool putBack;
  };
  const Case cases[] = {
      {"6:0x01", "silent", 0, "", false},      // the calibration read: before any write
      {"7:0x15", "refuse", 9, "cfg15", true},  // cfg17 and cfg21 written first
      {"6:0x06", "refuse", 9, "", true},       // the record, after every setting and the mode
  };
  for (const Case& c : cases) {
    ServedFrame source, target;
    Tool from(source), tool(target);
    ASSERT_EQ(
        from.Run({"config", "set", "cfg14.level=9", "cfg21.a=180", "cfg17.b=1", "cfg15.enabled=1"}).exitCode,
        kExitDone);
    ASSERT_EQ(from.Run({"calibration", "set", "mode=9"}).exitCode, kExitDone);
    ASSERT_EQ(from.Run({"backup", "frame.json"}).exitCode, kExitDone);
    tool.files.files = from.files.files;
    // As the tool shows them: the frame keeps a switched-off setting's values as they were last
    // written while it was on.
    const std::string before = tool.RunJson({"config"}).Write(), mode = DumpMember(tool.Dump(), "mode");
    const int start = tool.Received();
    bool set = false;
    const auto arm = [&] {
      if (!set && tool.Received() >= start + c.after) set = target.Ctl({"fault", c.fault, c.kind}) == 0;
    };
    tool.onPause = arm;
    arm();
    const Json out = tool.RunJson({"restore", "frame.json"}, kExitFrameFailed);
    ASSERT_TRUE(set) << c.fault;
    ASSERT_EQ(target.Ctl({"fault", c.fault, "none"}), 0);
    EXPECT_EQ(tool.RunJson({"config"}).Write(), before) << c.fault;
    EXPECT_EQ(DumpMember(tool.Dump(), "mode"), mode) << c.fault;
    const Json* failed = out.Find("failed");
    EXPECT_EQ(failed ? failed->string() : "", c.failed) << out.Write();
    const Json* putBack = out.Find("put_back");
    EXPECT_EQ(putBack && putBack->boolean(), c.putBack) << out.Write();
  }
  // A frame that holds the backup already is only read.
  ServedFrame frame;
  Tool tool(frame);
  ASSERT_EQ(tool.Run({"backup", "same.json"}).exitCode, kExitDone);
  const int before = tool.Received();
  EXPECT_EQ(tool.RunJson({"restore", "same.json", "--settings"}).Write(),
            R"({"settings":true,"calibration":false,"written":[]})");
  EXPECT_EQ(tool.Received(), before + 7);
}

TEST(CtlFrameTest, CalibrationWritesAreCheckedByTheFramesAnswerAndARead) {
  ServedFrame frame;
  Tool tool(frame);
  ASSERT_EQ(tool.Run({"calibration", "export", "cal.ini"}).exitCode, kExitDone);
  EXPECT_TRUE(tool.RunJson({"calibration", "import", "cal.ini"}).Find("verified")->boolean());
  // In the four-target mode the record cannot be read back.
  ASSERT_EQ(tool.Run({"calibration", "set", "mode=4"}).exitCode, kExitDone);
  EXPECT_FALSE(tool.RunJson({"calibration", "import", "cal.ini"}).Find("verified")->boolean());
  ASSERT_EQ(tool.Run({"calibration", "set", "mode=5"}).exitCode, kExitDone);

  const std::string record = DumpMember(tool.Dump(), "record");
  for (const auto& [fault, args] : std::vector<std::pair<std::string, std::vector<std::string>>>{
           {"6:0x06", {"calibration", "import", "cal.ini"}},
           {"6:0x09", {"calibration", "restore-factory"}}}) {
    ASSERT_EQ(frame.Ctl({"fault", fault, "refuse"}), 0);
    const ToolOutput out = tool.Run(args);
    ASSERT_EQ(frame.Ctl({"fault", fault, "none"}), 0);
    EXPECT_EQ(out.exitCode, kExitFrameFailed) << fault;
    EXPECT_NE(out.err.find("refused"), std::string::npos) << out.err;
    EXPECT_EQ(DumpMember(tool.Dump(), "record"), record);
  }
}

TEST(CtlFrameTest, ACalibrationRecordOutOfRangeIsNeverSent) {
  ServedFrame frame;
  Tool tool(frame);
  ASSERT_EQ(tool.Run({"calibration", "export", "good.ini"}).exitCode, kExitDone);
  ASSERT_EQ(tool.Run({"backup", "good.json"}).exitCode, kExitDone);
  proto::CalibrationRecord good;
  ASSERT_TRUE(console::DecodeCalibrationFile(tool.files.files[L"good.ini"], good));
  std::string error;
  Backup backup = *DecodeBackup(tool.files.files[L"good.json"], error);
  const auto with = [&](uint8_t value1, uint8_t value2) {
    proto::CalibrationRecord r = good;
    r.value1 = value1;
    r.value2 = value2;
    return r;
  };
  tool.files.files[L"mode7.ini"] = console::EncodeCalibrationFile(with(7, 0));
  tool.files.files[L"option9.ini"] = console::EncodeCalibrationFile(with(3, 9));
  backup.calibration.record = with(7, 0);
  tool.files.files[L"mode7.json"] = EncodeBackup(backup);
  const int before = tool.Received();
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"calibration", "import", "mode7.ini"},
                                             {"calibration", "import", "option9.ini"},
                                             {"restore", "mode7.json"}}) {
    const ToolOutput out = tool.Run(args);
    EXPECT_EQ(out.exitCode, kExitBadInput) << args.back();
    EXPECT_NE(out.err.find(args.back() == "option9.ini" ? "is 9" : "is 7"), std::string::npos) << out.err;
  }
  EXPECT_EQ(tool.Received(), before);

  // A frame that holds such a record is backed up, and the backup says it would not restore.
  const std::string path = ::testing::TempDir() + "ctl_bad_record.state";
  sim::FrameState state;
  state.record = with(7, 0);
  ASSERT_TRUE(sim::SaveState(path, state));
  sim::ServerOptions options;
  options.stateFile = path;
  ServedFrame holding(options);
  Tool backedUp(holding);
  const ToolOutput out = backedUp.Run({"backup", "held.json"});
  EXPECT_EQ(out.exitCode, kExitFrameFailed);
  EXPECT_NE(out.err.find("would not restore"), std::string::npos) << out.err;
  EXPECT_EQ(backedUp.files.files.count(L"held.json"), 1u);
  std::remove(path.c_str());
}

TEST(CtlFrameTest, TheLogonEntryIsTouchedOnlyWhenAskedAndNamesTheInstalledConsole) {
  ServedFrame frame;
  const std::wstring run = console::kRunKeyPath, name = console::kRunValueName;
  struct Case {
    std::optional<std::wstring> installDir;
    std::optional<std::wstring> beside;
    std::vector<std::string> args;
    int exit;
    std::optional<std::wstring> entry;  // afterwards; the entry before is "\"old\""
  };
  const Case cases[] = {
      {L"D:\\Touch",
       L"C:\\Tools\\TactraConsole.exe",
       {"start-at-logon=on"},
       kExitDone,
       L"\"D:\\Touch\\TactraConsole.exe\""},
      {std::nullopt,
       L"C:\\Tools\\TactraConsole.exe",
       {"start-at-logon=on"},
       kExitDone,
       L"\"C:\\Tools\\TactraConsole.exe\""},
      {std::nullopt, std::nullopt, {"language=zh"}, kExitDone, L"\"old\""},
      {std::nullopt, std::nullopt, {"start-at-logon=on", "language=zh"}, kExitBadInput, L"\"old\""},
      {std::nullopt, std::nullopt, {"start-at-logon=off"}, kExitDone, std::nullopt},
  };
  for (const Case& c : cases) {
    Tool tool(frame);
    tool.consoleBeside = c.beside;
    if (c.installDir)
      tool.store.PutString(Hive::LocalMachine, kProgramsKeyPath, kInstallDirValue, *c.installDir);
    tool.store.PutString(Hive::LocalMachine, run, name, L"\"old\"");
    std::vector<std::string> args = {"programs", "set"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(tool.Run(args).exitCode, c.exit) << c.args[0];
    EXPECT_EQ(tool.store.GetString(Hive::LocalMachine, run, name), c.entry) << c.args[0];
    if (c.exit != kExitDone) EXPECT_TRUE(tool.store.Changes().empty());
  }
}

// The frame unplugged once it has received each number of requests of a command in turn: the
// command ends with 3 (or 0 when it was done), and what it says it wrote is what the frame holds.
TEST(CtlFrameTest, AFrameRemovedAtAnyPointEndsWith3AndTellsWhatWasWritten) {
  ServedFrame source;
  Tool from(source);
  ASSERT_EQ(from.Run({"config", "set", "cfg14.level=9", "cfg21.a=180", "cfg17.b=1", "cfg11=1"}).exitCode,
            kExitDone);
  ASSERT_EQ(from.Run({"calibration", "set", "mode=9"}).exitCode, kExitDone);
  ASSERT_EQ(from.Run({"backup", "frame.json"}).exitCode, kExitDone);
  ASSERT_EQ(from.Run({"calibration", "export", "cal.ini"}).exitCode, kExitDone);
  const std::vector<std::vector<std::string>> commands = {
      {"config", "set", "cfg11=1", "cfg14.level=2", "cfg21.a=3", "cfg15.enabled=1", "cfg15.time=500",
       "cfg12.a=0"},
      {"restore", "frame.json"},
      {"calibration", "import", "cal.ini"},
  };
  int tries = 0;
  for (const std::vector<std::string>& command : commands) {
    for (int k = 0;; ++k, ++tries) {
      ServedFrame frame;
      Tool tool(frame);
      tool.late.lateLooks = 5;
      tool.files.files = from.files.files;
      const std::string before = tool.FrameSettings();
      bool unplugged = false;
      tool.onPause = [&] {
        if (!unplugged && tool.Received() >= k) unplugged = frame.Ctl({"unplug"}) == 0;
      };
      std::vector<std::string> args = command;
      args.push_back("--json");
      const ToolOutput out = tool.Run(args);
      if (out.exitCode == kExitDone) {
        EXPECT_GT(k, 2) << command[0];
        if (!unplugged) break;
        continue;
      }
      ASSERT_EQ(out.exitCode, kExitNoFrame) << command[0] << " " << k << ": " << out.err;
      EXPECT_NE(out.err.find("the frame was removed"), std::string::npos) << out.err;
      ASSERT_EQ(frame.Ctl({"plug"}), 0);
      const std::string after = tool.FrameSettings();
      std::string error;
      const Json report = out.out.empty() ? Json::Object() : ParseJson(out.out, error).value_or(Json());
      ASSERT_EQ(report.kind(), Json::Kind::Object) << k << ": " << out.out;
      if (report.Find("written") == nullptr) EXPECT_EQ(after, before) << command[0] << " " << k;
      for (const char* list : {"written", "not_written"}) {
        if (const Json* groups = report.Find(list)) {
          for (const Json& g : groups->items()) {
            const bool changed = Group(after, g.string()) != Group(before, g.string());
            EXPECT_EQ(changed, std::string(list) == "written")
                << k << ": " << g.string() << " in " << out.out;
          }
        }
      }
    }
  }
  EXPECT_GE(tries, 30);
}

}  // namespace
}  // namespace tactra::ctl
