#include "ctl/tool.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>

#include "calibration/run.h"
#include "console/calibration_file.h"
#include "console/config_page.h"
#include "console/console_model.h"
#include "console/info_page.h"
#include "console/options_page.h"
#include "ctl/backup.h"
#include "ctl/utf8.h"
#include "resources/console_ids.h"

namespace tactra::ctl {

const char* const kUsage =
    "usage: tactractl [--json] COMMAND\n"
    "\n"
    "  status                                 whether a frame is bound, its vendor, product and channels\n"
    "  info                                   what the information page shows\n"
    "  config                                 the settings the configuration page reads\n"
    "  config set NAME=VALUE ...              a read, then each setting named read again and written\n"
    "  config defaults                        the frame's own defaults, then a read\n"
    "  calibration                            the calibration mode (4, 5 or 9 targets) and option\n"
    "  calibration set [mode=M] [option=O]    as the calibration page's Apply (M: 4, 5, 9; O: 0..3)\n"
    "  calibration export FILE                the frame's calibration into a calibration file\n"
    "  calibration import FILE                a calibration file onto the frame\n"
    "  calibration restore-factory            the frame's factory calibration\n"
    "  calibration start [--wait] [--monitor N]\n"
    "                                         starts the calibration program beside this tool, on\n"
    "                                         monitor N (\\\\.\\DISPLAYN) or else the frame's own\n"
    "  backup FILE                            information, settings and calibration into one file\n"
    "  restore FILE [--settings] [--calibration]\n"
    "                                         writes what differs of a backup (all parts unless named)\n"
    "  programs                               the programs' settings\n"
    "  programs set [language=en|zh] [start-at-logon=on|off] [minimize-after-start=on|off]\n"
    "\n"
    "Settings: cfg11 (1|2); cfg12.a, .b, .c (0|1); cfg14.enabled (0|1), cfg14.level (1..10),\n"
    "cfg14.time (100..1000 by 100); cfg15.enabled, cfg15.level (1..10), cfg15.time (500..5000 by 500);\n"
    "cfg16.enabled, cfg16.value (0..20); cfg17.a, .b (1..5), cfg17.c, .d (1..10);\n"
    "cfg21.enabled, cfg21.a (3 5 10 20 30 45 60 90 120 180), cfg21.b (100 200 300 500 750 1000 1500 2000).\n"
    "\n"
    "--json prints one JSON object on standard output. Errors go to standard error.\n"
    "Exit codes: 0 done; 1 the frame refused (also a command of the calibration run) or did not\n"
    "answer, or a file or setting was not written; 2 bad usage or input (nothing was sent); 3 no\n"
    "frame (also gone during the command or the run); 4 the calibration program could not start,\n"
    "or (with --wait) its run was abandoned or timed out.\n";

const wchar_t* const kProgramsKeyPath = L"Software\\Tactra";
const wchar_t* const kInstallDirValue = L"InstallDir";

namespace {

// ---- The command line ----

std::optional<bool> OnOff(const std::string& v) {
  if (v == "on") return true;
  if (v == "off") return false;
  return std::nullopt;
}

// KEY=VALUE pairs of the calibration and programs commands, each key once.
bool Pairs(const std::vector<std::string>& args, std::size_t from, const std::vector<std::string>& keys,
           std::map<std::string, std::string>& out, std::string& error) {
  for (std::size_t i = from; i < args.size(); ++i) {
    const std::size_t equals = args[i].find('=');
    const std::string key = args[i].substr(0, equals);
    if (equals == std::string::npos || std::find(keys.begin(), keys.end(), key) == keys.end()) {
      error = "\"" + args[i] + "\" is not one of " + [&] {
        std::string all;
        for (const std::string& k : keys) all += (all.empty() ? "" : ", ") + k + "=...";
        return all;
      }();
      return false;
    }
    if (out.count(key)) {
      error = key + " is given twice";
      return false;
    }
    out[key] = args[i].substr(equals + 1);
  }
  if (out.empty()) {
    error = "nothing to set";
    return false;
  }
  return true;
}

bool ParseCalibrationSet(const std::vector<std::string>& a, Command& c, std::string& error) {
  std::map<std::string, std::string> pairs;
  if (!Pairs(a, 2, {"mode", "option"}, pairs, error)) return false;
  if (pairs.count("mode")) {
    const std::string& m = pairs["mode"];
    if (m != "4" && m != "5" && m != "9") {
      error = "mode=" + m + " is not valid: mode is 4, 5 or 9 (targets)";
      return false;
    }
    c.targets = m[0] - '0';
  }
  if (pairs.count("option")) {
    const std::string& o = pairs["option"];
    if (o.size() != 1 || o[0] < '0' || o[0] > '3') {
      error = "option=" + o + " is not valid: option is 0 to 3";
      return false;
    }
    c.option = o[0] - '0';
  }
  return true;
}

bool ParseProgramsSet(const std::vector<std::string>& a, Command& c, std::string& error) {
  std::map<std::string, std::string> pairs;
  if (!Pairs(a, 2, {"language", "start-at-logon", "minimize-after-start"}, pairs, error)) return false;
  if (pairs.count("language")) {
    const std::string& l = pairs["language"];
    if (l != "en" && l != "zh") {
      error = "language=" + l + " is not valid: language is en or zh";
      return false;
    }
    c.language = l == "en" ? 0 : 1;
  }
  for (const char* key : {"start-at-logon", "minimize-after-start"}) {
    if (!pairs.count(key)) continue;
    const std::optional<bool> v = OnOff(pairs[key]);
    if (!v) {
      error = std::string(key) + "=" + pairs[key] + " is not valid: " + key + " is on or off";
      return false;
    }
    (std::string(key) == "start-at-logon" ? c.startAtLogon : c.minimizeAfterStart) = *v;
  }
  return true;
}

// calibration start [--wait] [--monitor N], the options in either order, each once.
bool ParseStart(const std::vector<std::string>& a, Command& c, std::string& error) {
  for (std::size_t i = 2; i < a.size(); ++i) {
    if (a[i] == "--wait" && !c.wait) {
      c.wait = true;
    } else if (a[i] == "--monitor" && !c.monitor) {
      const std::string n = i + 1 < a.size() ? a[++i] : "";
      const bool digits =
          !n.empty() && n.size() <= 4 && n.find_first_not_of("0123456789") == std::string::npos;
      if (!digits || std::stoi(n) == 0) {
        error = "--monitor " + n + " is not valid: N is the number of a display, 1 or more";
        return false;
      }
      c.monitor = std::stoi(n);
    } else {
      error = "\"" + a[i] + "\" is not expected here";
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<Command> ParseCommand(const std::vector<std::string>& given, std::string& error) {
  Command c;
  std::vector<std::string> a;
  for (const std::string& arg : given) {
    if (arg == "--json")
      c.json = true;
    else
      a.push_back(arg);
  }
  const auto is = [&](std::size_t i, const char* word) { return a.size() > i && a[i] == word; };
  const auto count = [&](std::size_t n) {
    if (a.size() == n) return true;
    error = a.size() < n ? "\"" + a[0] + "\" needs more arguments" : "\"" + a[n] + "\" is not expected here";
    return false;
  };
  if (a.empty() || is(0, "help") || is(0, "--help") || is(0, "-h")) {
    if (a.size() > 1) {
      error = "help takes no arguments";
      return std::nullopt;
    }
    return c;
  }
  const std::string& verb = a[0];
  bool ok = true;
  if (verb == "status" || verb == "info") {
    c.verb = verb == "status" ? Verb::Status : Verb::Info;
    ok = count(1);
  } else if (verb == "config") {
    if (is(1, "set")) {
      c.verb = Verb::ConfigSet;
      std::optional<std::vector<Assignment>> list =
          ParseAssignments(std::vector<std::string>(a.begin() + 2, a.end()), error);
      ok = list.has_value();
      if (ok) c.settings = std::move(*list);
    } else {
      c.verb = is(1, "defaults") ? Verb::ConfigDefaults : Verb::Config;
      ok = count(c.verb == Verb::Config ? 1 : 2);
    }
  } else if (verb == "calibration") {
    if (a.size() == 1) {
      c.verb = Verb::Calibration;
    } else if (is(1, "set")) {
      c.verb = Verb::CalibrationSet;
      ok = ParseCalibrationSet(a, c, error);
    } else if (is(1, "export") || is(1, "import")) {
      c.verb = is(1, "export") ? Verb::Export : Verb::Import;
      ok = count(3);
      if (ok) c.file = FromUtf8(a[2]);
    } else if (is(1, "restore-factory")) {
      c.verb = Verb::RestoreFactory;
      ok = count(2);
    } else if (is(1, "start")) {
      c.verb = Verb::Start;
      ok = ParseStart(a, c, error);
    } else {
      error = "\"calibration " + a[1] + "\" is not a command";
      ok = false;
    }
  } else if (verb == "backup") {
    c.verb = Verb::Backup;
    ok = count(2);
    if (ok) c.file = FromUtf8(a[1]);
  } else if (verb == "restore") {
    c.verb = Verb::Restore;
    ok = a.size() >= 2;
    if (!ok) error = "restore needs a FILE";
    bool settings = false, calibration = false;
    for (std::size_t i = 2; ok && i < a.size(); ++i) {
      bool& part = a[i] == "--settings" ? settings : calibration;
      ok = (a[i] == "--settings" || a[i] == "--calibration") && !part;
      if (!ok) error = "\"" + a[i] + "\" is not expected here";
      part = true;
    }
    if (ok) {
      c.file = FromUtf8(a[1]);
      c.restoreSettings = settings || !calibration;
      c.restoreCalibration = calibration || !settings;
    }
  } else if (verb == "programs") {
    c.verb = is(1, "set") ? Verb::ProgramsSet : Verb::Programs;
    ok = c.verb == Verb::Programs ? count(1) : ParseProgramsSet(a, c, error);
  } else {
    error = "\"" + verb + "\" is not a command";
    ok = false;
  }
  if (!ok) return std::nullopt;
  if (c.file.empty() && (c.verb == Verb::Export || c.verb == Verb::Import || c.verb == Verb::Backup ||
                         c.verb == Verb::Restore)) {
    error = "the FILE is empty";
    return std::nullopt;
  }
  return c;
}

namespace {

// ---- What the pages are given instead of a window ----

// The console's messages as the tool's errors, in English.
std::string MessageText(int id) {
  switch (id) {
    case IDS_NO_FRAME:
      return "no frame: the touch frame is not connected; nothing was sent";
    case IDS_ALREADY_STARTED:
      return "the calibration program has already been started";
    case IDS_REFUSED:
      return "the touch frame did not accept the setting";
    case IDS_START_FAILED:
      return "the calibration program could not be started";
    case IDS_START_BAD_FORMAT:
      return "the calibration program file is not a valid program";
    case IDS_FILE_NOT_FOUND:
      return "the calibration program was not found beside this tool";
    case IDS_PATH_NOT_FOUND:
      return "the calibration program's path was not found";
    case IDS_OUT_OF_MEMORY:
      return "not enough memory to look for the touch frame";
    case IDS_KEY_OPEN_FAILED:
      return "the settings could not be opened to save them";
    case IDS_KEY_CREATE_FAILED:
      return "the settings could not be created or opened";
    case IDS_VALUE_CREATE_FAILED:
      return "could not write the initial value of the setting: ";
    case IDS_VALUE_READ_FAILED:
      return "could not read the setting: ";
    case IDS_VALUE_WRITE_FAILED:
      return "could not write the setting: ";
    case IDS_LOGON_REMOVE_FAILED:
      return "could not remove the start at logon";
    case IDS_LOGON_SET_FAILED:
      return "could not set the start at logon";
    default:
      return "message " + std::to_string(id);
  }
}

class ToolMessages : public Messages {
 public:
  std::wstring LoadText(int id) override { return FromUtf8(MessageText(id)); }
  void ShowResourceMessage(int textId, int /*captionId*/, const std::wstring& suffix) override {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.push_back({textId, MessageText(textId) + ToUtf8(suffix)});
  }
  void ShowFixedMessage(const std::wstring& text, const std::wstring&, bool) override {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.push_back({0, ToUtf8(text)});
  }
  struct Shown {
    int id;
    std::string text;
  };
  std::vector<Shown> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(shown_);
  }

 private:
  std::mutex mutex_;
  std::vector<Shown> shown_;
};

// The messages of the file work, said in the tool's words.
class ToolTexts : public console::TextMessages {
 public:
  explicit ToolTexts(ToolMessages& messages) : messages_(messages) {}
  void Show(const std::wstring& text) override { messages_.ShowFixedMessage(text, L"", false); }

 private:
  ToolMessages& messages_;
};

// The window's queue: what the readers post runs on the tool's thread after each action, in
// order. Bounded like the console's, so that a flood of replies cannot grow it.
class ToolQueue : public console::WindowQueue {
 public:
  void Post(std::function<void()> task) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (tasks_.size() < kLimit) tasks_.push_back(std::move(task));
  }
  void Drain() {
    std::vector<std::function<void()>> tasks;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      tasks.swap(tasks_);
    }
    for (auto& task : tasks) task();
  }

 private:
  static constexpr std::size_t kLimit = 64;
  std::mutex mutex_;
  std::vector<std::function<void()>> tasks_;
};

// The link as the pages see it, counting the requests that went unanswered.
class CountingPort : public LinkPort {
 public:
  explicit CountingPort(Link& link) : link_(link) {}
  int GetLinkState() const override { return link_.GetLinkState(); }
  void SetLinkState(int state) override { link_.SetLinkState(state); }
  int GetOutputLength(int channel) const override { return link_.GetOutputLength(channel); }
  bool Transact(int channel, const uint8_t* report, std::size_t length) override {
    ++sent;
    const bool answered = link_.Transact(channel, report, length);
    if (!answered) {
      ++unanswered;
      everUnanswered = true;
    }
    return answered;
  }
  int sent = 0;
  int unanswered = 0;           // in the page action under way
  bool everUnanswered = false;  // in the whole command

 private:
  Link& link_;
};

// The command line's file in place of the Save and Open dialogs.
class GivenPath : public console::FileDialogs {
 public:
  std::optional<std::wstring> ChooseSavePath() override { return path; }
  std::optional<std::wstring> ChooseOpenPath() override { return path; }
  std::wstring path;
};

// The disk, or a calibration file held in memory for a backup or a restore.
class RecordFiles : public console::FileAccess {
 public:
  explicit RecordFiles(console::FileAccess& disk) : disk_(disk) {}
  bool WriteReplacing(const std::wstring& path, const std::string& content) override {
    if (!inMemory) return disk_.WriteReplacing(path, content);
    memory = content;
    return true;
  }
  bool Read(const std::wstring& path, std::size_t limit, std::string& content) override {
    if (!inMemory) return disk_.Read(path, limit, content);
    if (memory.size() > limit) return false;
    content = memory;
    return true;
  }
  bool inMemory = false;
  std::string memory;

 private:
  console::FileAccess& disk_;
};

// The program the calibration page starts, kept so that the tool can wait for it.
class WatchingStarter : public console::ProgramStarter {
 public:
  explicit WatchingStarter(console::ProgramStarter& inner) : inner_(inner) {}
  std::unique_ptr<console::StartedProcess> Start(console::StartOutcome& outcome) override {
    std::unique_ptr<console::StartedProcess> process = inner_.Start(outcome);
    if (!process) return nullptr;
    started = std::shared_ptr<console::StartedProcess>(std::move(process));
    return std::make_unique<Shared>(started);
  }
  void SetMonitor(std::optional<int> monitor) override { inner_.SetMonitor(monitor); }
  std::shared_ptr<console::StartedProcess> started;

 private:
  class Shared : public console::StartedProcess {
   public:
    explicit Shared(std::shared_ptr<console::StartedProcess> p) : p_(std::move(p)) {}
    bool Running() override { return p_->Running(); }
    std::optional<uint32_t> WaitForExit(std::chrono::milliseconds limit) override {
      return p_->WaitForExit(limit);
    }

   private:
    std::shared_ptr<console::StartedProcess> p_;
  };
  console::ProgramStarter& inner_;
};

struct Verdict {
  int code = kExitDone;
  std::string error;
  bool ok() const { return code == kExitDone; }
};

Verdict Fail(int code, std::string error) { return {code, std::move(error)}; }

// The console's link and its three device pages, driven from the tool's one thread.
class Session {
 public:
  explicit Session(ToolSeams& seams)
      : link_(seams.host, ConsoleLinkConfig(), seams.linkSleep),
        port_(link_),
        files_(seams.files),
        starter_(seams.starter),
        texts_(messages_),
        context_{port_, messages_, seams.pause, queue_},
        info_(context_),
        config_(context_, seams.osCode),
        calibration_(context_, console::CalibrationSeams{dialogs_, files_, starter_, texts_}),
        model_(link_, messages_, {&info_, &config_, &calibration_}) {
    link_.SetOwner(&model_);
  }
  ~Session() { Close(); }

  // Ends the link before anything it calls into goes.
  void Close() {
    link_.SetOwner(nullptr);
    link_.End();
  }

  Verdict Connect() {
    model_.UpdateConnectionStatus();
    Verdict v = Collect();
    if (v.ok() && model_.statusText() != IDS_CONNECTED)
      return Fail(kExitNoFrame, "no frame: no touch frame is connected");
    return v;
  }

  // One page action as the console runs it with the page's tab shown, then what it posted to
  // the window; the first failure it came to.
  Verdict Act(int tab, const std::function<void()>& action) {
    model_.SetCurrentTab(tab);
    port_.sent = port_.unanswered = 0;
    action();
    return Collect();
  }

  Link& link() { return link_; }
  bool everUnanswered() const { return port_.everUnanswered; }
  console::CInfoDlgModel& info() { return info_; }
  console::CConfigDlgModel& config() { return config_; }
  console::CCalibrationDlgModel& calibration() { return calibration_; }
  GivenPath& dialogs() { return dialogs_; }
  RecordFiles& files() { return files_; }
  WatchingStarter& starter() { return starter_; }

 private:
  Verdict Collect() {
    queue_.Drain();
    for (const ToolMessages::Shown& m : messages_.Take()) {
      if (m.id == IDS_NO_FRAME) return Fail(kExitNoFrame, m.text);
      if (m.id == IDS_FILE_NOT_FOUND || m.id == IDS_PATH_NOT_FOUND || m.id == IDS_START_BAD_FORMAT ||
          m.id == IDS_START_FAILED)
        return Fail(kExitCalibrationFailed, m.text);
      return Fail(kExitFrameFailed, m.text);
    }
    if (port_.unanswered > 0)
      return Fail(kExitFrameFailed, "the frame did not answer " + std::to_string(port_.unanswered) + " of " +
                                        std::to_string(port_.sent) + " requests");
    return {};
  }

  ToolMessages messages_;
  ToolQueue queue_;
  Link link_;
  CountingPort port_;
  GivenPath dialogs_;
  RecordFiles files_;
  WatchingStarter starter_;
  ToolTexts texts_;
  console::PageContext context_;
  console::CInfoDlgModel info_;
  console::CConfigDlgModel config_;
  console::CCalibrationDlgModel calibration_;
  console::ConsoleModel model_;
};

// ---- What the pages show, as the tool prints it ----

std::vector<int> ListNumbers(const std::wstring& list) {
  std::vector<int> out;
  std::string text = ToUtf8(list);
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t plus = text.find('+', at);
    const std::string part = text.substr(at, plus == std::string::npos ? std::string::npos : plus - at);
    out.push_back(std::atoi(part.c_str()));
    if (plus == std::string::npos) break;
    at = plus + 1;
  }
  return out;
}

FrameInfo InfoFromView(const console::InfoView& v) {
  FrameInfo info;
  info.firmware = ToUtf8(v.texts[0]);
  info.date = ToUtf8(v.texts[1]);
  info.model = ToUtf8(v.texts[2]);
  info.description = ToUtf8(v.texts[3]);
  info.value = std::atoi(ToUtf8(v.value01).c_str());
  info.listA = ListNumbers(v.listA);
  info.listB = ListNumbers(v.listB);
  return info;
}

int TargetsOf(int mode) { return proto::TargetCountForMode(mode); }

Json CalibrationNow(const console::CCalibrationDlgModel& page) {
  const console::CalibrationFields f = page.Fields();
  return CalibrationJson(TargetsOf(f.calMode), f.optionValue);
}

// Aligned "name  value" lines, nested names joined by dots.
void Flatten(const Json& value, const std::string& name,
             std::vector<std::pair<std::string, std::string>>& lines) {
  switch (value.kind()) {
    case Json::Kind::Object:
      for (const auto& [key, member] : value.members())
        Flatten(member, name.empty() ? key : name + "." + key, lines);
      return;
    case Json::Kind::Array: {
      // A list of records: a line each, its values side by side.
      if (!value.items().empty() && value.items()[0].kind() == Json::Kind::Object) {
        for (std::size_t i = 0; i < value.items().size(); ++i) {
          const Json& item = value.items()[i];
          std::string text;
          for (const auto& member : item.members())
            text +=
                (text.empty() ? "" : "  ") +
                (member.second.kind() == Json::Kind::String ? member.second.string() : member.second.Write());
          lines.emplace_back(i == 0 ? name : std::string(), text);
        }
        return;
      }
      std::string text;
      for (const Json& item : value.items()) {
        if (!text.empty()) text += ' ';
        text += item.kind() == Json::Kind::String ? item.string() : item.Write();
      }
      lines.emplace_back(name, text);
      return;
    }
    case Json::Kind::String:
      lines.emplace_back(name, value.string());
      return;
    case Json::Kind::Null:
      lines.emplace_back(name, "-");
      return;
    default:
      lines.emplace_back(name, value.Write());
      return;
  }
}

std::string Text(const Json& value) {
  std::vector<std::pair<std::string, std::string>> lines;
  Flatten(value, "", lines);
  std::size_t width = 0;
  for (const auto& line : lines) width = std::max(width, line.first.size());
  std::string out;
  for (const auto& [name, text] : lines)
    out += name + std::string(width - name.size() + 2, ' ') + text + "\n";
  return out;
}

// "cfg15" for the report CMD_CFG_15.
std::string GroupName(uint8_t code) {
  char name[8];
  std::snprintf(name, sizeof name, "cfg%02x", code);
  return name;
}

// ---- The commands ----

class Runner {
 public:
  Runner(const Command& command, ToolSeams& seams) : c_(command), seams_(seams) {}

