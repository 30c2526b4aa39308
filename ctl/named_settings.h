// The configuration page's settings by the names the frame's dump gives them ("cfg15.time"),
// their valid values, and the page's controls that change them, so that the tool changes a
// setting exactly as a user of the page would.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "console/config_page.h"
#include "ctl/json.h"

namespace tactra::ctl {

struct NamedSetting;

// One NAME=VALUE of the command line or the backup file, checked against its valid values.
struct Assignment {
  const NamedSetting* setting;
  int value;
};

// Every named setting in the order the page lists them.
const std::vector<const NamedSetting*>& AllSettings();
std::string SettingName(const NamedSetting& setting);

// "NAME=VALUE" pairs, each name once, each value one of its setting's. Nothing on a fault,
// which `error` names. On/off switches come first, so that the values they enable follow.
std::optional<std::vector<Assignment>> ParseAssignments(const std::vector<std::string>& pairs,
                                                        std::string& error);
// The same from the "settings" object of a backup; a null value is left as the frame has it.
std::optional<std::vector<Assignment>> AssignmentsFromJson(const Json& settings, std::string& error);

// Moves each value to the page's control as a user would. Unless Done, `error` names the first
// value the page does not let be changed; the page may then hold some of the values, and
// nothing must be written.
enum class PageSet {
  Done,
  SwitchedOff,  // its switch is off on the frame
  Untold,       // the frame did not tell its value
};
PageSet SetOnPage(console::CConfigDlgModel& page, const std::vector<Assignment>& assignments,
                  std::string& error);

// The frame's code of the report that carries the setting; the page writes that report whole.
uint8_t SettingCode(const NamedSetting& setting);
// The value the page shows as the frame's; nothing when untold or switched off.
std::optional<int> ShownValue(const console::CConfigDlgModel& page, const NamedSetting& setting);

// What the page shows, by name; a value it does not show as the frame's (untold, or switched
// off) is null.
Json SettingsJson(const console::CConfigDlgModel& page);

}  // namespace tactra::ctl
