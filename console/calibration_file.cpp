#include "console/calibration_file.h"

namespace tactra::console {

namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr std::size_t kLineEndLength = 2;
constexpr std::size_t kNumberField = 6;
constexpr uint8_t kDigitZero = 0x30;

// Where each part lies in the file.
constexpr std::size_t kValue1At = 0;
constexpr std::size_t kValue2At = 3;
constexpr std::size_t kFlagsAt = 6;
constexpr std::size_t kFirstPointAt = 11;
constexpr std::size_t kPointLine = 2 * kNumberField + kLineEndLength;
constexpr std::size_t kLineEndsAt[] = {1, 4, 9};

constexpr std::size_t PointAt(int k) { return kFirstPointAt + kPointLine * static_cast<std::size_t>(k); }
static_assert(PointAt(proto::kRecordPoints) == kCalibrationFileLength,
              "the file ends after its ninth point line");

// The 16-bit value as the signed number the file shows.
int Signed16(uint16_t value) { return value >= 0x8000 ? static_cast<int>(value) - 0x10000 : value; }

void PutNumber(std::string& file, std::size_t at, uint16_t value) {
  const std::string text = std::to_string(Signed16(value));  // at most six characters
  file.replace(at, text.size(), text);
}

// An optional minus, at least one digit, then only NULs; a value of 16 signed bits.
bool ReadNumber(const std::string& file, std::size_t at, uint16_t& value) {
  std::size_t i = at;
  const std::size_t end = at + kNumberField;
  const bool negative = file[i] == '-';
  if (negative) ++i;
  const std::size_t digitsAt = i;
  int magnitude = 0;
  for (; i < end && file[i] >= '0' && file[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (file[i] - '0');  // at most six digits: no overflow
  }
  if (i == digitsAt) return false;
  for (; i < end; ++i) {
    if (file[i] != '\0') return false;
  }
  const int number = negative ? -magnitude : magnitude;
  if (number < -0x8000 || number > 0x7FFF) return false;
  value = static_cast<uint16_t>(number < 0 ? number + 0x10000 : number);
  return true;
}

bool LineEndAt(const std::string& file, std::size_t at) {
  return file.compare(at, kLineEndLength, kLineEnd) == 0;
}

}  // namespace

std::string EncodeCalibrationFile(const proto::CalibrationRecord& record) {
  std::string file(kCalibrationFileLength, '\0');
  file[kValue1At] = static_cast<char>(static_cast<uint8_t>(kDigitZero + record.value1));
  file[kValue2At] = static_cast<char>(static_cast<uint8_t>(kDigitZero + record.value2));
  for (std::size_t i = 0; i < record.flags.size(); ++i) file[kFlagsAt + i] = record.flags[i] ? '1' : '0';
  for (std::size_t at : kLineEndsAt) file.replace(at, kLineEndLength, kLineEnd);
  for (int k = 0; k < proto::kRecordPoints; ++k) {
    PutNumber(file, PointAt(k), record.x[k]);
    PutNumber(file, PointAt(k) + kNumberField, record.y[k]);
    file.replace(PointAt(k) + 2 * kNumberField, kLineEndLength, kLineEnd);
  }
  return file;
}

bool DecodeCalibrationFile(const std::string& file, proto::CalibrationRecord& record) {
  if (file.size() != kCalibrationFileLength) return false;
  for (std::size_t at : kLineEndsAt) {
    if (!LineEndAt(file, at)) return false;
  }
  proto::CalibrationRecord read;
  read.value1 = static_cast<uint8_t>(static_cast<uint8_t>(file[kValue1At]) - kDigitZero);
  read.value2 = static_cast<uint8_t>(static_cast<uint8_t>(file[kValue2At]) - kDigitZero);
  for (std::size_t i = 0; i < read.flags.size(); ++i) {
    const char flag = file[kFlagsAt + i];
    if (flag != '0' && flag != '1') return false;
    read.flags[i] = flag == '1';
  }
  for (int k = 0; k < proto::kRecordPoints; ++k) {
    if (!ReadNumber(file, PointAt(k), read.x[k]) || !ReadNumber(file, PointAt(k) + kNumberField, read.y[k]) ||
        !LineEndAt(file, PointAt(k) + 2 * kNumberField)) {
      return false;
    }
  }
  record = read;
  return true;
}

std::optional<std::string> RecordRefusal(const proto::CalibrationRecord& record) {
  constexpr int kOptionMax = 4;
  if (!proto::IsValidMode(record.value1))
    return "its calibration mode is " + std::to_string(record.value1) + " (2, 3 or 4 is valid)";
  if (record.value2 > kOptionMax)
    return "its calibration option is " + std::to_string(record.value2) + " (0 to 4 is valid)";
  return std::nullopt;
}

}  // namespace tactra::console
