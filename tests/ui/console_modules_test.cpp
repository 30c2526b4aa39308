// What the console needs of both of its language modules, loaded as the console loads them (as
// resources only): every string, in the module's language; every dialog template with each of
// its controls of the right kind; the lists' item strings in the order the program reads them;
// a layout that fits the main window and the texts; the icon at both sizes; the illustrations.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "common/win32/handles_win32.h"
#include "common/win32/language_module_win32.h"
#include "resources/console_ids.h"
#include "tests/ui/console_pages.h"
#include "ui/controls.h"
#include "ui/scopes.h"

namespace tactra::ui {
namespace {

using OwnedWindow = win32::UniqueAny<HWND, DestroyWindow>;

struct Module {
  const wchar_t* file;
  bool chinese;
  const wchar_t* on;  // the words of the on/off lists
  const wchar_t* off;
};
const Module kModules[] = {{L"TactraConsoleLangEN.dll", false, L"On", L"Off"},
                           {L"TactraConsoleLangZH.dll", true, L"开启", L"关闭"}};

bool HasChinese(const std::wstring& text) {
  return std::any_of(text.begin(), text.end(), [](wchar_t c) { return c >= 0x4E00 && c <= 0x9FFF; });
}

bool IsAscii(const std::wstring& text) {
  return std::all_of(text.begin(), text.end(), [](wchar_t c) { return c <= 0x7E; });
}

bool EndsWith(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::wstring ClassOf(HWND window) {
  wchar_t kind[64] = {};
  GetClassNameW(window, kind, 64);
  return kind;
}

bool IsClass(HWND window, const wchar_t* kind) { return _wcsicmp(ClassOf(window).c_str(), kind) == 0; }

LONG StyleOf(HWND window) { return GetWindowLongW(window, GWL_STYLE); }

RECT RectIn(HWND window, HWND parent) {
  RECT rect{};
  GetWindowRect(window, &rect);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

std::vector<HWND> ChildrenOf(HWND dialog) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

INT_PTR CALLBACK Passive(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

constexpr int kTemplates[] = {IDD_ABOUTBOX,         IDD_CONSOLE,      IDD_PAGE_INFO, IDD_PAGE_CONFIG,
                              IDD_PAGE_CALIBRATION, IDD_PAGE_OPTIONS, IDD_PAGE_ABOUT};

// One template as the console shows it: the about box alone; the main window with its tabs in
// place; a page in the tab's display area of a (hidden) main window, its lists filled.
class Shown {
 public:
  Shown(HINSTANCE module, int id) {
    if (id == IDD_ABOUTBOX) {
      dialog_.reset(CreateDialogParamW(module, MAKEINTRESOURCEW(id), nullptr, Passive, 0));
      window_ = dialog_.get();
      return;
    }
    main_.reset(CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_CONSOLE), nullptr, Passive, 0));
    if (!main_) return;
    area_ = console::SetUpMainWindow(main_.get(), module);
    if (id == IDD_CONSOLE) {
      window_ = main_.get();
      return;
    }
    dialog_.reset(CreateDialogParamW(module, MAKEINTRESOURCEW(id), main_.get(), Passive, 0));
    if (!dialog_) return;
    SetWindowPos(dialog_.get(), HWND_TOP, area_.left, area_.top, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
    lists_ = console::FillLists(dialog_.get(), module);
    window_ = dialog_.get();
  }

  HWND get() const { return window_; }
  // The tab's display area in the main window's client coordinates.
  const RECT& area() const { return area_; }
  int lists() const { return lists_; }

 private:
  OwnedWindow main_;
  OwnedWindow dialog_;  // destroyed before its parent
  HWND window_ = nullptr;
  RECT area_{};
  int lists_ = 0;
};

void InitControls() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);
}

TEST(ConsoleModules, EveryStringPresentAndInItsLanguage) {
  std::vector<int> ids{IDS_ABOUTBOX};
  for (int id = IDS_CAPTION; id <= IDS_OUT_OF_MEMORY; ++id) ids.push_back(id);
  for (int id = IDS_KEY_OPEN_FAILED; id <= IDS_TRAY_ICON_FAILED; ++id) ids.push_back(id);
  for (int id = IDS_TAB_INFO; id <= IDS_TAB_ABOUT; ++id) ids.push_back(id);
  for (const Module& m : kModules) {
    win32::UniqueModule module = win32::LoadLanguageModule(m.file);
    ASSERT_TRUE(module) << m.file;
    for (int id : ids) {
      SCOPED_TRACE(testing::Message() << m.file << " string " << id);
      const std::wstring text = LoadResourceString(module.get(), id);
      EXPECT_FALSE(text.empty());
      // Shown as they stand: a lone percent sign would read as a format directive.
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%') continue;
        EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == L'%');
        ++i;
      }
      if (id == IDS_CAPTION) {
        EXPECT_EQ(text, L"TactraConsole");
      } else if (m.chinese) {
        EXPECT_TRUE(HasChinese(text));
      } else {
        EXPECT_TRUE(IsAscii(text));
      }
    }
    // The program appends the name of the value.
    for (int id : {IDS_VALUE_CREATE_FAILED, IDS_VALUE_READ_FAILED, IDS_VALUE_WRITE_FAILED}) {
      const std::wstring text = LoadResourceString(module.get(), id);
      EXPECT_TRUE(EndsWith(text, L": ") || EndsWith(text, L"：")) << m.file << " " << id;
    }
  }
}

