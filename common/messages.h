// The user-message seam: message boxes whose text and caption are string resources of the
// loaded language module. Windows: MessageBoxW and LoadStringW. Tests: a recorder.
#pragma once

#include <string>

namespace tactra {

class Messages {
 public:
  virtual ~Messages() = default;
  // The string resource `id`, "" when missing. No formatting is applied.
  virtual std::wstring LoadText(int id) = 0;
  // A plain OK message box: text resource `textId` followed by `suffix`, caption `captionId`.
  // Returns when the user has closed it.
  virtual void ShowResourceMessage(int textId, int captionId, const std::wstring& suffix) = 0;
  // A message box with fixed English text (before any language module is loaded).
  virtual void ShowFixedMessage(const std::wstring& text, const std::wstring& caption, bool errorIcon) = 0;
};

// A resource text as printf-style formatting without arguments would show it: "%%" becomes
// "%"; every other "%" sequence stays as it stands (no argument is ever read).
std::wstring UnescapePercent(const std::wstring& text);

}  // namespace tactra