  Verdict Run(Json& out) {
    // The first setting exists on one system only; elsewhere the page neither reads nor writes it.
    if (c_.verb == Verb::ConfigSet && seams_.osCode != console::kOsCodeWithSetting11 && Sets11(c_.settings))
      return Fail(kExitBadInput, "cfg11 is not used on this system; nothing was sent");
    switch (c_.verb) {
      case Verb::Programs:
      case Verb::ProgramsSet:
        return Programs(out);
      case Verb::Import:
        if (Verdict v = CheckCalibrationFile(); !v.ok()) return v;
        break;
      case Verb::Restore:
        if (Verdict v = ReadBackup(); !v.ok()) return v;
        break;
      default:
        break;
    }
    session_ = std::make_unique<Session>(seams_);
    Verdict connected = session_->Connect();
    if (c_.verb == Verb::Status) return Status(connected, out);
    if (!connected.ok()) return connected;
    settingsPath_ = s().link().BoundPath(proto::kSettingsChannel);
    return Removed(OnFrame(out));
  }

 private:
  Session& s() { return *session_; }

  Verdict OnFrame(Json& out) {
    switch (c_.verb) {
      case Verb::Info:
        return Info(out);
      case Verb::Config:
      case Verb::ConfigSet:
      case Verb::ConfigDefaults:
        return Config(out);
      case Verb::Backup:
        return MakeBackup(out);
      case Verb::Restore:
        return Restore(out);
      default:
        return Calibration(out);
    }
  }

