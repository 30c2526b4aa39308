#include "common/win32/startup_probe_win32.h"

#include <windows.h>

#include <string>

#include "common/win32/handles_win32.h"

namespace tactra::win32 {

namespace {

uint64_t Ticks(const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

}  // namespace

void NoteStartupStep(const wchar_t* variable, const char* step) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(variable, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  FILETIME created{}, exited{}, kernel{}, user{}, now{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return;
  GetSystemTimeAsFileTime(&now);
  const uint64_t elapsedMs = (Ticks(now) - Ticks(created)) / 10000;
  const std::string line = std::string(step) + "-ms=" + std::to_string(elapsedMs) + "\n";
  UniqueFile file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return;
  DWORD written = 0;
  WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace tactra::win32
