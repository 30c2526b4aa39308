/* Entry point of the resource-only language modules: they hold no code and need no C runtime. */
#include <windows.h>

BOOL WINAPI TactraModuleEntry(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
