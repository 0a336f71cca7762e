// The console's system backend for Windows: CreateProcessA, select, the console's control handler.
// winsock2.h before windows.h, which would otherwise bring the old winsock.h.
#include <winsock2.h>

#include <windows.h>

#include <cerrno>

#include "technician/technician_platform.h"

namespace {

HANDLE g_stop_event = nullptr;
HANDLE g_done_event = nullptr;

BOOL WINAPI on_control(DWORD type) {
  SetEvent(g_stop_event);
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
    // Returning ends the process at once: give the sessions time to end their viewers first.
    WaitForSingleObject(g_done_event, 4000);
  }
  return TRUE;
}

std::string reason(DWORD code) {
  const char* text = brol_platform_error_text(brol_platform_error_number(code));
  return text ? text : "error " + std::to_string(code);
}

// One argument as the C runtime's command-line parser reads it back.
void append_quoted(std::string& line, const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) {
    line += argument;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

}  // namespace

bool tech_platform_start(std::string* error) {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    *error = "cannot start the socket library";
    return false;
  }
  g_stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_done_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (g_stop_event == nullptr || g_done_event == nullptr || !SetConsoleCtrlHandler(on_control, TRUE)) {
    *error = "cannot watch for Ctrl-C: " + reason(GetLastError());
    return false;
  }
  return true;
}

bool tech_spawn(const std::string& program, const std::vector<std::string>& arguments, tech_child* out,
                std::string* error) {
  std::string line;
  append_quoted(line, program);
  for (const std::string& argument : arguments) {
    line += ' ';
    append_quoted(line, argument);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    *error = program + ": " + reason(GetLastError());
    return false;
  }
  CloseHandle(info.hThread);
  out->id = info.dwProcessId;
  out->handle = reinterpret_cast<std::intptr_t>(info.hProcess);
  out->running = true;
  return true;
}

bool tech_child_running(tech_child& child) {
  if (child.running && WaitForSingleObject(reinterpret_cast<HANDLE>(child.handle), 0) == WAIT_OBJECT_0) {
    CloseHandle(reinterpret_cast<HANDLE>(child.handle));
    child.running = false;
  }
  return child.running;
}

namespace {

BOOL CALLBACK close_window_of(HWND window, LPARAM process) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(process) && IsWindowVisible(window)) {
    PostMessageA(window, WM_CLOSE, 0, 0);
  }
  return TRUE;
}

}  // namespace

void tech_child_end(tech_child& child) {
  if (!tech_child_running(child)) {
    return;
  }
  EnumWindows(close_window_of, static_cast<LPARAM>(child.id));
  const HANDLE process = reinterpret_cast<HANDLE>(child.handle);
  if (WaitForSingleObject(process, 2000) != WAIT_OBJECT_0) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 5000);
  }
  CloseHandle(process);
  child.running = false;
}

int tech_wait_readable(const brol_socket_handle* sockets, int count, int milliseconds, bool* ready) {
  fd_set set;
  FD_ZERO(&set);
  for (int i = 0; i < count; ++i) {
    FD_SET(static_cast<SOCKET>(sockets[i]), &set);
  }
  timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
  const int n = select(0, &set, nullptr, nullptr, &limit);
  for (int i = 0; i < count; ++i) {
    ready[i] = n > 0 && FD_ISSET(static_cast<SOCKET>(sockets[i]), &set);
  }
  if (n == SOCKET_ERROR) {
    errno = brol_platform_error_number(static_cast<std::uint32_t>(WSAGetLastError()));
    return -1;
  }
  return n;
}

void tech_socket_no_delay(brol_socket_handle socket) {
  const BOOL on = TRUE;
  setsockopt(static_cast<SOCKET>(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void tech_wait_for_stop() { WaitForSingleObject(g_stop_event, INFINITE); }

void tech_stopped() { SetEvent(g_done_event); }

std::string tech_program_folder() {
  char path[MAX_PATH + 1];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) {
    return "";
  }
  std::string text(path, n);
  return text.substr(0, text.find_last_of("\\/") + 1);
}
