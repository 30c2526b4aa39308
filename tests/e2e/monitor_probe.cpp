// What the system says of its displays, for the scenarios that write the pen mapping: one line
// per display attached to the desktop,
//   DISPLAY-NAME primary|other INTERFACE-PATH
// from the display adapters' list (not the monitors' list the calibration program reads).
#include <windows.h>

#include <cstdio>

int main() {
  DISPLAY_DEVICEW adapter{};
  adapter.cb = sizeof adapter;
  for (DWORD i = 0; EnumDisplayDevicesW(nullptr, i, &adapter, 0); ++i) {
    DISPLAY_DEVICEW monitor{};
    monitor.cb = sizeof monitor;
    if ((adapter.StateFlags & DISPLAY_DEVICE_ATTACHED_TO_DESKTOP) &&
        EnumDisplayDevicesW(adapter.DeviceName, 0, &monitor, EDD_GET_DEVICE_INTERFACE_NAME)) {
      std::printf("%ls %s %ls\n", adapter.DeviceName,
                  (adapter.StateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE) ? "primary" : "other",
                  monitor.DeviceID);
    }
    adapter = DISPLAY_DEVICEW{};
    adapter.cb = sizeof adapter;
  }
  return 0;
}