// The lists of the configuration page. The program takes an item's index as the setting's
// value, so the order matters: numbers as listed, on/off as given.
struct ListItems {
  int id;
  std::vector<int> numbers;  // empty for an on/off list
  bool offFirst;
};
const std::vector<int> kLevels{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
const ListItems kLists[] = {
    {IDC_CFG_11, {}, true},
    {IDC_CFG_12A, {}, false},
    {IDC_CFG_12B, {}, false},
    {IDC_CFG_12C, {}, false},
    {IDC_CFG_15_ON, {}, false},
    {IDC_CFG_14_ON, {}, false},
    {IDC_CFG_16_ON, {}, false},
    {IDC_CFG_21_ON, {}, false},
    {IDC_CFG_15_TIME, {500, 1000, 1500, 2000, 2500, 3000, 3500, 4000, 4500, 5000}, false},
    {IDC_CFG_15_LEVEL, kLevels, false},
    {IDC_CFG_14_LEVEL, kLevels, false},
    {IDC_CFG_14_TIME, {100, 200, 300, 400, 500, 600, 700, 800, 900, 1000}, false},
    {IDC_CFG_17C, kLevels, false},
    {IDC_CFG_17D, kLevels, false},
    {IDC_CFG_21_A, {3, 5, 10, 20, 30, 45, 60, 90, 120, 180}, false},
    {IDC_CFG_21_B, {100, 200, 300, 500, 750, 1000, 1500, 2000}, false},
};

TEST(ConsoleModules, ListsHoldTheItemsTheProgramReads) {
  for (const Module& m : kModules) {
    win32::UniqueModule module = win32::LoadLanguageModule(m.file);
    ASSERT_TRUE(module) << m.file;
    for (const ListItems& list : kLists) {
      SCOPED_TRACE(testing::Message() << m.file << " list " << list.id);
      std::vector<std::wstring> items;
      for (int i = 0; i < 10; ++i) {
        std::wstring text = LoadResourceString(module.get(), IDS_LIST_ITEM(list.id, i));
        if (text.empty()) break;
        items.push_back(std::move(text));
      }
      if (list.numbers.empty()) {
        const std::vector<std::wstring> expected =
            list.offFirst ? std::vector<std::wstring>{m.off, m.on} : std::vector<std::wstring>{m.on, m.off};
        EXPECT_EQ(items, expected);
        continue;
      }
      ASSERT_EQ(items.size(), list.numbers.size());
      for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(_wtoi(items[i].c_str()), list.numbers[i]) << i;
      }
    }
  }
}

enum class Kind {
  ReadOnlyEdit,
  NumberEdit,
  DropList,
  Radio,
  AutoCheck,
  Push,
  Trackbar,
  UpDown,
  Frame,
  Text,
  Tabs
};

