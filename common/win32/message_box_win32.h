// The user-message seam over MessageBoxW and the string resources of the loaded language
// module. The calibration program's boxes are owned by its dialog and take the caption they
// are given; the console's have no owner and always show the console's own caption.
#pragma once

#include <windows.h>

#include <atomic>

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
};

}  // namespace tactra
