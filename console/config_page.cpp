#include "console/config_page.h"

#include <algorithm>
#include <initializer_list>

#include "resources/console_ids.h"

namespace tactra::console {

namespace {

// The settings in the order they are read and written, with the payload lengths of their read
// replies and write acknowledgements.
struct Setting {
  uint8_t code;
  std::size_t readLength;
  std::size_t ackLength;
};
constexpr Setting kSettings[] = {
    {proto::CMD_CFG_11, 2, 2}, {proto::CMD_CFG_12, 4, 2}, {proto::CMD_CFG_16, 3, 2},
    {proto::CMD_CFG_17, 5, 2}, {proto::CMD_CFG_21, 6, 6}, {proto::CMD_CFG_15, 5, 5},
    {proto::CMD_CFG_14, 5, 5},
};
constexpr Setting kDefaultAction{proto::CMD_CFG_ACTION_81, 0, 5};

const Setting* FindSetting(uint8_t code) {
  if (code == kDefaultAction.code) return &kDefaultAction;
  for (const Setting& s : kSettings) {
    if (s.code == code) return &s;
  }
  return nullptr;
}

// The times of CMD_CFG_15 and CMD_CFG_14: ten steps of 500 or 100, list index i gives step (i + 1).
constexpr int kTimeStep15 = 500;
constexpr int kTimeStep14 = 100;
constexpr int kListLevels = 10;

bool InRange(int v, int lo, int hi) { return v >= lo && v <= hi; }
bool IsStepTime(int t, int step) { return InRange(t, step, kListLevels * step) && t % step == 0; }

// The frame's bytes as the page compares them: single bytes and high bytes are signed.
int Signed(uint8_t b) { return static_cast<int8_t>(b); }
int Signed16(const uint8_t* p) { return Signed(p[0]) * 256 + p[1]; }
uint8_t Low(int v) { return static_cast<uint8_t>(v & 0xFF); }

template <std::size_t N>
int IndexIn(const std::array<int, N>& table, int value) {
  const auto it = std::find(table.begin(), table.end(), value);
  return it == table.end() ? -1 : static_cast<int>(it - table.begin());
}

// The value bytes of a write request (after the access byte); their count.
std::size_t WriteValues(uint8_t code, const ConfigFields& f, uint8_t* out) {
  const auto timed = [out](bool enable, int level, int time) {
    out[0] = enable ? 1 : 0;
    out[1] = Low(level);
    proto::PutBE16(out + 2, static_cast<uint16_t>(time));
    return std::size_t{4};
  };
  switch (code) {
    case proto::CMD_CFG_11:
      out[0] = f.value11 ? 2 : 1;
      return 1;
    case proto::CMD_CFG_12:
      out[0] = f.flag12a ? 1 : 0;
      out[1] = f.flag12b ? 1 : 0;
      out[2] = f.flag12c ? 1 : 0;
      return 3;
    case proto::CMD_CFG_16:
      out[0] = f.enable16 ? 1 : 0;
      out[1] = Low(f.value16);
      return 2;
    case proto::CMD_CFG_17:
      out[0] = Low(f.level17a);
      out[1] = Low(f.level17b);
      out[2] = Low(f.level17c);
      out[3] = Low(f.level17d);
      return 4;
    case proto::CMD_CFG_21:
      out[0] = f.enable21 ? 1 : 0;
      proto::PutBE16(out + 1, static_cast<uint16_t>(f.valueA21));
      proto::PutBE16(out + 3, static_cast<uint16_t>(f.valueB21));
      return 5;
    case proto::CMD_CFG_15:
      return timed(f.enable15, f.level15, f.time15);
    case proto::CMD_CFG_14:
      return timed(f.enable14, f.level14, f.time14);
    default:
      return 0;
  }
}

// Fills the view's controls in the order they are added.
class ViewBuilder {
 public:
  void List(int id, int index, bool enabled) { Add({id, ControlKind::List, index, enabled, true, {}}); }
  void HiddenList(int id, int index, bool enabled) {
    Add({id, ControlKind::List, index, enabled, false, {}});
  }
  void Slider(int id, int position, bool enabled) {
    Add({id, ControlKind::Slider, position, enabled, true, {}});
  }
  void Spin(int id, int position, bool enabled) { Add({id, ControlKind::Spin, position, enabled, true, {}}); }
  void Edit(int id, std::wstring text, bool enabled) {
    Add({id, ControlKind::Edit, 0, enabled, true, std::move(text)});
  }
  void HiddenLabel(int id) { Add({id, ControlKind::Label, 0, true, false, {}}); }
  void Button(int id, bool enabled) { Add({id, ControlKind::Button, 0, enabled, true, {}}); }
  ConfigView view;

