// What the simulated frame keeps behind its settings channel: the adjustable settings with
// their valid ranges, the read-only information, and the answers to settings-channel commands.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "device/protocol.h"

namespace tactra::sim {

struct TimedSetting {  // CMD_CFG_14 and CMD_CFG_15: enable, level, time
  uint8_t enabled = 0;
  uint8_t level = 1;
  uint16_t time = 0;
};

struct FrameSettings {
  uint8_t cfg11 = 2;  // 2 = on, 1 = off
  std::array<uint8_t, 3> cfg12{1, 0, 1};
  uint8_t option13 = 0;  // 0..4
  TimedSetting cfg14{1, 5, 300};
  TimedSetting cfg15{0, 3, 1000};
  uint8_t cfg16Enabled = 1;
  uint8_t cfg16Value = 10;
  std::array<uint8_t, 4> cfg17{3, 3, 5, 5};
  uint8_t cfg21Enabled = 1;
  uint16_t cfg21A = 30;
  uint16_t cfg21B = 500;

  bool operator==(const FrameSettings& o) const;
  bool operator!=(const FrameSettings& o) const { return !(*this == o); }
};

// The information the frame reports about itself; fixed while it runs.
struct FrameInfo {
  uint8_t info01X = 1;
  int8_t info01Value = 23;
  std::array<uint8_t, 3> listA{1, 2, 3};
  std::array<uint8_t, 4> listB{10, 20, 30, 40};
  std::string textF2 = "V2.16.03";
  std::string textF3 = "20260311";
  std::string textF4 = "IR6C-T32";
  std::string textF5 = "Tactra infrared multi-touch frame, simulated";
};

// Validity of each setting as the frame takes it.
bool IsValidCfg14Time(uint16_t t);
bool IsValidCfg15Time(uint16_t t);
bool IsValidCfg21A(uint16_t a);
bool IsValidCfg21B(uint16_t b);
bool IsValidSettings(const FrameSettings& s);

// The answer to one settings-channel command.
struct SettingsAnswer {
  bool reply = false;  // false: the frame sends nothing (a malformed request)
  bool changed = false;
  uint8_t payload[proto::kMaxPayload] = {};
  std::size_t length = 0;
  std::size_t statusOffset = 0;  // payload offset of the status byte (or first value)
};

// Handles a settings-channel request whose framing was already checked (`payload` of N bytes).
// With `refuse` the frame changes nothing and answers that it did not.
SettingsAnswer AnswerSettings(FrameSettings& settings, const FrameInfo& info, uint8_t code,
                              const uint8_t* payload, std::size_t length, bool refuse);

}  // namespace tactra::sim
