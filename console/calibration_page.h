// The calibration page without its window: the frame's calibration option and mode, the factory
// calibration, the start of the calibration program, and the export and import of the frame's
// calibration record as a calibration file. The file dialogs, the files, the process start and
// the two messages of the file work are seams, so that all of it runs in tests.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "console/console_model.h"
#include "console/page_context.h"

namespace tactra::console {

// The Save and Open dialogs: the full path the user chose, nothing on Cancel.
class FileDialogs {
 public:
  virtual ~FileDialogs() = default;
  virtual std::optional<std::wstring> ChooseSavePath() = 0;
  virtual std::optional<std::wstring> ChooseOpenPath() = 0;
};

// The files. A write either replaces the whole file or leaves the old one as it was.
class FileAccess {
 public:
  virtual ~FileAccess() = default;
  virtual bool WriteReplacing(const std::wstring& path, const std::string& content) = 0;
  // At most `limit` bytes into `content`; false when the file cannot be read or is longer.
  virtual bool Read(const std::wstring& path, std::size_t limit, std::string& content) = 0;
};

// A started calibration program.
class StartedProcess {
 public:
  virtual ~StartedProcess() = default;
  virtual bool Running() = 0;
  // Waits up to `limit` for the program to end: its exit code, nothing when it did not end in
  // time or cannot tell.
  virtual std::optional<uint32_t> WaitForExit(std::chrono::milliseconds /*limit*/) { return std::nullopt; }
};

enum class StartOutcome { Started, FileNotFound, PathNotFound, BadFormat, Failed };

// What a failed start's system error code means to the page.
StartOutcome StartOutcomeForError(uint32_t error);

// Starts the calibration program from the console's own folder, without arguments unless a
// monitor is set.
class ProgramStarter {
 public:
  virtual ~ProgramStarter() = default;
  // The process when the outcome is Started, else null.
  virtual std::unique_ptr<StartedProcess> Start(StartOutcome& outcome) = 0;
  // The monitor the starts that follow put the program on (N of \\.\DISPLAYN); nothing, as
  // the console's page has it: the frame's own, which the program finds itself.
  virtual void SetMonitor(std::optional<int> /*monitor*/) {}
};

// A message with a fixed text, owned by the main window, the program's name as its caption.
class TextMessages {
 public:
  virtual ~TextMessages() = default;
  virtual void Show(const std::wstring& text) = 0;
};

extern const wchar_t* const kSaveFailedText;    // "Failed to save results!"
extern const wchar_t* const kImportFailedText;  // "Failed to import!"

struct CalibrationSeams {
  FileDialogs& dialogs;
  FileAccess& files;
  ProgramStarter& starter;
  TextMessages& texts;
};

// The option values that have a radio button and an illustration.
constexpr int kOptionButtons = 4;

// What the page's controls show.
struct CalibrationView {
  int checkedOption = -1;  // 0..3, -1: none checked
  int checkedMode = 0;     // 2..4, 0: none checked
  bool optionsEnabled = true;
  bool modesEnabled = true;
  bool actionsEnabled = true;  // Apply, the factory button, start, export, import
  int illustration = 0;        // the bitmap of the option value, 0: nothing drawn
};

// The option value a click on option button `clicked` (0..3) leaves, given the buttons' check
// states after the click.
int OptionAfterClick(int clicked, const std::array<bool, kOptionButtons>& checked);
// The mode a click on the button of mode `clicked` (2..4) leaves, given the check states of the
// buttons of modes 2, 3 and 4 after the click.
int ModeAfterClick(int clicked, const std::array<bool, 3>& checked);

// Where a bitmap of w x h is drawn in `area`: scaled to its width or height, whichever the
// bitmap is longer in, and centred on the other axis. Nothing when the bitmap has no size.
struct PixelRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const PixelRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};
std::optional<PixelRect> FitIllustration(int width, int height, const PixelRect& area);

// What the page knows of the frame and what the user chose.
struct CalibrationFields {
  bool optionKnown = false;                   // a valid option value was read
  int optionValue = 0;                        // 0..4; the buttons offer 0..3
  bool modeKnown = false;                     // a valid mode was read
  int calMode = proto::kModeFourPoint;        // shown and sent
  int confirmedMode = proto::kModeFourPoint;  // the frame's, restored when it refuses calMode
  std::wstring exportPath;                    // chosen in the last accepted Save dialog
  std::wstring importPath;                    // chosen in the last accepted Open dialog
};

class CCalibrationDlgModel : public ReplySink {
 public:
  CCalibrationDlgModel(PageContext context, CalibrationSeams seams);

  // Window's thread, each time the tab is selected: reads option and mode, then greys out what
  // the frame has not told (and makes usable again what it now has).
  void Refresh();
  // Reader worker. A mode or option the frame tells moves the radio buttons with it, so that
  // they always show what Apply sends.
  void OnDeviceReply(const uint8_t* report, std::size_t length) override;
  // What the frame told goes; the paths chosen stay. Greyed until the next refresh learns.
  void Forget() override;

  // Window's thread: the radio buttons clicked, with the check states after the click.
  void OnOptionClicked(int clicked, const std::array<bool, kOptionButtons>& checked);
  void OnModeClicked(int clicked, const std::array<bool, 3>& checked);
  // The buttons.
  void Apply();
  void RestoreFactory();
  void StartCalibrationProgram();
  void Export();
  void Import();

  CalibrationView View() const;
  // Called on the window's thread when a reply changed what the controls show.
  void SetControlsChanged(std::function<void()> changed) { controlsChanged_ = std::move(changed); }

  CalibrationFields Fields() const;
  // The frame's answer to the last record write (CMD_CAL_WRITE_DATA) or factory action
  // (CMD_CAL_ACTION_09), which the page itself does not examine: for a caller that reports what
  // the frame did. Nothing when no answer came since that command was sent.
  std::optional<uint8_t> WriteAnswer(uint8_t code) const;

 private:
  void OnCalibrationReply(uint8_t code, std::size_t n, const uint8_t* payload);
  void OnOptionReply(const uint8_t* payload);
  // Message `textId` on the window's thread, once the request's wait is over.
  void PostNotice(int textId);
  // The controls set anew on the window's thread.
  void PostControlsChanged();
  void SendOptionWrite();
  void SendModeWrite();

  PageContext context_;
  CalibrationSeams seams_;
  std::function<void()> controlsChanged_;
  std::atomic<bool> refreshing_{false};

  mutable std::mutex mutex_;
  CalibrationFields fields_;
  // What the controls show but the illustration; what is unknown is greyed out until learnt.
  CalibrationView shown_;
  // The record of the last CMD_CAL_READ_DATA reply, until the export that asked takes it.
  std::optional<proto::CalibrationRecord> exportRecord_;
  std::optional<uint8_t> recordWriteAnswer_;
  std::optional<uint8_t> factoryAnswer_;

  // The calibration program started last (window's thread only).
  std::unique_ptr<StartedProcess> started_;
};

// The bitmap of an option value, 0 for a value without one.
int IllustrationFor(int optionValue);

}  // namespace tactra::console
