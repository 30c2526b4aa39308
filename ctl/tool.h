// tactractl without its process: the command line read and checked, then the console's own
// page models driven over the console's link exactly as a user of the console would drive them,
// and what came of it as text or JSON, errors and an exit code.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/settings_store.h"
#include "console/calibration_page.h"
#include "console/page_context.h"
#include "ctl/named_settings.h"
#include "device/hid_host.h"
#include "device/link.h"

namespace tactra::ctl {

// Exit codes.
constexpr int kExitDone = 0;
constexpr int kExitFrameFailed = 1;  // the frame refused or did not answer; a file or setting not written
constexpr int kExitBadInput = 2;     // bad usage or input: nothing was sent
constexpr int kExitNoFrame = 3;
constexpr int kExitCalibrationFailed = 4;  // the calibration program could not start, or its run failed

enum class Verb {
  Help,
  Status,
  Info,
  Config,
  ConfigSet,
  ConfigDefaults,
  Calibration,
  CalibrationSet,
  Export,
  Import,
  RestoreFactory,
  Start,
  Backup,
  Restore,
  Programs,
  ProgramsSet,
};

struct Command {
  Verb verb = Verb::Help;
  bool json = false;
  std::vector<Assignment> settings;  // config set
  std::optional<int> targets;        // calibration set: 4, 5 or 9
  std::optional<int> option;         // calibration set: 0..3
  std::wstring file;                 // export, import, backup, restore
  bool wait = false;                 // calibration start
  std::optional<int> monitor;        // calibration start: N of \\.\DISPLAYN
  bool restoreSettings = true;
  bool restoreCalibration = true;
  std::optional<int> language;  // programs set
  std::optional<bool> startAtLogon;
  std::optional<bool> minimizeAfterStart;
};

// The arguments after the program's name, UTF-8. Nothing, with `error` saying why, for bad usage.
std::optional<Command> ParseCommand(const std::vector<std::string>& args, std::string& error);

extern const char* const kUsage;

// Where the package records the programs' folder, under HKEY_LOCAL_MACHINE.
extern const wchar_t* const kProgramsKeyPath;
extern const wchar_t* const kInstallDirValue;

// What the tool works with; the program's composition provides each.
struct ToolSeams {
  HidHost& host;
  SettingsStore& store;
  console::FileAccess& files;
  console::ProgramStarter& starter;           // the calibration program beside the tool
  console::Pause pause;                       // the pages' pauses
  Sleeper linkSleep;                          // the link's start
  int osCode;                                 // as the configuration page has it
  std::optional<std::wstring> consoleBeside;  // the console beside the tool, when that file is there
  std::chrono::milliseconds runLimit;         // how long calibration start --wait waits at most
};

struct ToolOutput {
  int exitCode = kExitDone;
  std::string out;  // UTF-8
  std::string err;  // one line per error
};

ToolOutput RunTool(const std::vector<std::string>& args, ToolSeams& seams);

// Writes the result to standard output and error; the exit code. Output that standard output
// did not take whole (a full disk, a closed pipe) ends with 1, unless the command failed on its
// own already, and one line on standard error says so.
int Deliver(const ToolOutput& result, const std::function<bool(const std::string&)>& writeOut,
            const std::function<void(const std::string&)>& writeErr);

}  // namespace tactra::ctl
