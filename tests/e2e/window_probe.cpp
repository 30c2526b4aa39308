// The end-to-end tests' eyes and hands for a dialog window of another process under the same
// Wine server, found by its title (or "#<handle>", or "x:" and the title's UTF-8 in hex):
//   window_probe WINDOW show                      the window and every control of it and its pages
//   window_probe WINDOW post MSG WPARAM LPARAM    posts a message to the window
//   window_probe WINDOW tab INDEX                 selects a tab as a click on it does
//   window_probe WINDOW click PAGE ID             clicks a button of a page ("main" for the window)
//   window_probe WINDOW select PAGE ID INDEX      chooses an item of a drop-down list
//   window_probe WINDOW slide PAGE ID POS         moves a slider's thumb to POS
//   window_probe WINDOW spin PAGE ID up|down      clicks a spin box's upper or lower arrow
//   window_probe WINDOW send tab|click|select|slide|spin ...
//                                                 the same, sent, not posted: the window has
//                                                 handled it when the probe answers
//   window_probe WINDOW rect PAGE ID              a control's rectangle on the screen
//   window_probe WINDOW layout                    the window's DPI, and on the screen: the tab
//                                                 control's display area, each tab's rectangle,
//                                                 each page's and each control's, with the size
//                                                 of its text in its font
//   window_probe WINDOW settext PAGE ID TEXT      sets a control's text (a file dialog's name box)
//   window_probe WINDOW tray                      whether its notification-area icon 128 is there
//   window_probe WINDOW taskbar-created           tells it the shell's notification area restarted
//   window_probe WINDOW resources                 what the window's process holds: handles, GDI and
//                                                 USER objects, windows, private bytes ("-" where
//                                                 the system does not tell)
//   window_probe serve                            answers such requests from standard input,
//                                                 one a line (Serve below)
// A page is named by what it holds: info, config, calibration, options, about.
// Exit 0 when done, 1 when the window or control was not found, 2 on bad arguments.
#include <windows.h>
// clang-format off
#include <commctrl.h>
#include <psapi.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

#include "common/win32/handles_win32.h"
#include "resources/console_ids.h"
#include "tests/e2e/probe_text.h"
#include "ui/scopes.h"

namespace {

using probe::Ask;
using probe::TextOf;
using probe::Utf8;

std::wstring Wide(const char* text) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text, -1, &out[0], n);
  out.resize(wcslen(out.c_str()));
  return out;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

HWND FindTarget(const char* name) {
  if (name[0] == '#')
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(name + 1, nullptr, 0)));
  // "x:" and the title's UTF-8 in hex: a title the system's code page cannot carry in argv.
  if (std::strncmp(name, "x:", 2) == 0) {
    std::string title;
    for (const char* p = name + 2; p[0] && p[1]; p += 2) {
      const char pair[3] = {p[0], p[1], '\0'};
      title += static_cast<char>(std::strtoul(pair, nullptr, 16));
    }
    return FindWindowW(L"#32770", Wide(title.c_str()).c_str());
  }
  return FindWindowW(L"#32770", Wide(name).c_str());
}

const char* PageName(HWND page) {
  struct Mark {
    int id;
    const char* name;
  };
  const Mark marks[] = {{IDC_INFO_VALUE_01, "info"},
                        {IDC_CFG_11, "config"},
                        {IDC_CAL_OPTION_0, "calibration"},
                        {IDC_OPT_ENGLISH, "options"}};
  for (const Mark& m : marks) {
    if (GetDlgItem(page, m.id)) return m.name;
  }
  return "about";
}

struct Control {
  HWND hwnd;
  const char* page;
};

// Every control of the window and of its pages (the dialogs on its tab control).
std::vector<Control> Controls(HWND window) {
  std::vector<Control> out;
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    out.push_back({child, "main"});
    if (ClassOf(child) != WC_TABCONTROLW) continue;
    for (HWND page = GetWindow(child, GW_CHILD); page; page = GetWindow(page, GW_HWNDNEXT)) {
      const char* name = PageName(page);
      for (HWND item = GetWindow(page, GW_CHILD); item; item = GetWindow(item, GW_HWNDNEXT))
        out.push_back({item, name});
    }
  }
  return out;
}

