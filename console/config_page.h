// The configuration page without its window: the frame's adjustable settings, read in their
// paced order each time the page is shown, changed by the page's lists, sliders and spin box,
// written back in the same order, and the frame's own defaults on request. What each control
// shows is a value the dialog only moves to its controls.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "common/system_facts.h"
#include "console/console_model.h"
#include "console/page_context.h"

namespace tactra::console {

// This page's operating-system code: 6 only on NT 6.1, the one system on which the frame's first
// setting is read and written; 1 for every later NT. The other codes follow the system classes.
constexpr int kOsCodeWithSetting11 = 6;
int ConfigOsCode(const VersionRecord& version);

// The values of the second setting of CMD_CFG_21 (list index i gives table[i]) and of the first.
constexpr std::array<int, 10> kTableA21{3, 5, 10, 20, 30, 45, 60, 90, 120, 180};
constexpr std::array<int, 8> kTableB21{100, 200, 300, 500, 750, 1000, 1500, 2000};

// The settings' reports in the order the page reads and writes them.
constexpr std::array<uint8_t, 7> kSettingOrder{proto::CMD_CFG_11, proto::CMD_CFG_12, proto::CMD_CFG_16,
                                               proto::CMD_CFG_17, proto::CMD_CFG_21, proto::CMD_CFG_15,
                                               proto::CMD_CFG_14};

// The spin box edits value16 within these bounds.
constexpr int kSpinMin = 0;
constexpr int kSpinMax = 20;
// The two sliders' range.
constexpr int kSliderMin = 1;
constexpr int kSliderMax = 5;

// The page's copy of the frame's settings.
struct ConfigFields {
  bool value11 = true;
  bool flag12a = false;
  bool flag12b = false;
  bool flag12c = false;
  bool enable16 = true;
  int value16 = 0;
  int level17a = 5;
  int level17b = 5;
  int level17c = 4;
  int level17d = 4;
  bool enable21 = true;
  int valueA21 = 30;
  int valueB21 = 500;
  bool enable15 = true;
  int level15 = 5;
  int time15 = 3000;
  bool enable14 = true;
  int level14 = 5;
  int time14 = 500;
};

enum class ControlKind { List, Slider, Spin, Edit, Label, Button };

// What one control shows: `position` is a list's index or a slider's or spin box's position;
// `text` is the edit box's.
struct ControlView {
  int id = 0;
  ControlKind kind = ControlKind::List;
  int position = 0;
  bool enabled = false;
  bool visible = true;
  std::wstring text;
};

// Every control of the page; the spin box comes before its edit box, whose text wins.
constexpr std::size_t kConfigControlCount = 24;
struct ConfigView {
  std::array<ControlView, kConfigControlCount> controls;
  // The control `id`; an empty view for an id the page lacks.
  const ControlView& operator[](int id) const;
};

class CConfigDlgModel : public ReplySink {
 public:
  CConfigDlgModel(PageContext context, int osCode);

  // Window's thread, each time the tab is selected: the paced reads (or message 1083 without a
  // frame). The page then shows what the frame told, or greys out when the last read went
  // unanswered.
  void Refresh();
  // Window's thread, the Apply button: the settings written in the paced order. Only after a
  // complete read, and only those whose values the frame told (in this refresh or an earlier
  // one since it was bound) or the user set; the others are not written, their pauses stay.
  void Apply();
  // Window's thread, the Default button: the frame restores its defaults, then all is read.
  void Default();
  // Window's thread, for a caller that changes single settings (the fleet tool): the read of the
  // setting `code` alone, what the page knew of it forgotten first, and its write alone, when the
  // page holds it whole; with `as`, the values of those fields (an earlier read's, to put the
  // setting back). Each keeps its own pause; neither changes what the page shows.
  void RefreshSetting(uint8_t code);
  void ApplySetting(uint8_t code, const std::optional<ConfigFields>& as = std::nullopt);

  // Window's thread: the user's changes. An index or position outside its control's bounds, or
  // a change to a control the page shows greyed, leaves the fields as they are.
  void OnListSelect(int id, int index);
  void OnSlider(int id, int position);
  // The spin box's notification: the new value16, its position plus delta held to 0..20.
  int OnSpinDelta(int position, int delta);

  // Reader worker.
  void OnDeviceReply(const uint8_t* report, std::size_t length) override;
  void Forget() override;

  ConfigView View() const;
  ConfigFields Fields() const;
  bool readComplete() const;
  int osCode() const { return osCode_; }

 private:
  // What the frame told in the refresh under way or last done, value by value; the user's
  // changes count as told.
  enum Told {
    kValue11,
    kFlags12,
    kEnable16,
    kValue16,
    kLevel17a,
    kLevel17b,
    kLevel17c,
    kLevel17d,
    kEnable21,
    kValueA21,
    kValueB21,
    kEnable15,  // each on/off value is followed by its level and its time
    kLevel15,
    kTime15,
    kEnable14,
    kLevel14,
    kTime14,
    kToldCount
  };
  enum class Shown { Greyed, Values };

  // `held`: the values the page holds; a write goes out only for a setting it holds whole.
  // `only`: the one setting sent, with its pause alone; 0 sends all of them.
  void SendAll(uint8_t access, const ConfigFields& fields, const std::bitset<kToldCount>& held,
               uint8_t only = 0);
  void Tell(Told told);
  // `values`: the reply's bytes after its access byte.
  void TakeRead(uint8_t code, const uint8_t* values);
  ConfigView ViewLocked() const;
  bool has11() const { return osCode_ == kOsCodeWithSetting11; }

  PageContext context_;
  const int osCode_;
  mutable std::mutex mutex_;
  ConfigFields fields_;
  std::bitset<kToldCount> told_;
  std::bitset<kToldCount> held_;  // told since the frame was bound, or set by the user
  bool readComplete_ = false;
  Shown shown_ = Shown::Greyed;
};

}  // namespace tactra::console
