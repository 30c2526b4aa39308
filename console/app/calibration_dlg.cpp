#include "console/app/calibration_dlg.h"

#include <commdlg.h>

#include <vector>

#include "common/win32/language_module_win32.h"
#include "resources/console_ids.h"
#include "ui/controls.h"
#include "ui/scopes.h"

namespace tactra::console {

namespace {

constexpr wchar_t kProgramName[] = L"TactraConsole";
constexpr wchar_t kCalibrationProgram[] = L"Kelvane.exe";
constexpr wchar_t kFilter[] = L"Ini Files (*.ini)\0*.ini\0All Files (*.*)\0*.*\0";
constexpr wchar_t kDefaultExtension[] = L"ini";
// Room for the longest path the system takes.
constexpr std::size_t kLongestPath = 32768;
// Other processes may leave a temporary file of the same name behind.
constexpr int kTemporaryNameTries = 16;

constexpr int kOptionIds[kOptionButtons] = {IDC_CAL_OPTION_0, IDC_CAL_OPTION_1, IDC_CAL_OPTION_2,
                                            IDC_CAL_OPTION_3};
constexpr int kModeIds[] = {IDC_CAL_MODE_2, IDC_CAL_MODE_3, IDC_CAL_MODE_4};
constexpr int kModeOfButton[] = {proto::kModeFourPoint, proto::kModeFivePoint, proto::kModeNinePoint};
constexpr int kActionIds[] = {IDC_CAL_START, IDC_CAL_EXPORT, IDC_CAL_IMPORT, IDC_CAL_FACTORY, IDC_CAL_APPLY};

class ProcessWin32 : public StartedProcess {
 public:
  explicit ProcessWin32(win32::UniqueHandle process) : process_(std::move(process)) {}
  bool Running() override { return WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

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

template <std::size_t N>
int IndexOf(const int (&ids)[N], int id) {
  for (std::size_t i = 0; i < N; ++i) {
    if (ids[i] == id) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

std::optional<std::wstring> FileDialogsWin32::ChooseSavePath() { return Choose(true); }
std::optional<std::wstring> FileDialogsWin32::ChooseOpenPath() { return Choose(false); }

std::optional<std::wstring> FileDialogsWin32::Choose(bool save) {
  std::vector<wchar_t> name(kLongestPath, L'\0');
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

CCalibrationDlg::CCalibrationDlg(HINSTANCE resources, PageContext context, ConsoleModel& console)
    : ConsolePage(resources, IDD_PAGE_CALIBRATION),
      console_(console),
      model_(std::move(context), CalibrationSeams{dialogs_, files_, starter_, texts_}) {
  model_.SetControlsChanged([this] { FieldsToControls(); });
}

BOOL CCalibrationDlg::OnInitDialog() {
  HWND main = GetAncestor(hwnd(), GA_ROOT);
  dialogs_.SetOwner(main);
  texts_.SetOwner(main);
  pictureRect_ = ui::ItemClientRect(hwnd(), IDC_CAL_PICTURE);
  return TRUE;
}

void CCalibrationDlg::Refresh() {
  model_.Refresh();
  FieldsToControls();
}

void CCalibrationDlg::FieldsToControls() {
  if (!hwnd()) return;
  const CalibrationView view = model_.View();
  for (int i = 0; i < kOptionButtons; ++i) {
    ui::SetChecked(hwnd(), kOptionIds[i], i == view.checkedOption);
    if (!view.optionsEnabled) ui::EnableItem(hwnd(), kOptionIds[i], false);
  }
  for (std::size_t i = 0; i < std::size(kModeIds); ++i) {
    ui::SetChecked(hwnd(), kModeIds[i], kModeOfButton[i] == view.checkedMode);
    if (!view.modesEnabled) ui::EnableItem(hwnd(), kModeIds[i], false);
  }
  if (!view.actionsEnabled) {
    for (int id : kActionIds) ui::EnableItem(hwnd(), id, false);
  }
  // The illustration follows the option value.
  InvalidateRect(hwnd(), &pictureRect_, TRUE);
}

bool CCalibrationDlg::OnCommand(int id, int code, HWND) {
  if (code != BN_CLICKED) return false;
  if (const int option = IndexOf(kOptionIds, id); option >= 0) {
    std::array<bool, kOptionButtons> checked{};
    for (int i = 0; i < kOptionButtons; ++i)
      checked[static_cast<std::size_t>(i)] = ui::IsChecked(hwnd(), kOptionIds[i]);
    model_.OnOptionClicked(option, checked);
    FieldsToControls();
    return true;
  }
  if (const int mode = IndexOf(kModeIds, id); mode >= 0) {
    std::array<bool, 3> checked{};
    for (std::size_t i = 0; i < checked.size(); ++i) checked[i] = ui::IsChecked(hwnd(), kModeIds[i]);
    model_.OnModeClicked(kModeOfButton[mode], checked);
    FieldsToControls();
    return true;
  }
  switch (id) {
    case IDC_CAL_APPLY:
      console_.RunSequence([this] { model_.Apply(); });
      return true;
    case IDC_CAL_FACTORY:
      console_.RunSequence([this] {
        model_.RestoreFactory();
        FieldsToControls();
      });
      return true;
    case IDC_CAL_START:
      console_.RunSequence([this] { model_.StartCalibrationProgram(); });
      return true;
    case IDC_CAL_EXPORT:
      console_.RunSequence([this] { model_.Export(); });
      return true;
    case IDC_CAL_IMPORT:
      console_.RunSequence([this] { model_.Import(); });
      return true;
    default:
      return false;
  }
}

bool CCalibrationDlg::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result) {
  if (message != WM_PAINT) return false;
  Paint();
  result = 0;
  return true;
}

void CCalibrationDlg::Paint() {
  ui::PaintScope paint(hwnd());
  SetMapMode(paint.dc(), MM_TEXT);
  const int bitmapId = model_.View().illustration;
  if (bitmapId == 0) return;
  // Loaded anew on every paint, from the language module.
  win32::UniqueBitmap bitmap(static_cast<HBITMAP>(
      LoadImageW(resources(), MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  BITMAP size{};
  if (!bitmap || !GetObjectW(bitmap.get(), sizeof size, &size)) return;
  const std::optional<PixelRect> drawn =
      FitIllustration(size.bmWidth, size.bmHeight,
                      {pictureRect_.left, pictureRect_.top, pictureRect_.right, pictureRect_.bottom});
  if (!drawn) return;
  win32::UniqueMemoryDc memory(CreateCompatibleDC(nullptr));
  if (!memory) return;
  ui::SelectGuard selected(memory.get(), bitmap.get());
  StretchBlt(paint.dc(), drawn->left, drawn->top, drawn->right - drawn->left, drawn->bottom - drawn->top,
             memory.get(), 0, 0, size.bmWidth, size.bmHeight, SRCCOPY);
}

}  // namespace tactra::console