  // A frame that failed a command because it went away says so, whatever the command was doing.
  // The system's HID stack may take a moment to let the devices go after their requests went
  // unanswered; a refusal has none of that.
  Verdict Removed(Verdict v) {
    if (v.code != kExitFrameFailed) return v;
    bool gone = FrameGone();
    for (int i = 0; !gone && s().everUnanswered() && i < kRemovalLooks; ++i) {
      seams_.pause(kRemovalLook);
      gone = FrameGone();
    }
    if (gone) {
      v.code = kExitNoFrame;
      v.error = "the frame was removed; " + v.error;
    }
    return v;
  }

  static bool Sets11(const std::vector<Assignment>& settings) {
    return std::any_of(settings.begin(), settings.end(),
                       [](const Assignment& a) { return SettingName(*a.setting) == "cfg11"; });
  }

  Verdict Status(const Verdict& connected, Json& out) {
    out = Json::Object();
    out.Set("bound", Json::Bool(connected.ok()));
    Json channels = Json::Array();
    std::wstring anyPath;
    for (int channel = 0; channel < kChannelCount; ++channel) {
      const std::wstring path = s().link().BoundPath(channel);
      if (path.empty()) continue;
      if (anyPath.empty()) anyPath = path;
      Json c = Json::Object();
      c.Set("channel", Json::Number(channel));
      c.Set("path", Json::String(ToUtf8(path)));
      channels.Add(c);
    }
    for (const HidInterface& device : seams_.host.Enumerate()) {
      if (anyPath.empty() || device.path != anyPath) continue;
      char id[8];
      std::snprintf(id, sizeof id, "%04x", device.vendorId);
      out.Set("vendor", Json::String(id));
      std::snprintf(id, sizeof id, "%04x", device.productId);
      out.Set("product", Json::String(id));
    }
    out.Set("channels", channels);
    return connected;
  }

