// An icon in the notification area: added with a callback message and a tip, added again when
// the shell restarts (its "TaskbarCreated" message), removed once.
#pragma once

#include <windows.h>
// clang-format off
#include <shellapi.h>
// clang-format on

#include <string>

namespace tactra::ui {

class TrayIcon {
 public:
  TrayIcon() = default;
  ~TrayIcon() { Remove(); }
  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // The message the shell broadcasts when its notification area (re)starts.
  static UINT TaskbarCreatedMessage();

  // Adds the icon (a null `icon` adds the entry without one); true when the shell took it.
  // Calling it again after the shell restarted adds the same entry anew.
  bool Add(HWND window, UINT id, UINT callbackMessage, HICON icon, const std::wstring& tip);
  // The entry as last given to Add, again (after "TaskbarCreated").
  bool AddAgain();
  void Remove();
  bool added() const { return added_; }

 private:
  NOTIFYICONDATAW data_{};
  bool added_ = false;
};

// A popup menu of one item at the cursor whose command goes to `window`.
void TrackSingleItemMenu(HWND window, UINT command, const wchar_t* text);

}  // namespace tactra::ui
