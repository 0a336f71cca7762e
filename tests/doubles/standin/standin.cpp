// A stand-in for one of the launcher's outside programs (built as stunnel.exe and as
// winvnc_QARU_RC23.exe), for the tests and the demo only. It logs each event as one line to
// <program>.log beside the executable, shows one top-level window and leaves on WM_CLOSE, unless a
// file <program>.ignore-close beside it or the environment variable STANDIN_IGNORE_CLOSE=1 tells it
// to ignore close requests, as the real tunnel program can. Then only termination ends it. A file
// <program>.exit-at-once beside it makes it log its start and end at once with exit code 1, as the
// real tunnel program does with a broken configuration.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

char log_path[MAX_PATH + 8];
char program_name[MAX_PATH];
bool ignore_close = false;
bool exit_at_once = false;

void log_line(const char* text) {
  HANDLE file = CreateFileA(log_path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
  WriteFile(file, "\r\n", 2, &written, nullptr);
  CloseHandle(file);
}

// Fills log_path and program_name from the executable's path and decides about close requests.
void find_settings() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  path[length < MAX_PATH ? length : MAX_PATH - 1] = '\0';
  char* dot = std::strrchr(path, '.');
  if (dot != nullptr) *dot = '\0';
  const char* slash = std::strrchr(path, '\\');
  std::snprintf(program_name, sizeof program_name, "%s", slash != nullptr ? slash + 1 : path);
  std::snprintf(log_path, sizeof log_path, "%s.log", path);
  char marker[MAX_PATH + 16];
  std::snprintf(marker, sizeof marker, "%s.ignore-close", path);
  char value[8] = "";
  GetEnvironmentVariableA("STANDIN_IGNORE_CLOSE", value, sizeof value);
  ignore_close = GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES || std::strcmp(value, "1") == 0;
  std::snprintf(marker, sizeof marker, "%s.exit-at-once", path);
  exit_at_once = GetFileAttributesA(marker) != INVALID_FILE_ATTRIBUTES;
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CLOSE:
      log_line(ignore_close ? "WM_CLOSE ignored" : "WM_CLOSE");
      if (!ignore_close) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

HWND create_window(HINSTANCE instance) {
  WNDCLASSA type{};
  type.lpfnWndProc = window_procedure;
  type.hInstance = instance;
  type.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  type.lpszClassName = "brol_standin";
  RegisterClassA(&type);
  char title[MAX_PATH + 16];
  std::snprintf(title, sizeof title, "%s (stand-in)", program_name);
  HWND window =
      CreateWindowA("brol_standin", title, WS_OVERLAPPEDWINDOW, 8, 8, 320, 80, nullptr, nullptr, instance, nullptr);
  ShowWindow(window, SW_SHOWNOACTIVATE);
  return window;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  find_settings();
  char directory[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, directory);
  static char line[4 * MAX_PATH + 256];
  std::snprintf(line, sizeof line, "start pid=%lu cwd=%s cmdline=%s", GetCurrentProcessId(), directory,
                GetCommandLineA());
  log_line(line);
  if (exit_at_once) {
    log_line("exit");
    return 1;
  }
  create_window(instance);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  log_line("exit");
  return 0;
}
