// A DLL planted beside the launcher by the GUI test under the name of one the window system loads at
// run time. When any process loads it, it appends that process's executable path to <its own
// path>.loaded and refuses to load, so the test can tell who would have run planted code.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char marker[MAX_PATH + 16];
  const DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return FALSE;
  lstrcpyA(marker + length, ".loaded");
  char line[MAX_PATH + 4];
  DWORD size = GetModuleFileNameA(nullptr, line, MAX_PATH);
  if (size >= MAX_PATH) size = MAX_PATH - 1;
  line[size++] = '\r';
  line[size++] = '\n';
  HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, line, size, &written, nullptr);
    CloseHandle(file);
  }
  return FALSE;
}