  Verdict ReadInfo(FrameInfo& info) {
    console::InfoView view;
    Verdict v = s().Act(console::kTabInfo, [&] { view = s().info().Refresh(); });
    if (v.ok()) info = InfoFromView(view);
    return v;
  }

  Verdict Info(Json& out) {
    FrameInfo info;
    Verdict v = ReadInfo(info);
    if (v.ok()) out = InfoJson(info);
    return v;
  }

  Verdict ReadConfig() {
    Verdict v = s().Act(console::kTabConfig, [&] { s().config().Refresh(); });
    if (v.ok() && !s().config().readComplete())
      return Fail(kExitFrameFailed, "the frame's settings could not be read");
    return v;
  }

  static Verdict PageRefusal(PageSet set, const std::string& error) {
    switch (set) {
      case PageSet::SwitchedOff:
        return Fail(kExitBadInput, error);
      case PageSet::Untold:
        return Fail(kExitFrameFailed, error);
      case PageSet::Done:
        break;
    }
    return {};
  }

  static std::vector<Assignment> Of(uint8_t code, const std::vector<Assignment>& settings) {
    std::vector<Assignment> out;
    for (const Assignment& a : settings) {
      if (SettingCode(*a.setting) == code) out.push_back(a);
    }
    return out;
  }