// A kind of control: its window class and the style bits under `mask` that make it that kind.
struct KindTraits {
  Kind kind;
  const wchar_t* windowClass;
  LONG mask;
  LONG value;
};
const KindTraits kKinds[] = {
    {Kind::ReadOnlyEdit, L"Edit", ES_READONLY | ES_AUTOHSCROLL, ES_READONLY | ES_AUTOHSCROLL},
    {Kind::NumberEdit, L"Edit", ES_READONLY | ES_NUMBER, ES_READONLY | ES_NUMBER},
    // The list takes WS_VSCROLL from its combo box; every item showing at once is checked apart.
    {Kind::DropList, L"ComboBox", CBS_DROPDOWNLIST, CBS_DROPDOWNLIST},
    {Kind::Radio, L"Button", BS_TYPEMASK, BS_RADIOBUTTON},
    {Kind::AutoCheck, L"Button", BS_TYPEMASK, BS_AUTOCHECKBOX},
    // Plain or default: the dialog manager moves the default.
    {Kind::Push, L"Button", BS_TYPEMASK & ~BS_DEFPUSHBUTTON, BS_PUSHBUTTON},
    {Kind::Trackbar, TRACKBAR_CLASSW, TBS_AUTOTICKS | TBS_VERT, TBS_AUTOTICKS},
    {Kind::UpDown, UPDOWN_CLASSW, UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS,
     UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS},
    {Kind::Frame, L"Static", SS_TYPEMASK, SS_ETCHEDFRAME},
    {Kind::Text, L"Static", 0, 0},
    {Kind::Tabs, WC_TABCONTROLW, 0, 0},
};

struct Expected {
  int dialog;
  int id;
  Kind kind;
  bool hidden;
};
const Expected kControls[] = {
    {IDD_ABOUTBOX, IDOK, Kind::Push, false},
    {IDD_CONSOLE, IDC_STATUS, Kind::Text, false},
    {IDD_CONSOLE, IDC_TABS, Kind::Tabs, false},
    {IDD_PAGE_INFO, IDC_INFO_VALUE_01, Kind::ReadOnlyEdit, false},
    {IDD_PAGE_INFO, IDC_INFO_COUNT_A, Kind::ReadOnlyEdit, false},
    {IDD_PAGE_INFO, IDC_INFO_COUNT_B, Kind::ReadOnlyEdit, false},
    {IDD_PAGE_INFO, IDC_INFO_LIST_A, Kind::ReadOnlyEdit, false},
    {IDD_PAGE_INFO, IDC_INFO_LIST_B, Kind::ReadOnlyEdit, false},
    {IDD_PAGE_INFO, IDC_INFO_TEXT_F2, Kind::ReadOnlyEdit, false},
    {IDD_PAGE_INFO, IDC_INFO_TEXT_F3, Kind::ReadOnlyEdit, false},
    {IDD_PAGE_INFO, IDC_INFO_TEXT_F4, Kind::ReadOnlyEdit, false},
    {IDD_PAGE_INFO, IDC_INFO_TEXT_F5, Kind::ReadOnlyEdit, false},
    {IDD_PAGE_CONFIG, IDC_CFG_11, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_12A, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_12B, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_12C, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_15_ON, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_15_TIME, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_15_LEVEL, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_14_ON, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_14_LEVEL, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_14_TIME, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_16_ON, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_16_TEXT, Kind::NumberEdit, false},
    {IDD_PAGE_CONFIG, IDC_CFG_16_SPIN, Kind::UpDown, false},
    {IDD_PAGE_CONFIG, IDC_CFG_17C, Kind::DropList, true},
    {IDD_PAGE_CONFIG, IDC_CFG_17D, Kind::DropList, true},
    {IDD_PAGE_CONFIG, IDC_CFG_21_ON, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_21_A, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_21_B, Kind::DropList, false},
    {IDD_PAGE_CONFIG, IDC_CFG_17A, Kind::Trackbar, false},
    {IDD_PAGE_CONFIG, IDC_CFG_17B, Kind::Trackbar, false},
    {IDD_PAGE_CONFIG, IDC_CFG_17C_LABEL, Kind::Text, true},
    {IDD_PAGE_CONFIG, IDC_CFG_17D_LABEL, Kind::Text, true},
    {IDD_PAGE_CONFIG, IDC_CFG_DEFAULT, Kind::Push, false},
    {IDD_PAGE_CONFIG, IDC_CFG_APPLY, Kind::Push, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_OPTION_0, Kind::Radio, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_OPTION_1, Kind::Radio, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_OPTION_2, Kind::Radio, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_OPTION_3, Kind::Radio, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_PICTURE, Kind::Frame, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_MODE_2, Kind::Radio, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_MODE_3, Kind::Radio, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_MODE_4, Kind::Radio, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_APPLY, Kind::Push, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_FACTORY, Kind::Push, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_START, Kind::Push, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_EXPORT, Kind::Push, false},
    {IDD_PAGE_CALIBRATION, IDC_CAL_IMPORT, Kind::Push, false},
    {IDD_PAGE_OPTIONS, IDC_OPT_ENGLISH, Kind::AutoCheck, false},
    {IDD_PAGE_OPTIONS, IDC_OPT_CHINESE, Kind::AutoCheck, false},
    {IDD_PAGE_OPTIONS, IDC_OPT_LOGON, Kind::AutoCheck, false},
    {IDD_PAGE_OPTIONS, IDC_OPT_MINIMIZE, Kind::AutoCheck, false},
    {IDD_PAGE_OPTIONS, IDC_OPT_APPLY, Kind::Push, false},
};

