#include "console/console_model.h"

#include "console/page_context.h"
#include "device/protocol.h"
#include "resources/console_ids.h"

namespace tactra::console {

int RouteReply(const uint8_t* report, std::size_t length, int currentTab) {
  if (report == nullptr || length == 0) return -1;
  if (report[0] == proto::kCalibrationReportId) return kTabCalibration;
  if (report[0] != proto::kSettingsReportId) return -1;
  return currentTab >= kTabInfo && currentTab <= kTabCalibration ? currentTab : -1;
}

ConsoleModel::ConsoleModel(Link& link, Messages& messages, std::array<ReplySink*, 3> pages)
    : link_(link), messages_(messages), pages_(pages), statusText_(IDS_NOT_CONNECTED) {}

void ConsoleModel::OnDeviceReply(const uint8_t* report, std::size_t length) {
  const int tab = RouteReply(report, length, currentTab_.load());
  if (tab < 0) return;
  if (ReplySink* page = pages_[static_cast<std::size_t>(tab)]) page->OnDeviceReply(report, length);
}

void ConsoleModel::OnLinkEvent(LinkEvent event) {
  if (event == LinkEvent::EnumerationOutOfMemory) ShowMessage(messages_, IDS_OUT_OF_MEMORY);
}

bool ConsoleModel::UpdateConnectionStatus() {
  const bool started = link_.Start();
  SetStatusAfterStart(started);
  return started;
}

void ConsoleModel::SetStatusAfterStart(bool started) {
  // Connected means the pages can talk to the frame: its calibration and settings channels.
  statusText_ = started && link_.NeededChannelsBound() ? IDS_CONNECTED : IDS_NOT_CONNECTED;
}

bool ConsoleModel::OnDeviceNotice(DeviceNotice notice, const std::wstring& path) {
  const int before = statusText_;
  switch (link_.OnDeviceNotice(notice, path)) {
    case NoticeOutcome::Started:
      SetStatusAfterStart(true);
      break;
    case NoticeOutcome::StartFailed:
      SetStatusAfterStart(false);
      break;
    case NoticeOutcome::Removed:
      statusText_ = IDS_NOT_CONNECTED;
      for (ReplySink* page : pages_) {
        if (page) page->Forget();
      }
      break;
    case NoticeOutcome::Nothing:
      break;
  }
  return statusText_ != before;
}

void ConsoleModel::SetCurrentTab(int tab) { currentTab_.store(tab); }

bool ConsoleModel::RunSequence(const std::function<void()>& body) {
  if (busy_) return false;
  busy_ = true;
  struct Done {
    bool& busy;
    ~Done() { busy = false; }
  };
  {
    Done done{busy_};
    body();
  }
  if (afterSequence_) afterSequence_();
  return true;
}

}  // namespace tactra::console
