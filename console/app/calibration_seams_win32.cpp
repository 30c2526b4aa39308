#include "console/app/calibration_seams_win32.h"

#include <commdlg.h>

#include <vector>

#include "common/win32/handles_win32.h"
#include "common/win32/program_path_win32.h"

namespace tactra::console {

namespace {

constexpr wchar_t kProgramName[] = L"TactraConsole";
constexpr wchar_t kCalibrationProgram[] = L"Kelvane.exe";
constexpr wchar_t kFilter[] = L"Ini Files (*.ini)\0*.ini\0All Files (*.*)\0*.*\0";
constexpr wchar_t kDefaultExtension[] = L"ini";
// Other processes may leave a temporary file of the same name behind.
constexpr int kTemporaryNameTries = 16;

class ProcessWin32 : public StartedProcess {
 public:
  explicit ProcessWin32(win32::UniqueHandle process) : process_(std::move(process)) {}
  bool Running() override { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
  std::optional<uint32_t> WaitForExit(std::chrono::milliseconds limit) override {
    DWORD code = 0;
    if (WaitForSingleObject(process_.get(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_.get(), &code))
      return std::nullopt;
    return code;
  }

 private:
  win32::UniqueHandle process_;
};

bool WriteAll(HANDLE file, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    DWORD written = 0;
    if (!WriteFile(file, content.data() + done, static_cast<DWORD>(content.size() - done), &written,
                   nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

std::optional<std::wstring> FileDialogsWin32::ChooseSavePath() { return Choose(true); }
std::optional<std::wstring> FileDialogsWin32::ChooseOpenPath() { return Choose(false); }

std::optional<std::wstring> FileDialogsWin32::Choose(bool save) {
  std::vector<wchar_t> name(win32::kLongestPath, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner_;
  dialog.lpstrFilter = kFilter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = static_cast<DWORD>(name.size());
  dialog.lpstrDefExt = kDefaultExtension;
  dialog.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
  const BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
  if (!chosen || name[0] == L'\0') return std::nullopt;
  return std::wstring(name.data());
}

bool FileAccessWin32::WriteReplacing(const std::wstring& path, const std::string& content) {
  for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
    // Beside the target, so that the replacement is a rename within one folder.
    const std::wstring temporary =
        path + L"." + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial_) + L".tmp";
    win32::UniqueFile file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return false;
    }
    bool done = WriteAll(file.get(), content) && FlushFileBuffers(file.get());
    done = CloseHandle(file.release()) && done;
    done = done &&
           MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!done) DeleteFileW(temporary.c_str());
    return done;
  }
  return false;
}

bool FileAccessWin32::Read(const std::wstring& path, std::size_t limit, std::string& content) {
  win32::UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  // One byte more than the limit tells a longer file.
  std::string buffer(limit + 1, '\0');
  std::size_t total = 0;
  while (total < buffer.size()) {
    DWORD got = 0;
    if (!ReadFile(file.get(), &buffer[total], static_cast<DWORD>(buffer.size() - total), &got, nullptr))
      return false;
    if (got == 0) break;
    total += got;
  }
  if (total > limit) return false;
  buffer.resize(total);
  content = std::move(buffer);
  return true;
}

std::unique_ptr<StartedProcess> ProgramStarterWin32::Start(StartOutcome& outcome) {
  const std::wstring folder = win32::ProgramFolder();
  if (folder.empty()) {
    outcome = StartOutcome::Failed;
    return nullptr;
  }
  // The full path, also as the quoted first word of the command line: no search decides
  // which program runs.
  const std::wstring path = folder + kCalibrationProgram;
  std::wstring commandLine = L"\"" + path + L"\"";
  if (monitor_) commandLine += L" /monitor:" + std::to_wstring(*monitor_);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION created{};
  if (!CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &created)) {
    outcome = StartOutcomeForError(GetLastError());
    return nullptr;
  }
  win32::UniqueHandle thread(created.hThread);
  outcome = StartOutcome::Started;
  return std::make_unique<ProcessWin32>(win32::UniqueHandle(created.hProcess));
}

void OwnedTextBox::Show(const std::wstring& text) { MessageBoxW(owner_, text.c_str(), kProgramName, MB_OK); }

}  // namespace tactra::console
