// The calibration file: one calibration record as 137 bytes of text in a fixed layout, with
// CR LF line ends, no header and no checksum. The reader takes exactly what the writer makes,
// so that a file an editor or a truncation changed never reaches the frame.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "device/protocol.h"

namespace tactra::console {

constexpr std::size_t kCalibrationFileLength = 137;

// The file's bytes for a record. The two head values are the characters '0' + value (a byte,
// so values from 208 on wrap past 0xFF and still read back), the flags "0" or "1", each point
// value its signed decimal text in a 6-byte field padded with NULs; a six-character value
// (-10000 and below) fills its field and has no NUL after it.
std::string EncodeCalibrationFile(const proto::CalibrationRecord& record);

// Reads a file's bytes into `record`. False, with `record` untouched, unless the content is 137
// bytes with every line end in place, flags "0" or "1", and every number field an optional
// minus and at least one digit followed only by NULs, of a value from -32768 to 32767.
bool DecodeCalibrationFile(const std::string& content, proto::CalibrationRecord& record);

// Whether a record may be written to the frame: its head holds the calibration mode it was made
// in (2..4) and the option it was made with (0..4). Nothing when it may; else why not. Every
// writer of records asks here, so that a file or a backup never puts a value the frame cannot
// have onto it.
std::optional<std::string> RecordRefusal(const proto::CalibrationRecord& record);

}  // namespace tactra::console
