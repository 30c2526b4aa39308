#include "common/messages.h"

namespace tactra {

std::wstring UnescapePercent(const std::wstring& text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    out.push_back(text[i]);
    if (text[i] == L'%' && i + 1 < text.size() && text[i + 1] == L'%') ++i;
  }
  return out;
}

}  // namespace tactra
