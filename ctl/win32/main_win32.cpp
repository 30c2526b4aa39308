// tactractl.exe: the tool over the system's HID stack (or the simulated frame), the registry,
// the disk and the calibration program beside it.
#include <windows.h>

#include <string>
#include <vector>

#include "common/win32/program_path_win32.h"
#include "common/win32/registry_store_win32.h"
#include "common/win32/system_facts_win32.h"
#include "console/app/calibration_seams_win32.h"
#include "console/config_page.h"
#include "ctl/tool.h"
#include "ctl/utf8.h"
#include "device/win32/hid_host_win32.h"
#include "programs/host_choice.h"

namespace {

// A console shows the text in its own characters; a pipe or a file gets UTF-8. Whether all of
// it was taken; no handle at all (a program started without one) takes it.
bool Write(DWORD which, const std::string& text) {
  HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return true;
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    const std::wstring wide = tactra::ctl::FromUtf8(text);
    DWORD written = 0;
    return WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) &&
           written == wide.size();
  }
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!WriteFile(out, text.data() + done, static_cast<DWORD>(text.size() - done), &written, nullptr) ||
        written == 0)
      return false;
    done += written;
  }
  return true;
}

// A calibration run waits for its user; this is how long --wait waits for it at most.
constexpr std::chrono::minutes kRunLimit{30};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  using namespace tactra;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(ctl::ToUtf8(argv[i]));

  std::unique_ptr<HidHost> host = ChooseHidHost(CreateWin32HidHost);
  std::unique_ptr<SettingsStore> store = CreateRegistryStore();
  console::FileAccessWin32 files;
  console::ProgramStarterWin32 starter;
  const std::wstring folder = win32::ProgramFolder();
  const std::wstring console = folder + L"TactraConsole.exe";
  const bool consoleThere = !folder.empty() && GetFileAttributesW(console.c_str()) != INVALID_FILE_ATTRIBUTES;
  ctl::ToolSeams seams{
      *host,
      *store,
      files,
      starter,
      [](std::chrono::milliseconds d) { Sleep(static_cast<DWORD>(d.count())); },
      RealSleep,
      console::ConfigOsCode(QueryVersionRecord()),
      consoleThere ? std::optional<std::wstring>(console) : std::nullopt,
      kRunLimit};
  return ctl::Deliver(
      ctl::RunTool(args, seams), [](const std::string& text) { return Write(STD_OUTPUT_HANDLE, text); },
      [](const std::string& text) { Write(STD_ERROR_HANDLE, text); });
}