  static Json Names(const std::vector<uint8_t>& codes) {
    Json out = Json::Array();
    for (uint8_t code : codes) out.Add(Json::String(GroupName(code)));
    return out;
  }

  static constexpr int kRemovalLooks = 40;
  static constexpr std::chrono::milliseconds kRemovalLook{50};

  // The collection of the settings channel that the command found gone from the system (the
  // link itself lets the frame go when the calibration program takes it).
  bool FrameGone() {
    for (const HidInterface& device : seams_.host.Enumerate()) {
      if (device.path == settingsPath_) return false;
    }
    return true;
  }

  // One report of settings: read afresh, the values named moved onto the page, written alone;
  // so that another writer's change since the first read is lost only when it is to this
  // report, in the moment between its read and its write.
  Verdict WriteReport(uint8_t code, const std::vector<Assignment>& settings) {
    console::CConfigDlgModel& page = s().config();
    if (Verdict v = s().Act(console::kTabConfig, [&] { page.RefreshSetting(code); }); !v.ok()) return v;
    std::string error;
    if (Verdict v = PageRefusal(SetOnPage(page, Of(code, settings), error), error); !v.ok()) return v;
    return s().Act(console::kTabConfig, [&] { page.ApplySetting(code); });
  }

  // The settings named, after a whole read (ReadConfig) that every value is checked against
  // before anything is written; with `onlyChanged`, only the reports whose values the frame
  // does not already hold. A failure part way puts the reports written back as the first read
  // had them; `report` says what was written and what came of it.
  Verdict WriteConfig(const std::vector<Assignment>& settings, bool onlyChanged, Json& report,
                      std::vector<uint8_t>& written) {
    console::CConfigDlgModel& page = s().config();
    const console::ConfigFields before = page.Fields();
    const Json beforeJson = SettingsJson(page);
    std::vector<uint8_t> order;
    for (uint8_t code : console::kSettingOrder) {
      const std::vector<Assignment> mine = Of(code, settings);
      const bool differs = std::any_of(mine.begin(), mine.end(), [&](const Assignment& a) {
        return ShownValue(page, *a.setting) != a.value;
      });
      if (!mine.empty() && (differs || !onlyChanged)) order.push_back(code);
    }
    std::string error;
    if (Verdict v = PageRefusal(SetOnPage(page, settings, error), error); !v.ok()) {
      v.error += "; nothing was written";
      return v;
    }
    for (std::size_t i = 0; i < order.size(); ++i) {
      Verdict v = WriteReport(order[i], settings);
      if (v.ok()) {
        written.push_back(order[i]);
        continue;
      }
      v.error = GroupName(order[i]) + ": " + v.error;
      report.Set("written", Names({order.begin(), order.begin() + static_cast<std::ptrdiff_t>(i)}));
      report.Set("failed", Json::String(GroupName(order[i])));
      report.Set("not_written", Names({order.begin() + static_cast<std::ptrdiff_t>(i) + 1, order.end()}));
      return PutBack(v, before, beforeJson, {order.begin(), order.begin() + static_cast<std::ptrdiff_t>(i)},
                     report);
    }
    report.Set("written", Names(order));
    return {};
  }

