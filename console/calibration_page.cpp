#include "console/calibration_page.h"

#include "console/calibration_file.h"
#include "resources/console_ids.h"

namespace tactra::console {

const wchar_t* const kSaveFailedText = L"Failed to save results!";
const wchar_t* const kImportFailedText = L"Failed to import!";

namespace {

// System error codes a failed start may end with.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorBadFormat = 11;
constexpr uint32_t kErrorBadExeFormat = 193;
constexpr uint32_t kErrorExeMachineTypeMismatch = 216;

// The frame's option values; the last one has no button.
constexpr int kOptionMax = 4;

bool HasButton(int optionValue) { return optionValue >= 0 && optionValue < kOptionButtons; }

void SendCalibrationCommand(LinkPort& link, uint8_t code, const uint8_t* payload, std::size_t length) {
  proto::ReportBuffer request;
  proto::BuildCommand(request, proto::kCalibrationReportId, code, payload, length);
  Send(link, proto::kCalibrationChannel, request);
}

}  // namespace

StartOutcome StartOutcomeForError(uint32_t error) {
  switch (error) {
    case kErrorFileNotFound:
      return StartOutcome::FileNotFound;
    case kErrorPathNotFound:
      return StartOutcome::PathNotFound;
    case kErrorBadFormat:
    case kErrorBadExeFormat:
    case kErrorExeMachineTypeMismatch:
      return StartOutcome::BadFormat;
    default:
      return StartOutcome::Failed;
  }
}

int OptionAfterClick(int clicked, const std::array<bool, kOptionButtons>& checked) {
  if (clicked >= 0 && clicked < kOptionButtons && checked[static_cast<std::size_t>(clicked)]) return clicked;
  // The last button is not among those tested: with none of the first three checked the value
  // is the last one, or the one before it when the last was clicked.
  for (int i = 0; i < kOptionButtons - 1; ++i) {
    if (i != clicked && checked[static_cast<std::size_t>(i)]) return i;
  }
  return clicked == kOptionButtons - 1 ? kOptionButtons - 2 : kOptionButtons - 1;
}

int ModeAfterClick(int clicked, const std::array<bool, 3>& checked) {
  // For each clicked mode: the modes tested after it, in order; the last one is taken unchecked.
  struct Order {
    int clicked;
    int next;
    int last;
  };
  constexpr Order kOrders[] = {{proto::kModeFourPoint, proto::kModeFivePoint, proto::kModeNinePoint},
                               {proto::kModeFivePoint, proto::kModeFourPoint, proto::kModeNinePoint},
                               {proto::kModeNinePoint, proto::kModeFourPoint, proto::kModeFivePoint}};
  auto isChecked = [&](int mode) { return checked[static_cast<std::size_t>(mode - proto::kModeFourPoint)]; };
  for (const Order& order : kOrders) {
    if (order.clicked != clicked) continue;
    if (isChecked(order.clicked)) return order.clicked;
    return isChecked(order.next) ? order.next : order.last;
  }
  return clicked;
}

std::optional<PixelRect> FitIllustration(int width, int height, const PixelRect& area) {
  if (width <= 0 || height <= 0) return std::nullopt;
  const int64_t areaWidth = area.right - area.left;
  const int64_t areaHeight = area.bottom - area.top;
  PixelRect out;
  if (width >= height) {
    const int64_t drawnHeight = areaWidth * height / width;
    out.left = area.left;
    out.top = static_cast<int>(area.top + (areaHeight - drawnHeight) / 2);
    out.right = area.right;
    out.bottom = static_cast<int>(out.top + drawnHeight);
  } else {
    const int64_t drawnWidth = areaHeight * width / height;
    out.top = area.top;
    out.left = static_cast<int>(area.left + (areaWidth - drawnWidth) / 2);
    out.bottom = area.bottom;
    out.right = static_cast<int>(out.left + drawnWidth);
  }
  return out;
}

int IllustrationFor(int optionValue) { return HasButton(optionValue) ? IDB_OPTION_0 + optionValue : 0; }

CCalibrationDlgModel::CCalibrationDlgModel(PageContext context, CalibrationSeams seams)
    : context_(std::move(context)), seams_(seams) {}

void CCalibrationDlgModel::Refresh() {
  refreshing_.store(true);
  if (!NoFrame(context_)) {
    proto::ReportBuffer request;
    proto::BuildSettingsRead(request, proto::CMD_CAL_OPTION_13);
    Send(context_.link, proto::kSettingsChannel, request);
    context_.pause(proto::pacing::kAfterRead);
    SendCalibrationCommand(context_.link, proto::CMD_CAL_GET_MODE, nullptr, 0);
    context_.pause(proto::pacing::kAfterRead);
  }
  refreshing_.store(false);
  // A value learnt before stays valid when the frame does not answer now. What is unknown is
  // greyed out, and usable again once a later refresh learns it: a frame that missed a reply
  // must not leave the page dead for the rest of the run.
  std::lock_guard<std::mutex> lock(mutex_);
  if (fields_.optionKnown && HasButton(fields_.optionValue)) shown_.checkedOption = fields_.optionValue;
  if (fields_.modeKnown && proto::IsValidMode(fields_.calMode)) shown_.checkedMode = fields_.calMode;
  shown_.optionsEnabled = fields_.optionKnown;
  shown_.modesEnabled = fields_.modeKnown;
  shown_.actionsEnabled = fields_.optionKnown && fields_.modeKnown;
}

void CCalibrationDlgModel::OnDeviceReply(const uint8_t* report, std::size_t length) {
  if (length < 4) return;
  const std::size_t n = report[2];
  // Every byte taken lies before the terminator at 3 + N (the link checked it is there).
  if (3 + n >= length) return;
  if (report[0] == proto::kCalibrationReportId) {
    OnCalibrationReply(report[1], n, report + 3);
  } else if (report[0] == proto::kSettingsReportId && report[1] == proto::CMD_CAL_OPTION_13 && n == 2) {
    OnOptionReply(report + 3);
  }
}

void CCalibrationDlgModel::OnOptionReply(const uint8_t* payload) {
  if (payload[0] == proto::kAccessRead) {
    const int value = static_cast<int8_t>(payload[1]);
    const bool valid = value >= 0 && value <= kOptionMax;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fields_.optionKnown = valid;
      if (valid) fields_.optionValue = value;
      if (valid && HasButton(value)) shown_.checkedOption = value;
    }
    if (valid) PostControlsChanged();
    if (!valid) PostNotice(IDS_REFUSED);
  } else if (payload[0] == proto::kAccessWrite && payload[1] == 0) {
    PostNotice(IDS_REFUSED);
  }
}

