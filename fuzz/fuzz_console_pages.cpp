// The console's three frame pages behind one scripted frame: the input chooses the page actions
// (tab changes with their refresh, Apply, Default, the user's list, slider, spin and radio
// changes, the calibration buttons, the frame going away, the window handling its queue) and,
// for every request a page sends, the frame's replies to it, mostly well framed reports of IDs 6
// and 7 on which the pages act. Replies reach the pages as the main window routes them.
//
// After every step: every control shows a position within its control; every report the pages
// sent is framed for its channel and writes only values the frame accepts, or one the frame
// itself sent; the window's queue holds no more than the replies since it last ran asked of it;
// messages come only as often as the actions and the tasks run can show them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "console/calibration_file.h"
#include "console/calibration_page.h"
#include "console/config_page.h"
#include "console/console_model.h"
#include "console/info_page.h"
#include "fuzz/fuzz_input.h"
#include "resources/console_ids.h"
#include "tests/fakes/fake_link_port.h"
#include "tests/fakes/manual_window_queue.h"
#include "tests/fakes/recording_messages.h"

using tactra::fuzz::Check;
using tactra::fuzz::Input;
using namespace tactra;
using namespace tactra::console;
using test::Bytes;

namespace {

constexpr std::size_t kMaxActions = 200;
// The pages post at most one task per reply; more than this many replies per request would
// only slow the run down.
constexpr uint8_t kMaxRepliesPerRequest = 3;
// The most messages one page action shows itself, without a frame: one for the refresh of the
// tab it shows first, one for each of the two steps of Default or the calibration Apply.
constexpr std::size_t kMaxMessagesPerAction = 3;

// The payload lengths the pages take, so that the frame's replies often have one.
constexpr uint8_t kPayloadLengths[] = {0, 1, 2, 3, 4, 5, 6, 9, 41, 43, 57};

struct ScriptedDialogs : FileDialogs {
  Input& in;
  explicit ScriptedDialogs(Input& input) : in(input) {}
  std::optional<std::wstring> Choose() {
    if (in.Byte() % 4 == 0) return std::nullopt;
    return L"record.txt";
  }
  std::optional<std::wstring> ChooseSavePath() override { return Choose(); }
  std::optional<std::wstring> ChooseOpenPath() override { return Choose(); }
};

struct ScriptedFiles : FileAccess {
  Input& in;
  std::vector<std::string> written;
  std::optional<std::string> served;  // the content of the last successful read
  explicit ScriptedFiles(Input& input) : in(input) {}
  bool WriteReplacing(const std::wstring&, const std::string& content) override {
    written.push_back(content);
    return in.Byte() % 8 != 0;
  }
  bool Read(const std::wstring&, std::size_t limit, std::string& content) override {
    served.reset();
    const uint8_t shape = in.Byte();
    std::string file;
    if (shape % 4 == 0) {
      // Any bytes, of any length.
      const std::vector<uint8_t> raw = in.Take(in.Byte());
      file.assign(raw.begin(), raw.end());
    } else {
      // A record's file, now and then with one byte changed.
      proto::CalibrationRecord r;
      r.value1 = in.Byte();
      r.value2 = in.Byte();
      for (bool& flag : r.flags) flag = in.Bit();
      for (int k = 0; k < proto::kRecordPoints; ++k) {
        r.x[k] = in.Le16();
        r.y[k] = in.Le16();
      }
      file = EncodeCalibrationFile(r);
      if (shape % 4 == 1) file[in.Byte() % file.size()] = static_cast<char>(in.Byte());
    }
    if (file.size() > limit || shape >= 0xF8) return false;
    content = file;
    served = file;
    return true;
  }
};

struct ScriptedProcess : StartedProcess {
  Input& in;
  explicit ScriptedProcess(Input& input) : in(input) {}
  bool Running() override { return in.Bit(); }
};

struct ScriptedStarter : ProgramStarter {
  Input& in;
  explicit ScriptedStarter(Input& input) : in(input) {}
  std::unique_ptr<StartedProcess> Start(StartOutcome& outcome) override {
    outcome = static_cast<StartOutcome>(in.Byte() % 5);
    if (outcome != StartOutcome::Started || in.Byte() % 8 == 0) return nullptr;
    return std::make_unique<ScriptedProcess>(in);
  }
};

struct CountingTexts : TextMessages {
  std::size_t shown = 0;
  void Show(const std::wstring&) override { ++shown; }
};

bool IsTableValue(int v, const int* table, std::size_t count) {
  return std::find(table, table + count, v) != table + count;
}
bool IsStepTime(int t, int step) { return t >= step && t <= 10 * step && t % step == 0; }

class Console {
 public:
  explicit Console(Input& input)
      : in_(input),
        dialogs_(input),
        files_(input),
        starter_(input),
        info_(Context()),
        config_(Context(), in_.Bit() ? kOsCodeWithSetting11 : 1),
        calibration_(Context(), CalibrationSeams{dialogs_, files_, starter_, texts_}) {
    link_.responder = [this](int, const Bytes& written) { return Answer(written); };
    link_.onReply = [this](const uint8_t* report, std::size_t length) { Route(report, length); };
    calibration_.SetControlsChanged([this] { ++controlsChanged_; });
  }

