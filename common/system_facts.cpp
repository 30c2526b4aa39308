#include "common/system_facts.h"

namespace tactra {

namespace {
constexpr uint32_t kPlatformWindows95 = 1;
constexpr uint32_t kPlatformNt = 2;
constexpr int kClassUnknown = 3;
}  // namespace

int WindowsClassFromVersion(const VersionRecord& version) {
  if (!version.ok) return kClassUnknown;
  if (version.platformId == kPlatformWindows95) return 0;
  if (version.platformId != kPlatformNt) return kClassUnknown;
  if (version.major > 6) return 6;
  if (version.major == 6) return version.minor == 0 ? 5 : 6;
  if (version.major == 5) {
    switch (version.minor) {
      case 0:
        return 2;
      case 1:
        return 3;
      case 2:
        return 4;
      default:
        return 1;
    }
  }
  return 1;
}

int OrientationFromDisplay(const DisplayRecord& display, int current) {
  if (!display.ok) return current;
  return display.orientation >= 1 && display.orientation <= 3 ? static_cast<int>(display.orientation) : 0;
}

}  // namespace tactra