 private:
  void Add(ControlView control) {
    if (next_ < view.controls.size()) view.controls[next_++] = std::move(control);
  }
  std::size_t next_ = 0;
};

}  // namespace

int ConfigOsCode(const VersionRecord& version) {
  // The system classes put every NT from 6.1 on together; here only 6.1 itself has the setting.
  constexpr uint32_t kPlatformNt = 2;
  constexpr int kLaterNt = 1;
  const int systemClass = WindowsClassFromVersion(version);
  const bool nt61 =
      version.ok && version.platformId == kPlatformNt && version.major == 6 && version.minor == 1;
  return systemClass == kOsCodeWithSetting11 && !nt61 ? kLaterNt : systemClass;
}

const ControlView& ConfigView::operator[](int id) const {
  static const ControlView kNone{};
  for (const ControlView& c : controls) {
    if (c.id == id) return c;
  }
  return kNone;
}

CConfigDlgModel::CConfigDlgModel(PageContext context, int osCode)
    : context_(std::move(context)), osCode_(osCode) {}

void CConfigDlgModel::Refresh() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    readComplete_ = false;
    told_.reset();
  }
  if (!NoFrame(context_)) SendAll(proto::kAccessRead, ConfigFields(), {});
  std::lock_guard<std::mutex> lock(mutex_);
  shown_ = readComplete_ ? Shown::Values : Shown::Greyed;
}

void CConfigDlgModel::Apply() {
  ConfigFields fields;
  std::bitset<kToldCount> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shown_ != Shown::Values) return;
    fields = fields_;
    held = held_;
  }
  if (!NoFrame(context_)) SendAll(proto::kAccessWrite, fields, held);
}

void CConfigDlgModel::RefreshSetting(uint8_t code) {
  // The values of each setting, in the order of `Told`.
  struct Values {
    uint8_t code;
    Told first;
    Told last;
  };
  static constexpr Values kValues[] = {
      {proto::CMD_CFG_11, kValue11, kValue11},   {proto::CMD_CFG_12, kFlags12, kFlags12},
      {proto::CMD_CFG_16, kEnable16, kValue16},  {proto::CMD_CFG_17, kLevel17a, kLevel17d},
      {proto::CMD_CFG_21, kEnable21, kValueB21}, {proto::CMD_CFG_15, kEnable15, kTime15},
      {proto::CMD_CFG_14, kEnable14, kTime14},
  };
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Values& v : kValues) {
      if (v.code != code) continue;
      for (int t = v.first; t <= v.last; ++t) {
        told_.reset(static_cast<std::size_t>(t));
        held_.reset(static_cast<std::size_t>(t));
      }
    }
  }
  if (!NoFrame(context_)) SendAll(proto::kAccessRead, ConfigFields(), {}, code);
}

void CConfigDlgModel::ApplySetting(uint8_t code, const std::optional<ConfigFields>& as) {
  ConfigFields fields;
  std::bitset<kToldCount> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shown_ != Shown::Values) return;
    fields = as.value_or(fields_);
    held = held_;
  }
  if (!NoFrame(context_)) SendAll(proto::kAccessWrite, fields, held, code);
}

void CConfigDlgModel::Forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  fields_ = ConfigFields();
  told_.reset();
  held_.reset();
  readComplete_ = false;
  shown_ = Shown::Greyed;
}

void CConfigDlgModel::Tell(Told told) {
  told_.set(told);
  held_.set(told);
}

void CConfigDlgModel::Default() {
  if (!NoFrame(context_)) {
    proto::ReportBuffer request;
    proto::BuildSettingsWrite(request, proto::CMD_CFG_ACTION_81, nullptr, 0);
    Send(context_.link, proto::kSettingsChannel, request);
  }
  context_.pause(proto::pacing::kBeforeReread);
  Refresh();
}

