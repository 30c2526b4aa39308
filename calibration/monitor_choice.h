// Which monitor the run covers: the one the command line names, else the one the system maps the
// frame's digitizer to, else the primary. Pure choice over what the Windows adapter read
// (calibration/app/monitors_win32.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "calibration/run_layout.h"

namespace tactra::calib {

struct Monitor {
  int number = 0;  // N of the display name \\.\DISPLAYN
  // The device interface paths of the monitors shown through that display, as the pen mapping
  // names them.
  std::vector<std::wstring> interfacePaths;
  ScreenRect rect;
  bool primary = false;
};

// One value of the system's pen-to-monitor mapping: the digitizer's device path and the monitor's
// interface path.
struct MonitorMapping {
  std::wstring digitizer;
  std::wstring monitor;
};

// Where the mapping lives, under HKEY_LOCAL_MACHINE.
extern const wchar_t* const kMonitorMappingKeyPath;

// The command line with the monitor's argument taken out, and the number it gave.
struct MonitorArgument {
  std::wstring commandLine;    // what the language's choice reads; unchanged without the argument
  std::optional<int> monitor;  // N of /monitor:N; empty without it or when N is no number
};

// Takes the first argument /monitor:N (any case) out of a whole command line, with the blanks
// that follow it (or, as the last argument, those before it), so that the language argument
// reads as it would alone.
MonitorArgument TakeMonitorArgument(const std::wstring& commandLine);

// Whether a digitizer's device path names one of the frame's interfaces (its VID_xxxx&PID_xxxx).
bool IsFrameDigitizer(const std::wstring& devicePath);

// How the monitor was chosen, for the start-up log.
enum class MonitorChosenBy { Argument, Mapping, Primary, None };

struct MonitorChoice {
  const Monitor* monitor = nullptr;  // null only when there is no monitor at all
  MonitorChosenBy by = MonitorChosenBy::None;
};

// The argument's monitor when it is there; else the first mapping of the frame's digitizer to a
// monitor that is there; else the primary (the first monitor when none says it is).
MonitorChoice ChooseMonitor(std::optional<int> argument, const std::vector<MonitorMapping>& mappings,
                            const std::vector<Monitor>& monitors);

// N of a display name \\.\DISPLAYN; 0 when it is not one.
int DisplayNumber(const std::wstring& displayName);

}  // namespace tactra::calib