HWND FindControl(HWND window, const char* page, int id) {
  for (const Control& c : Controls(window)) {
    if (GetDlgCtrlID(c.hwnd) == id && std::strcmp(c.page, page) == 0) return c.hwnd;
  }
  return nullptr;
}

void Show(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  std::printf("window handle=%llu visible=%d iconic=%d rect=%ld,%ld,%ld,%ld\n",
              static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)),
              IsWindowVisible(window) ? 1 : 0, IsIconic(window) ? 1 : 0, r.left, r.top, r.right, r.bottom);
  for (const Control& c : Controls(window)) {
    const std::wstring kind = ClassOf(c.hwnd);
    std::printf("control page=%s id=%d class=%s visible=%d enabled=%d", c.page, GetDlgCtrlID(c.hwnd),
                Utf8(kind).c_str(), IsWindowVisible(c.hwnd) ? 1 : 0, IsWindowEnabled(c.hwnd) ? 1 : 0);
    if (_wcsicmp(kind.c_str(), L"Button") == 0)
      std::printf(" check=%d", static_cast<int>(Ask(c.hwnd, BM_GETCHECK)));
    if (_wcsicmp(kind.c_str(), L"ComboBox") == 0) {
      std::printf(" selected=%d items=%d", static_cast<int>(Ask(c.hwnd, CB_GETCURSEL)),
                  static_cast<int>(Ask(c.hwnd, CB_GETCOUNT)));
    }
    if (kind == TRACKBAR_CLASSW) {
      std::printf(" position=%d range=%d,%d", static_cast<int>(Ask(c.hwnd, TBM_GETPOS)),
                  static_cast<int>(Ask(c.hwnd, TBM_GETRANGEMIN)),
                  static_cast<int>(Ask(c.hwnd, TBM_GETRANGEMAX)));
    }
    if (kind == UPDOWN_CLASSW) {
      const LRESULT range = Ask(c.hwnd, UDM_GETRANGE);
      std::printf(" position=%d range=%d,%d",
                  static_cast<int>(static_cast<short>(LOWORD(Ask(c.hwnd, UDM_GETPOS)))),
                  static_cast<int>(static_cast<short>(HIWORD(range))),
                  static_cast<int>(static_cast<short>(LOWORD(range))));
    }
    if (kind == WC_TABCONTROLW) std::printf(" selected=%d", static_cast<int>(Ask(c.hwnd, TCM_GETCURSEL)));
    std::printf(" text=%s\n", Utf8(TextOf(c.hwnd)).c_str());
  }
}

constexpr int kTabTextMax = 128;

// A buffer in the memory of a window's process, for the messages whose pointers the system does
// not carry from one process to another (those of the tab control).
class RemoteMemory {
 public:
  RemoteMemory(HWND window, std::size_t size) : window_(window), size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_.reset(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    if (process_) address_ = VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~RemoteMemory() {
    if (address_) VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE);
  }
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;
  explicit operator bool() const { return address_ != nullptr; }
  void* address() const { return address_; }

  // Writes `in` to the buffer, sends the message with the buffer's address and reads `out` back;
  // the message's answer, 0 also when the buffer could not be written.
  LRESULT Ask(UINT message, WPARAM wParam, const void* in, std::size_t inSize, void* out,
              std::size_t outSize) {
    if (!address_ || inSize > size_ || outSize > size_) return 0;
    if (in && !WriteProcessMemory(process_.get(), address_, in, inSize, nullptr)) return 0;
    const LRESULT answer = probe::Ask(window_, message, wParam, reinterpret_cast<LPARAM>(address_));
    if (out) Read(0, out, outSize);
    return answer;
  }
  bool Read(std::size_t offset, void* out, std::size_t outSize) {
    if (!address_ || offset + outSize > size_) return false;
    return ReadProcessMemory(process_.get(), static_cast<char*>(address_) + offset, out, outSize, nullptr) !=
           0;
  }