void CConfigDlgModel::SendAll(uint8_t access, const ConfigFields& fields, const std::bitset<kToldCount>& held,
                              uint8_t only) {
  const bool read = access == proto::kAccessRead;
  const auto pause = read ? proto::pacing::kAfterRead : proto::pacing::kAfterWrite;
  // A setting is written whole: each of its values must be one the page holds. An on/off
  // setting switched off carries only its switch.
  const auto holds = [&](std::initializer_list<Told> values) {
    for (Told t : values) {
      if (!held.test(t)) return false;
    }
    return true;
  };
  const auto holdsSwitched = [&](bool on, Told first, std::initializer_list<Told> values) {
    return held.test(first) && (!on || holds(values));
  };
  const auto writable = [&](uint8_t code) {
    switch (code) {
      case proto::CMD_CFG_11:
        return holds({kValue11});
      case proto::CMD_CFG_12:
        return holds({kFlags12});
      case proto::CMD_CFG_16:
        return holdsSwitched(fields.enable16, kEnable16, {kValue16});
      case proto::CMD_CFG_17:
        return holds({kLevel17a, kLevel17b, kLevel17c, kLevel17d});
      case proto::CMD_CFG_21:
        return holdsSwitched(fields.enable21, kEnable21, {kValueA21, kValueB21});
      case proto::CMD_CFG_15:
        return holdsSwitched(fields.enable15, kEnable15, {kLevel15, kTime15});
      case proto::CMD_CFG_14:
        return holdsSwitched(fields.enable14, kEnable14, {kLevel14, kTime14});
      default:
        return false;
    }
  };
  for (const Setting& setting : kSettings) {
    if (only != 0 && setting.code != only) continue;
    // The first setting exists only on one system; its pause is kept everywhere, and so is the
    // pause of a setting that is not written.
    if ((setting.code != proto::CMD_CFG_11 || has11()) && (read || writable(setting.code))) {
      proto::ReportBuffer request;
      if (access == proto::kAccessRead) {
        proto::BuildSettingsRead(request, setting.code);
      } else {
        uint8_t values[proto::kMaxPayload] = {};
        proto::BuildSettingsWrite(request, setting.code, values, WriteValues(setting.code, fields, values));
      }
      Send(context_.link, proto::kSettingsChannel, request);
    }
    context_.pause(pause);
  }
}

void CConfigDlgModel::OnDeviceReply(const uint8_t* report, std::size_t length) {
  if (report == nullptr || length < 5 || report[0] != proto::kSettingsReportId) return;
  const std::size_t n = report[2];
  // Every reply taken has an access byte and a value or status; all lie before the terminator.
  if (n < 2 || 3 + n >= length) return;
  const Setting* setting = FindSetting(report[1]);
  if (setting == nullptr) return;
  if (report[3] == proto::kAccessWrite) {
    if (n == setting->ackLength && report[4] == 0) {
      Messages& messages = context_.messages;
      context_.window.Post([&messages] { ShowMessage(messages, IDS_REFUSED); });
    }
    return;
  }
  if (report[3] != proto::kAccessRead || n != setting->readLength) return;
  std::lock_guard<std::mutex> lock(mutex_);
  TakeRead(setting->code, report + 4);
}

