#include "console/app/console_dlg.h"

#include <commctrl.h>

#include "console/app/startup_steps.h"
#include "device/win32/hid_host_win32.h"
#include "resources/console_ids.h"
#include "ui/about_dlg.h"
#include "ui/controls.h"
#include "ui/dpi.h"
#include "ui/scopes.h"
#include "ui/tabs.h"

namespace tactra::console {

namespace {

constexpr wchar_t kTrayTip[] = L"TactraConsole";
// The tray menu's one item, the same two characters in every language.
constexpr wchar_t kTrayExit[] = L"\u9000\u51FA(&X)";

// The status line: 32 pixels high at 100 %, thin, underlined Arial.
constexpr int kStatusFontHeight = 32;
constexpr int kStatusFontWeight = 100;

// Where the tab control goes in the client area, in pixels at 100 %.
constexpr int kTabsLeft = 10;
constexpr int kTabsTop = 70;
constexpr int kTabsMarginX = 20;
constexpr int kTabsMarginY = 120;

}  // namespace

CTactraConsoleDlg::CTactraConsoleDlg(HINSTANCE resources, ResourceMessages& messages, SettingsStore& settings)
    : ProgramWindow(resources, IDD_CONSOLE, IDR_MAINFRAME),
      usb_(CUSBTransfer::GetInstance()),
      messages_(messages),
      context_{usb_.link(), messages,
               [](std::chrono::milliseconds d) { Sleep(static_cast<DWORD>(d.count())); }, queue_},
      info_(resources, context_),
      config_(resources, context_, model_),
      calibration_(resources, context_, model_),
      model_(usb_.link(), messages, {&info_.model(), &config_.model(), &calibration_.model()}),
      linkStart_(usb_.link(), model_, [this] { return model_.UpdateConnectionStatus(); }),
      options_(resources, model_, settings, messages),
      about_(resources, IDD_PAGE_ABOUT) {
  // Notices that came during a sequence are taken when it is over.
  model_.SetAfterSequence([this] {
    std::vector<std::pair<DeviceNotice, std::wstring>> waiting;
    waiting.swap(deferredNotices_);
    for (const auto& notice : waiting) OnNotice(notice.first, notice.second);
  });
}

CTactraConsoleDlg::~CTactraConsoleDlg() {
  // A window that never opened still must not leave workers calling into its pages.
  linkStart_.Wait();
  usb_.SetOwner(nullptr);
}

ConsolePage* CTactraConsoleDlg::Page(int tab) {
  switch (tab) {
    case kTabInfo:
      return &info_;
    case kTabConfig:
      return &config_;
    case kTabCalibration:
      return &calibration_;
    case kTabOptions:
      return &options_;
    case kTabAbout:
      return &about_;
    default:
      return nullptr;
  }
}

void CTactraConsoleDlg::FieldsToControls() { ui::SetItemText(hwnd(), IDC_STATUS, statusText_); }

BOOL CTactraConsoleDlg::OnInitDialog() {
  NoteStartupStep("dialog-init");
  tasks_.Attach(hwnd());
  ui::AddAboutItem(hwnd(), messages_.LoadText(IDS_ABOUTBOX));
  icon().SetOn(hwnd());
  CreateStatusFont();

  // Notices, then the start's outcome with what changed before they were listened for, so that
  // a frame plugged in or out while the link starts is not missed.
  HWND window = hwnd();
  const NoticeCallback notice = [this](DeviceNotice kind, const std::wstring& path) {
    tasks_.Post([this, kind, path] { OnNotice(kind, path); });
  };
  notices_ = usb_.RegisterArrivalNotifications(window, notice);

  // The windows are made while the link's start goes on; none of them asks the link.
  HWND tabs = Item(IDC_TABS);
  for (int tab = 0; tab < kTabCount; ++tab) ui::InsertTab(tabs, tab, messages_.LoadText(IDS_TAB_INFO + tab));
  LayOutTabs();
  // The information page is shown at once and the options read the start-up settings now; the
  // other pages' windows are made when their tab is first selected (the configuration page's
  // alone would double the start-up's own time).
  CreatePage(kTabInfo);
  options_.model().Load();
  ui::SelectTab(tabs, kTabInfo);
  ShowPage(kTabInfo);
  NoteStartupStep("pages-created");

  NoteStartupStep("link-start");
  linkStart_.Finish(notice);
  NoteStartupStep("link-started");
  statusText_ = messages_.LoadText(model_.statusText());
  FieldsToControls();
  model_.RunSequence([this] { RefreshPage(kTabInfo); });
  NoteStartupStep("information-shown");
  return TRUE;
}

void CTactraConsoleDlg::CreateStatusFont() {
  statusFont_.reset(CreateFontW(ui::ScaleToDpi(kStatusFontHeight, ui::WindowDpi(hwnd())), 0, 0, 0,
                                kStatusFontWeight, FALSE, TRUE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FF_SWISS, L"Arial"));
  SendDlgItemMessageW(hwnd(), IDC_STATUS, WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_.get()), FALSE);
}

