#include "calibration/monitor_choice.h"

#include <cwctype>

#include "common/language.h"
#include "device/hid_host.h"

namespace tactra::calib {

const wchar_t* const kMonitorMappingKeyPath = L"SOFTWARE\\Microsoft\\Wisp\\Pen\\Digimon";

namespace {

constexpr wchar_t kMonitorSwitch[] = L"/monitor:";
constexpr wchar_t kDisplayPrefix[] = L"\\\\.\\DISPLAY";

bool Blank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool StartsWithIgnoringCase(const std::wstring& text, std::size_t at, const wchar_t* prefix) {
  for (std::size_t i = 0; prefix[i] != L'\0'; ++i) {
    if (at + i >= text.size()) return false;
    if (std::towlower(static_cast<wint_t>(text[at + i])) != std::towlower(static_cast<wint_t>(prefix[i])))
      return false;
  }
  return true;
}

// A decimal number of 1 to 4 digits that fills `digits`; 0 otherwise.
int SmallNumber(const std::wstring& digits) {
  if (digits.empty() || digits.size() > 4) return 0;
  int n = 0;
  for (wchar_t c : digits) {
    if (c < L'0' || c > L'9') return 0;
    n = n * 10 + (c - L'0');
  }
  return n;
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  return -1;
}

// The four hex digits at `at`; -1 when they are not there.
int Hex4(const std::wstring& text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  int v = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    const int d = HexDigit(text[i]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

bool Same(const std::wstring& a, const std::wstring& b) { return SamePathIgnoringCase(a, b); }

const Monitor* Numbered(const std::vector<Monitor>& monitors, int number) {
  for (const Monitor& m : monitors) {
    if (m.number == number) return &m;
  }
  return nullptr;
}

const Monitor* ShowingInterface(const std::vector<Monitor>& monitors, const std::wstring& path) {
  for (const Monitor& m : monitors) {
    for (const std::wstring& p : m.interfacePaths) {
      if (Same(p, path)) return &m;
    }
  }
  return nullptr;
}

}  // namespace

MonitorArgument TakeMonitorArgument(const std::wstring& commandLine) {
  const std::wstring arguments = CommandLineArguments(commandLine);
  const std::size_t base = commandLine.size() - arguments.size();
  std::size_t i = base;
  while (i < commandLine.size()) {
    while (i < commandLine.size() && Blank(commandLine[i])) ++i;
    const std::size_t start = i;
    while (i < commandLine.size() && !Blank(commandLine[i])) ++i;
    if (start == i || !StartsWithIgnoringCase(commandLine, start, kMonitorSwitch)) continue;
    const std::size_t prefix = sizeof kMonitorSwitch / sizeof kMonitorSwitch[0] - 1;
    const int n = SmallNumber(commandLine.substr(start + prefix, i - start - prefix));
    std::size_t from = start;
    std::size_t to = i;
    while (to < commandLine.size() && Blank(commandLine[to])) ++to;
    if (to == commandLine.size()) {
      // The last argument: the blanks before it go with it, down to the program's name.
      while (from > base && Blank(commandLine[from - 1])) --from;
    }
    MonitorArgument taken{commandLine.substr(0, from) + commandLine.substr(to), std::nullopt};
    if (n > 0) taken.monitor = n;
    return taken;
  }
  return {commandLine, std::nullopt};
}

bool IsFrameDigitizer(const std::wstring& devicePath) {
  for (std::size_t at = 0; at < devicePath.size(); ++at) {
    if (!StartsWithIgnoringCase(devicePath, at, L"VID_") ||
        !StartsWithIgnoringCase(devicePath, at + 8, L"&PID_"))
      continue;
    const int vendor = Hex4(devicePath, at + 4);
    const int product = Hex4(devicePath, at + 13);
    if (vendor >= 0 && product >= 0 &&
        IsAcceptedDevice(static_cast<uint16_t>(vendor), static_cast<uint16_t>(product)))
      return true;
  }
  return false;
}

MonitorChoice ChooseMonitor(std::optional<int> argument, const std::vector<MonitorMapping>& mappings,
                            const std::vector<Monitor>& monitors) {
  if (argument) {
    if (const Monitor* m = Numbered(monitors, *argument)) return {m, MonitorChosenBy::Argument};
  }
  for (const MonitorMapping& mapping : mappings) {
    if (!IsFrameDigitizer(mapping.digitizer)) continue;
    if (const Monitor* m = ShowingInterface(monitors, mapping.monitor)) return {m, MonitorChosenBy::Mapping};
  }
  for (const Monitor& m : monitors) {
    if (m.primary) return {&m, MonitorChosenBy::Primary};
  }
  if (!monitors.empty()) return {&monitors.front(), MonitorChosenBy::Primary};
  return {};
}

int DisplayNumber(const std::wstring& displayName) {
  const std::size_t prefix = sizeof kDisplayPrefix / sizeof kDisplayPrefix[0] - 1;
  if (!StartsWithIgnoringCase(displayName, 0, kDisplayPrefix)) return 0;
  return SmallNumber(displayName.substr(prefix));
}

}  // namespace tactra::calib