void CConfigDlgModel::TakeRead(uint8_t code, const uint8_t* v) {
  ConfigFields& f = fields_;
  // An on/off byte other than 1 is off and tells nothing of the values after it.
  const auto onOff = [&](bool& enable, Told told) {
    enable = v[0] == 1;
    Tell(told);
    return enable;
  };
  const auto take = [&](int& field, int value, bool valid, Told told) {
    if (!valid) return;
    field = value;
    Tell(told);
  };
  const auto timed = [&](bool& enable, int& level, int& time, int step, Told first) {
    if (!onOff(enable, first)) return;
    const int l = Signed(v[1]);
    const int t = Signed16(v + 2);
    take(level, l, InRange(l, 1, kListLevels), static_cast<Told>(first + 1));
    take(time, t, IsStepTime(t, step), static_cast<Told>(first + 2));
  };
  switch (code) {
    case proto::CMD_CFG_11:
      f.value11 = v[0] == 2;
      Tell(kValue11);
      break;
    case proto::CMD_CFG_12:
      f.flag12a = v[0] == 1;
      f.flag12b = v[1] == 1;
      f.flag12c = v[2] == 1;
      Tell(kFlags12);
      break;
    case proto::CMD_CFG_16:
      if (onOff(f.enable16, kEnable16)) take(f.value16, Signed(v[1]), true, kValue16);
      break;
    case proto::CMD_CFG_17:
      // Each level stands alone.
      take(f.level17a, Signed(v[0]), InRange(Signed(v[0]), kSliderMin, kSliderMax), kLevel17a);
      take(f.level17b, Signed(v[1]), InRange(Signed(v[1]), kSliderMin, kSliderMax), kLevel17b);
      take(f.level17c, Signed(v[2]), InRange(Signed(v[2]), 1, kListLevels), kLevel17c);
      take(f.level17d, Signed(v[3]), InRange(Signed(v[3]), 1, kListLevels), kLevel17d);
      break;
    case proto::CMD_CFG_21:
      if (onOff(f.enable21, kEnable21)) {
        take(f.valueA21, Signed16(v + 1), IndexIn(kTableA21, Signed16(v + 1)) >= 0, kValueA21);
        take(f.valueB21, Signed16(v + 3), IndexIn(kTableB21, Signed16(v + 3)) >= 0, kValueB21);
      }
      break;
    case proto::CMD_CFG_15:
      timed(f.enable15, f.level15, f.time15, kTimeStep15, kEnable15);
      break;
    case proto::CMD_CFG_14:
      timed(f.enable14, f.level14, f.time14, kTimeStep14, kEnable14);
      // The last read of a refresh: the page now knows enough to be shown.
      readComplete_ = true;
      break;
    default:
      break;
  }
}

void CConfigDlgModel::OnListSelect(int id, int index) {
  // Lists of ten steps: index i gives (i + 1) * step.
  struct Steps {
    int id;
    int ConfigFields::*field;
    int step;
  };
  static constexpr Steps kSteps[] = {
      {IDC_CFG_17C, &ConfigFields::level17c, 1},
      {IDC_CFG_17D, &ConfigFields::level17d, 1},
      {IDC_CFG_15_TIME, &ConfigFields::time15, kTimeStep15},
      {IDC_CFG_15_LEVEL, &ConfigFields::level15, 1},
      {IDC_CFG_14_TIME, &ConfigFields::time14, kTimeStep14},
      {IDC_CFG_14_LEVEL, &ConfigFields::level14, 1},
  };
  // On/off lists; switched on, the setting's values are the page's to show and change.
  struct Switch {
    int id;
    bool ConfigFields::*field;
    int onIndex;
    std::array<Told, 2> dependants;  // kToldCount: none
  };
  static constexpr Switch kSwitches[] = {
      {IDC_CFG_11, &ConfigFields::value11, 1, {kToldCount, kToldCount}},
      {IDC_CFG_12A, &ConfigFields::flag12a, 0, {kToldCount, kToldCount}},
      {IDC_CFG_12B, &ConfigFields::flag12b, 0, {kToldCount, kToldCount}},
      {IDC_CFG_12C, &ConfigFields::flag12c, 0, {kToldCount, kToldCount}},
      {IDC_CFG_16_ON, &ConfigFields::enable16, 0, {kValue16, kToldCount}},
      {IDC_CFG_21_ON, &ConfigFields::enable21, 0, {kValueA21, kValueB21}},
      {IDC_CFG_15_ON, &ConfigFields::enable15, 0, {kLevel15, kTime15}},
      {IDC_CFG_14_ON, &ConfigFields::enable14, 0, {kLevel14, kTime14}},
  };
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0 || !ViewLocked()[id].enabled) return;
  const auto i = static_cast<std::size_t>(index);
  ConfigFields& f = fields_;
  for (const Steps& s : kSteps) {
    if (s.id == id && index < kListLevels) f.*s.field = (index + 1) * s.step;
  }
  for (const Switch& s : kSwitches) {
    if (s.id != id || index >= 2) continue;
    f.*s.field = index == s.onIndex;
    for (Told t : s.dependants) {
      if (f.*s.field && t != kToldCount) Tell(t);
    }
  }
  if (id == IDC_CFG_21_A && i < kTableA21.size()) f.valueA21 = kTableA21[i];
  if (id == IDC_CFG_21_B && i < kTableB21.size()) f.valueB21 = kTableB21[i];
}

void CConfigDlgModel::OnSlider(int id, int position) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!InRange(position, kSliderMin, kSliderMax) || !ViewLocked()[id].enabled) return;
  if (id == IDC_CFG_17A) fields_.level17a = position;
  if (id == IDC_CFG_17B) fields_.level17b = position;
}

