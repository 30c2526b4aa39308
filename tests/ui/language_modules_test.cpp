// What the calibration program needs of both of its language modules: every string, both
// dialogs with their controls, the three icons; and texts in the module's own language.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/win32/handles_win32.h"
#include "common/win32/language_module_win32.h"
#include "common/win32/message_box_win32.h"
#include "common/win32/program_path_win32.h"
#include "resources/kelvane_ids.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/scopes.h"

namespace tactra::ui {
namespace {

const wchar_t* const kModules[] = {L"KelvaneLangEN.dll", L"KelvaneLangZH.dll"};

std::vector<int> RequiredStrings() {
  std::vector<int> ids{IDS_ABOUTBOX, IDS_CAPTION};
  for (int id = 1054; id <= 1066; ++id) ids.push_back(id);
  return ids;
}

bool HasChinese(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c >= 0x4E00 && c <= 0x9FFF) return true;
  }
  return false;
}

bool IsAscii(const std::wstring& text) {
  for (wchar_t c : text) {
    if (c > 0x7E) return false;
  }
  return true;
}

class Plain : public Dialog {
 public:
  Plain(HINSTANCE m, int id) : Dialog(m, id) {}
};

TEST(LanguageModules, EveryStringPresentAndInItsLanguage) {
  for (const wchar_t* name : kModules) {
    win32::UniqueModule module = win32::LoadLanguageModule(name);
    ASSERT_TRUE(module) << name;
    const bool chinese = std::wstring(name).find(L"ZH") != std::wstring::npos;
    for (int id : RequiredStrings()) {
      const std::wstring text = LoadResourceString(module.get(), id);
      EXPECT_FALSE(text.empty()) << id;
      // Texts are shown as they stand: a lone percent sign would be a format directive.
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'%') {
          EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == L'%') << id;
        }
      }
    }
    for (int id : {IDS_INSTRUCTION, IDS_NO_FRAME, IDS_FRAME_REMOVED, IDS_REFUSED}) {
      const std::wstring text = LoadResourceString(module.get(), id);
      if (chinese) {
        EXPECT_TRUE(HasChinese(text)) << id;
      } else {
        EXPECT_TRUE(IsAscii(text)) << id;
      }
    }
  }
}

TEST(LanguageModules, RunDialogHoldsItsControls) {
  for (const wchar_t* name : kModules) {
    win32::UniqueModule module = win32::LoadLanguageModule(name);
    ASSERT_TRUE(module) << name;
    Plain run(module.get(), IDD_CALIBRATION);
    ASSERT_TRUE(run.CreateModeless(nullptr)) << name;
    wchar_t kind[32];
    for (int id : {IDOK, IDCANCEL}) {
      HWND item = run.Item(id);
      ASSERT_NE(item, nullptr) << id;
      GetClassNameW(item, kind, 32);
      EXPECT_EQ(_wcsicmp(kind, L"Button"), 0);
      EXPECT_EQ(GetWindowLongW(item, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW) << id;
    }
    for (int id = IDC_INSTRUCTION; id <= IDC_TARGET_LEFT_CENTRE; ++id) {
      HWND item = run.Item(id);
      ASSERT_NE(item, nullptr) << id;
      GetClassNameW(item, kind, 32);
      EXPECT_EQ(_wcsicmp(kind, L"Static"), 0) << id;
      const SIZE size = ItemSize(run.hwnd(), id);
      EXPECT_GT(size.cx, 0) << id;
      EXPECT_GT(size.cy, 0) << id;
      // Targets are drawn by the dialog; their controls only mark the place.
      if (id >= IDC_TARGET_CENTRE) {
        EXPECT_FALSE(GetWindowLongW(item, GWL_STYLE) & WS_VISIBLE) << id;
      }
    }
    Plain about(module.get(), IDD_ABOUTBOX);
    EXPECT_TRUE(about.CreateModeless(nullptr)) << name;
  }
}

TEST(LanguageModules, IconsLoad) {
  for (const wchar_t* name : kModules) {
    win32::UniqueModule module = win32::LoadLanguageModule(name);
    ASSERT_TRUE(module) << name;
    for (int id : {IDR_MAINFRAME, IDI_BUTTON_OK, IDI_BUTTON_CANCEL}) {
      for (int size : {16, 32}) {
        win32::UniqueIcon icon(static_cast<HICON>(
            LoadImageW(module.get(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
        EXPECT_TRUE(icon) << id << " " << size;
      }
    }
  }
}

TEST(ResourceMessages, TextsComeFromTheModule) {
  win32::UniqueModule module = win32::LoadLanguageModule(L"KelvaneLangZH.dll");
  ASSERT_TRUE(module);
  ResourceMessages messages(module.get());
  EXPECT_EQ(messages.LoadText(IDS_COUNTDOWN_AFTER), L"秒");
  EXPECT_EQ(messages.LoadText(4321), L"");
  ResourceMessages none(nullptr, BoxStyle{IDS_CAPTION, false});
  EXPECT_EQ(none.LoadText(IDS_CAPTION), L"");
}

TEST(LanguageModules, LoadedFromTheProgramsFolderAsResourcesOnly) {
  win32::UniqueModule module = win32::LoadLanguageModule(L"KelvaneLangEN.dll");
  ASSERT_TRUE(module);
  // An image of resources only: its handle carries the marks of one, and no code of it runs.
  EXPECT_NE(reinterpret_cast<ULONG_PTR>(module.get()) & 3, 0u);

  // A module of that name planted in the current directory (or on the search path) is never
  // taken in place of a missing one.
  wchar_t temp[MAX_PATH] = {};
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring folder = std::wstring(temp) + L"tactra-planted\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring planted = folder + L"PlantedLang.dll";
  ASSERT_TRUE(CopyFileW((win32::ProgramFolder() + L"KelvaneLangEN.dll").c_str(), planted.c_str(), FALSE));
  wchar_t previous[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
  EXPECT_FALSE(win32::LoadLanguageModule(L"PlantedLang.dll"));
  SetCurrentDirectoryW(previous);
  DeleteFileW(planted.c_str());
  RemoveDirectoryW(folder.c_str());
}

}  // namespace
}  // namespace tactra::ui
