// The user-message seam over MessageBoxW and the string resources of the loaded language
// module. Boxes open on the thread of the window they belong to (what other threads have to
// say is handed to it), and a box of one text is never open twice at once. The calibration program's boxes
// are owned by its dialog and take the caption they are given; the console's have no owner and always show
// the console's own caption.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <set>

#include "common/messages.h"

namespace tactra {

// How a program's boxes look. By default each carries the caption its message names and sits
// over the owner window; a program may give every box one caption of its own, and no owner.
struct BoxStyle {
  int caption = 0;    // a string of the module that every box carries; 0: the message's own
  bool owned = true;  // over the window SetOwner names
};

class ResourceMessages : public Messages {
 public:
  // `module` may be null before a language module is loaded: only fixed messages then.
  explicit ResourceMessages(HINSTANCE module, BoxStyle style = {});

  // The owner window of the boxes (the program's window once it exists), when they are owned.
  void SetOwner(HWND owner);

  std::wstring LoadText(int id) override;
  void ShowResourceMessage(int textId, int captionId, const std::wstring& suffix) override;
  void ShowFixedMessage(const std::wstring& text, const std::wstring& caption, bool errorIcon) override;

 private:
  HINSTANCE module_;
  BoxStyle style_;
  std::atomic<HWND> owner_{nullptr};
  std::mutex openMutex_;
  std::set<int> open_;  // the texts whose boxes are open
};

}  // namespace tactra
