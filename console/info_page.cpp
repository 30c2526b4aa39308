#include "console/info_page.h"

#include "resources/console_ids.h"

namespace tactra::console {

namespace {

// The requests in the order they are sent.
constexpr uint8_t kRequests[] = {proto::CMD_INFO_TEXT_F2, proto::CMD_INFO_TEXT_F3, proto::CMD_INFO_TEXT_F4,
                                 proto::CMD_INFO_TEXT_F5, proto::CMD_INFO_01,      proto::CMD_INFO_LISTS};

// The payload length each reply must have.
constexpr std::size_t kValue01Length = 3;
constexpr std::size_t kListsLength = 43;
constexpr std::size_t kShortTextLength = 9;
constexpr std::size_t kLongTextLength = 57;

// The frame's single-byte characters as the code points of the same numbers.
std::wstring Widen(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (unsigned char c : text) out.push_back(static_cast<wchar_t>(c));
  return out;
}

}  // namespace

std::string FrameText(const uint8_t* bytes, std::size_t count) {
  std::size_t length = 0;
  while (length < count && bytes[length] != 0) ++length;
  return std::string(reinterpret_cast<const char*>(bytes), length);
}

CInfoDlgModel::CInfoDlgModel(PageContext context) : context_(std::move(context)) {}

InfoView CInfoDlgModel::Refresh() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    listsValid_ = false;
  }
  if (!NoFrame(context_)) {
    for (uint8_t code : kRequests) {
      proto::ReportBuffer request;
      proto::BuildSettingsRead(request, code);
      Send(context_.link, proto::kSettingsChannel, request);
      context_.pause(proto::pacing::kAfterRead);
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  // Without the lists the frame has not told enough to show any of it.
  if (!listsValid_) fields_ = Fields();
  return ViewLocked();
}

void CInfoDlgModel::OnDeviceReply(const uint8_t* report, std::size_t length) {
  if (length < 4 || report[0] != proto::kSettingsReportId || report[3] != proto::kAccessRead) return;
  const uint8_t code = report[1];
  const std::size_t n = report[2];
  // Every byte taken lies before the terminator at 3 + N (the link checked it is there).
  if (3 + n >= length) return;
  std::lock_guard<std::mutex> lock(mutex_);
  switch (code) {
    case proto::CMD_INFO_01:
      if (n == kValue01Length) fields_.value01 = static_cast<int8_t>(report[5]);
      break;
    case proto::CMD_INFO_LISTS:
      if (n == kListsLength) {
        const proto::InfoLists lists = proto::ParseInfoLists(report, length);
        fields_.countA = static_cast<int8_t>(report[4]);
        fields_.countB = static_cast<int8_t>(report[19]);
        fields_.listA = fields_.countA > 0 ? lists.listA : std::string();
        fields_.listB = fields_.countB > 0 ? lists.listB : std::string();
        listsValid_ = true;
      }
      break;
    case proto::CMD_INFO_TEXT_F2:
    case proto::CMD_INFO_TEXT_F3:
    case proto::CMD_INFO_TEXT_F4:
      if (n == kShortTextLength) fields_.texts[code - proto::CMD_INFO_TEXT_F2] = FrameText(report + 4, 8);
      break;
    case proto::CMD_INFO_TEXT_F5:
      if (n == kLongTextLength) fields_.texts[3] = FrameText(report + 4, 56);
      break;
    default:
      break;
  }
}

void CInfoDlgModel::Forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  fields_ = Fields();
  listsValid_ = false;
}

InfoView CInfoDlgModel::View() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return ViewLocked();
}

InfoView CInfoDlgModel::ViewLocked() const {
  InfoView view;
  view.value01 = std::to_wstring(fields_.value01);
  view.countA = std::to_wstring(fields_.countA);
  view.countB = std::to_wstring(fields_.countB);
  view.listA = Widen(fields_.listA);
  view.listB = Widen(fields_.listB);
  for (std::size_t i = 0; i < view.texts.size(); ++i) view.texts[i] = Widen(fields_.texts[i]);
  return view;
}

}  // namespace tactra::console
