#include "calibration/app/startup_probe.h"

#include <windows.h>

#include <memory>
#include <string>

namespace tactra::calib {

namespace {

uint64_t Ticks(const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

}  // namespace

void NoteStartupStep(const char* step) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"KELVANE_STARTUP_LOG", path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  FILETIME created{}, exited{}, kernel{}, user{}, now{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return;
  GetSystemTimeAsFileTime(&now);
  const uint64_t elapsedMs = (Ticks(now) - Ticks(created)) / 10000;
  const std::string line = std::string(step) + "-ms=" + std::to_string(elapsedMs) + "\n";
  HANDLE opened = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) return;
  std::unique_ptr<void, decltype(&CloseHandle)> file(opened, &CloseHandle);
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace tactra::calib