TEST(ConsoleModules, TemplatesHoldTheirControls) {
  InitControls();
  for (const Module& m : kModules) {
    win32::UniqueModule module = win32::LoadLanguageModule(m.file);
    ASSERT_TRUE(module) << m.file;
    for (int id : kTemplates) {
      SCOPED_TRACE(testing::Message() << m.file << " template " << id);
      Shown shown(module.get(), id);
      HWND dialog = shown.get();
      ASSERT_NE(dialog, nullptr);
      const LONG style = StyleOf(dialog);
      if (id == IDD_ABOUTBOX || id == IDD_CONSOLE) {
        EXPECT_EQ(style & (WS_CHILD | WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
        EXPECT_EQ((style & WS_MINIMIZEBOX) != 0, id == IDD_CONSOLE);
      } else {
        // A page: a borderless child whose controls take part in the main window's tabbing.
        EXPECT_EQ(style & (WS_CHILD | WS_CAPTION | WS_BORDER | WS_THICKFRAME), WS_CHILD);
        EXPECT_TRUE(GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_CONTROLPARENT);
      }
      if (id == IDD_CONSOLE) {
        wchar_t caption[64] = {};
        GetWindowTextW(dialog, caption, 64);
        EXPECT_STREQ(caption, L"TactraConsole");
      }
      for (const Expected& control : kControls) {
        if (control.dialog != id) continue;
        HWND item = GetDlgItem(dialog, control.id);
        ASSERT_NE(item, nullptr) << control.id;
        const KindTraits& kind = *std::find_if(std::begin(kKinds), std::end(kKinds),
                                               [&](const KindTraits& k) { return k.kind == control.kind; });
        EXPECT_TRUE(IsClass(item, kind.windowClass)) << control.id << " is a " << ClassOf(item).c_str();
        EXPECT_EQ(StyleOf(item) & kind.mask, kind.value) << control.id;
        EXPECT_EQ((StyleOf(item) & WS_VISIBLE) == 0, control.hidden) << control.id;
        if (control.kind == Kind::UpDown) {
          EXPECT_EQ(GetDlgCtrlID(reinterpret_cast<HWND>(SendMessageW(item, UDM_GETBUDDY, 0, 0))),
                    IDC_CFG_16_TEXT);
        }
        if (control.kind == Kind::Frame) {
          // Room for the 240x180 illustrations inside the frame's edge.
          const SIZE size = ItemSize(dialog, control.id);
          EXPECT_GE(size.cx, 242);
          EXPECT_GE(size.cy, 182);
          EXPECT_LE(size.cx, 260);
          EXPECT_LE(size.cy, 200);
        }
      }
    }
    // The icon, as the about box and the about page show it.
    for (int id : {IDD_ABOUTBOX, IDD_PAGE_ABOUT}) {
      Shown shown(module.get(), id);
      int icons = 0;
      for (HWND child : ChildrenOf(shown.get())) {
        if (IsClass(child, L"Static") && (StyleOf(child) & SS_TYPEMASK) == SS_ICON) {
          ++icons;
          EXPECT_NE(SendMessageW(child, STM_GETICON, 0, 0), 0) << m.file << " " << id;
        }
      }
      EXPECT_EQ(icons, 1) << m.file << " " << id;
    }
  }
}

TEST(ConsoleModules, RadioButtonsFormTheirGroups) {
  const std::vector<int> groups[] = {{IDC_CAL_OPTION_0, IDC_CAL_OPTION_1, IDC_CAL_OPTION_2, IDC_CAL_OPTION_3},
                                     {IDC_CAL_MODE_2, IDC_CAL_MODE_3, IDC_CAL_MODE_4}};
  for (const Module& m : kModules) {
    win32::UniqueModule module = win32::LoadLanguageModule(m.file);
    ASSERT_TRUE(module) << m.file;
    Shown page(module.get(), IDD_PAGE_CALIBRATION);
    ASSERT_NE(page.get(), nullptr);
    for (const std::vector<int>& group : groups) {
      for (int start : group) {
        // The arrow keys go round exactly the buttons of the group.
        std::vector<int> reached;
        HWND item = GetDlgItem(page.get(), start);
        for (int i = 0; i < 20; ++i) {
          reached.push_back(GetDlgCtrlID(item));
          item = GetNextDlgGroupItem(page.get(), item, FALSE);
          if (!item || GetDlgCtrlID(item) == start) break;
        }
        std::sort(reached.begin(), reached.end());
        std::vector<int> expected = group;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(reached, expected) << m.file << " from " << start;
      }
    }
  }
}

std::wstring WindowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(std::max(0, GetWindowTextW(window, &text[0], length + 1))));
  return text;
}

