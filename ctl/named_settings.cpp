#include "ctl/named_settings.h"

#include <algorithm>
#include <cstdlib>

#include "resources/console_ids.h"

namespace tactra::ctl {

using console::ConfigFields;

enum class Control {
  Switch,  // an on/off list: index 0 is on (cfg11: index 1 is 2)
  Steps,   // a list of ten steps: index i is (i + 1) * step
  Slider,
  Spin,
  Table,  // a list of the values of a table
};

struct NamedSetting {
  const char* group;
  const char* field;  // "" for the one setting that has no fields
  int control;
  Control kind;
  // Switch: the values for off and on; Steps: the step; Slider, Spin: the bounds.
  int a;
  int b;
  bool ConfigFields::*flag;
  int ConfigFields::*number;
  const int* table;
  std::size_t tableSize;
  // The switch that enables this value, null when none does.
  const NamedSetting* enabledBy;
};

namespace {

constexpr int kLevels = 10;

#define TACTRA_SWITCH(group, field, id, off, on, member)                                            \
  NamedSetting {                                                                                    \
    group, field, id, Control::Switch, off, on, &ConfigFields::member, nullptr, nullptr, 0, nullptr \
  }
#define TACTRA_NUMBER(group, field, id, kind, a, b, member, by) \
  NamedSetting { group, field, id, kind, a, b, nullptr, &ConfigFields::member, nullptr, 0, by }

const NamedSetting kValue11 = TACTRA_SWITCH("cfg11", "", IDC_CFG_11, 1, 2, value11);
const NamedSetting kFlag12a = TACTRA_SWITCH("cfg12", "a", IDC_CFG_12A, 0, 1, flag12a);
const NamedSetting kFlag12b = TACTRA_SWITCH("cfg12", "b", IDC_CFG_12B, 0, 1, flag12b);
const NamedSetting kFlag12c = TACTRA_SWITCH("cfg12", "c", IDC_CFG_12C, 0, 1, flag12c);
const NamedSetting kOn14 = TACTRA_SWITCH("cfg14", "enabled", IDC_CFG_14_ON, 0, 1, enable14);
const NamedSetting kLevel14 =
    TACTRA_NUMBER("cfg14", "level", IDC_CFG_14_LEVEL, Control::Steps, 1, 0, level14, &kOn14);
const NamedSetting kTime14 =
    TACTRA_NUMBER("cfg14", "time", IDC_CFG_14_TIME, Control::Steps, 100, 0, time14, &kOn14);
const NamedSetting kOn15 = TACTRA_SWITCH("cfg15", "enabled", IDC_CFG_15_ON, 0, 1, enable15);
const NamedSetting kLevel15 =
    TACTRA_NUMBER("cfg15", "level", IDC_CFG_15_LEVEL, Control::Steps, 1, 0, level15, &kOn15);
const NamedSetting kTime15 =
    TACTRA_NUMBER("cfg15", "time", IDC_CFG_15_TIME, Control::Steps, 500, 0, time15, &kOn15);
const NamedSetting kOn16 = TACTRA_SWITCH("cfg16", "enabled", IDC_CFG_16_ON, 0, 1, enable16);
const NamedSetting kValue16 = TACTRA_NUMBER("cfg16", "value", IDC_CFG_16_SPIN, Control::Spin,
                                            console::kSpinMin, console::kSpinMax, value16, &kOn16);
const NamedSetting kLevel17a = TACTRA_NUMBER("cfg17", "a", IDC_CFG_17A, Control::Slider, console::kSliderMin,
                                             console::kSliderMax, level17a, nullptr);
const NamedSetting kLevel17b = TACTRA_NUMBER("cfg17", "b", IDC_CFG_17B, Control::Slider, console::kSliderMin,
                                             console::kSliderMax, level17b, nullptr);
const NamedSetting kLevel17c =
    TACTRA_NUMBER("cfg17", "c", IDC_CFG_17C, Control::Steps, 1, 0, level17c, nullptr);
const NamedSetting kLevel17d =
    TACTRA_NUMBER("cfg17", "d", IDC_CFG_17D, Control::Steps, 1, 0, level17d, nullptr);
const NamedSetting kOn21 = TACTRA_SWITCH("cfg21", "enabled", IDC_CFG_21_ON, 0, 1, enable21);
const NamedSetting kValueA21{"cfg21",
                             "a",
                             IDC_CFG_21_A,
                             Control::Table,
                             0,
                             0,
                             nullptr,
                             &ConfigFields::valueA21,
                             console::kTableA21.data(),
                             console::kTableA21.size(),
                             &kOn21};
const NamedSetting kValueB21{"cfg21",
                             "b",
                             IDC_CFG_21_B,
                             Control::Table,
                             0,
                             0,
                             nullptr,
                             &ConfigFields::valueB21,
                             console::kTableB21.data(),
                             console::kTableB21.size(),
                             &kOn21};

#undef TACTRA_SWITCH
#undef TACTRA_NUMBER

// The groups in the order of the frame's dump, each group's fields in the order they are written.
const std::vector<const NamedSetting*> kAll{&kValue11,  &kFlag12a, &kFlag12b,  &kFlag12c,  &kOn14,
                                            &kLevel14,  &kTime14,  &kOn15,     &kLevel15,  &kTime15,
                                            &kOn16,     &kValue16, &kLevel17a, &kLevel17b, &kLevel17c,
                                            &kLevel17d, &kOn21,    &kValueA21, &kValueB21};

bool Valid(const NamedSetting& s, long long v) {
  switch (s.kind) {
    case Control::Switch:
      return v == s.a || v == s.b;
    case Control::Steps:
      return v >= s.a && v <= kLevels * s.a && v % s.a == 0;
    case Control::Slider:
    case Control::Spin:
      return v >= s.a && v <= s.b;
    case Control::Table:
      return std::find(s.table, s.table + s.tableSize, v) != s.table + s.tableSize;
  }
  return false;
}

std::string ValidValues(const NamedSetting& s) {
  switch (s.kind) {
    case Control::Switch:
      return std::to_string(s.a) + " or " + std::to_string(s.b);
    case Control::Steps:
      return std::to_string(s.a) + " to " + std::to_string(kLevels * s.a) +
             (s.a > 1 ? " in steps of " + std::to_string(s.a) : std::string());
    case Control::Slider:
    case Control::Spin:
      return std::to_string(s.a) + " to " + std::to_string(s.b);
    case Control::Table: {
      std::string out = "one of ";
      for (std::size_t i = 0; i < s.tableSize; ++i) out += (i ? ", " : "") + std::to_string(s.table[i]);
      return out;
    }
  }
  return {};
}

const NamedSetting* Find(const std::string& name) {
  for (const NamedSetting* s : kAll) {
    if (SettingName(*s) == name) return s;
  }
  return nullptr;
}

// A whole decimal number, without sign for anything but a minus, and without leading spaces.
std::optional<long long> Decimal(const std::string& text) {
  if (text.empty() || text.size() > 12) return std::nullopt;
  std::size_t i = text[0] == '-' ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  for (std::size_t j = i; j < text.size(); ++j) {
    if (text[j] < '0' || text[j] > '9') return std::nullopt;
  }
  return std::strtoll(text.c_str(), nullptr, 10);
}

// Switches first, then the page's order; and no value that the same list switches off.
std::optional<std::vector<Assignment>> Ordered(std::vector<Assignment> list, std::string& error) {
  const auto rank = [](const Assignment& a) {
    const auto at = std::find(kAll.begin(), kAll.end(), a.setting) - kAll.begin();
    return (a.setting->kind == Control::Switch ? 0 : 100) + at;
  };
  std::stable_sort(list.begin(), list.end(),
                   [&](const Assignment& x, const Assignment& y) { return rank(x) < rank(y); });
  for (const Assignment& a : list) {
    if (a.setting->enabledBy == nullptr) continue;
    for (const Assignment& s : list) {
      if (s.setting == a.setting->enabledBy && s.value == s.setting->a) {
        error = SettingName(*a.setting) + " cannot be set while " + SettingName(*s.setting) + " is " +
                std::to_string(s.value);
        return std::nullopt;
      }
    }
  }
  return list;
}

std::optional<Assignment> Checked(const std::string& name, long long value, std::string& error) {
  const NamedSetting* s = Find(name);
  if (s == nullptr) {
    error = "unknown setting \"" + name + "\"";
    return std::nullopt;
  }
  if (!Valid(*s, value)) {
    error = name + "=" + std::to_string(value) + " is not valid: " + name + " is " + ValidValues(*s);
    return std::nullopt;
  }
  return Assignment{s, static_cast<int>(value)};
}

bool Duplicate(const std::vector<Assignment>& list, const NamedSetting* s) {
  return std::any_of(list.begin(), list.end(), [s](const Assignment& a) { return a.setting == s; });
}

// The field's value as the frame's dump tells it.
int ValueOf(const NamedSetting& s, const ConfigFields& f) {
  if (s.flag != nullptr) return f.*s.flag ? s.b : s.a;
  return f.*s.number;
}

}  // namespace

const std::vector<const NamedSetting*>& AllSettings() { return kAll; }

std::string SettingName(const NamedSetting& s) {
  return *s.field ? std::string(s.group) + "." + s.field : std::string(s.group);
}

std::optional<std::vector<Assignment>> ParseAssignments(const std::vector<std::string>& pairs,
                                                        std::string& error) {
  std::vector<Assignment> list;
  if (pairs.empty()) {
    error = "no setting given (NAME=VALUE)";
    return std::nullopt;
  }
  for (const std::string& pair : pairs) {
    const std::size_t equals = pair.find('=');
    if (equals == std::string::npos) {
      error = "\"" + pair + "\" is not NAME=VALUE";
      return std::nullopt;
    }
    const std::string name = pair.substr(0, equals);
    const std::optional<long long> value = Decimal(pair.substr(equals + 1));
    if (Find(name) != nullptr && !value) {
      error = "\"" + pair.substr(equals + 1) + "\" is not a whole number (" + name + ")";
      return std::nullopt;
    }
    std::optional<Assignment> a = Checked(name, value.value_or(0), error);
    if (!a) return std::nullopt;
    if (Duplicate(list, a->setting)) {
      error = name + " is given twice";
      return std::nullopt;
    }
    list.push_back(*a);
  }
  return Ordered(std::move(list), error);
}

std::optional<std::vector<Assignment>> AssignmentsFromJson(const Json& settings, std::string& error) {
  if (settings.kind() != Json::Kind::Object) {
    error = "\"settings\" is not an object";
    return std::nullopt;
  }
  std::vector<Assignment> list;
  for (const auto& [group, value] : settings.members()) {
    // A group of fields is an object; the setting without fields a number.
    std::vector<std::pair<std::string, const Json*>> values;
    if (value.kind() == Json::Kind::Object) {
      for (const auto& [field, v] : value.members()) values.emplace_back(group + "." + field, &v);
    } else {
      values.emplace_back(group, &value);
    }
    for (const auto& [name, v] : values) {
      if (v->isNull() && Find(name) != nullptr) continue;
      if (Find(name) != nullptr && v->kind() != Json::Kind::Number) {
        error = "settings: " + name + " is not a number";
        return std::nullopt;
      }
      std::optional<Assignment> a = Checked(name, v->kind() == Json::Kind::Number ? v->number() : 0, error);
      if (!a) {
        error = "settings: " + error;
        return std::nullopt;
      }
      list.push_back(*a);
    }
  }
  return Ordered(std::move(list), error);
}

PageSet SetOnPage(console::CConfigDlgModel& page, const std::vector<Assignment>& assignments,
                  std::string& error) {
  for (const Assignment& a : assignments) {
    const NamedSetting& s = *a.setting;
    if (!page.View()[s.control].enabled) {
      const NamedSetting* by = s.enabledBy;
      if (by != nullptr && page.View()[by->control].enabled && !(page.Fields().*(by->flag))) {
        error = SettingName(s) + " cannot be set while " + SettingName(*by) + " is " + std::to_string(by->a);
        return PageSet::SwitchedOff;
      }
      error = SettingName(s) + " cannot be set: the frame did not tell its value";
      return PageSet::Untold;
    }
    switch (s.kind) {
      case Control::Switch: {
        // cfg11's list has "on" second, the others first.
        const int onIndex = s.control == IDC_CFG_11 ? 1 : 0;
        page.OnListSelect(s.control, a.value == s.b ? onIndex : 1 - onIndex);
        break;
      }
      case Control::Steps:
        page.OnListSelect(s.control, a.value / s.a - 1);
        break;
      case Control::Slider:
        page.OnSlider(s.control, a.value);
        break;
      case Control::Spin:
        page.OnSpinDelta(a.value, 0);
        break;
      case Control::Table:
        page.OnListSelect(s.control,
                          static_cast<int>(std::find(s.table, s.table + s.tableSize, a.value) - s.table));
        break;
    }
    if (ValueOf(s, page.Fields()) != a.value) {
      error = SettingName(s) + " was not taken by the page";
      return PageSet::Untold;
    }
  }
  // The page writes a setting only whole: every value of it the frame told (or a switch the user
  // set told), but those its switch leaves off.
  const console::ConfigView view = page.View();
  const ConfigFields fields = page.Fields();
  for (const Assignment& a : assignments) {
    for (const NamedSetting* other : kAll) {
      if (std::string(other->group) != a.setting->group || Duplicate(assignments, other)) continue;
      if (other->enabledBy != nullptr && !(fields.*(other->enabledBy->flag))) continue;
      if (view[other->control].enabled) continue;
      error = SettingName(*a.setting) + " cannot be written: the frame did not tell " + SettingName(*other);
      return PageSet::Untold;
    }
  }
  return PageSet::Done;
}

uint8_t SettingCode(const NamedSetting& s) {
  static constexpr std::pair<const char*, uint8_t> kCodes[] = {
      {"cfg11", proto::CMD_CFG_11}, {"cfg12", proto::CMD_CFG_12}, {"cfg14", proto::CMD_CFG_14},
      {"cfg15", proto::CMD_CFG_15}, {"cfg16", proto::CMD_CFG_16}, {"cfg17", proto::CMD_CFG_17},
      {"cfg21", proto::CMD_CFG_21},
  };
  for (const auto& [group, code] : kCodes) {
    if (std::string(group) == s.group) return code;
  }
  return 0;
}

std::optional<int> ShownValue(const console::CConfigDlgModel& page, const NamedSetting& s) {
  if (!page.View()[s.control].enabled) return std::nullopt;
  return ValueOf(s, page.Fields());
}

Json SettingsJson(const console::CConfigDlgModel& page) {
  const console::ConfigView view = page.View();
  const ConfigFields fields = page.Fields();
  Json out = Json::Object();
  for (const NamedSetting* s : kAll) {
    const Json value = view[s->control].enabled ? Json::Number(ValueOf(*s, fields)) : Json();
    if (!*s->field) {
      out.Set(s->group, value);
      continue;
    }
    if (!out.Find(s->group)) out.Set(s->group, Json::Object());
    // Set keeps the group's place; its fields are added in order.
    Json group = *out.Find(s->group);
    group.Set(s->field, value);
    out.Set(s->group, std::move(group));
  }
  return out;
}

}  // namespace tactra::ctl