void CCalibrationDlgModel::OnCalibrationReply(uint8_t code, std::size_t n, const uint8_t* payload) {
  switch (code) {
    case proto::CMD_CAL_GET_MODE:
      if (n == 1) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          fields_.modeKnown = proto::IsValidMode(payload[0]);
          if (!fields_.modeKnown) break;
          fields_.calMode = fields_.confirmedMode = payload[0];
          shown_.checkedMode = fields_.calMode;
        }
        PostControlsChanged();
      }
      break;
    case proto::CMD_CAL_SET_MODE:
      if (n == 1) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          if (payload[0] == 1) {
            fields_.confirmedMode = fields_.calMode;
            break;
          }
          fields_.calMode = fields_.confirmedMode;
          if (proto::IsValidMode(fields_.calMode)) shown_.checkedMode = fields_.calMode;
        }
        // The radio buttons go back before the message tells why.
        context_.window.Post([this] {
          if (controlsChanged_) controlsChanged_();
          ShowMessage(context_.messages, IDS_REFUSED);
        });
      }
      break;
    case proto::CMD_CAL_WRITE_DATA:
    case proto::CMD_CAL_ACTION_09:
      if (n == 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        (code == proto::CMD_CAL_WRITE_DATA ? recordWriteAnswer_ : factoryAnswer_) = payload[0];
      }
      break;
    case proto::CMD_CAL_READ_DATA:
      if (n == proto::kCalibrationRecordLength) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (fields_.calMode == proto::kModeFivePoint || fields_.calMode == proto::kModeNinePoint)
          exportRecord_ = proto::DecodeRecord(payload);
      }
      break;
    default:
      break;
  }
}

void CCalibrationDlgModel::PostNotice(int textId) {
  context_.window.Post([this, textId] { ShowMessage(context_.messages, textId); });
}

void CCalibrationDlgModel::PostControlsChanged() {
  // A refresh shows what its replies told once it is done.
  if (refreshing_.load()) return;
  context_.window.Post([this] {
    if (controlsChanged_) controlsChanged_();
  });
}

void CCalibrationDlgModel::Forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  CalibrationFields fresh;
  fresh.exportPath = fields_.exportPath;
  fresh.importPath = fields_.importPath;
  fields_ = fresh;
  exportRecord_.reset();
  shown_ = CalibrationView();
  shown_.optionsEnabled = shown_.modesEnabled = shown_.actionsEnabled = false;
}

void CCalibrationDlgModel::OnOptionClicked(int clicked, const std::array<bool, kOptionButtons>& checked) {
  std::lock_guard<std::mutex> lock(mutex_);
  fields_.optionValue = OptionAfterClick(clicked, checked);
  shown_.checkedOption = fields_.optionValue;
}

