#include "common/win32/message_box_win32.h"

#include "common/win32/resource_string_win32.h"

namespace tactra {

ResourceMessages::ResourceMessages(HINSTANCE module, BoxStyle style) : module_(module), style_(style) {}

void ResourceMessages::SetOwner(HWND owner) { owner_.store(owner); }

std::wstring ResourceMessages::LoadText(int id) {
  return module_ ? win32::LoadResourceString(module_, id) : std::wstring();
}

void ResourceMessages::ShowResourceMessage(int textId, int captionId, const std::wstring& suffix) {
  // The texts are shown as they are, never used as format strings.
  const std::wstring text = UnescapePercent(LoadText(textId)) + suffix;
  const std::wstring caption = UnescapePercent(LoadText(style_.caption != 0 ? style_.caption : captionId));
  HWND owner = style_.owned ? owner_.load() : nullptr;
  if (owner && !IsWindow(owner)) owner = nullptr;
  // The same message again while its box is open says nothing new; a frame that repeats itself
  // must not stack boxes.
  {
    std::lock_guard<std::mutex> lock(openMutex_);
    if (!open_.insert(textId).second) return;
  }
  struct Closed {
    ResourceMessages& self;
    int id;
    ~Closed() {
      std::lock_guard<std::mutex> lock(self.openMutex_);
      self.open_.erase(id);
    }
  } closed{*this, textId};
  MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK);
}

void ResourceMessages::ShowFixedMessage(const std::wstring& text, const std::wstring& caption,
                                        bool errorIcon) {
  MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK | (errorIcon ? MB_ICONERROR : 0));
}

}  // namespace tactra