using ui::WindowDc;

// Text extent with the control's own font; `width` > 0 wraps words at that width.
SIZE TextExtent(HWND control, const std::wstring& text, int width) {
  WindowDc dc(control);
  SelectGuard font(dc.get(), reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT rect{0, 0, width, 0};
  DrawTextW(dc.get(), text.c_str(), -1, &rect, DT_CALCRECT | (width > 0 ? DT_WORDBREAK : DT_SINGLELINE));
  return {rect.right, rect.bottom};
}

bool IsTextStatic(HWND control) {
  const LONG type = StyleOf(control) & SS_TYPEMASK;
  return IsClass(control, L"Static") && (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT);
}

// Why a control's own text does not fit it; empty when it does.
std::wstring TextMisfit(HWND control) {
  RECT rect{};
  GetClientRect(control, &rect);
  if (IsClass(control, L"ComboBox")) {
    const int items = static_cast<int>(SendMessageW(control, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < items; ++i) {
      std::wstring item(static_cast<std::size_t>(SendMessageW(control, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
      SendMessageW(control, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&item[0]));
      item.resize(item.size() - 1);
      if (TextExtent(control, item, 0).cx > rect.right - GetSystemMetrics(SM_CXVSCROLL) - 6) {
        return L"item cut: " + item;
      }
    }
    return {};
  }
  const std::wstring text = WindowText(control);
  if (text.empty()) return {};
  if (IsTextStatic(control)) {
    const SIZE need = TextExtent(control, text, rect.right);
    if (need.cx > rect.right || need.cy > rect.bottom) return L"text cut: " + text;
  } else if (IsClass(control, L"Button")) {
    const LONG type = StyleOf(control) & BS_TYPEMASK;
    int room = rect.right - 8;  // inside a push button's edge
    if (type == BS_GROUPBOX) room = rect.right - 16;
    if (type == BS_RADIOBUTTON || type == BS_AUTOCHECKBOX)
      room = rect.right - GetSystemMetrics(SM_CXMENUCHECK) - 6;
    if (TextExtent(control, text, 0).cx > room) return L"text cut: " + text;
  }
  return {};
}

TEST(ConsoleModules, LayoutFitsTheWindowAndTheTexts) {
  InitControls();
  for (const Module& m : kModules) {
    win32::UniqueModule module = win32::LoadLanguageModule(m.file);
    ASSERT_TRUE(module) << m.file;
    for (int id : kTemplates) {
      SCOPED_TRACE(testing::Message() << m.file << " template " << id);
      Shown shown(module.get(), id);
      HWND dialog = shown.get();
      ASSERT_NE(dialog, nullptr);
      RECT client{};
      GetClientRect(dialog, &client);
      if (id == IDD_CONSOLE) {
        EXPECT_NEAR(client.right, 560, 20);
        EXPECT_NEAR(client.bottom, 460, 20);
        // The status line in the program's 32-pixel font.
        LOGFONTW face{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof face, &face);
        face.lfHeight = -32;
        win32::UniqueFont big(CreateFontIndirectW(&face));
        HWND status = GetDlgItem(dialog, IDC_STATUS);
        SendMessageW(status, WM_SETFONT, reinterpret_cast<WPARAM>(big.get()), FALSE);
        for (int text : {IDS_CONNECTED, IDS_NOT_CONNECTED}) {
          SetWindowTextW(status, LoadResourceString(module.get(), text).c_str());
          EXPECT_EQ(TextMisfit(status), L"") << text;
        }
        SendMessageW(status, WM_SETFONT, 0, FALSE);
        SetWindowTextW(status, L"");
        EXPECT_LE(RectIn(status, dialog).bottom, 70);
      } else if (id != IDD_ABOUTBOX) {
        // A page fills the tab's display area without reaching past it.
        const RECT& area = shown.area();
        EXPECT_LE(client.right, area.right - area.left);
        EXPECT_LE(client.bottom, area.bottom - area.top);
        EXPECT_GE(client.right, area.right - area.left - 12);
        EXPECT_GE(client.bottom, area.bottom - area.top - 12);
      }
      if (id == IDD_PAGE_CONFIG) {
        EXPECT_EQ(shown.lists(), static_cast<int>(std::size(kLists)));
      }

      const std::vector<HWND> children = ChildrenOf(dialog);
      for (HWND child : children) {
        const int childId = GetDlgCtrlID(child);
        const RECT r = RectIn(child, dialog);
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom)
            << childId << " leaves its dialog";
        EXPECT_EQ(TextMisfit(child), L"") << childId;
        const std::wstring text = WindowText(child);
        if ((IsTextStatic(child) || IsClass(child, L"Button")) && !text.empty()) {
          // Every text the module itself shows is in the module's language.
          if (m.chinese) {
            EXPECT_TRUE(HasChinese(text)) << childId << " " << text.c_str();
          } else if (childId != IDC_OPT_CHINESE) {
            EXPECT_TRUE(IsAscii(text)) << childId;
          }
        }
        if (IsClass(child, L"ComboBox")) {
          // Every item shows without scrolling when the list drops down: the dropped rectangle is
          // the list's, below the selection field, edges included.
          RECT dropped{};
          SendMessageW(child, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&dropped));
          const LRESULT items = SendMessageW(child, CB_GETCOUNT, 0, 0);
          const LRESULT needed = items * SendMessageW(child, CB_GETITEMHEIGHT, 0, 0) + 2;
          EXPECT_GE(dropped.bottom - dropped.top, needed) << childId;
        }
      }
      // Nothing overlaps, hidden controls included (the program may show them), but group boxes
      // around their contents and the spin box on the edge of its buddy.
      const auto groupBox = [](HWND w) {
        return IsClass(w, L"Button") && (StyleOf(w) & BS_TYPEMASK) == BS_GROUPBOX;
      };
      const auto buddies = [](HWND spin, HWND w) {
        return IsClass(spin, UPDOWN_CLASSW) &&
               reinterpret_cast<HWND>(SendMessageW(spin, UDM_GETBUDDY, 0, 0)) == w;
      };
      for (std::size_t i = 0; i < children.size(); ++i) {
        for (std::size_t j = i + 1; j < children.size(); ++j) {
          HWND a = children[i];
          HWND b = children[j];
          if (groupBox(a) || groupBox(b) || buddies(a, b) || buddies(b, a)) continue;
          RECT ra = RectIn(a, dialog), rb = RectIn(b, dialog), both{};
          EXPECT_FALSE(IntersectRect(&both, &ra, &rb)) << GetDlgCtrlID(a) << " overlaps " << GetDlgCtrlID(b);
        }
      }
    }
  }
}

// The RT_ICON image LoadImageW would pick for `size` pixels, as a DIB header.
const BITMAPINFOHEADER* IconImage(HMODULE module, int id, int size) {
  HRSRC group = FindResourceW(module, MAKEINTRESOURCEW(id), RT_GROUP_ICON);
  if (!group) return nullptr;
  auto* directory = static_cast<BYTE*>(LockResource(LoadResource(module, group)));
  if (!directory) return nullptr;
  const int image = LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
  HRSRC icon = FindResourceW(module, MAKEINTRESOURCEW(image), RT_ICON);
  if (!icon) return nullptr;
  return static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(module, icon)));
}

