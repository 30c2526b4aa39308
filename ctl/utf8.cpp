#include "ctl/utf8.h"

#include <cstdint>

namespace tactra::ctl {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void Append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendWide(std::wstring& out, char32_t c) {
  if (sizeof(wchar_t) == 2 && c >= 0x10000) {
    c -= 0x10000;
    out += static_cast<wchar_t>(0xD800 + (c >> 10));
    out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
  } else {
    out += static_cast<wchar_t>(c);
  }
}

bool IsSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

std::string ToUtf8(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char32_t>(text[i]);
    if (sizeof(wchar_t) == 2 && c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size()) {
      const char32_t low = static_cast<char32_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (IsSurrogate(c) || c > 0x10FFFF) c = kReplacement;
    Append(out, c);
  }
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[i]); };
  for (std::size_t i = 0; i < text.size();) {
    const uint8_t lead = byte(i);
    std::size_t extra = 0;
    char32_t c = 0;
    char32_t least = 0;
    if (lead < 0x80) {
      c = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, least = 0x10000;
    } else {
      AppendWide(out, kReplacement);
      ++i;
      continue;
    }
    std::size_t taken = 1;
    while (taken <= extra && i + taken < text.size() && (byte(i + taken) & 0xC0) == 0x80) {
      c = (c << 6) | (byte(i + taken) & 0x3F);
      ++taken;
    }
    // A sequence cut short, overlong, a surrogate or past the last code point stands for one
    // replacement character; what follows is read anew.
    if (taken <= extra || c < least || IsSurrogate(c) || c > 0x10FFFF) c = kReplacement;
    AppendWide(out, c);
    i += taken;
  }
  return out;
}

}  // namespace tactra::ctl
