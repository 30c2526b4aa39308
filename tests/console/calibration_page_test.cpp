// The calibration page over a scripted frame and fake dialogs, files and process starts: the
// paced sequences, every reply's handling, the radio fall-backs, the start outcomes, export and
// import, and the illustration's fit.
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "console/calibration_file.h"
#include "console/calibration_page.h"
#include "resources/console_ids.h"
#include "tests/fakes/fake_link_port.h"
#include "tests/fakes/manual_window_queue.h"
#include "tests/fakes/recording_messages.h"

namespace tactra::console {
namespace {

using test::Bytes;

Bytes CalReply(uint8_t code, const Bytes& payload) {
  return test::MakeReplyReport(proto::kCalibrationReportId, code, payload, proto::kCalibrationReportLength);
}
Bytes OptionReply(uint8_t access, uint8_t value) {
  return test::MakeReplyReport(proto::kSettingsReportId, proto::CMD_CAL_OPTION_13, {access, value},
                               proto::kSettingsReportLength);
}
// ID, code, N, payload, 0xFF, zeroes to the channel's output length.
Bytes Request(int channel, const Bytes& head) {
  Bytes r(channel == proto::kCalibrationChannel ? 48 : 64, 0);
  std::copy(head.begin(), head.end(), r.begin());
  r[head.size()] = 0xFF;
  return r;
}

struct FakeDialogs : FileDialogs {
  std::deque<std::optional<std::wstring>> answers;  // nothing left: Cancel
  int opened = 0;
  std::optional<std::wstring> Next() {
    ++opened;
    if (answers.empty()) return std::nullopt;
    auto a = answers.front();
    answers.pop_front();
    return a;
  }
  std::optional<std::wstring> ChooseSavePath() override { return Next(); }
  std::optional<std::wstring> ChooseOpenPath() override { return Next(); }
};

struct MemoryFiles : FileAccess {
  std::map<std::wstring, std::string> files;
  bool failWrites = false;
  std::size_t lastLimit = 0;
  bool WriteReplacing(const std::wstring& path, const std::string& content) override {
    if (failWrites) return false;
    files[path] = content;
    return true;
  }
  bool Read(const std::wstring& path, std::size_t limit, std::string& content) override {
    lastLimit = limit;
    auto it = files.find(path);
    if (it == files.end() || it->second.size() > limit) return false;
    content = it->second;
    return true;
  }
};

struct FakeProcess : StartedProcess {
  explicit FakeProcess(std::shared_ptr<bool> running) : running_(std::move(running)) {}
  bool Running() override { return *running_; }
  std::shared_ptr<bool> running_;
};

struct FakeStarter : ProgramStarter {
  StartOutcome outcome = StartOutcome::Started;
  bool giveProcess = true;
  int starts = 0;
  std::shared_ptr<bool> running = std::make_shared<bool>(true);
  std::unique_ptr<StartedProcess> Start(StartOutcome& result) override {
    ++starts;
    result = outcome;
    if (outcome != StartOutcome::Started || !giveProcess) return nullptr;
    *running = true;
    return std::make_unique<FakeProcess>(running);
  }
};

struct RecordingTexts : TextMessages {
  std::vector<std::wstring> shown;
  void Show(const std::wstring& text) override { shown.push_back(text); }
};

struct CalibrationRig {
  test::EventLog log;
  test::FakeLinkPort link;
  test::RecordingMessages messages;
  test::ManualWindowQueue window;
  FakeDialogs dialogs;
  MemoryFiles files;
  FakeStarter starter;
  RecordingTexts texts;
  CCalibrationDlgModel page{
      PageContext{link, messages,
                  [this](std::chrono::milliseconds d) { log.Add("pause " + std::to_string(d.count())); },
                  window},
      CalibrationSeams{dialogs, files, starter, texts}};
  // The frame: answers by (report ID, code); a missing entry is not answered.
  std::map<std::pair<uint8_t, uint8_t>, Bytes> answers;
  int controlsChanged = 0;