  // After a failed write: the reports written before it back to the values of the first read
  // (`before`, as `beforeJson` shows them), or what the frame now holds otherwise.
  Verdict PutBack(Verdict failed, const console::ConfigFields& before, const Json& beforeJson,
                  const std::vector<uint8_t>& written, Json& report) {
    if (written.empty() || FrameGone()) return failed;
    bool putBack = true;
    for (std::size_t i = 0; putBack && i < written.size(); ++i)
      putBack = s().Act(console::kTabConfig, [&] { s().config().ApplySetting(written[i], before); }).ok();
    report.Set("put_back", Json::Bool(putBack));
    if (putBack) {
      failed.error += "; the settings written before it were put back";
      return failed;
    }
    if (FrameGone()) return failed;
    // What the frame holds now, where it differs from before.
    std::string differs;
    Json changed = Json::Array();
    if (ReadConfig().ok()) {
      const Json now = SettingsJson(s().config());
      for (const auto& [group, value] : beforeJson.members()) {
        if (now.Find(group) && now.Find(group)->Write() == value.Write()) continue;
        changed.Add(Json::String(group));
        differs += (differs.empty() ? "" : ", ") + group + " " + now.Find(group)->Write();
      }
      report.Set("differs", changed);
    }
    failed.error +=
        "; putting back failed too" + (differs.empty() ? std::string(" (the frame could not be read again)")
                                                       : ", and the frame now holds " + differs);
    return failed;
  }

  Verdict Config(Json& out) {
    Verdict v;
    if (c_.verb == Verb::ConfigSet) {
      Json report = Json::Object();
      std::vector<uint8_t> written;
      v = ReadConfig();
      if (v.ok()) v = WriteConfig(c_.settings, false, report, written);
      if (!v.ok()) {
        out = std::move(report);
        return v;
      }
    } else {
      v = ReadConfig();
      // The page's Default button works on a page the frame left greyed too.
      if (c_.verb == Verb::ConfigDefaults && v.code != kExitNoFrame) {
        v = s().Act(console::kTabConfig, [&] { s().config().Default(); });
        if (v.ok() && !s().config().readComplete())
          v = Fail(kExitFrameFailed, "the frame's settings could not be read");
      }
    }
    if (v.ok()) out = SettingsJson(s().config());
    return v;
  }

  Verdict ReadCalibration() {
    Verdict v = s().Act(console::kTabCalibration, [&] { s().calibration().Refresh(); });
    if (v.ok() && !s().calibration().View().actionsEnabled)
      return Fail(kExitFrameFailed, "the frame did not tell its calibration mode and option");
    return v;
  }

  // As a click on the mode's and the option's radio buttons, then Apply.
  Verdict WriteCalibration(std::optional<int> targets, std::optional<int> option) {
    console::CCalibrationDlgModel& page = s().calibration();
    if (targets) {
      const int mode = ModeForTargets(*targets);
      std::array<bool, 3> checked{};
      checked[static_cast<std::size_t>(mode - proto::kModeFourPoint)] = true;
      page.OnModeClicked(mode, checked);
    }
    if (option) {
      std::array<bool, console::kOptionButtons> checked{};
      checked[static_cast<std::size_t>(*option)] = true;
      page.OnOptionClicked(*option, checked);
    }
    return s().Act(console::kTabCalibration, [&] { page.Apply(); });
  }

  Verdict Calibration(Json& out) {
    if (Verdict v = ReadCalibration(); !v.ok()) return v;
    console::CCalibrationDlgModel& page = s().calibration();
    Verdict v;
    switch (c_.verb) {
      case Verb::CalibrationSet:
        v = WriteCalibration(c_.targets, c_.option);
        break;
      case Verb::RestoreFactory:
        v = s().Act(console::kTabCalibration, [&] { page.RestoreFactory(); });
        if (v.ok() && page.WriteAnswer(proto::CMD_CAL_ACTION_09) == uint8_t{0})
          v = Fail(kExitFrameFailed, "the touch frame refused to bring back its factory calibration");
        break;
      case Verb::Export:
        s().dialogs().path = c_.file;
        v = s().Act(console::kTabCalibration, [&] { page.Export(); });
        if (!v.ok() && page.Fields().calMode == proto::kModeFourPoint)
          v.error += " (the frame's calibration is read only in the 5- and 9-target modes)";
        if (v.ok()) {
          out = Json::Object();
          out.Set("file", Json::String(ToUtf8(c_.file)));
        }
        return v;
      case Verb::Import:
        out = Json::Object();
        out.Set("file", Json::String(ToUtf8(c_.file)));
        return WriteRecord(fileRecord_, out);
      case Verb::Start:
        return Start(out);
      default:
        break;
    }
    if (v.ok()) out = CalibrationNow(page);
    return v;
  }