 private:
  HWND window_;
  std::size_t size_;
  tactra::win32::UniqueHandle process_;
  void* address_ = nullptr;
};

// The size of a text on one line in the font a control draws it with, and its height wrapped at
// words within `wrapWidth` as a label wraps it (0: not wrapped). Another process's font handle
// may mean nothing here: then the console's dialog font, 9 points of MS Shell Dlg at the
// window's DPI ("font=template" says so).
SIZE TextSize(HWND control, const std::wstring& text, int dpi, bool& ownFont, int wrapWidth = 0,
              int* wrappedHeight = nullptr) {
  LOGFONTW font{};
  const auto handle = reinterpret_cast<HFONT>(Ask(control, WM_GETFONT));
  ownFont = handle && GetObjectW(handle, sizeof font, &font) == sizeof font;
  if (!ownFont) {
    font = LOGFONTW{};
    font.lfHeight = -MulDiv(9, dpi, 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font.lfFaceName, L"MS Shell Dlg", LF_FACESIZE);
  }
  SIZE size{};
  tactra::win32::UniqueFont made(CreateFontIndirectW(&font));
  tactra::ui::WindowDc dc(nullptr);  // the screen
  if (!made || !dc.get()) return size;
  tactra::ui::SelectGuard selected(dc.get(), made.get());
  // What a button or a label shows of an "&": the underline of the next character, or one "&".
  std::wstring shown;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'&' && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  GetTextExtentPoint32W(dc.get(), shown.c_str(), static_cast<int>(shown.size()), &size);
  if (wrappedHeight && wrapWidth > 0) {
    RECT r{0, 0, wrapWidth, 0};
    DrawTextW(dc.get(), shown.c_str(), static_cast<int>(shown.size()), &r,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    *wrappedHeight = r.bottom - r.top;
  }
  return size;
}

void PrintRect(const char* name, const RECT& r) {
  std::printf(" %s=%ld,%ld,%ld,%ld", name, r.left, r.top, r.right, r.bottom);
}

// The system's DPI, which a DPI-aware window such as the console's is shown at.
int SystemDpi() {
  tactra::ui::WindowDc dc(nullptr);  // the screen
  return dc.get() ? GetDeviceCaps(dc.get(), LOGPIXELSY) : 96;
}

// The window's layout, every rectangle on the screen, for a test of what is cut or overlaps.
void Layout(HWND window) {
  const int dpi = SystemDpi();
  RECT r{};
  GetWindowRect(window, &r);
  std::printf("window dpi=%d screen=%d,%d", dpi, GetSystemMetrics(SM_CXSCREEN),
              GetSystemMetrics(SM_CYSCREEN));
  PrintRect("rect", r);
  std::printf("\n");
  for (const Control& c : Controls(window)) {
    const std::wstring kind = ClassOf(c.hwnd);
    if (kind == WC_TABCONTROLW) {
      // The display area the control itself gives for its client rectangle.
      RECT display{};
      GetClientRect(c.hwnd, &display);
      {
        RemoteMemory remote(c.hwnd, sizeof display);
        remote.Ask(TCM_ADJUSTRECT, FALSE, &display, sizeof display, &display, sizeof display);
      }
      MapWindowPoints(c.hwnd, nullptr, reinterpret_cast<POINT*>(&display), 2);
      GetWindowRect(c.hwnd, &r);
      std::printf("tabs");
      PrintRect("rect", r);
      PrintRect("display", display);
      std::printf("\n");
      const int count = static_cast<int>(Ask(c.hwnd, TCM_GETITEMCOUNT));
      RemoteMemory remote(c.hwnd, sizeof(RECT) + sizeof(TCITEMW) + kTabTextMax * sizeof(wchar_t));
      for (int i = 0; i < count && remote; ++i) {
        RECT item{};
        wchar_t text[kTabTextMax] = {};
        if (!remote.Ask(TCM_GETITEMRECT, static_cast<WPARAM>(i), nullptr, 0, &item, sizeof item)) continue;
        // The text goes to the far side's buffer after the item that points to it.
        auto* base = static_cast<char*>(remote.address());
        TCITEMW tab{};
        tab.mask = TCIF_TEXT;
        tab.pszText = reinterpret_cast<wchar_t*>(base + sizeof(TCITEMW));
        tab.cchTextMax = kTabTextMax;
        remote.Ask(TCM_GETITEMW, static_cast<WPARAM>(i), &tab, sizeof tab, nullptr, 0);
        remote.Read(sizeof(TCITEMW), text, sizeof text - sizeof(wchar_t));
        MapWindowPoints(c.hwnd, nullptr, reinterpret_cast<POINT*>(&item), 2);
        bool own = false;
        const SIZE size = TextSize(c.hwnd, text, dpi, own);
        std::printf("tab index=%d", i);
        PrintRect("rect", item);
        std::printf(" text-size=%ld,%ld font=%s text=%s\n", size.cx, size.cy, own ? "own" : "template",
                    Utf8(text).c_str());
      }
      for (HWND page = GetWindow(c.hwnd, GW_CHILD); page; page = GetWindow(page, GW_HWNDNEXT)) {
        GetWindowRect(page, &r);
        std::printf("page name=%s visible=%d", PageName(page), IsWindowVisible(page) ? 1 : 0);
        PrintRect("rect", r);
        std::printf("\n");
      }
    }
    GetWindowRect(c.hwnd, &r);
    const std::wstring text = TextOf(c.hwnd);
    bool own = false;
    // A label's text wraps at words within its width.
    int wrapped = 0;
    const bool label = kind == WC_STATICW;
    const SIZE size =
        text.empty() ? SIZE{} : TextSize(c.hwnd, text, dpi, own, label ? r.right - r.left : 0, &wrapped);
    std::printf("control page=%s id=%d class=%s style=0x%lx visible=%d", c.page, GetDlgCtrlID(c.hwnd),
                Utf8(kind).c_str(), static_cast<unsigned long>(GetWindowLongW(c.hwnd, GWL_STYLE)),
                IsWindowVisible(c.hwnd) ? 1 : 0);
    PrintRect("rect", r);
    // A spin box lies on its buddy's edge on purpose.
    if (kind == UPDOWN_CLASSW) {
      if (HWND buddy = reinterpret_cast<HWND>(Ask(c.hwnd, UDM_GETBUDDY)))
        std::printf(" buddy=%d", GetDlgCtrlID(buddy));
    }
    if (label && !text.empty()) std::printf(" wrapped-height=%d", wrapped);
    std::printf(" text-size=%ld,%ld font=%s text=%s\n", size.cx, size.cy, own ? "own" : "template",
                Utf8(text).c_str());
  }
}

// Whether the window's icon is in the notification area: changing its tip works only then.
bool TrayIconThere(HWND window) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = window;
  data.uID = IDR_MAINFRAME;
  data.uFlags = NIF_TIP;
  lstrcpynW(data.szTip, L"TactraConsole", 64);
  return Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
}

