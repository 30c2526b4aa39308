#include "sim/hex.h"

namespace tactra::sim {

namespace {
int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string ToHex(const uint8_t* data, std::size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * length);
  for (std::size_t i = 0; i < length; ++i) {
    text += kDigits[data[i] >> 4];
    text += kDigits[data[i] & 0x0F];
  }
  return text;
}

bool FromHex(const std::string& text, uint8_t* out, std::size_t length) {
  if (text.size() != 2 * length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const int hi = Digit(text[2 * i]), lo = Digit(text[2 * i + 1]);
    if (hi < 0 || lo < 0) return false;
    out[i] = static_cast<uint8_t>(hi << 4 | lo);
  }
  return true;
}

}  // namespace tactra::sim
