#include "calibration/app/device_change.h"

#include <dbt.h>

namespace tactra::calib {

bool DecodeDeviceChange(WPARAM wParam, LPARAM lParam, DeviceNotice& notice, std::wstring& path) {
  if (wParam == DBT_DEVICEARRIVAL) {
    notice = DeviceNotice::Arrival;
  } else if (wParam == DBT_DEVICEREMOVECOMPLETE) {
    notice = DeviceNotice::Removal;
  } else {
    return false;
  }
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return false;
  const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
  // The name runs to the end of the record; its size bounds the copy.
  const std::size_t offset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
  if (header->dbch_size <= offset) return false;
  const std::size_t room = (header->dbch_size - offset) / sizeof(wchar_t);
  std::size_t length = 0;
  while (length < room && device->dbcc_name[length] != L'\0') ++length;
  path.assign(device->dbcc_name, length);
  return true;
}

}  // namespace tactra::calib