  Verdict Start(Json& out) {
    s().starter().SetMonitor(c_.monitor);
    Verdict v = s().Act(console::kTabCalibration, [&] { s().calibration().StartCalibrationProgram(); });
    if (!v.ok()) return v;
    out = Json::Object();
    out.Set("started", Json::Bool(true));
    if (!c_.wait) return v;
    // The program talks to the frame on its own; this link would only read its replies.
    std::shared_ptr<console::StartedProcess> process = s().starter().started;
    s().Close();
    const std::optional<uint32_t> code = process ? process->WaitForExit(seams_.runLimit) : std::nullopt;
    if (!code) return Fail(kExitCalibrationFailed, "the calibration program did not end in time");
    struct End {
      calib::RunEnd end;
      const char* name;
      int exit;
    };
    using calib::RunEnd;
    static constexpr End kEnds[] = {
        {RunEnd::Kept, "kept", kExitDone},
        {RunEnd::Abandoned, "abandoned", kExitCalibrationFailed},
        {RunEnd::NoFrame, "no frame", kExitNoFrame},
        {RunEnd::TimedOut, "timed out", kExitCalibrationFailed},
        {RunEnd::Removed, "removed", kExitNoFrame},
        {RunEnd::Refused, "refused", kExitFrameFailed},
        {RunEnd::NotRun, "not run", kExitCalibrationFailed},
    };
    out.Set("exit_code", Json::Number(*code));
    for (const End& e : kEnds) {
      if (static_cast<uint32_t>(e.end) != *code) continue;
      out.Set("ended", Json::String(e.name));
      if (e.exit != kExitDone) return Fail(e.exit, std::string("the calibration run ended: ") + e.name);
      return v;
    }
    out.Set("ended", Json());
    return Fail(kExitCalibrationFailed,
                "the calibration program ended with exit code " + std::to_string(*code));
  }

  Verdict CheckCalibrationFile() {
    std::string content;
    if (!seams_.files.Read(c_.file, console::kCalibrationFileLength, content))
      return Fail(kExitBadInput, "cannot read \"" + ToUtf8(c_.file) + "\" as a calibration file");
    if (!console::DecodeCalibrationFile(content, fileRecord_))
      return Fail(kExitBadInput, "\"" + ToUtf8(c_.file) + "\" is not a calibration file");
    if (const std::optional<std::string> why = console::RecordRefusal(fileRecord_))
      return Fail(kExitBadInput, "\"" + ToUtf8(c_.file) + "\" cannot be written to a frame: " + *why);
    return {};
  }

  // The frame's record, by the export's own request with its file kept in memory.
  Verdict ReadRecord(proto::CalibrationRecord& record) {
    s().files().inMemory = true;
    s().dialogs().path = c_.file;
    Verdict v = s().Act(console::kTabCalibration, [&] { s().calibration().Export(); });
    s().files().inMemory = false;
    if (v.ok() && !console::DecodeCalibrationFile(s().files().memory, record))
      v = Fail(kExitFrameFailed, "the frame's calibration record could not be read");
    return v;
  }

  // A record onto the frame as the page's import sends it; then the frame's answer, and the
  // record read back where the frame's mode lets it be read.
  Verdict WriteRecord(const proto::CalibrationRecord& record, Json& out) {
    console::CCalibrationDlgModel& page = s().calibration();
    s().files().inMemory = true;
    s().files().memory = console::EncodeCalibrationFile(record);
    s().dialogs().path = c_.file;
    Verdict v = s().Act(console::kTabCalibration, [&] { page.Import(); });
    s().files().inMemory = false;
    if (!v.ok()) return v;
    if (page.WriteAnswer(proto::CMD_CAL_WRITE_DATA) == uint8_t{0})
      return Fail(kExitFrameFailed, "the touch frame refused the calibration record");
    if (page.Fields().calMode == proto::kModeFourPoint) {
      out.Set("verified", Json::Bool(false));
      out.Set("note",
              Json::String("the write could not be checked: the frame's record is read only in the 5- "
                           "and 9-target modes"));
      return {};
    }
    proto::CalibrationRecord back;
    if (Verdict read = ReadRecord(back); !read.ok())
      return Fail(kExitFrameFailed, "the calibration written could not be read back: " + read.error);
    if (!(back == record)) return Fail(kExitFrameFailed, "the frame did not take the calibration");
    out.Set("verified", Json::Bool(true));
    return {};
  }

  Verdict MakeBackup(Json& out) {
    Backup backup;
    if (Verdict v = ReadInfo(backup.info); !v.ok()) return v;
    if (Verdict v = ReadConfig(); !v.ok()) return v;
    backup.settings = SettingsJson(s().config());
    if (Verdict v = ReadCalibration(); !v.ok()) return v;
    console::CCalibrationDlgModel& page = s().calibration();
    const console::CalibrationFields fields = page.Fields();
    backup.calibration.targets = TargetsOf(fields.calMode);
    backup.calibration.option = fields.optionValue;
    if (fields.calMode != proto::kModeFourPoint) {
      proto::CalibrationRecord record;
      if (Verdict v = ReadRecord(record); !v.ok()) return v;
      backup.calibration.record = record;
    }
    if (!seams_.files.WriteReplacing(c_.file, EncodeBackup(backup)))
      return Fail(kExitFrameFailed, "cannot write \"" + ToUtf8(c_.file) + "\"");
    out = Json::Object();
    out.Set("file", Json::String(ToUtf8(c_.file)));
    out.Set("record", Json::Bool(backup.calibration.record.has_value()));
    // Said on the frame that is backed up, not on the frames a clone script restores it to.
    if (backup.calibration.record) {
      if (const std::optional<std::string> why = console::RecordRefusal(*backup.calibration.record))
        return Fail(kExitFrameFailed,
                    "the backup was written, but its calibration record would not restore: " + *why);
    }
    return {};
  }

  Verdict ReadBackup() {
    constexpr std::size_t kLimit = 64 * 1024;
    std::string content;
    if (!seams_.files.Read(c_.file, kLimit, content))
      return Fail(kExitBadInput, "cannot read \"" + ToUtf8(c_.file) + "\" (missing, or larger than 64 KiB)");
    std::string error;
    std::optional<Backup> backup = DecodeBackup(content, error);
    if (!backup) return Fail(kExitBadInput, ToUtf8(c_.file) + ": " + error);
    std::optional<std::vector<Assignment>> settings = AssignmentsFromJson(backup->settings, error);
    if (!settings) return Fail(kExitBadInput, ToUtf8(c_.file) + ": " + error);
    if (c_.restoreCalibration && backup->calibration.option >= console::kOptionButtons)
      return Fail(kExitBadInput, ToUtf8(c_.file) + ": calibration option " +
                                     std::to_string(backup->calibration.option) + " cannot be set");
    if (c_.restoreCalibration && backup->calibration.record) {
      if (const std::optional<std::string> why = console::RecordRefusal(*backup->calibration.record))
        return Fail(kExitBadInput, ToUtf8(c_.file) + ": the calibration record cannot be written: " + *why);
    }
    backup_ = std::move(*backup);
    restoreSettings_ = std::move(*settings);
    if (seams_.osCode != console::kOsCodeWithSetting11) {
      restoreSettings_.erase(std::remove_if(restoreSettings_.begin(), restoreSettings_.end(),
                                            [](const Assignment& a) { return Sets11({a}); }),
                             restoreSettings_.end());
    }
    return {};
  }

