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

constexpr int kConsoleCaption = 1080;

class ResourceMessages : public Messages {
 public:
  enum class Variant { Calibration, Console };

  // `module` may be null before a language module is loaded: only fixed messages then.
  ResourceMessages(HINSTANCE module, Variant variant);

  // The owner window of the calibration program's boxes (its dialog once it exists).
  void SetOwner(HWND owner);

  std::wstring LoadText(int id) override;
  void ShowResourceMessage(int textId, int captionId, const std::wstring& suffix) override;
  void ShowFixedMessage(const std::wstring& text, const std::wstring& caption, bool errorIcon) override;

 private:
  HINSTANCE module_;
  Variant variant_;
  std::atomic<HWND> owner_{nullptr};
  std::mutex openMutex_;
  std::set<int> open_;  // the texts whose boxes are open
};

}  // namespace tactra