  void Run() {
    for (std::size_t i = 0; i < kMaxActions && !in_.empty(); ++i) {
      const std::size_t messagesBefore = messages_.Count() + texts_.shown;
      const int ran = Act(in_.Byte());
      const std::size_t messagesAfter = messages_.Count() + texts_.shown;
      Check(messagesAfter - messagesBefore <= kMaxMessagesPerAction + static_cast<std::size_t>(ran));
      Check(controlsChanged_ <= tasksRun_);
      CheckViews();
      CheckSent();
      Check(window_.Pending() <= repliesSinceRun_);
    }
  }

 private:
  PageContext Context() {
    return PageContext{link_, messages_, [](std::chrono::milliseconds) {}, window_};
  }

  // The replies of the scripted frame to one request.
  std::vector<Bytes> Answer(const Bytes& request) {
    std::vector<Bytes> replies;
    const uint8_t count = in_.Byte() % (kMaxRepliesPerRequest + 1);
    for (uint8_t i = 0; i < count; ++i) replies.push_back(MakeReport(&request));
    return replies;
  }

  // A report of the frame: an answer to `request` (same ID, code and access byte) or another
  // of ID 6 or 7, rarely of another ID or length; its N one the pages take more often than not.
  Bytes MakeReport(const Bytes* request) {
    const uint8_t shape = in_.Byte();
    uint8_t id = shape & 0x01 ? proto::kCalibrationReportId : proto::kSettingsReportId;
    uint8_t code = 0;
    uint8_t access = in_.Byte() & 1 ? proto::kAccessRead : proto::kAccessWrite;
    if (request && (shape & 0x02)) {
      id = (*request)[0];
      code = (*request)[1];
      access = (*request)[3];
    } else {
      code = in_.Byte();
    }
    if ((shape & 0x0C) == 0x0C) id = in_.Byte();
    std::size_t length =
        id == proto::kCalibrationReportId ? proto::kCalibrationReportLength : proto::kSettingsReportLength;
    if ((shape & 0x30) == 0x30) length = 1 + in_.Byte() % proto::kMaxReportLength;
    const uint8_t n = shape & 0x40 ? in_.Byte() : kPayloadLengths[in_.Byte() % sizeof kPayloadLengths];
    Bytes report(length, 0);
    report[0] = id;
    if (length > 1) report[1] = code;
    if (length > 2) report[2] = n;
    // On the settings channel the payload starts with the access byte.
    std::size_t at = 3;
    if (id == proto::kSettingsReportId && length > at && n > 0) report[at++] = access;
    for (; at < length && at < 3u + n; ++at) report[at] = in_.Byte();
    if (at < length && !(shape & 0x80)) report[at] = 0xFF;
    return report;
  }

