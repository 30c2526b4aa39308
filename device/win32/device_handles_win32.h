// Owners of the handles of the system's HID and device-setup interfaces, in the family of
// common/win32/handles_win32.h.
#pragma once

#include <windows.h>
// clang-format off
#include <setupapi.h>
#include <dbt.h>
// This toolchain's HID headers do not declare C linkage themselves.
extern "C" {
#include <hidsdi.h>
}
// clang-format on

#include "common/win32/handles_win32.h"

namespace tactra::win32 {

using UniqueDevInfo = UniqueAny<HDEVINFO, SetupDiDestroyDeviceInfoList, Empty::NullOrInvalid>;
using UniquePreparsed = UniqueAny<PHIDP_PREPARSED_DATA, HidD_FreePreparsedData>;
using UniqueDevNotify = UniqueAny<HDEVNOTIFY, UnregisterDeviceNotification>;

}  // namespace tactra::win32
