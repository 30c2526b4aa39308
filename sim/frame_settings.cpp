#include "sim/frame_settings.h"

#include <algorithm>
#include <cstring>

namespace tactra::sim {

namespace {

using namespace tactra::proto;

constexpr uint16_t kCfg21A[] = {3, 5, 10, 20, 30, 45, 60, 90, 120, 180};
constexpr uint16_t kCfg21B[] = {100, 200, 300, 500, 750, 1000, 1500, 2000};

template <std::size_t N>
bool OneOf(const uint16_t (&list)[N], uint16_t v) {
  return std::find(std::begin(list), std::end(list), v) != std::end(list);
}

bool InRange(int v, int lo, int hi) { return v >= lo && v <= hi; }
bool IsFlag(uint8_t v) { return v <= 1; }

// Builds replies: access byte first, then the values.
class Answer {
 public:
  explicit Answer(SettingsAnswer& a, uint8_t access) : a_(a) {
    a_.reply = true;
    a_.length = 0;
    a_.statusOffset = 1;
    Put(access);
  }
  void Put(uint8_t v) {
    if (a_.length < sizeof(a_.payload)) a_.payload[a_.length++] = v;
  }
  void Put16(uint16_t v) {
    Put(static_cast<uint8_t>(v >> 8));
    Put(static_cast<uint8_t>(v & 0xFF));
  }
  void Text(const std::string& text, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) Put(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
  }
  // Pads or cuts the payload to the length the command's reply has.
  void Length(std::size_t n) {
    while (a_.length < n) Put(0);
    a_.length = n;
  }