// A count GetGuiResources gives, or "-" when the system does not keep it (a 0 with an error set:
// a process without objects gives 0 and no error).
std::string GuiCount(HANDLE process, DWORD kind) {
  SetLastError(ERROR_SUCCESS);
  const DWORD count = GetGuiResources(process, kind);
  if (count == 0 && GetLastError() != ERROR_SUCCESS) return "-";
  return std::to_string(count);
}

// One entry of the system's list of open handles (information class 64).
struct SystemHandleEntry {
  void* object;
  ULONG_PTR processId;
  ULONG_PTR handleValue;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG handleAttributes;
  ULONG reserved;
};

struct SystemHandleList {
  ULONG_PTR count;
  ULONG_PTR reserved;
  SystemHandleEntry entries[1];
};

// How many handles the process holds by the system's list of every open handle: where
// GetProcessHandleCount answers 0 (as under Wine), this list is still kept. -1 when neither tells.
long long HandlesInSystemList(DWORD pid) {
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto query = ntdll ? reinterpret_cast<Query>(
                                 reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")))
                           : nullptr;
  if (!query) return -1;
  constexpr ULONG kExtendedHandleInformation = 64;
  constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004L);
  std::vector<ULONG_PTR> buffer(1 << 16);  // ULONG_PTR: the list's alignment
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR));
    const LONG status = query(kExtendedHandleInformation, buffer.data(), size, &needed);
    if (status == kLengthMismatch) {
      // The list grows while it is read: room for more than it asked.
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed / sizeof(ULONG_PTR) * 2));
      continue;
    }
    if (status < 0) return -1;
    const auto* list = reinterpret_cast<const SystemHandleList*>(buffer.data());
    const std::size_t room = (size - offsetof(SystemHandleList, entries)) / sizeof(SystemHandleEntry);
    long long count = 0;
    for (std::size_t i = 0; i < list->count && i < room; ++i) {
      if (list->entries[i].processId == pid) ++count;
    }
    return count;
  }
  return -1;
}