  // As the main window routes a reply; what each page is told is noted for the checks.
  void Route(const uint8_t* report, std::size_t length) {
    ++repliesSinceRun_;
    const int tab = RouteReply(report, length, tab_);
    if (tab == kTabInfo) info_.OnDeviceReply(report, length);
    if (tab == kTabConfig) {
      // Setting 16 on, its value as sent: written back as it came.
      if (length > 5 && report[0] == proto::kSettingsReportId && report[1] == proto::CMD_CFG_16 &&
          report[3] == proto::kAccessRead && report[4] == 1) {
        frameValues16_.insert(report[5]);
      }
      config_.OnDeviceReply(report, length);
    }
    if (tab == kTabCalibration) {
      const std::size_t n = length >= 4 ? report[2] : 0;
      if (length >= 4 && 3 + n < length && report[0] == proto::kSettingsReportId &&
          report[1] == proto::CMD_CAL_OPTION_13 && n == 2 && report[3] == proto::kAccessRead) {
        const int8_t value = static_cast<int8_t>(report[4]);
        // A valid option replaces the one held; only the value without a button is the frame's own.
        if (value >= 0 && value <= 4) optionFromFrame_ = value == 4;
      }
      if (length >= 4 && 3 + n < length && report[0] == proto::kCalibrationReportId &&
          report[1] == proto::CMD_CAL_READ_DATA && n == proto::kCalibrationRecordLength) {
        recordsRead_.push_back(proto::DecodeRecord(report + 3));
      }
      calibration_.OnDeviceReply(report, length);
    }
  }

  void SelectTab(int tab) {
    tab_ = tab;
    // Each frame page reads the frame when its tab is selected.
    if (tab == kTabInfo) info_.Refresh();
    if (tab == kTabConfig) config_.Refresh();
    if (tab == kTabCalibration) calibration_.Refresh();
  }
  // A page's own buttons and controls are used only while its tab is shown.
  void Show(int tab) {
    if (tab_ != tab) SelectTab(tab);
  }

  int ListIndex() {
    const uint8_t b = in_.Byte();
    return b < 0xF0 ? static_cast<int>(b % 13) - 1 : in_.Int32();
  }