TEST(ConsoleModules, IconHasBothSizes) {
  for (const Module& m : kModules) {
    win32::UniqueModule module = win32::LoadLanguageModule(m.file);
    ASSERT_TRUE(module) << m.file;
    for (int size : {16, 32}) {
      SCOPED_TRACE(testing::Message() << m.file << " " << size);
      // Drawn for this size, with alpha; not scaled from the other one.
      const BITMAPINFOHEADER* image = IconImage(module.get(), IDR_MAINFRAME, size);
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(image->biWidth, size);
      EXPECT_EQ(image->biHeight, 2 * size);
      EXPECT_EQ(image->biBitCount, 32);
      win32::UniqueIcon icon(static_cast<HICON>(LoadImageW(module.get(), MAKEINTRESOURCEW(IDR_MAINFRAME),
                                                           IMAGE_ICON, size, size, LR_DEFAULTCOLOR)));
      EXPECT_TRUE(icon);
    }
  }
}

// A DIB section's pixels.
std::vector<BYTE> Pixels(const DIBSECTION& dib) {
  const auto* bits = static_cast<const BYTE*>(dib.dsBm.bmBits);
  const std::size_t size = static_cast<std::size_t>(dib.dsBm.bmWidthBytes) * dib.dsBm.bmHeight;
  return bits ? std::vector<BYTE>(bits, bits + size) : std::vector<BYTE>();
}

