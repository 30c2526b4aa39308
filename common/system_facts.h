// What the calibration run needs to know of the system: the Windows version class and the
// rotation of the primary display. The mappings here are portable; the queries live in
// common/win32/system_facts_win32.h.
#pragma once

#include <cstdint>

namespace tactra {

// The system's version record as queried; `ok` false when the query failed.
struct VersionRecord {
  bool ok = false;
  uint32_t platformId = 0;  // 1: Windows 95 family, 2: NT
  uint32_t major = 0;
  uint32_t minor = 0;
};

// The current settings of the primary display as queried; `ok` false when the query failed.
struct DisplayRecord {
  bool ok = false;
  uint32_t orientation = 0;  // the settings' display-orientation field
};

// 0: Windows 95 family; 1: NT below 5, or 5.x other than 5.0-5.2; 2: 5.0; 3: 5.1, also a
// failed query or an unknown platform; 4: 5.2; 5: 6.0; 6: 6.1 and later.
int WindowsClassFromVersion(const VersionRecord& version);

// Quarter turns 0..3 from the display settings; `current` stays when the query failed, and
// any value other than 1, 2 or 3 counts as 0.
int OrientationFromDisplay(const DisplayRecord& display, int current);

}  // namespace tactra
