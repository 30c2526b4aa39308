// Both reply recognisers and the read splitter over any read of 0..2047 bytes. The input buffer
// is exactly as long as the read, so any look past it is caught by AddressSanitizer.
#include <cstddef>
#include <cstdint>

#include "device/protocol.h"

using namespace tactra::proto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > 2047) return 0;
  IsConsoleReply(data, size);

  // Every input length of the frame's channels, and a few that match none.
  static constexpr std::size_t kInputLengths[] = {62, 9, 6, 64, 48, 1, 2, 3, 124};
  for (std::size_t inputLength : kInputLengths) {
    SplitCalibrationRead(data, size, inputLength,
                         [](const uint8_t* report, std::size_t length, ReportKind kind) {
                           RawPoint point;
                           if (kind == ReportKind::Touch) ParseTouchReport(report, length, point);
                           if (kind == ReportKind::Reply && report[1] == CMD_CAL_SAMPLE && report[2] == 5) {
                             ParseCalSample(report + 3, 5, point);
                           }
                         });
  }
  IsCalibrationReply(data, size);
  ParseInfoLists(data, size);
  return 0;
}