  // One step; the number of window tasks it ran.
  int Act(uint8_t action) {
    static constexpr int kConfigLists[] = {
        IDC_CFG_11,       IDC_CFG_12A,   IDC_CFG_12B,     IDC_CFG_12C,      IDC_CFG_16_ON, IDC_CFG_17C,
        IDC_CFG_17D,      IDC_CFG_21_ON, IDC_CFG_21_A,    IDC_CFG_21_B,     IDC_CFG_15_ON, IDC_CFG_15_TIME,
        IDC_CFG_15_LEVEL, IDC_CFG_14_ON, IDC_CFG_14_TIME, IDC_CFG_14_LEVEL, IDC_CFG_17A,   IDC_CFG_16_SPIN};
    switch (action % 18) {
      case 0:
        SelectTab(in_.Byte() % kTabCount);
        break;
      case 1:
        SelectTab(tab_);
        break;
      case 2:
        Show(kTabConfig);
        config_.Apply();
        break;
      case 3:
        Show(kTabConfig);
        config_.Default();
        break;
      case 4: {
        Show(kTabConfig);
        const uint8_t pick = in_.Byte();
        const int id = pick < 0xF0 ? kConfigLists[pick % (sizeof kConfigLists / sizeof kConfigLists[0])]
                                   : static_cast<int>(in_.Le16());
        config_.OnListSelect(id, ListIndex());
        break;
      }
      case 5: {
        Show(kTabConfig);
        const int id = in_.Bit() ? IDC_CFG_17A : IDC_CFG_17B;
        config_.OnSlider(in_.Byte() < 0xF8 ? id : IDC_CFG_17C, ListIndex());
        break;
      }
      case 6: {
        Show(kTabConfig);
        const bool small = in_.Byte() < 0xF0;
        const int position = small ? static_cast<int>(in_.Byte() % 24) - 2 : in_.Int32();
        const int delta = small ? static_cast<int>(in_.Byte() % 9) - 4 : in_.Int32();
        const int value = config_.OnSpinDelta(position, delta);
        // The spin box changes value16 only within its range; otherwise it stays the frame's.
        Check((value >= kSpinMin && value <= kSpinMax) || frameValues16_.count(static_cast<uint8_t>(value)));
        break;
      }
      case 7: {
        Show(kTabCalibration);
        const uint8_t b = in_.Byte();
        calibration_.OnOptionClicked(b % kOptionButtons,
                                     {(b & 0x10) != 0, (b & 0x20) != 0, (b & 0x40) != 0, (b & 0x80) != 0});
        optionFromFrame_ = false;
        break;
      }
      case 8: {
        Show(kTabCalibration);
        const uint8_t b = in_.Byte();
        calibration_.OnModeClicked(proto::kModeFourPoint + b % 3,
                                   {(b & 0x10) != 0, (b & 0x20) != 0, (b & 0x40) != 0});
        break;
      }
      case 9:
        Show(kTabCalibration);
        calibration_.Apply();
        break;
      case 10:
        Show(kTabCalibration);
        calibration_.RestoreFactory();
        break;
      case 11:
        Show(kTabCalibration);
        calibration_.StartCalibrationProgram();
        break;
      case 12:
        Show(kTabCalibration);
        Export();
        break;
      case 13:
        Show(kTabCalibration);
        Import();
        break;
      case 14:
        // The frame went away: the main window tells every page.
        link_.state = kLinkNone;
        info_.Forget();
        config_.Forget();
        calibration_.Forget();
        frameValues16_.clear();
        optionFromFrame_ = false;
        break;
      case 15:
        link_.state = in_.Byte() % 3;
        break;
      case 16: {
        // A report after its request's wait, or one no request asked for.
        const Bytes report = MakeReport(nullptr);
        Route(report.data(), report.size());
        break;
      }
      default: {
        // The window handles its messages again.
        const int ran = window_.RunAll();
        tasksRun_ += static_cast<std::size_t>(ran);
        repliesSinceRun_ = 0;
        return ran;
      }
    }
    return 0;
  }

  void Export() {
    const std::size_t writes = files_.written.size();
    recordsRead_.clear();
    calibration_.Export();
    // The file written is a whole record the frame sent within the export's wait.
    Check(files_.written.size() <= writes + 1);
    if (files_.written.size() == writes + 1) {
      const std::string& file = files_.written.back();
      Check(file.size() == kCalibrationFileLength);
      proto::CalibrationRecord record;
      Check(DecodeCalibrationFile(file, record));
      Check(std::find(recordsRead_.begin(), recordsRead_.end(), record) != recordsRead_.end());
    }
  }

  void Import() {
    const std::size_t sent = link_.Sent().size();
    files_.served.reset();
    calibration_.Import();
    // Only a file that reads as a record the frame can have reaches it, as that record.
    const std::vector<test::SentReport> after = link_.Sent();
    Check(after.size() <= sent + 1);
    proto::CalibrationRecord record;
    const bool readable =
        files_.served && DecodeCalibrationFile(*files_.served, record) && !RecordRefusal(record);
    if (after.size() == sent + 1) {
      const Bytes& r = after.back().bytes;
      Check(readable);
      Check(r[1] == proto::CMD_CAL_WRITE_DATA && r[2] == proto::kCalibrationRecordLength);
      Check(proto::DecodeRecord(&r[3]) == record);
    } else {
      Check(!readable || link_.state.load() == kLinkNone);
    }
  }