void CCalibrationDlgModel::OnModeClicked(int clicked, const std::array<bool, 3>& checked) {
  std::lock_guard<std::mutex> lock(mutex_);
  fields_.calMode = ModeAfterClick(clicked, checked);
  shown_.checkedMode = fields_.calMode;
}

void CCalibrationDlgModel::SendOptionWrite() {
  uint8_t value;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    value = static_cast<uint8_t>(fields_.optionValue & 0xFF);
  }
  proto::ReportBuffer request;
  proto::BuildSettingsWrite(request, proto::CMD_CAL_OPTION_13, &value, 1);
  Send(context_.link, proto::kSettingsChannel, request);
}

void CCalibrationDlgModel::SendModeWrite() {
  uint8_t mode;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    mode = static_cast<uint8_t>(fields_.calMode & 0xFF);
  }
  SendCalibrationCommand(context_.link, proto::CMD_CAL_SET_MODE, &mode, 1);
}

void CCalibrationDlgModel::Apply() {
  // Each pause follows its command also when the command was not sent.
  if (!NoFrame(context_)) SendOptionWrite();
  context_.pause(proto::pacing::kAfterWrite);
  if (!NoFrame(context_)) SendModeWrite();
  context_.pause(proto::pacing::kAfterWrite);
}

void CCalibrationDlgModel::RestoreFactory() {
  if (NoFrame(context_)) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    factoryAnswer_.reset();
  }
  SendCalibrationCommand(context_.link, proto::CMD_CAL_ACTION_09, nullptr, 0);
  context_.pause(proto::pacing::kBeforeReread);
  Refresh();
}

void CCalibrationDlgModel::StartCalibrationProgram() {
  if (NoFrame(context_)) return;
  if (started_ && started_->Running()) {
    ShowMessage(context_.messages, IDS_ALREADY_STARTED);
    return;
  }
  StartOutcome outcome = StartOutcome::Failed;
  std::unique_ptr<StartedProcess> process = seams_.starter.Start(outcome);
  if (outcome == StartOutcome::Started && process) {
    started_ = std::move(process);
    context_.link.SetLinkState(kLinkStarted);
    return;
  }
  switch (outcome) {
    case StartOutcome::FileNotFound:
      ShowMessage(context_.messages, IDS_FILE_NOT_FOUND);
      break;
    case StartOutcome::PathNotFound:
      ShowMessage(context_.messages, IDS_PATH_NOT_FOUND);
      break;
    case StartOutcome::BadFormat:
      ShowMessage(context_.messages, IDS_START_BAD_FORMAT);
      break;
    default:
      ShowMessage(context_.messages, IDS_START_FAILED);
      break;
  }
}

void CCalibrationDlgModel::Export() {
  if (NoFrame(context_)) return;
  const std::optional<std::wstring> path = seams_.dialogs.ChooseSavePath();
  if (!path) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fields_.exportPath = *path;
    exportRecord_.reset();
  }
  SendCalibrationCommand(context_.link, proto::CMD_CAL_READ_DATA, nullptr, 0);
  // Only a record handled within the wait is written: one that comes later is not written
  // after the user was told, and the next export drops it.
  std::optional<proto::CalibrationRecord> record;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record.swap(exportRecord_);
  }
  if (!record || !seams_.files.WriteReplacing(*path, EncodeCalibrationFile(*record)))
    seams_.texts.Show(kSaveFailedText);
}

void CCalibrationDlgModel::Import() {
  if (NoFrame(context_)) return;
  const std::optional<std::wstring> path = seams_.dialogs.ChooseOpenPath();
  if (!path) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fields_.importPath = *path;
  }
  std::string content;
  proto::CalibrationRecord record;
  if (!seams_.files.Read(*path, kCalibrationFileLength, content) || !DecodeCalibrationFile(content, record) ||
      RecordRefusal(record)) {
    seams_.texts.Show(kImportFailedText);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    recordWriteAnswer_.reset();
  }
  const proto::RecordBytes bytes = proto::EncodeRecord(record);
  SendCalibrationCommand(context_.link, proto::CMD_CAL_WRITE_DATA, bytes.data(), bytes.size());
}

CalibrationView CCalibrationDlgModel::View() const {
  std::lock_guard<std::mutex> lock(mutex_);
  CalibrationView view = shown_;
  view.illustration = IllustrationFor(fields_.optionValue);
  return view;
}

std::optional<uint8_t> CCalibrationDlgModel::WriteAnswer(uint8_t code) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return code == proto::CMD_CAL_WRITE_DATA ? recordWriteAnswer_ : factoryAnswer_;
}

CalibrationFields CCalibrationDlgModel::Fields() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fields_;
}

}  // namespace tactra::console