TEST(ConsoleModules, IllustrationsLoadFromTheResourceOnlyModule) {
  std::vector<std::vector<BYTE>> first;  // the first module's, which the second must repeat
  for (const Module& m : kModules) {
    win32::UniqueModule module = win32::LoadLanguageModule(m.file);
    ASSERT_TRUE(module) << m.file;
    std::vector<std::vector<BYTE>> pictures;
    for (int id = IDB_OPTION_0; id <= IDB_OPTION_3; ++id) {
      SCOPED_TRACE(testing::Message() << m.file << " bitmap " << id);
      // As the program draws it: a device-dependent bitmap.
      win32::UniqueBitmap plain(static_cast<HBITMAP>(
          LoadImageW(module.get(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
      ASSERT_TRUE(plain) << GetLastError();
      win32::UniqueBitmap section(static_cast<HBITMAP>(
          LoadImageW(module.get(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
      ASSERT_TRUE(section) << GetLastError();
      DIBSECTION dib{};
      ASSERT_EQ(GetObjectW(section.get(), sizeof dib, &dib), static_cast<int>(sizeof dib));
      EXPECT_EQ(dib.dsBm.bmBitsPixel, 24);
      EXPECT_GE(dib.dsBm.bmWidth, 200);
      EXPECT_LE(dib.dsBm.bmWidth, 242);
      EXPECT_GE(dib.dsBm.bmHeight, 150);
      EXPECT_LE(dib.dsBm.bmHeight, 182);
      pictures.push_back(Pixels(dib));
      EXPECT_FALSE(pictures.back().empty());
    }
    // One picture per value.
    for (std::size_t i = 0; i < pictures.size(); ++i) {
      for (std::size_t j = i + 1; j < pictures.size(); ++j) {
        EXPECT_TRUE(pictures[i] != pictures[j])
            << m.file << " " << IDB_OPTION_0 + i << " " << IDB_OPTION_0 + j;
      }
    }
    if (first.empty()) {
      first = pictures;
    } else {
      EXPECT_TRUE(first == pictures) << m.file;
    }
  }
}

}  // namespace
}  // namespace tactra::ui
