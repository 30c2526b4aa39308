// What the fuzzers share: the input read as a stream of choices, and the check that stops a run
// on a broken property. An exhausted input reads as zeroes, so every loop driven by it ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tactra::fuzz {

// A violated property: libFuzzer keeps the input that led here.
inline void Check(bool holds) {
  if (!holds) __builtin_trap();
}

class Input {
 public:
  Input(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }
  uint8_t Byte() { return empty() ? 0 : data_[at_++]; }
  bool Bit() { return (Byte() & 1) != 0; }
  uint16_t Le16() {
    const uint8_t low = Byte();
    return static_cast<uint16_t>(low | (Byte() << 8));
  }
  int32_t Int32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return static_cast<int32_t>(v);
  }
  // `count` bytes (zeroes past the end) in a buffer of exactly that size, so that a look past
  // it is caught by AddressSanitizer.
  std::vector<uint8_t> Take(std::size_t count) {
    std::vector<uint8_t> out(count, 0);
    for (uint8_t& b : out) b = Byte();
    return out;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace tactra::fuzz