void CTactraConsoleDlg::LayOutTabs() {
  RECT client{};
  GetClientRect(hwnd(), &client);
  HWND tabs = Item(IDC_TABS);
  // The pages' controls take part in the main window's keyboard navigation.
  SetWindowLongPtrW(tabs, GWL_EXSTYLE, GetWindowLongPtrW(tabs, GWL_EXSTYLE) | WS_EX_CONTROLPARENT);
  const int dpi = ui::WindowDpi(hwnd());
  SetWindowPos(tabs, nullptr, ui::ScaleToDpi(kTabsLeft, dpi), ui::ScaleToDpi(kTabsTop, dpi),
               client.right - ui::ScaleToDpi(kTabsMarginX, dpi),
               client.bottom - ui::ScaleToDpi(kTabsMarginY, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
}

void CTactraConsoleDlg::CreatePage(int tab) {
  ConsolePage* page = Page(tab);
  if (!page || page->hwnd()) return;
  HWND tabs = Item(IDC_TABS);
  if (!page->CreateModeless(tabs)) return;
  const RECT area = ui::PageArea(tabs);
  SetWindowPos(page->hwnd(), HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
               SWP_NOACTIVATE);
}

void CTactraConsoleDlg::AddTrayIcon() {
  if (!icon().smallIcon()) ShowMessage(messages_, IDS_TRAY_ICON_FAILED);
  tray_.Add(hwnd(), IDR_MAINFRAME, WM_TRAYICON, icon().smallIcon(), kTrayTip);
}

void CTactraConsoleDlg::OnFirstShown() {
  // The minimisation is asked before the icon is there, so that a click on the icon comes after it.
  const bool minimize = options_.model().minimizeAfterStart();
  if (minimize) PostMessageW(hwnd(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  AddTrayIcon();
  // Off the taskbar only while the icon is there to bring the window back.
  if (minimize && tray_.added()) {
    SetWindowLongPtrW(hwnd(), GWL_EXSTYLE, GetWindowLongPtrW(hwnd(), GWL_EXSTYLE) & ~WS_EX_APPWINDOW);
  }
}

void CTactraConsoleDlg::ShowPage(int tab) {
  CreatePage(tab);
  for (int i = 0; i < kTabCount; ++i) {
    if (HWND page = Page(i)->hwnd()) ShowWindow(page, i == tab ? SW_SHOW : SW_HIDE);
  }
}

void CTactraConsoleDlg::RefreshPage(int tab) {
  // The tab is written before the page sends, so that its replies are routed to it.
  model_.SetCurrentTab(tab);
  if (ConsolePage* page = Page(tab)) page->Refresh();
}

void CTactraConsoleDlg::OnCancel() {
  if (model_.busy()) return;
  NoteStartupStep("close-asked");
  EndDialog(IDCANCEL);
}

bool CTactraConsoleDlg::OnNotify(const NMHDR& header, LPARAM, INT_PTR& result) {
  if (header.idFrom != IDC_TABS) return false;
  if (header.code == TCN_SELCHANGING) {
    // No other page while a sequence is under way.
    result = model_.busy() ? TRUE : FALSE;
    return true;
  }
  if (header.code == TCN_SELCHANGE) {
    const int tab = ui::SelectedTab(Item(IDC_TABS));
    ShowPage(tab);
    model_.RunSequence([this, tab] { RefreshPage(tab); });
    result = 0;
    return true;
  }
  return false;
}

void CTactraConsoleDlg::OnDestroy() {
  // No reply may reach a page that is going: the workers stop before the pages do.
  usb_.SetOwner(nullptr);
  usb_.StopWorkers();
  NoteStartupStep("workers-stopped");
  tasks_.Detach();
  notices_.reset();
  tray_.Remove();
  NoteStartupStep("window-ended");
}

void CTactraConsoleDlg::OnNotice(DeviceNotice notice, const std::wstring& path) {
  if (model_.busy()) {
    deferredNotices_.emplace_back(notice, path);
    return;
  }
  if (!model_.OnDeviceNotice(notice, path)) return;
  statusText_ = messages_.LoadText(model_.statusText());
  FieldsToControls();
  // Pages that forgot a removed frame show so at once.
  for (int tab = kTabInfo; tab <= kTabCalibration; ++tab) {
    if (ConsolePage* page = Page(tab); page && page->hwnd()) page->ShowFields();
  }
}

void CTactraConsoleDlg::OnTrayIcon(WPARAM id, LPARAM mouse) {
  if (id != IDR_MAINFRAME) return;
  if (mouse == WM_LBUTTONDBLCLK) {
    ShowWindow(hwnd(), SW_SHOWNORMAL);
    SetForegroundWindow(hwnd());
  } else if (mouse == WM_RBUTTONUP) {
    ui::TrackSingleItemMenu(hwnd(), IDCANCEL, kTrayExit);
  }
}

void CTactraConsoleDlg::OnSize(WPARAM type) {
  // Minimised, the window leaves the screen; only the icon remains, if there is one.
  if (type == SIZE_MINIMIZED && tray_.added()) ShowWindow(hwnd(), SW_HIDE);
}

void CTactraConsoleDlg::PaintIcon() {
  ui::PaintScope paint(hwnd());
  SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.dc()), 0);
  icon().DrawCentred(hwnd(), paint.dc());
}

bool CTactraConsoleDlg::OnProgramMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  if (message == ui::TrayIcon::TaskbarCreatedMessage()) {
    // The shell (re)started: the icon is gone from it, or was never added.
    if (tray_.AddAgain() && IsIconic(hwnd())) {
      SetWindowLongPtrW(hwnd(), GWL_EXSTYLE, GetWindowLongPtrW(hwnd(), GWL_EXSTYLE) & ~WS_EX_APPWINDOW);
      ShowWindow(hwnd(), SW_HIDE);
    }
    return false;
  }
  switch (message) {
    case WM_SHOWWINDOW:
      // The dialog's loop shows the window when its queue first runs empty; the tray icon (a
      // conversation with the shell) and a minimisation (which must follow the showing, or the
      // loop would show the window again) wait until then.
      if (wParam && !shown_) {
        shown_ = true;
        PostMessageW(hwnd(), WM_FIRST_SHOWN, 0, 0);
      }
      return false;
    case WM_FIRST_SHOWN:
      OnFirstShown();
      return true;
    case WM_TRAYICON:
      OnTrayIcon(wParam, lParam);
      result = wParam == IDR_MAINFRAME ? 0 : 1;
      return true;
    default:
      return false;
  }
}

}  // namespace tactra::console