  void CheckViews() {
    const ConfigView config = config_.View();
    std::set<int> ids;
    for (const ControlView& c : config.controls) {
      Check(c.id != 0 && ids.insert(c.id).second);  // every control once
      int lo = 0;
      int hi = 0;
      switch (c.id) {
        case IDC_CFG_11:
        case IDC_CFG_12A:
        case IDC_CFG_12B:
        case IDC_CFG_12C:
        case IDC_CFG_16_ON:
        case IDC_CFG_21_ON:
        case IDC_CFG_15_ON:
        case IDC_CFG_14_ON:
          hi = 1;
          break;
        case IDC_CFG_17C:
        case IDC_CFG_17D:
        case IDC_CFG_15_TIME:
        case IDC_CFG_15_LEVEL:
        case IDC_CFG_14_TIME:
        case IDC_CFG_14_LEVEL:
          hi = 9;
          break;
        case IDC_CFG_21_A:
          hi = static_cast<int>(kTableA21.size()) - 1;
          break;
        case IDC_CFG_21_B:
          hi = static_cast<int>(kTableB21.size()) - 1;
          break;
        case IDC_CFG_17A:
        case IDC_CFG_17B:
          lo = kSliderMin;
          hi = kSliderMax;
          break;
        case IDC_CFG_16_SPIN:
          lo = kSpinMin;
          hi = kSpinMax;
          break;
        default:
          break;  // edit box, labels and buttons have no position
      }
      Check(c.position >= lo && c.position <= hi);
    }
    Check(ids.size() == kConfigControlCount);

    const CalibrationView cal = calibration_.View();
    Check(cal.checkedOption >= -1 && cal.checkedOption < kOptionButtons);
    Check(cal.checkedMode == 0 || proto::IsValidMode(cal.checkedMode));
    Check(cal.illustration == 0 || (cal.illustration >= IDB_OPTION_0 && cal.illustration <= IDB_OPTION_3));

    // The frame's texts are at most as long as their replies hold; the numbers signed bytes.
    const InfoView info = info_.View();
    for (std::size_t i = 0; i < 3; ++i) Check(info.texts[i].size() <= 8);
    Check(info.texts[3].size() <= 56);
    for (const std::wstring* number : {&info.value01, &info.countA, &info.countB}) {
      wchar_t* end = nullptr;
      const long v = std::wcstol(number->c_str(), &end, 10);
      Check(!number->empty() && *end == L'\0' && v >= -128 && v <= 127);
    }
  }

  // Every report sent since the last check: framed for its channel, each written value one
  // the frame accepts or one it sent itself.
  void CheckSent() {
    const std::vector<test::SentReport> sent = link_.Sent();
    for (std::size_t i = checkedSent_; i < sent.size(); ++i) CheckReport(sent[i].channel, sent[i].bytes);
    checkedSent_ = sent.size();
  }

