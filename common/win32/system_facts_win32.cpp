#include "common/win32/system_facts_win32.h"

#include <windows.h>

namespace tactra {

namespace {

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);

RtlGetVersionFn FindRtlGetVersion() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");  // always loaded; no reference to release
  if (!ntdll) return nullptr;
  // Through a generic function pointer, which every function pointer type converts from.
  return reinterpret_cast<RtlGetVersionFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(ntdll, "RtlGetVersion")));
}

}  // namespace

VersionRecord QueryVersionRecord() {
  OSVERSIONINFOW info = {};
  info.dwOSVersionInfoSize = sizeof(info);
  bool ok = false;
  if (RtlGetVersionFn rtlGetVersion = FindRtlGetVersion()) ok = rtlGetVersion(&info) == 0;
  if (!ok) {
    info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    ok = GetVersionExW(&info) != FALSE;
  }
  VersionRecord record;
  record.ok = ok;
  if (ok) {
    record.platformId = info.dwPlatformId;
    record.major = info.dwMajorVersion;
    record.minor = info.dwMinorVersion;
  }
  return record;
}

DisplayRecord QueryDisplayRecord() {
  DEVMODEW mode = {};
  mode.dmSize = sizeof(mode);
  DisplayRecord record;
  record.ok = EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode) != FALSE;
  if (record.ok) record.orientation = mode.dmDisplayOrientation;
  return record;
}

int DetectWindowsClass() { return WindowsClassFromVersion(QueryVersionRecord()); }

int DetectDisplayOrientation(int current) { return OrientationFromDisplay(QueryDisplayRecord(), current); }

}  // namespace tactra
