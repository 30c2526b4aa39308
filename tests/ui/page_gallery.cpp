// Shows one dialog template of a console language module the way the console shows it, so that
// a screenshot of it can be looked at:
//   page_gallery <module file> <template id> [option 0..3] [seconds, 30 by default] [list to drop]
// The about box stands alone. Every other template appears in the main window with its tabs and
// status line; a page sits in the tab's display area with its lists filled, sample texts in its
// fields and, on the calibration page, the option's illustration in its frame. Ends by itself
// after the given time. Prints the sizes it placed and any control that leaves its page.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/win32/handles_win32.h"
#include "common/win32/language_module_win32.h"
#include "resources/console_ids.h"
#include "tests/ui/console_pages.h"
#include "ui/controls.h"

using namespace tactra;

namespace {

using OwnedWindow = win32::UniqueAny<HWND, DestroyWindow>;
using Arguments = win32::UniqueAny<LPWSTR*, LocalFree>;

INT_PTR CALLBACK Passive(HWND, UINT message, WPARAM, LPARAM) { return message == WM_INITDIALOG; }

int TabOf(int page) {
  for (int i = 0; i < 5; ++i) {
    if (ui::console::kPages[i] == page) return i;
  }
  return -1;
}

// Sample fields; the description as long as it can be (56 characters).
void FillSamples(HWND page, int option) {
  struct Sample {
    int id;
    const wchar_t* text;
  };
  const Sample samples[] = {
      {IDC_INFO_VALUE_01, L"0x5A"},
      {IDC_INFO_COUNT_A, L"12"},
      {IDC_INFO_LIST_A, L"1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12"},
      {IDC_INFO_COUNT_B, L"8"},
      {IDC_INFO_LIST_B, L"1, 2, 3, 4, 5, 6, 7, 8"},
      {IDC_INFO_TEXT_F2, L"V2.31.0507"},
      {IDC_INFO_TEXT_F3, L"2024-05-07"},
      {IDC_INFO_TEXT_F4, L"TF-8652-IR"},
      {IDC_INFO_TEXT_F5, L"Infrared multi-touch frame, 86 inch, 20 points, USB HID."},
      {IDC_CFG_16_TEXT, L"5"},
  };
  for (const Sample& s : samples) SetDlgItemTextW(page, s.id, s.text);
  for (int id : {IDC_CFG_17A, IDC_CFG_17B}) {
    SendDlgItemMessageW(page, id, TBM_SETRANGE, TRUE, MAKELPARAM(1, 5));
    SendDlgItemMessageW(page, id, TBM_SETPOS, TRUE, 3);
  }
  SendDlgItemMessageW(page, IDC_CFG_16_SPIN, UDM_SETRANGE32, 1, 10);
  SendDlgItemMessageW(page, IDC_CFG_16_SPIN, UDM_SETPOS32, 0, 5);
  CheckRadioButton(page, IDC_CAL_OPTION_0, IDC_CAL_OPTION_3, IDC_CAL_OPTION_0 + option);
  CheckDlgButton(page, IDC_CAL_MODE_3, BST_CHECKED);
  CheckDlgButton(page, IDC_OPT_ENGLISH, BST_CHECKED);
  CheckDlgButton(page, IDC_OPT_LOGON, BST_CHECKED);
}

// Prints controls that reach outside the page.
void ReportStrays(HWND page) {
  RECT client{};
  GetClientRect(page, &client);
  for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, page, reinterpret_cast<POINT*>(&r), 2);
    if (r.left < 0 || r.top < 0 || r.right > client.right || r.bottom > client.bottom) {
      std::printf("control %d reaches outside the page: %ld,%ld-%ld,%ld\n", GetDlgCtrlID(child), r.left,
                  r.top, r.right, r.bottom);
    }
  }
}

// Shows list `id` dropped down and prints its size against what its items need.
void DropList(HWND page, int id) {
  SetFocus(GetDlgItem(page, id));
  SendDlgItemMessageW(page, id, CB_SHOWDROPDOWN, TRUE, 0);
  RECT r{};
  SendDlgItemMessageW(page, id, CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&r));
  const auto height = [&](WPARAM which) {
    return static_cast<int>(SendDlgItemMessageW(page, id, CB_GETITEMHEIGHT, which, 0));
  };
  std::printf("list %d dropped: %ldx%ld, selection field %d, %d items of %d\n", id, r.right - r.left,
              r.bottom - r.top, height(static_cast<WPARAM>(-1)),
              static_cast<int>(SendDlgItemMessageW(page, id, CB_GETCOUNT, 0, 0)), height(0));
  std::fflush(stdout);
}

}  // namespace

