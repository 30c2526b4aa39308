// The calibration file's reader and writer. The input is read twice: whole as a file, and as a
// record whose file is then edited in a few places, so that files the reader accepts and files
// one byte away from them are both common. Every outcome of the reader is held to what its
// header promises: a file is taken exactly when its layout and numbers are right, a refusal
// leaves the record alone, and what is taken is written back to a file that reads the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "console/calibration_file.h"
#include "fuzz/fuzz_input.h"

using tactra::fuzz::Check;
using tactra::fuzz::Input;
using namespace tactra;
using console::DecodeCalibrationFile;
using console::EncodeCalibrationFile;
using console::kCalibrationFileLength;

namespace {

constexpr std::size_t kField = 6;
constexpr std::size_t kFirstPointAt = 11;
constexpr std::size_t kPointLine = 14;

proto::CalibrationRecord RecordFrom(Input& in) {
  proto::CalibrationRecord r;
  r.value1 = in.Byte();
  r.value2 = in.Byte();
  const uint8_t flags = in.Byte();
  for (std::size_t i = 0; i < r.flags.size(); ++i) r.flags[i] = (flags >> i) & 1;
  for (int k = 0; k < proto::kRecordPoints; ++k) {
    r.x[k] = in.Le16();
    r.y[k] = in.Le16();
  }
  return r;
}

bool LineEnd(const std::string& f, std::size_t at) { return f[at] == '\r' && f[at + 1] == '\n'; }

// A number field as the header describes it: an optional minus and at least one digit, then
// only NULs, of a signed 16-bit value. Read with the C library rather than digit by digit.
bool FieldValue(const std::string& f, std::size_t at, int& value) {
  const std::string field = f.substr(at, kField);
  const std::size_t textEnd = field.find('\0');
  const std::string text = field.substr(0, textEnd);
  if (textEnd != std::string::npos && field.find_first_not_of('\0', textEnd) != std::string::npos)
    return false;
  const std::size_t digitsAt = !text.empty() && text[0] == '-' ? 1 : 0;
  if (text.size() == digitsAt || text.find_first_not_of("0123456789", digitsAt) != std::string::npos)
    return false;
  const long v = std::strtol(text.c_str(), nullptr, 10);
  if (v < -32768 || v > 32767) return false;
  value = static_cast<int>(v);
  return true;
}

int Signed16(uint16_t v) { return v >= 0x8000 ? v - 0x10000 : v; }

// Whether the file is one the reader must take and, when `record` is given, whether the record
// holds the file's values.
bool Acceptable(const std::string& f, const proto::CalibrationRecord* record) {
  if (f.size() != kCalibrationFileLength) return false;
  if (!LineEnd(f, 1) || !LineEnd(f, 4) || !LineEnd(f, 9)) return false;
  for (std::size_t i = 0; i < 3; ++i) {
    if (f[6 + i] != '0' && f[6 + i] != '1') return false;
    if (record && record->flags[i] != (f[6 + i] == '1')) return false;
  }
  if (record && (static_cast<uint8_t>(record->value1 + '0') != static_cast<uint8_t>(f[0]) ||
                 static_cast<uint8_t>(record->value2 + '0') != static_cast<uint8_t>(f[3]))) {
    return false;
  }
  for (int k = 0; k < proto::kRecordPoints; ++k) {
    const std::size_t at = kFirstPointAt + kPointLine * static_cast<std::size_t>(k);
    int x = 0;
    int y = 0;
    if (!FieldValue(f, at, x) || !FieldValue(f, at + kField, y) || !LineEnd(f, at + 2 * kField)) return false;
    if (record && (Signed16(record->x[k]) != x || Signed16(record->y[k]) != y)) return false;
  }
  return true;
}

// Writing a record gives a file of the fixed length that reads back as the same record, and
// the writer is a function of the record alone.
void CheckWritten(const proto::CalibrationRecord& record) {
  const std::string file = EncodeCalibrationFile(record);
  Check(file.size() == kCalibrationFileLength);
  Check(Acceptable(file, &record));
  proto::CalibrationRecord back;
  Check(DecodeCalibrationFile(file, back));
  Check(back == record);
  Check(EncodeCalibrationFile(back) == file);
}

void CheckRead(const std::string& file, const proto::CalibrationRecord& before) {
  proto::CalibrationRecord record = before;
  const bool taken = DecodeCalibrationFile(file, record);
  Check(taken == Acceptable(file, nullptr));
  if (!taken) {
    Check(record == before);  // a refused file leaves the record untouched
    return;
  }
  Check(Acceptable(file, &record));
  CheckWritten(record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > 2047) return 0;
  Input whole(data, size);
  const proto::CalibrationRecord untouched = RecordFrom(whole);

  CheckRead(std::string(reinterpret_cast<const char*>(data), size), untouched);

  // A record's file with up to eight bytes changed, and cut or lengthened now and then.
  Input in(data, size);
  const proto::CalibrationRecord record = RecordFrom(in);
  CheckWritten(record);
  std::string file = EncodeCalibrationFile(record);
  const uint8_t edits = in.Byte() % 9;
  for (uint8_t i = 0; i < edits; ++i) {
    const std::size_t at = in.Byte() % kCalibrationFileLength;
    file[at] = static_cast<char>(in.Byte());
  }
  const uint8_t resize = in.Byte();
  if (resize >= 0xF0) file.resize(kCalibrationFileLength + (resize & 0x0F) - 8, '\0');
  CheckRead(file, untouched);
  return 0;
}
