// The information page without its window: what the frame reports about itself, asked for
// with six paced read requests each time the page is shown, and the fixed placeholders shown
// when the frame does not say it all.
#pragma once

#include <array>
#include <mutex>
#include <string>

#include "console/console_model.h"
#include "console/page_context.h"

namespace tactra::console {

// What the nine read-only fields show, in the order of their controls.
struct InfoView {
  std::wstring value01;
  std::wstring countA;
  std::wstring countB;
  std::wstring listA;
  std::wstring listB;
  std::array<std::wstring, 4> texts;  // F2, F3, F4, F5
};

class CInfoDlgModel : public ReplySink {
 public:
  explicit CInfoDlgModel(PageContext context);

  // Window's thread, each time the tab is selected: the six requests (or message 1083 without
  // a frame), then the placeholders unless the lists were answered. Returns what to show.
  InfoView Refresh();
  // Reader worker.
  void OnDeviceReply(const uint8_t* report, std::size_t length) override;
  void Forget() override;

  InfoView View() const;

 private:
  struct Fields {
    int value01 = 0;
    int countA = 0;
    int countB = 0;
    std::string listA = "0";
    std::string listB = "0";
    std::array<std::string, 4> texts{"N/A", "N/A", "N/A", "N/A"};
  };

  InfoView ViewLocked() const;

  PageContext context_;
  mutable std::mutex mutex_;
  Fields fields_;
  bool listsValid_ = false;
};

// A text of the frame: single-byte characters up to the first zero byte or `count` bytes.
std::string FrameText(const uint8_t* bytes, std::size_t count);

}  // namespace tactra::console