int main() {
  int argc = 0;
  const Arguments arguments(CommandLineToArgvW(GetCommandLineW(), &argc));
  wchar_t** argv = arguments.get();
  if (!argv || argc < 3) {
    std::fprintf(stderr,
                 "usage: page_gallery <module file> <template id> [option 0..3] [seconds] [list to drop]\n");
    return 2;
  }
  const int id = _wtoi(argv[2]);
  const int option = argc > 3 ? _wtoi(argv[3]) & 3 : 0;
  const UINT seconds = argc > 4 ? static_cast<UINT>(_wtoi(argv[4])) : 30;
  const int dropped = argc > 5 ? _wtoi(argv[5]) : 0;

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS};
  InitCommonControlsEx(&controls);
  win32::UniqueModule module = win32::LoadLanguageModule(argv[1]);
  if (!module) {
    std::fprintf(stderr, "cannot load %ls from the program's folder\n", argv[1]);
    return 1;
  }
  HINSTANCE resources = module.get();

  OwnedWindow top;
  OwnedWindow page;
  win32::UniqueFont statusFont;
  win32::UniqueBitmap illustration;
  if (id == IDD_ABOUTBOX) {
    top.reset(CreateDialogParamW(resources, MAKEINTRESOURCEW(id), nullptr, Passive, 0));
  } else {
    top.reset(CreateDialogParamW(resources, MAKEINTRESOURCEW(IDD_CONSOLE), nullptr, Passive, 0));
  }
  if (!top) {
    std::fprintf(stderr, "cannot create template %d\n", id == IDD_ABOUTBOX ? id : IDD_CONSOLE);
    return 1;
  }
  if (id != IDD_ABOUTBOX) {
    const RECT area = ui::console::SetUpMainWindow(top.get(), resources);
    RECT client{};
    GetClientRect(top.get(), &client);
    std::printf("main window client %ldx%ld, tab display area %ld,%ld %ldx%ld\n", client.right, client.bottom,
                area.left, area.top, area.right - area.left, area.bottom - area.top);
    // The console's status line: a 32-pixel font in the dialog's face.
    LOGFONTW face{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(top.get(), WM_GETFONT, 0, 0)), sizeof face, &face);
    face.lfHeight = -32;
    statusFont.reset(CreateFontIndirectW(&face));
    SendDlgItemMessageW(top.get(), IDC_STATUS, WM_SETFONT, reinterpret_cast<WPARAM>(statusFont.get()), FALSE);
    SetDlgItemTextW(top.get(), IDC_STATUS, ui::LoadResourceString(resources, IDS_NOT_CONNECTED).c_str());

    const int tab = TabOf(id);
    if (tab >= 0) {
      TabCtrl_SetCurSel(GetDlgItem(top.get(), IDC_TABS), tab);
      page.reset(CreateDialogParamW(resources, MAKEINTRESOURCEW(id), top.get(), Passive, 0));
      if (!page) {
        std::fprintf(stderr, "cannot create page %d\n", id);
        return 1;
      }
      RECT size{};
      GetWindowRect(page.get(), &size);
      std::printf("page %d: %ldx%ld\n", id, size.right - size.left, size.bottom - size.top);
      if (size.right - size.left > area.right - area.left ||
          size.bottom - size.top > area.bottom - area.top) {
        std::printf("page %d is larger than the tab's display area\n", id);
      }
      SetWindowPos(page.get(), HWND_TOP, area.left, area.top, 0, 0, SWP_NOSIZE);
      ui::console::FillLists(page.get(), resources);
      FillSamples(page.get(), option);
      ReportStrays(page.get());
      if (id == IDD_PAGE_CALIBRATION) {
        // The illustration inside the frame's edge, where the console draws it.
        illustration.reset(static_cast<HBITMAP>(LoadImageW(resources, MAKEINTRESOURCEW(IDB_OPTION_0 + option),
                                                           IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));
        RECT frame = ui::ItemClientRect(page.get(), IDC_CAL_PICTURE);
        InflateRect(&frame, -2, -2);
        HWND picture = CreateWindowExW(0, L"Static", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE,
                                       frame.left, frame.top, frame.right - frame.left,
                                       frame.bottom - frame.top, page.get(), nullptr, nullptr, nullptr);
        SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(illustration.get()));
        std::printf("illustration %d %s, frame inside %ldx%ld\n", IDB_OPTION_0 + option,
                    illustration ? "loaded" : "did not load", frame.right - frame.left,
                    frame.bottom - frame.top);
      }
      ShowWindow(page.get(), SW_SHOW);
    }
  }
  std::fflush(stdout);
  SetWindowPos(top.get(), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
  ShowWindow(top.get(), SW_SHOW);
  // Dropped once the window is active: a list drops up again when its window loses the focus.
  constexpr UINT_PTR kDropTimer = 1;
  if (page && dropped) SetTimer(top.get(), kDropTimer, 1000, nullptr);
  SetTimer(nullptr, 0, seconds * 1000, nullptr);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr) break;
    if (message.message == WM_TIMER && message.hwnd == top.get() && message.wParam == kDropTimer) {
      KillTimer(top.get(), kDropTimer);
      DropList(page.get(), dropped);
      continue;
    }
    if (IsDialogMessageW(top.get(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  // The page goes before its parent.
  page.reset();
  return 0;
}
