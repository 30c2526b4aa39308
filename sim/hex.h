// Hexadecimal text of bytes, as the control interface and the state file show them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tactra::sim {

// Lower-case, two digits per byte, no separators.
std::string ToHex(const uint8_t* data, std::size_t length);
// Exactly 2 * length digits (either case); false on anything else.
bool FromHex(const std::string& text, uint8_t* out, std::size_t length);

}  // namespace tactra::sim
