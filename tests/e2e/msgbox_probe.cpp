// Finds a message box of another process under the same Wine server, prints its caption and
// text, and closes it with OK: the end-to-end test's hands and eyes for message boxes.
//   msgbox_probe TIMEOUT_MS [MODULE.dll]
// With a language module named, the text and caption are also matched to their string ids
// ("text-id=N caption-id=N"). "owner=run" when the box belongs to the run's window, else
// "owner=none" or "owner=other". Exit 0 after closing one box, 1 when none appeared in time.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/e2e/probe_text.h"

namespace {

using probe::TextOf;
using probe::Utf8;

struct Found {
  HWND box = nullptr;
  std::wstring text;
};

BOOL CALLBACK VisitChild(HWND child, LPARAM found) {
  wchar_t kind[32] = {};
  GetClassNameW(child, kind, 32);
  if (_wcsicmp(kind, L"Static") != 0) return TRUE;
  std::wstring text = TextOf(child);
  auto* f = reinterpret_cast<Found*>(found);
  if (text.size() > f->text.size()) f->text = text;
  return TRUE;
}

BOOL CALLBACK VisitTop(HWND window, LPARAM found) {
  wchar_t kind[32] = {};
  GetClassNameW(window, kind, 32);
  if (wcscmp(kind, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId()) return TRUE;
  // A message box has an OK button and no run controls.
  if (!GetDlgItem(window, IDOK) && !GetDlgItem(window, IDCANCEL)) return TRUE;
  if (GetDlgItem(window, 1000)) return TRUE;
  Found candidate;
  EnumChildWindows(window, VisitChild, reinterpret_cast<LPARAM>(&candidate));
  if (candidate.text.empty()) return TRUE;
  auto* f = reinterpret_cast<Found*>(found);
  f->box = window;
  f->text = candidate.text;
  return FALSE;
}

std::wstring LoadText(HMODULE module, int id) {
  const wchar_t* text = nullptr;
  const int length = LoadStringW(module, static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 && text ? std::wstring(text, static_cast<std::size_t>(length)) : std::wstring();
}

// The id of the string the text starts with (the box may add a suffix), the longest match.
int IdOf(HMODULE module, const std::wstring& text) {
  int best = 0;
  std::size_t bestLength = 0;
  for (int id = 1000; id < 1200; ++id) {
    const std::wstring s = LoadText(module, id);
    if (!s.empty() && text.compare(0, s.size(), s) == 0 && s.size() > bestLength) {
      best = id;
      bestLength = s.size();
    }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const DWORD timeout = static_cast<DWORD>(std::atol(argv[1]));
  HMODULE module = nullptr;
  if (argc > 2) module = LoadLibraryExA(argv[2], nullptr, LOAD_LIBRARY_AS_DATAFILE);

  const DWORD start = GetTickCount();
  Found found;
  while (!found.box) {
    EnumWindows(VisitTop, reinterpret_cast<LPARAM>(&found));
    if (found.box) break;
    if (GetTickCount() - start > timeout) return 1;
    Sleep(100);
  }
  const std::wstring caption = TextOf(found.box);
  std::printf("caption=%s\ntext=%s\n", Utf8(caption).c_str(), Utf8(found.text).c_str());
  HWND owner = GetWindow(found.box, GW_OWNER);
  std::printf("owner=%s\n", !owner ? "none" : GetDlgItem(owner, 1000) ? "run" : "other");
  if (module) std::printf("text-id=%d caption-id=%d\n", IdOf(module, found.text), IdOf(module, caption));
  std::fflush(stdout);
  PostMessageW(found.box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  return 0;
}