struct WindowCount {
  DWORD pid;
  long long count;
};

BOOL CALLBACK CountChild(HWND window, LPARAM data) {
  auto* c = reinterpret_cast<WindowCount*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == c->pid) ++c->count;
  return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM data) {
  CountChild(window, data);
  EnumChildWindows(window, CountChild, data);
  return TRUE;
}

// One line a soak compares over time: the window's process's handles, GDI and USER objects,
// windows (top-level and child, a part of its USER objects that every system lists) and private
// bytes.
bool Resources(HWND window) {
  DWORD pid = 0;
  if (!GetWindowThreadProcessId(window, &pid) || pid == 0) return false;
  tactra::win32::UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process) return false;
  DWORD counted = 0;
  long long handles = GetProcessHandleCount(process.get(), &counted) ? static_cast<long long>(counted) : 0;
  // A process holds handles from its first moment: 0 means the call is not implemented.
  const char* handleSource = "process";
  if (handles == 0) {
    handles = HandlesInSystemList(pid);
    handleSource = "system-list";
  }
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  std::string privateText = "-";
  if (GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                           sizeof memory)) {
    // A system that fills only the short form says so in cb; its PagefileUsage is the same
    // figure, the process's private commit.
    const SIZE_T bytes = memory.cb >= sizeof memory ? memory.PrivateUsage : memory.PagefileUsage;
    privateText = std::to_string(static_cast<unsigned long long>(bytes));
  }
  WindowCount windows{pid, 0};
  EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&windows));
  std::printf("pid=%lu handles=%s handles-from=%s gdi=%s user=%s windows=%lld private=%s\n",
              static_cast<unsigned long>(pid), handles < 0 ? "-" : std::to_string(handles).c_str(),
              handleSource, GuiCount(process.get(), GR_GDIOBJECTS).c_str(),
              GuiCount(process.get(), GR_USEROBJECTS).c_str(), windows.count, privateText.c_str());
  return true;
}

// How a command hands the window its messages: posted, so that a message box they open does not
// hold the probe; or, after "send", sent, so that the window has handled them once the probe
// answers (for a caller that looks at what they did next, and knows no box comes of them).
bool g_send = false;

void Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_send) {
    Ask(window, message, wParam, lParam);
  } else {
    PostMessageW(window, message, wParam, lParam);
  }
}