  // Every read before the first write, so that a frame that cannot tell what it holds gets
  // nothing; then only what differs. A failure part way puts back what was written.
  Verdict Restore(Json& out) {
    out = Json::Object();
    out.Set("settings", Json::Bool(c_.restoreSettings));
    out.Set("calibration", Json::Bool(c_.restoreCalibration));
    if (c_.restoreSettings) {
      if (Verdict v = ReadConfig(); !v.ok()) return v;
    }
    if (c_.restoreCalibration) {
      if (Verdict v = ReadCalibration(); !v.ok()) return v;
    }
    const console::ConfigFields before = s().config().Fields();
    const Json beforeJson = SettingsJson(s().config());
    std::vector<uint8_t> written;
    if (c_.restoreSettings) {
      if (Verdict v = WriteConfig(restoreSettings_, true, out, written); !v.ok()) return v;
    }
    if (!c_.restoreCalibration) return {};
    const CalibrationState& cal = backup_.calibration;
    const console::CalibrationFields now = s().calibration().Fields();
    const bool modeDiffers = TargetsOf(now.calMode) != cal.targets || now.optionValue != cal.option;
    // What was written of the settings goes back with a failure of the calibration's writes.
    if (modeDiffers) {
      if (Verdict v = WriteCalibration(cal.targets, cal.option); !v.ok())
        return PutBack(v, before, beforeJson, written, out);
    }
    if (cal.record) {
      if (Verdict v = WriteRecord(*cal.record, out); !v.ok()) {
        if (modeDiffers && !FrameGone()) WriteCalibration(TargetsOf(now.calMode), now.optionValue);
        return PutBack(v, before, beforeJson, written, out);
      }
    }
    return {};
  }

  Verdict Programs(Json& out) {
    // The logon entry is touched only when asked about, and names the installed console; turning
    // it off needs none.
    std::optional<std::wstring> console;
    if (c_.startAtLogon.value_or(false)) {
      console = InstalledConsole();
      if (!console)
        return Fail(kExitBadInput,
                    "start-at-logon needs the installed console: no install folder is recorded, and no "
                    "TactraConsole.exe is beside this tool; nothing was changed");
    }
    ToolMessages messages;
    console::COptionsDlgModel page(seams_.store, messages);
    const auto collect = [&]() -> Verdict {
      for (const ToolMessages::Shown& m : messages.Take()) return Fail(kExitFrameFailed, m.text);
      return {};
    };
    page.Load();
    if (Verdict v = collect(); !v.ok()) return v;
    if (c_.verb == Verb::ProgramsSet) {
      if (c_.language) *c_.language == 0 ? page.OnEnglish(true) : page.OnChinese(true);
      if (c_.startAtLogon) page.OnLogon(*c_.startAtLogon);
      if (c_.minimizeAfterStart) page.OnMinimize(*c_.minimizeAfterStart);
      page.Apply(console, c_.startAtLogon.has_value());
      if (Verdict v = collect(); !v.ok()) return v;
    }
    const console::OptionsView view = page.View();
    out = Json::Object();
    out.Set("language", view.english ? Json::String("en") : view.chinese ? Json::String("zh") : Json());
    out.Set("start_at_logon", Json::Bool(view.logon));
    out.Set("minimize_after_start", Json::Bool(view.minimize));
    return {};
  }

  // The console the install recorded, else the one beside the tool.
  std::optional<std::wstring> InstalledConsole() {
    std::unique_ptr<SettingsKey> key = seams_.store.Open(Hive::LocalMachine, kProgramsKeyPath);
    std::wstring folder;
    constexpr std::size_t kPathCapacity = 32768;
    if (key && key->ReadString(kInstallDirValue, kPathCapacity, folder) && !folder.empty()) {
      if (folder.back() != L'\\') folder += L'\\';
      return folder + L"TactraConsole.exe";
    }
    return seams_.consoleBeside;
  }

  const Command& c_;
  ToolSeams& seams_;
  std::unique_ptr<Session> session_;
  std::wstring settingsPath_;
  proto::CalibrationRecord fileRecord_;
  Backup backup_;
  std::vector<Assignment> restoreSettings_;
};

}  // namespace

ToolOutput RunTool(const std::vector<std::string>& args, ToolSeams& seams) {
  ToolOutput result;
  std::string error;
  const std::optional<Command> command = ParseCommand(args, error);
  if (!command) {
    result.exitCode = kExitBadInput;
    result.err = "tactractl: " + error + " (tactractl --help lists the commands)\n";
    return result;
  }
  if (command->verb == Verb::Help) {
    result.out = kUsage;
    return result;
  }
  Json out;
  const Verdict verdict = Runner(*command, seams).Run(out);
  result.exitCode = verdict.code;
  if (!verdict.ok()) result.err = "tactractl: " + verdict.error + "\n";
  // What there is to show is shown, also with an error (the status of a missing frame).
  if (out.kind() == Json::Kind::Object) result.out = command->json ? out.Write() + "\n" : Text(out);
  return result;
}

int Deliver(const ToolOutput& result, const std::function<bool(const std::string&)>& writeOut,
            const std::function<void(const std::string&)>& writeErr) {
  int code = result.exitCode;
  if (!result.out.empty() && !writeOut(result.out)) {
    writeErr("tactractl: the output could not be written\n");
    if (code == kExitDone) code = kExitFrameFailed;
  }
  if (!result.err.empty()) writeErr(result.err);
  return code;
}

}  // namespace tactra::ctl
