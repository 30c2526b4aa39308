// The Windows queries behind the system facts: version record and primary display settings.
#pragma once

#include "common/system_facts.h"

namespace tactra {

// The true version numbers (RtlGetVersion, which compatibility shims do not alter), or those
// of GetVersionExW where ntdll lacks it.
VersionRecord QueryVersionRecord();
// The current settings of the primary display.
DisplayRecord QueryDisplayRecord();

// The operating-system class of the running system.
int DetectWindowsClass();
// The primary display's orientation; `current` when the settings cannot be read.
int DetectDisplayOrientation(int current);

}  // namespace tactra