int Run(int argc, char** argv) {
  g_send = argc > 3 && std::strcmp(argv[2], "send") == 0;
  if (g_send) {
    argv[2] = argv[1];
    ++argv;
    --argc;
  }
  if (argc < 3) return 2;
  HWND window = FindTarget(argv[1]);
  const std::string command = argv[2];
  if (command == "tray") {
    if (!window) return 1;
    std::printf("tray=%d\n", TrayIconThere(window) ? 1 : 0);
    return 0;
  }
  if (!window || !IsWindow(window)) return 1;
  if (command == "taskbar-created") {
    PostMessageW(window, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  } else if (command == "show") {
    Show(window);
  } else if (command == "layout") {
    Layout(window);
  } else if (command == "resources") {
    if (!Resources(window)) return 1;
  } else if (command == "post" && argc == 6) {
    PostMessageW(window, static_cast<UINT>(std::strtoul(argv[3], nullptr, 0)),
                 static_cast<WPARAM>(std::strtoull(argv[4], nullptr, 0)),
                 static_cast<LPARAM>(std::strtoll(argv[5], nullptr, 0)));
  } else if (command == "tab" && argc == 4) {
    HWND tabs = nullptr;
    for (const Control& c : Controls(window)) {
      if (ClassOf(c.hwnd) == WC_TABCONTROLW) tabs = c.hwnd;
    }
    if (!tabs) return 1;
    // Focus selects the tab as a click does, with both notifications.
    Deliver(tabs, TCM_SETCURFOCUS, static_cast<WPARAM>(std::atoi(argv[3])), 0);
  } else if ((command == "click" || command == "rect") && argc == 5) {
    HWND control = FindControl(window, argv[3], std::atoi(argv[4]));
    if (!control) return 1;
    if (command == "rect") {
      RECT r{};
      GetWindowRect(control, &r);
      std::printf("rect=%ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
    } else {
      // As the mouse does it (a check box changes its state first); posted, so that a message
      // box the click opens does not hold the probe.
      Deliver(control, BM_CLICK, 0, 0);
    }
  } else if (command == "settext" && argc == 6) {
    HWND control = FindControl(window, argv[3], std::atoi(argv[4]));
    if (!control) return 1;
    const std::wstring text = Wide(argv[5]);
    Ask(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  } else if (command == "select" && argc == 6) {
    HWND control = FindControl(window, argv[3], std::atoi(argv[4]));
    if (!control) return 1;
    Ask(control, CB_SETCURSEL, static_cast<WPARAM>(std::atoi(argv[5])));
    Deliver(GetParent(control), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(control), CBN_SELCHANGE),
            reinterpret_cast<LPARAM>(control));
  } else if (command == "slide" && argc == 6) {
    HWND control = FindControl(window, argv[3], std::atoi(argv[4]));
    if (!control) return 1;
    const int position = std::atoi(argv[5]);
    Ask(control, TBM_SETPOS, TRUE, position);
    Deliver(GetParent(control), WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
            reinterpret_cast<LPARAM>(control));
  } else if (command == "spin" && argc == 6) {
    HWND control = FindControl(window, argv[3], std::atoi(argv[4]));
    if (!control) return 1;
    RECT r{};
    GetClientRect(control, &r);
    const bool up = std::strcmp(argv[5], "up") == 0;
    const LPARAM at = MAKELPARAM(r.right / 2, up ? r.bottom / 4 : r.bottom * 3 / 4);
    // A press and release on the arrow, as the mouse sends them.
    Deliver(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    Deliver(control, WM_LBUTTONUP, 0, at);
  } else {
    return 2;
  }
  return 0;
}

// Answers one request a line, its arguments apart by tabs, in UTF-8; each answer ends with a
// line "end-of-answer CODE". One process for many requests: a Wine process's start costs more
// than most requests.
int Serve() {
  for (std::string line; std::getline(std::cin, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields{"window_probe"};
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
      fields.push_back(line.substr(from, tab - from));
    fields.push_back(line.substr(from));
    std::vector<char*> argv;
    for (std::string& f : fields) argv.push_back(&f[0]);
    const int code = Run(static_cast<int>(argv.size()), argv.data());
    std::printf("end-of-answer %d\n", code);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Rectangles and DPI as the system has them, not scaled down to 96 for this process.
  SetProcessDPIAware();
  if (argc == 2 && std::strcmp(argv[1], "serve") == 0) return Serve();
  const int code = Run(argc, argv);
  std::fflush(stdout);
  return code;
}