 private:
  SettingsAnswer& a_;
};

void AnswerRead(const FrameSettings& s, const FrameInfo& info, uint8_t code, Answer& out) {
  switch (code) {
    case CMD_INFO_01:
      out.Put(info.info01X);
      out.Put(static_cast<uint8_t>(info.info01Value));
      break;
    case CMD_INFO_LISTS:
      out.Put(static_cast<uint8_t>(info.listA.size()));
      for (std::size_t i = 0; i < kListARoom; ++i) out.Put(i < info.listA.size() ? info.listA[i] : 0);
      out.Put(static_cast<uint8_t>(info.listB.size()));
      for (std::size_t i = 0; i < kListBRoom; ++i) out.Put(i < info.listB.size() ? info.listB[i] : 0);
      break;
    case CMD_INFO_TEXT_F2:
      out.Text(info.textF2, 8);
      break;
    case CMD_INFO_TEXT_F3:
      out.Text(info.textF3, 8);
      break;
    case CMD_INFO_TEXT_F4:
      out.Text(info.textF4, 8);
      break;
    case CMD_INFO_TEXT_F5:
      out.Text(info.textF5, 56);
      break;
    case CMD_CFG_11:
      out.Put(s.cfg11);
      break;
    case CMD_CFG_12:
      for (uint8_t f : s.cfg12) out.Put(f);
      break;
    case CMD_CAL_OPTION_13:
      out.Put(s.option13);
      break;
    case CMD_CFG_14:
    case CMD_CFG_15: {
      const TimedSetting& t = code == CMD_CFG_14 ? s.cfg14 : s.cfg15;
      out.Put(t.enabled);
      out.Put(t.level);
      out.Put16(t.time);
      break;
    }
    case CMD_CFG_16:
      out.Put(s.cfg16Enabled);
      out.Put(s.cfg16Value);
      break;
    case CMD_CFG_17:
      for (uint8_t l : s.cfg17) out.Put(l);
      break;
    case CMD_CFG_21:
      out.Put(s.cfg21Enabled);
      out.Put16(s.cfg21A);
      out.Put16(s.cfg21B);
      break;
    default:
      out.Put(0);
      break;  // a code the frame lacks: answered as not done
  }
}

// Number of value bytes a write carries, and the N of its acknowledgement; -1 when the code
// cannot be written.
struct WriteShape {
  int values;
  std::size_t ackLength;
};

WriteShape ShapeOf(uint8_t code) {
  switch (code) {
    case CMD_CFG_11:
      return {1, 2};
    case CMD_CFG_12:
      return {3, 2};
    case CMD_CAL_OPTION_13:
      return {1, 2};
    case CMD_CFG_14:
      return {4, 5};
    case CMD_CFG_15:
      return {4, 5};
    case CMD_CFG_16:
      return {2, 2};
    case CMD_CFG_17:
      return {4, 2};
    case CMD_CFG_21:
      return {5, 6};
    case CMD_CFG_ACTION_81:
      return {0, 5};
    default:
      return {-1, 2};
  }
}

// Applies a write to a copy; false when a value is out of range. Values of a disabled
// function are not examined: the frame keeps its previous ones.
bool ApplyWrite(FrameSettings& s, uint8_t code, const uint8_t* v) {
  switch (code) {
    case CMD_CFG_11:
      if (v[0] != 1 && v[0] != 2) return false;
      s.cfg11 = v[0];
      return true;
    case CMD_CFG_12:
      if (!IsFlag(v[0]) || !IsFlag(v[1]) || !IsFlag(v[2])) return false;
      std::memcpy(s.cfg12.data(), v, 3);
      return true;
    case CMD_CAL_OPTION_13:
      if (v[0] > 4) return false;
      s.option13 = v[0];
      return true;
    case CMD_CFG_14:
    case CMD_CFG_15: {
      TimedSetting& t = code == CMD_CFG_14 ? s.cfg14 : s.cfg15;
      const uint16_t time = GetBE16(v + 2);
      if (!IsFlag(v[0])) return false;
      t.enabled = v[0];
      if (v[0] == 0) return true;
      const bool timeOk = code == CMD_CFG_14 ? IsValidCfg14Time(time) : IsValidCfg15Time(time);
      if (!InRange(v[1], 1, 10) || !timeOk) return false;
      t.level = v[1];
      t.time = time;
      return true;
    }
    case CMD_CFG_16:
      if (!IsFlag(v[0])) return false;
      s.cfg16Enabled = v[0];
      if (v[0] == 1) s.cfg16Value = v[1];
      return true;
    case CMD_CFG_17:
      if (!InRange(v[0], 1, 5) || !InRange(v[1], 1, 5) || !InRange(v[2], 1, 10) || !InRange(v[3], 1, 10)) {
        return false;
      }
      std::memcpy(s.cfg17.data(), v, 4);
      return true;
    case CMD_CFG_21: {
      const uint16_t a = GetBE16(v + 1), b = GetBE16(v + 3);
      if (!IsFlag(v[0])) return false;
      s.cfg21Enabled = v[0];
      if (v[0] == 0) return true;
      if (!IsValidCfg21A(a) || !IsValidCfg21B(b)) return false;
      s.cfg21A = a;
      s.cfg21B = b;
      return true;
    }
    case CMD_CFG_ACTION_81: {
      // The configuration action restores the factory configuration; the calibration
      // option belongs to the calibration and stays.
      const uint8_t option = s.option13;
      s = FrameSettings{};
      s.option13 = option;
      return true;
    }
    default:
      return false;
  }
}

// The values after the status byte of an acknowledgement: the ones now in force.
void AckValues(const FrameSettings& s, uint8_t code, Answer& out) {
  if (code == CMD_CFG_14 || code == CMD_CFG_15) {
    const TimedSetting& t = code == CMD_CFG_14 ? s.cfg14 : s.cfg15;
    out.Put(t.level);
    out.Put16(t.time);
  } else if (code == CMD_CFG_21) {
    out.Put16(s.cfg21A);
    out.Put16(s.cfg21B);
  }
}

}  // namespace

bool FrameSettings::operator==(const FrameSettings& o) const {
  return cfg11 == o.cfg11 && cfg12 == o.cfg12 && option13 == o.option13 && cfg14.enabled == o.cfg14.enabled &&
         cfg14.level == o.cfg14.level && cfg14.time == o.cfg14.time && cfg15.enabled == o.cfg15.enabled &&
         cfg15.level == o.cfg15.level && cfg15.time == o.cfg15.time && cfg16Enabled == o.cfg16Enabled &&
         cfg16Value == o.cfg16Value && cfg17 == o.cfg17 && cfg21Enabled == o.cfg21Enabled &&
         cfg21A == o.cfg21A && cfg21B == o.cfg21B;
}

bool IsValidCfg14Time(uint16_t t) { return t >= 100 && t <= 1000 && t % 100 == 0; }
bool IsValidCfg15Time(uint16_t t) { return t >= 500 && t <= 5000 && t % 500 == 0; }
bool IsValidCfg21A(uint16_t a) { return OneOf(kCfg21A, a); }
bool IsValidCfg21B(uint16_t b) { return OneOf(kCfg21B, b); }

bool IsValidSettings(const FrameSettings& s) {
  auto timed = [](const TimedSetting& t, bool (*valid)(uint16_t)) {
    return IsFlag(t.enabled) && InRange(t.level, 1, 10) && valid(t.time);
  };
  return (s.cfg11 == 1 || s.cfg11 == 2) && IsFlag(s.cfg12[0]) && IsFlag(s.cfg12[1]) && IsFlag(s.cfg12[2]) &&
         s.option13 <= 4 && timed(s.cfg14, IsValidCfg14Time) && timed(s.cfg15, IsValidCfg15Time) &&
         IsFlag(s.cfg16Enabled) && InRange(s.cfg17[0], 1, 5) && InRange(s.cfg17[1], 1, 5) &&
         InRange(s.cfg17[2], 1, 10) && InRange(s.cfg17[3], 1, 10) && IsFlag(s.cfg21Enabled) &&
         IsValidCfg21A(s.cfg21A) && IsValidCfg21B(s.cfg21B);
}

SettingsAnswer AnswerSettings(FrameSettings& settings, const FrameInfo& info, uint8_t code,
                              const uint8_t* payload, std::size_t length, bool refuse) {
  SettingsAnswer answer;
  if (length < 1) return answer;  // no access byte: nothing to answer
  const uint8_t access = payload[0];
  Answer out(answer, access);
  if (access == kAccessRead) {
    AnswerRead(settings, info, code, out);
    if (refuse) answer.payload[answer.statusOffset] = 0;
    return answer;
  }
  const WriteShape shape = ShapeOf(code);
  FrameSettings next = settings;
  const bool taken = access == kAccessWrite && shape.values >= 0 &&
                     length == 1 + static_cast<std::size_t>(shape.values) && !refuse &&
                     ApplyWrite(next, code, payload + 1);
  if (taken) {
    answer.changed = next != settings;
    settings = next;
  }
  out.Put(taken ? 1 : 0);
  if (access == kAccessWrite) AckValues(settings, code, out);
  out.Length(access == kAccessWrite ? shape.ackLength : 2);
  return answer;
}

}  // namespace tactra::sim