  CalibrationRig() {
    link.log = &log;
    link.onReply = [this](const uint8_t* r, std::size_t n) { page.OnDeviceReply(r, n); };
    link.responder = [this](int, const Bytes& written) {
      auto it = answers.find({written[0], written[1]});
      return it == answers.end() ? std::vector<Bytes>{} : std::vector<Bytes>{it->second};
    };
    page.SetControlsChanged([this] {
      ++controlsChanged;
      log.Add("controls");
    });
  }
  // A frame with option `option` and mode `mode`, read once.
  void Learn(uint8_t option, uint8_t mode) {
    answers[{7, 0x13}] = OptionReply(1, option);
    answers[{6, 0x01}] = CalReply(0x01, {mode});
    page.Refresh();
    window.RunAll();
  }
  std::vector<Bytes> SentBytes() const {
    std::vector<Bytes> out;
    for (const auto& s : link.Sent()) out.push_back(s.bytes);
    return out;
  }
};

proto::CalibrationRecord SomeRecord() {
  proto::CalibrationRecord r;
  r.value1 = 4;
  r.value2 = 1;
  r.flags = {true, false, true};
  for (int k = 0; k < proto::kRecordPoints; ++k) {
    r.x[k] = static_cast<uint16_t>(127 + 400 * k);
    r.y[k] = static_cast<uint16_t>(0x8000 + k);  // six-character fields
  }
  return r;
}

TEST(CalibrationPage, RefreshReadsOptionThenModePacedAndShowsThem) {
  CalibrationRig rig;
  rig.Learn(2, 4);
  EXPECT_EQ(rig.log.Entries(), (std::vector<std::string>{"send 19", "pause 20", "send 1", "pause 20"}));
  EXPECT_EQ(rig.SentBytes(), (std::vector<Bytes>{Request(5, {7, 0x13, 1, 1}), Request(4, {6, 0x01, 0})}));
  const CalibrationView view = rig.page.View();
  EXPECT_EQ(view.checkedOption, 2);
  EXPECT_EQ(view.checkedMode, 4);
  EXPECT_TRUE(view.optionsEnabled && view.modesEnabled && view.actionsEnabled);
  EXPECT_EQ(view.illustration, IDB_OPTION_2);
  EXPECT_EQ(rig.messages.Count(), 0u);
}

TEST(CalibrationPage, WhatTheFrameDoesNotTellIsGreyedOutUntilItDoes) {
  CalibrationRig rig;
  // Option 4 has no button: none is checked and nothing is drawn, yet it is known.
  rig.Learn(4, 3);
  CalibrationView view = rig.page.View();
  EXPECT_EQ(view.checkedOption, -1);
  EXPECT_EQ(view.illustration, 0);
  EXPECT_TRUE(view.actionsEnabled);

  // The frame stops answering: what was learnt stays, nothing is greyed out.
  rig.answers.clear();
  rig.page.Refresh();
  EXPECT_TRUE(rig.page.View().actionsEnabled);

  // A mode the frame cannot be in: no message, the mode buttons and the actions go grey.
  rig.answers[{6, 0x01}] = CalReply(0x01, {1});
  rig.page.Refresh();
  rig.window.RunAll();
  view = rig.page.View();
  EXPECT_FALSE(rig.page.Fields().modeKnown);
  EXPECT_TRUE(view.optionsEnabled);
  EXPECT_FALSE(view.modesEnabled);
  EXPECT_FALSE(view.actionsEnabled);
  EXPECT_EQ(view.checkedMode, 3);
  EXPECT_EQ(rig.messages.Count(), 0u);

  // Answered again: usable again, showing what the frame said.
  rig.Learn(1, 4);
  view = rig.page.View();
  EXPECT_TRUE(view.modesEnabled);
  EXPECT_TRUE(view.actionsEnabled);
  EXPECT_EQ(view.checkedMode, 4);
  EXPECT_EQ(view.checkedOption, 1);
}

TEST(CalibrationPage, ReplyHandling) {
  struct Case {
    const char* what;
    Bytes reply;
    bool optionKnown;
    int optionValue;
    bool modeKnown;
    int calMode;
    int confirmedMode;
    int checkedMode;
    std::vector<std::pair<int, int>> messages;  // shown once the window runs its tasks
  };
  const std::vector<std::pair<int, int>> none;
  const std::vector<std::pair<int, int>> refused{{IDS_REFUSED, IDS_CAPTION}};
  // Before each reply: option 2 and mode 4 learnt, then mode 3 clicked without Apply.
  const Case cases[] = {
      {"option 4", OptionReply(1, 4), true, 4, true, 3, 4, 3, none},
      {"option 0", OptionReply(1, 0), true, 0, true, 3, 4, 3, none},
      {"option 5", OptionReply(1, 5), false, 2, true, 3, 4, 3, refused},
      {"option -1", OptionReply(1, 0xFF), false, 2, true, 3, 4, 3, refused},
      {"option write refused", OptionReply(2, 0), true, 2, true, 3, 4, 3, refused},
      {"option write taken", OptionReply(2, 1), true, 2, true, 3, 4, 3, none},
      {"option reply of 3 bytes", test::MakeReplyReport(7, 0x13, {1, 3, 0}, 64), true, 2, true, 3, 4, 3,
       none},
      {"another setting", test::MakeReplyReport(7, 0x12, {1, 0}, 64), true, 2, true, 3, 4, 3, none},
      // The buttons follow the frame's mode: Apply sends what they show.
      {"mode 2", CalReply(0x01, {2}), true, 2, true, 2, 2, 2, none},
      {"mode 5", CalReply(0x01, {5}), true, 2, false, 3, 4, 3, none},
      {"mode of 2 bytes", CalReply(0x01, {2, 2}), true, 2, true, 3, 4, 3, none},
      {"mode taken", CalReply(0x02, {1}), true, 2, true, 3, 3, 3, none},
      {"mode refused", CalReply(0x02, {0}), true, 2, true, 4, 4, 4, refused},
      {"mode status 2", CalReply(0x02, {2}), true, 2, true, 4, 4, 4, refused},
      {"action", CalReply(0x09, {1}), true, 2, true, 3, 4, 3, none},
      {"begin", CalReply(0x03, {1}), true, 2, true, 3, 4, 3, none},
      {"record unasked", CalReply(0x07, Bytes(41, 1)), true, 2, true, 3, 4, 3, none},
      {"report 8", test::MakeReplyReport(8, 0x01, {2}, 48), true, 2, true, 3, 4, 3, none},
  };
  for (const Case& c : cases) {
    CalibrationRig rig;
    rig.Learn(2, 4);
    rig.page.OnModeClicked(3, {false, true, false});
    rig.page.OnDeviceReply(c.reply.data(), c.reply.size());
    EXPECT_EQ(rig.messages.Count(), 0u) << c.what << ": a message on the reader worker";
    rig.window.RunAll();
    EXPECT_EQ(rig.page.Fields().optionKnown, c.optionKnown) << c.what;
    EXPECT_EQ(rig.page.Fields().optionValue, c.optionValue) << c.what;
    EXPECT_EQ(rig.page.Fields().modeKnown, c.modeKnown) << c.what;
    EXPECT_EQ(rig.page.Fields().calMode, c.calMode) << c.what;
    EXPECT_EQ(rig.page.Fields().confirmedMode, c.confirmedMode) << c.what;
    EXPECT_EQ(rig.page.View().checkedMode, c.checkedMode) << c.what;
    EXPECT_EQ(rig.messages.Shown(), c.messages) << c.what;
  }
}

// A reply outside a refresh (one that came after its wait) moves the radio buttons with the
// fields, so Apply sends what they show.
TEST(CalibrationPage, AReplyAfterItsWaitMovesTheButtonsApplySends) {
  CalibrationRig rig;
  rig.Learn(2, 4);
  rig.page.OnOptionClicked(1, {false, true, false, false});
  rig.page.OnModeClicked(3, {false, true, false});
  const Bytes option = OptionReply(1, 0);
  const Bytes mode = CalReply(0x01, {2});
  rig.page.OnDeviceReply(option.data(), option.size());
  rig.page.OnDeviceReply(mode.data(), mode.size());
  rig.window.RunAll();
  EXPECT_EQ(rig.controlsChanged, 2);
  EXPECT_EQ(rig.page.View().checkedOption, 0);
  EXPECT_EQ(rig.page.View().checkedMode, 2);
  rig.answers.clear();
  const std::size_t before = rig.link.Sent().size();
  rig.page.Apply();
  const std::vector<Bytes> sent = rig.SentBytes();
  EXPECT_EQ(std::vector<Bytes>(sent.begin() + static_cast<long>(before), sent.end()),
            (std::vector<Bytes>{Request(5, {7, 0x13, 2, 2, 0}), Request(4, {6, 0x02, 1, 2})}));
}

// After a removal the page holds nothing of the old frame: greyed, nothing checked, and the
// paths the user chose stay.
TEST(CalibrationPage, ARemovedFrameIsForgotten) {
  CalibrationRig rig;
  rig.dialogs.answers = {std::wstring(L"C:\\a.ini")};
  rig.answers[{6, 0x07}] = CalReply(0x07, Bytes(41, 0));
  rig.Learn(3, 4);
  rig.page.Export();
  rig.page.Forget();
  const CalibrationFields f = rig.page.Fields();
  EXPECT_FALSE(f.optionKnown);
  EXPECT_FALSE(f.modeKnown);
  EXPECT_EQ(f.exportPath, L"C:\\a.ini");
  const CalibrationView v = rig.page.View();
  EXPECT_EQ(v.checkedOption, -1);
  EXPECT_EQ(v.checkedMode, 0);
  EXPECT_FALSE(v.optionsEnabled || v.modesEnabled || v.actionsEnabled);
}

TEST(CalibrationPage, ApplySendsOptionThenModePacedAndARefusalPutsTheButtonsBackFirst) {
  CalibrationRig rig;
  rig.Learn(4, 4);
  rig.page.OnModeClicked(2, {true, false, false});
  rig.answers[{7, 0x13}] = OptionReply(2, 1);
  rig.answers[{6, 0x02}] = CalReply(0x02, {0});
  const std::size_t before = rig.link.Sent().size();
  rig.page.Apply();
  const std::vector<Bytes> sent = rig.SentBytes();
  // Option 4, which has no button, goes back as it came.
  EXPECT_EQ(std::vector<Bytes>(sent.begin() + static_cast<long>(before), sent.end()),
            (std::vector<Bytes>{Request(5, {7, 0x13, 2, 2, 4}), Request(4, {6, 0x02, 1, 2})}));
  EXPECT_EQ(rig.page.View().checkedMode, 4);
  rig.window.RunAll();
  const auto entries = rig.log.Entries();
  EXPECT_EQ(std::vector<std::string>(entries.end() - 5, entries.end()),
            (std::vector<std::string>{"send 19", "pause 30", "send 2", "pause 30", "controls"}));
  EXPECT_EQ(rig.messages.Shown(), (std::vector<std::pair<int, int>>{{IDS_REFUSED, IDS_CAPTION}}));
}

TEST(CalibrationPage, WithoutAFrameEachActionSaysSoAndSendsNothing) {
  CalibrationRig rig;
  rig.link.state = kLinkNone;
  rig.dialogs.answers = {std::wstring(L"C:\\a.ini"), std::wstring(L"C:\\a.ini")};
  rig.page.Refresh();
  rig.page.Apply();
  rig.page.RestoreFactory();
  rig.page.StartCalibrationProgram();
  rig.page.Export();
  rig.page.Import();
  rig.window.RunAll();
  const std::vector<std::pair<int, int>> noFrame(7, {IDS_NO_FRAME, IDS_CAPTION});
  EXPECT_EQ(rig.messages.Shown(), noFrame);
  EXPECT_EQ(rig.log.Entries(), (std::vector<std::string>{"pause 30", "pause 30"}));
  EXPECT_EQ(rig.dialogs.opened, 0);
  EXPECT_EQ(rig.starter.starts, 0);
  const CalibrationView view = rig.page.View();
  EXPECT_FALSE(view.optionsEnabled || view.modesEnabled || view.actionsEnabled);
}

TEST(CalibrationPage, FactoryButtonSendsTheActionThenReadsAgain) {
  CalibrationRig rig;
  rig.Learn(2, 4);
  rig.answers[{6, 0x01}] = CalReply(0x01, {3});
  rig.page.RestoreFactory();
  const auto entries = rig.log.Entries();
  EXPECT_EQ(std::vector<std::string>(entries.begin() + 4, entries.end()),
            (std::vector<std::string>{"send 9", "pause 100", "send 19", "pause 20", "send 1", "pause 20"}));
  EXPECT_EQ(rig.SentBytes()[2], Request(4, {6, 0x09, 0}));
  EXPECT_EQ(rig.page.View().checkedMode, 3);
}

TEST(RadioButtons, FallBacksOfAClickedButton) {
  struct OptionCase {
    int clicked;
    std::array<bool, 4> checked;
    int value;
  };
  const OptionCase options[] = {
      {1, {false, true, false, false}, 1},  {3, {false, false, false, true}, 3},
      {2, {true, false, false, false}, 0},  {0, {false, false, true, false}, 2},
      {0, {false, true, true, false}, 1},   {0, {false, false, false, true}, 3},
      {1, {false, false, false, false}, 3}, {3, {false, false, false, false}, 2},
      {3, {false, true, false, false}, 1},
  };
  for (const OptionCase& c : options) EXPECT_EQ(OptionAfterClick(c.clicked, c.checked), c.value) << c.clicked;

  struct ModeCase {
    int clicked;
    std::array<bool, 3> checked;  // modes 2, 3, 4
    int mode;
  };
  const ModeCase modes[] = {
      {2, {true, false, false}, 2},  {2, {false, true, false}, 3},  {2, {false, false, false}, 4},
      {3, {false, true, false}, 3},  {3, {true, false, false}, 2},  {3, {false, false, true}, 4},
      {3, {false, false, false}, 4}, {4, {false, false, true}, 4},  {4, {true, false, false}, 2},
      {4, {false, true, false}, 3},  {4, {false, false, false}, 3},
  };
  for (const ModeCase& c : modes) EXPECT_EQ(ModeAfterClick(c.clicked, c.checked), c.mode) << c.clicked;
}

TEST(CalibrationPage, StartOutcomes) {
  struct Case {
    StartOutcome outcome;
    bool process;
    int message;  // 0: none
    int state;
  };
  const Case cases[] = {
      {StartOutcome::Started, true, 0, kLinkStarted},
      {StartOutcome::Started, false, IDS_START_FAILED, kLinkBound},
      {StartOutcome::FileNotFound, false, IDS_FILE_NOT_FOUND, kLinkBound},
      {StartOutcome::PathNotFound, false, IDS_PATH_NOT_FOUND, kLinkBound},
      {StartOutcome::BadFormat, false, IDS_START_BAD_FORMAT, kLinkBound},
      {StartOutcome::Failed, false, IDS_START_FAILED, kLinkBound},
  };
  for (const Case& c : cases) {
    CalibrationRig rig;
    rig.starter.outcome = c.outcome;
    rig.starter.giveProcess = c.process;
    rig.page.StartCalibrationProgram();
    EXPECT_EQ(rig.link.state.load(), c.state) << c.message;
    std::vector<std::pair<int, int>> expected;
    if (c.message) expected.emplace_back(c.message, IDS_CAPTION);
    EXPECT_EQ(rig.messages.Shown(), expected);
    // A failed start leaves nothing that counts as running: the next click tries again.
    if (!c.process) {
      rig.page.StartCalibrationProgram();
      EXPECT_EQ(rig.starter.starts, 2) << c.message;
    }
  }

  struct ErrorCase {
    uint32_t error;
    StartOutcome outcome;
  };
  const ErrorCase errors[] = {{2, StartOutcome::FileNotFound}, {3, StartOutcome::PathNotFound},
                              {11, StartOutcome::BadFormat},   {193, StartOutcome::BadFormat},
                              {216, StartOutcome::BadFormat},  {0, StartOutcome::Failed},
                              {5, StartOutcome::Failed},       {8, StartOutcome::Failed}};
  for (const ErrorCase& e : errors) EXPECT_EQ(StartOutcomeForError(e.error), e.outcome) << e.error;
}

TEST(CalibrationPage, AlreadyStartedOnlyWhileTheProgramRuns) {
  CalibrationRig rig;
  rig.page.StartCalibrationProgram();
  rig.page.StartCalibrationProgram();
  EXPECT_EQ(rig.starter.starts, 1);
  EXPECT_EQ(rig.messages.Shown(), (std::vector<std::pair<int, int>>{{IDS_ALREADY_STARTED, IDS_CAPTION}}));
  // Unplugged and plugged in again while it runs: still running.
  rig.link.state = kLinkBound;
  rig.page.StartCalibrationProgram();
  EXPECT_EQ(rig.starter.starts, 1);
  // It ended: started again, although the link still says so.
  *rig.starter.running = false;
  rig.link.state = kLinkStarted;
  rig.page.StartCalibrationProgram();
  EXPECT_EQ(rig.starter.starts, 2);
  EXPECT_EQ(rig.messages.Count(), 2u);
}

TEST(CalibrationPage, ExportWritesTheFrameRecordToTheChosenFile) {
  CalibrationRig rig;
  rig.Learn(0, 4);
  const proto::RecordBytes record = proto::EncodeRecord(SomeRecord());
  rig.answers[{6, 0x07}] = CalReply(0x07, Bytes(record.begin(), record.end()));
  rig.files.files[L"C:\\cal.ini"] = "old";
  rig.dialogs.answers = {std::wstring(L"C:\\cal.ini")};
  rig.page.Export();
  EXPECT_EQ(rig.SentBytes().back(), Request(4, {6, 0x07, 0}));
  EXPECT_EQ(rig.files.files[L"C:\\cal.ini"], EncodeCalibrationFile(SomeRecord()));
  EXPECT_EQ(rig.page.Fields().exportPath, L"C:\\cal.ini");
  rig.window.RunAll();
  EXPECT_TRUE(rig.texts.shown.empty());
  EXPECT_EQ(rig.messages.Count(), 0u);
}

TEST(CalibrationPage, AnExportThatWritesNothingSaysSoAndKeepsTheOldFile) {
  struct Case {
    const char* what;
    int mode;            // of the page when exporting
    bool answered;       // the frame answers within the wait
    std::size_t length;  // of the answered record
    bool writeFails;
  };
  const Case cases[] = {
      {"mode 2", 2, true, 41, false},
      {"no answer", 4, false, 41, false},
      {"short record", 3, true, 40, false},
      {"write fails", 3, true, 41, true},
  };
  for (const Case& c : cases) {
    CalibrationRig rig;
    rig.Learn(0, 4);
    rig.page.OnModeClicked(c.mode, {c.mode == 2, c.mode == 3, c.mode == 4});
    if (c.answered) rig.answers[{6, 0x07}] = CalReply(0x07, Bytes(c.length, 5));
    rig.files.files[L"D:\\old.ini"] = "old";
    rig.files.failWrites = c.writeFails;
    rig.dialogs.answers = {std::wstring(L"D:\\old.ini")};
    rig.page.Export();
    rig.window.RunAll();
    EXPECT_EQ(rig.files.files[L"D:\\old.ini"], "old") << c.what;
    EXPECT_EQ(rig.texts.shown, (std::vector<std::wstring>{kSaveFailedText})) << c.what;
    EXPECT_EQ(rig.messages.Count(), 0u) << c.what;
  }
}

TEST(CalibrationPage, ARecordAfterTheWaitIsNotWritten) {
  CalibrationRig rig;
  rig.Learn(0, 4);
  rig.dialogs.answers = {std::wstring(L"C:\\late.ini")};
  rig.page.Export();
  const proto::RecordBytes record = proto::EncodeRecord(SomeRecord());
  const Bytes late = CalReply(0x07, Bytes(record.begin(), record.end()));
  rig.page.OnDeviceReply(late.data(), late.size());
  rig.window.RunAll();
  EXPECT_EQ(rig.files.files.count(L"C:\\late.ini"), 0u);
  EXPECT_EQ(rig.texts.shown, (std::vector<std::wstring>{kSaveFailedText}));
  // Nor by the next export, whose own read goes unanswered.
  rig.dialogs.answers = {std::wstring(L"C:\\next.ini")};
  rig.page.Export();
  rig.window.RunAll();
  EXPECT_EQ(rig.files.files.count(L"C:\\next.ini"), 0u);
  EXPECT_EQ(rig.texts.shown, (std::vector<std::wstring>{kSaveFailedText, kSaveFailedText}));
}

TEST(CalibrationPage, CancelInEitherDialogDoesNothing) {
  CalibrationRig rig;
  rig.Learn(0, 4);
  // An earlier export and import chose paths; Cancel now must not reuse them.
  rig.answers[{6, 0x07}] = CalReply(0x07, Bytes(41, 0));
  rig.files.files[L"C:\\in.ini"] = EncodeCalibrationFile(SomeRecord());
  rig.dialogs.answers = {std::wstring(L"C:\\out.ini"), std::wstring(L"C:\\in.ini")};
  rig.page.Export();
  rig.page.Import();
  rig.files.files.erase(L"C:\\out.ini");
  const std::size_t sent = rig.link.Sent().size();
  rig.page.Export();
  rig.page.Import();
  rig.window.RunAll();
  EXPECT_EQ(rig.dialogs.opened, 4);
  EXPECT_EQ(rig.link.Sent().size(), sent);
  EXPECT_EQ(rig.files.files.count(L"C:\\out.ini"), 0u);
  EXPECT_TRUE(rig.texts.shown.empty());
  EXPECT_EQ(rig.messages.Count(), 0u);
}

TEST(CalibrationPage, ImportSendsTheFileRecordOrRefusesTheFile) {
  CalibrationRig rig;
  rig.Learn(0, 4);
  const proto::CalibrationRecord record = SomeRecord();
  rig.files.files[L"C:\\hand.ini"] = EncodeCalibrationFile(record);
  std::string broken = EncodeCalibrationFile(record);
  broken[30] = 'x';
  rig.files.files[L"C:\\broken.ini"] = broken;
  rig.files.files[L"C:\\long.ini"] = EncodeCalibrationFile(record) + "\r\n";
  // A mode or option the frame does not know, in a file that is well formed.
  proto::CalibrationRecord mode = record, option = record;
  mode.value1 = 7;
  option.value2 = 9;
  rig.files.files[L"C:\\mode.ini"] = EncodeCalibrationFile(mode);
  rig.files.files[L"C:\\option.ini"] = EncodeCalibrationFile(option);
  rig.dialogs.answers = {std::wstring(L"C:\\hand.ini"), std::wstring(L"C:\\broken.ini"),
                         std::wstring(L"C:\\long.ini"), std::wstring(L"C:\\missing.ini"),
                         std::wstring(L"C:\\mode.ini"), std::wstring(L"C:\\option.ini")};
  const std::size_t before = rig.link.Sent().size();
  rig.page.Import();
  const proto::RecordBytes bytes = proto::EncodeRecord(record);
  Bytes head{6, 0x06, 41};
  head.insert(head.end(), bytes.begin(), bytes.end());
  ASSERT_EQ(rig.link.Sent().size(), before + 1);
  EXPECT_EQ(rig.SentBytes().back(), Request(4, head));
  EXPECT_EQ(rig.files.lastLimit, kCalibrationFileLength);
  EXPECT_EQ(rig.page.Fields().importPath, L"C:\\hand.ini");
  for (int i = 0; i < 5; ++i) rig.page.Import();
  EXPECT_EQ(rig.link.Sent().size(), before + 1);
  EXPECT_EQ(rig.texts.shown, std::vector<std::wstring>(5, kImportFailedText));
  EXPECT_EQ(rig.messages.Count(), 0u);
}

TEST(Illustration, FitsItsLongerSideAndCentresTheOther) {
  struct Case {
    int w, h;
    PixelRect area;
    std::optional<PixelRect> drawn;
  };
  const Case cases[] = {
      {400, 300, {10, 10, 210, 210}, PixelRect{10, 35, 210, 185}},
      {300, 400, {10, 10, 210, 210}, PixelRect{35, 10, 185, 210}},
      {240, 180, {7, 7, 247, 187}, PixelRect{7, 7, 247, 187}},
      {50, 50, {0, 0, 100, 60}, PixelRect{0, -20, 100, 80}},  // not clipped
      {3, 2, {0, 0, 10, 10}, PixelRect{0, 2, 10, 8}},         // 10 * 2 / 3 = 6, (10 - 6) / 2 = 2
      {0, 0, {0, 0, 10, 10}, std::nullopt},                   // no bitmap
      {0, 5, {0, 0, 10, 10}, std::nullopt},
      {5, 0, {0, 0, 10, 10}, std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<PixelRect> drawn = FitIllustration(c.w, c.h, c.area);
    ASSERT_EQ(drawn.has_value(), c.drawn.has_value()) << c.w << "x" << c.h;
    if (drawn) {
      EXPECT_TRUE(*drawn == *c.drawn) << c.w << "x" << c.h << ": " << drawn->left << "," << drawn->top;
    }
  }
  const int bitmaps[] = {IDB_OPTION_0, IDB_OPTION_1, IDB_OPTION_2, IDB_OPTION_3, 0, 0};
  const int values[] = {0, 1, 2, 3, 4, -1};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(IllustrationFor(values[i]), bitmaps[i]) << values[i];
}

}  // namespace
}  // namespace tactra::console