  void CheckReport(int channel, const Bytes& r) {
    const bool settings = channel == proto::kSettingsChannel;
    Check(settings || channel == proto::kCalibrationChannel);
    Check(r.size() == (settings ? proto::kSettingsReportLength : proto::kCalibrationReportLength));
    Check(r[0] == (settings ? proto::kSettingsReportId : proto::kCalibrationReportId));
    const std::size_t n = r[2];
    Check(3 + n < r.size() && r[3 + n] == 0xFF);
    for (std::size_t i = 4 + n; i < r.size(); ++i) Check(r[i] == 0);
    const uint8_t code = r[1];
    const uint8_t* v = &r[4];  // the values after a settings request's access byte
    if (!settings) {
      switch (code) {
        case proto::CMD_CAL_GET_MODE:
        case proto::CMD_CAL_ACTION_09:
        case proto::CMD_CAL_READ_DATA:
          Check(n == 0);
          break;
        case proto::CMD_CAL_SET_MODE:
          Check(n == 1 && proto::IsValidMode(r[3]));
          break;
        case proto::CMD_CAL_WRITE_DATA:
          Check(n == proto::kCalibrationRecordLength);
          break;
        default:
          Check(false);
      }
      return;
    }
    Check(n >= 1);
    if (r[3] == proto::kAccessRead) {
      Check(n == 1);
      static constexpr uint8_t kReads[] = {
          proto::CMD_INFO_TEXT_F2, proto::CMD_INFO_TEXT_F3, proto::CMD_INFO_TEXT_F4, proto::CMD_INFO_TEXT_F5,
          proto::CMD_INFO_01,      proto::CMD_INFO_LISTS,   proto::CMD_CFG_11,       proto::CMD_CFG_12,
          proto::CMD_CFG_16,       proto::CMD_CFG_17,       proto::CMD_CFG_21,       proto::CMD_CFG_15,
          proto::CMD_CFG_14,       proto::CMD_CAL_OPTION_13};
      Check(std::find(std::begin(kReads), std::end(kReads), code) != std::end(kReads));
      Check(code != proto::CMD_CFG_11 || config_.osCode() == kOsCodeWithSetting11);
      return;
    }
    Check(r[3] == proto::kAccessWrite);
    const auto onOff = [](uint8_t b) { return b == 0 || b == 1; };
    const auto level = [](uint8_t b, int hi) { return b >= 1 && b <= hi; };
    switch (code) {
      case proto::CMD_CFG_11:
        Check(config_.osCode() == kOsCodeWithSetting11);
        Check(n == 2 && (v[0] == 1 || v[0] == 2));
        break;
      case proto::CMD_CFG_12:
        Check(n == 4 && onOff(v[0]) && onOff(v[1]) && onOff(v[2]));
        break;
      case proto::CMD_CFG_16:
        Check(n == 3 && onOff(v[0]));
        Check(v[1] <= kSpinMax || frameValues16_.count(v[1]) != 0);
        break;
      case proto::CMD_CFG_17:
        Check(n == 5 && level(v[0], kSliderMax) && level(v[1], kSliderMax) && level(v[2], 10) &&
              level(v[3], 10));
        break;
      case proto::CMD_CFG_21:
        Check(n == 6 && onOff(v[0]));
        Check(IsTableValue(proto::GetBE16(v + 1), kTableA21.data(), kTableA21.size()));
        Check(IsTableValue(proto::GetBE16(v + 3), kTableB21.data(), kTableB21.size()));
        break;
      case proto::CMD_CFG_15:
      case proto::CMD_CFG_14:
        Check(n == 5 && onOff(v[0]) && level(v[1], 10));
        Check(IsStepTime(proto::GetBE16(v + 2), code == proto::CMD_CFG_15 ? 500 : 100));
        break;
      case proto::CMD_CFG_ACTION_81:
        Check(n == 1);
        break;
      case proto::CMD_CAL_OPTION_13:
        // The four buttons' values, or the fifth as the frame told it and nobody changed it.
        Check(n == 2 && (v[0] < kOptionButtons || (v[0] == 4 && optionFromFrame_)));
        break;
      default:
        Check(false);
    }
  }

  Input& in_;
  test::RecordingMessages messages_;
  test::ManualWindowQueue window_;
  test::FakeLinkPort link_;
  ScriptedDialogs dialogs_;
  ScriptedFiles files_;
  ScriptedStarter starter_;
  CountingTexts texts_;
  CInfoDlgModel info_;
  CConfigDlgModel config_;
  CCalibrationDlgModel calibration_;

  int tab_ = kTabInfo;
  std::size_t checkedSent_ = 0;
  std::size_t repliesSinceRun_ = 0;
  std::size_t tasksRun_ = 0;
  std::size_t controlsChanged_ = 0;
  std::set<uint8_t> frameValues16_;  // setting 16's values the frame sent since it was bound
  bool optionFromFrame_ = false;     // the option held is the frame's value without a button
  std::vector<proto::CalibrationRecord> recordsRead_;  // records the frame sent during an export
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > 2047) return 0;
  Input in(data, size);
  Console console(in);
  console.Run();
  return 0;
}