int CConfigDlgModel::OnSpinDelta(int position, int delta) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!ViewLocked()[IDC_CFG_16_SPIN].enabled) return fields_.value16;
  // Wide enough that no position and delta the control sends can overflow.
  const long long wanted = static_cast<long long>(position) + delta;
  fields_.value16 = static_cast<int>(std::clamp<long long>(wanted, kSpinMin, kSpinMax));
  return fields_.value16;
}

ConfigView CConfigDlgModel::View() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ViewLocked();
}

ConfigFields CConfigDlgModel::Fields() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fields_;
}

bool CConfigDlgModel::readComplete() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return readComplete_;
}

ConfigView CConfigDlgModel::ViewLocked() const {
  // Greyed, every control shows a fixed selection and nothing can be changed; after a complete
  // read each shows its field and can be changed when the frame told its value, and for the
  // values of an on/off setting, when that is on.
  const bool live = shown_ == Shown::Values;
  const auto known = [&](Told t) { return live && told_.test(t); };
  const ConfigFields& f = fields_;
  ViewBuilder b;
  b.List(IDC_CFG_11, (live ? f.value11 : true) && has11() ? 1 : 0, has11() && known(kValue11));
  b.List(IDC_CFG_12A, live && f.flag12a ? 0 : 1, known(kFlags12));
  b.List(IDC_CFG_12B, live && f.flag12b ? 0 : 1, known(kFlags12));
  b.List(IDC_CFG_12C, live && f.flag12c ? 0 : 1, known(kFlags12));

  b.List(IDC_CFG_16_ON, live && !f.enable16 ? 1 : 0, known(kEnable16));
  const bool edit16 = known(kEnable16) && f.enable16 && known(kValue16);
  b.Spin(IDC_CFG_16_SPIN, live ? std::clamp(f.value16, kSpinMin, kSpinMax) : 5, edit16);
  // The value as the frame sent it, also outside the spin box's range.
  b.Edit(IDC_CFG_16_TEXT, live ? std::to_wstring(f.value16) : L"5", edit16);

  b.Slider(IDC_CFG_17A, live ? f.level17a : kSliderMin, known(kLevel17a));
  b.Slider(IDC_CFG_17B, live ? f.level17b : kSliderMin, known(kLevel17b));
  b.HiddenList(IDC_CFG_17C, live ? f.level17c - 1 : 0, known(kLevel17c));
  b.HiddenList(IDC_CFG_17D, live ? f.level17d - 1 : 0, known(kLevel17d));
  b.HiddenLabel(IDC_CFG_17C_LABEL);
  b.HiddenLabel(IDC_CFG_17D_LABEL);

  b.List(IDC_CFG_21_ON, live && !f.enable21 ? 1 : 0, known(kEnable21));
  const bool on21 = known(kEnable21) && f.enable21;
  b.List(IDC_CFG_21_A, live ? IndexIn(kTableA21, f.valueA21) : 4, on21 && known(kValueA21));
  b.List(IDC_CFG_21_B, live ? IndexIn(kTableB21, f.valueB21) : 3, on21 && known(kValueB21));

  b.List(IDC_CFG_15_ON, live && !f.enable15 ? 1 : 0, known(kEnable15));
  const bool on15 = known(kEnable15) && f.enable15;
  b.List(IDC_CFG_15_TIME, live ? f.time15 / kTimeStep15 - 1 : 5, on15 && known(kTime15));
  b.List(IDC_CFG_15_LEVEL, live ? f.level15 - 1 : 4, on15 && known(kLevel15));

  b.List(IDC_CFG_14_ON, live && !f.enable14 ? 1 : 0, known(kEnable14));
  const bool on14 = known(kEnable14) && f.enable14;
  b.List(IDC_CFG_14_TIME, live ? f.time14 / kTimeStep14 - 1 : 4, on14 && known(kTime14));
  b.List(IDC_CFG_14_LEVEL, live ? f.level14 - 1 : 4, on14 && known(kLevel14));

  // Default stays the way back from a greyed page; Apply writes only what a complete read showed.
  b.Button(IDC_CFG_DEFAULT, true);
  b.Button(IDC_CFG_APPLY, live);
  return b.view;
}

}  // namespace tactra::console
