// The main window without its window: which page a reply goes to, the frame's arrival and
// removal and the status line they lead to, the current tab, and the one sequence of requests
// that may run at a time.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "common/messages.h"
#include "device/hid_host.h"
#include "device/link.h"

namespace tactra::console {

// Tabs, in order.
constexpr int kTabInfo = 0;
constexpr int kTabConfig = 1;
constexpr int kTabCalibration = 2;
constexpr int kTabOptions = 3;
constexpr int kTabAbout = 4;
constexpr int kTabCount = 5;

// The tab whose page a reply goes to: the calibration page for every reply of the calibration
// channel, the current tab's page for a reply of the settings channel when that is one of the
// first three; -1 (dropped) otherwise.
int RouteReply(const uint8_t* report, std::size_t length, int currentTab);

// A page as the router sees it; called on the link's reader worker.
class ReplySink {
 public:
  virtual ~ReplySink() = default;
  virtual void OnDeviceReply(const uint8_t* report, std::size_t length) = 0;
  // The window's thread, when the frame went away: what it told the page is not the next
  // frame's.
  virtual void Forget() = 0;
};

class ConsoleModel : public LinkOwner {
 public:
  // `pages` receive the replies of tabs 0, 1 and 2; `link` is the console's single link.
  ConsoleModel(Link& link, Messages& messages, std::array<ReplySink*, 3> pages);

  // The link's reader worker: hands the reply to its page (RouteDeviceReply).
  void OnDeviceReply(const uint8_t* report, std::size_t length) override;
  void OnLinkEvent(LinkEvent event) override;

  // Starts the link; the status line then says whether a frame was found.
  bool UpdateConnectionStatus();
  // The string of the status line: connected or not.
  int statusText() const { return statusText_; }

  // An arrival or removal of a HID interface. True when the status line changed.
  bool OnDeviceNotice(DeviceNotice notice, const std::wstring& path);

  // The window's thread writes the tab, the reader worker reads it.
  int currentTab() const { return currentTab_.load(); }
  void SetCurrentTab(int tab);

  // One sequence of requests at a time: while one runs (a message box of it may be open),
  // further page actions and tab changes are refused. False when refused.
  bool RunSequence(const std::function<void()>& body);
  bool busy() const { return busy_; }
  // Called on the window's thread after each sequence (what waited for it may go ahead).
  void SetAfterSequence(std::function<void()> hook) { afterSequence_ = std::move(hook); }

 private:
  void SetStatusAfterStart(bool started);

  Link& link_;
  Messages& messages_;
  std::array<ReplySink*, 3> pages_;
  std::atomic<int> currentTab_{kTabInfo};
  int statusText_;
  bool busy_ = false;
  std::function<void()> afterSequence_;
};

}  // namespace tactra::console
