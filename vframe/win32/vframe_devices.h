// Adding and removing the virtual frame's devices through SetupAPI: one root-enumerated HID-class
// device per collection, each told its collection by values in its own registry key, all driven
// by the one driver that the INF installs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tactra::vframe {

struct Collection {
  int channel = 0;  // 0..5: names the pipe the driver opens
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  uint16_t inputLength = 0;  // report ID byte included
  uint16_t outputLength = 0;
  uint8_t reportId = 0;  // 0: the collection has no report ID
};

// The report ID of each collection of the frame, as its reports carry it; 0 where the frame
// sends and takes nothing the programs rely on.
uint8_t ReportIdOfChannel(int channel);

// Adds one device per collection and installs the driver of `inf` on them. On failure the
// devices added so far are removed again and `error` says which step failed.
bool AddFrameDevices(const std::wstring& inf, const std::vector<Collection>& collections,
                     std::wstring& error);

// Removes every device of the virtual frame, present or not; the number removed, or -1 when the
// devices could not be listed.
int RemoveFrameDevices();

}  // namespace tactra::vframe
