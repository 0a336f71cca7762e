// A bridge that stands where the launcher expects one of its outside programs, for running a real
// session under Wine: built as stunnel.exe (runs Debian's stunnel4) and as winvnc_QARU_RC23.exe (runs
// x11vnc). Wine starts a Linux program without a process handle, so the launcher could neither close
// nor end it; this Windows program owns the Linux program's lifetime instead. It translates its
// arguments, starts bridge_unix.py (lying beside it) which connects back over loopback and runs the
// Linux program with that connection as its standard output and error, and then:
//   - WM_CLOSE to its (hidden) top-level window ends the Linux program, then the bridge;
//   - TerminateProcess of the bridge closes the connection, and bridge_unix.py ends the program;
//   - the Linux program's end closes the connection, and the bridge ends too.
// Events go to <name>.log beside the executable in the stand-ins' format ("start pid=... cwd=...
// cmdline=...", "WM_CLOSE", "exit"); what the Linux program prints goes to <name>.out.
// The socket headers must come before windows.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstdlib>  // __argc, __argv
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr UINT control_event = WM_APP + 1;
constexpr UINT_PTR close_timer = 1;
constexpr UINT close_grace_ms = 5000;  // longest wait for the Linux program after WM_CLOSE
constexpr int helper_connect_ms = 10000;

std::string base_path;  // the executable's path without ".exe"
std::string program_name;
SOCKET control = INVALID_SOCKET;

void append_to(const std::string& path, const char* data, size_t size) {
  HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
  CloseHandle(file);
}

void log_line(const std::string& text) {
  const std::string line = text + "\r\n";
  append_to(base_path + ".log", line.data(), line.size());
}

// --- Translating the arguments --------------------------------------------------------------------

// What the bridge asks bridge_unix.py to run: the Linux program's arguments and the bytes for its
// standard input (empty: none). error is set when the Windows arguments cannot be translated.
struct linux_command {
  std::vector<std::string> args;
  std::string input;
  std::string error;
};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

// stunnel.exe CONFIG -> stunnel4 -fd 0, CONFIG on standard input as written: bridge_unix.py makes it
// the Linux one (tunnel_config.py). Relative paths in it (the pinned certificate) are found from the
// working directory, as on Windows.
linux_command translate_tunnel(const std::vector<std::string>& args) {
  linux_command command;
  if (args.size() != 1) {
    command.error = "expected one argument, the configuration file";
    return command;
  }
  std::ifstream in(args[0], std::ios::binary);
  if (!in) {
    command.error = "cannot read the configuration file " + args[0];
    return command;
  }
  std::stringstream text;
  text << in.rdbuf();
  command.args = {"stunnel4", "-fd", "0"};
  command.input = text.str();
  return command;
}

// winvnc -connect HOST:PORT [-noregistry] [-run] -> x11vnc serving this display ($DISPLAY) with the
// same outgoing connection. -noregistry becomes -norc (no settings file), -run needs nothing (x11vnc
// serves at once). x11vnc listens on no port of its own (winvnc would on 5900): the session needs only
// the outgoing connection, and -rfbport 0 alone still leaves x11vnc listening on [::]:5900; with
// -localhost it listens nowhere. It keeps serving after the viewer leaves, as winvnc does, until
// closed.
linux_command translate_vnc(const std::vector<std::string>& args) {
  linux_command command;
  command.args = {"x11vnc", "-rfbport", "0", "-localhost", "-forever", "-nopw", "-noxdamage"};
  bool connect = false;
  for (size_t i = 0; i < args.size() && command.error.empty(); ++i) {
    const std::string arg = lower(args[i]);
    if (arg == "-connect" && i + 1 < args.size()) {
      command.args.insert(command.args.end(), {"-connect", args[++i]});
      connect = true;
    } else if (arg == "-noregistry") {
      command.args.push_back("-norc");
    } else if (arg != "-run") {
      command.error = "unknown argument " + args[i];
    }
  }
  if (command.error.empty() && !connect) command.error = "no -connect HOST:PORT";
  return command;
}

// --- The control connection -------------------------------------------------------------------------

std::string request_of(const linux_command& command) {
  std::string request = std::to_string(command.args.size()) + " " + std::to_string(command.input.size()) + "\n";
  for (const std::string& arg : command.args) request += arg + '\0';
  return request + command.input;
}

bool send_all(SOCKET s, const std::string& data) {
  size_t sent = 0;
  while (sent < data.size()) {
    const int n = send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

// Starts bridge_unix.py beside the executable and returns its connection back to us (or
// INVALID_SOCKET). Wine runs the script, a Linux program, but yields no handle for it: the connection
// is what ties the two lives together.
SOCKET start_helper(std::string& error) {
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  if (listener == INVALID_SOCKET || bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, 1) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    error = "no loopback listener (WSA error " + std::to_string(WSAGetLastError()) + ")";
    if (listener != INVALID_SOCKET) closesocket(listener);
    return INVALID_SOCKET;
  }
  const std::string directory = base_path.substr(0, base_path.find_last_of('\\') + 1);
  std::string command_line = "\"" + directory + "bridge_unix.py\" " + std::to_string(ntohs(address.sin_port));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    error = "cannot start " + command_line + " (error " + std::to_string(GetLastError()) + ")";
    closesocket(listener);
    return INVALID_SOCKET;
  }
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(listener, &ready);
  timeval limit{helper_connect_ms / 1000, 0};
  SOCKET connection = INVALID_SOCKET;
  if (select(0, &ready, nullptr, nullptr, &limit) == 1) connection = accept(listener, nullptr, nullptr);
  closesocket(listener);
  if (connection == INVALID_SOCKET) error = "bridge_unix.py did not connect back";
  return connection;
}

// --- The window -----------------------------------------------------------------------------------------

void receive_output(HWND window) {
  char buffer[4096];
  const int n = recv(control, buffer, sizeof buffer, 0);
  if (n > 0) {
    append_to(base_path + ".out", buffer, static_cast<size_t>(n));
  } else if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
    DestroyWindow(window);  // the Linux program has ended
  }
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case control_event:
      // Read on FD_CLOSE too: output may still wait in the connection.
      if (WSAGETSELECTEVENT(lparam) == FD_CLOSE) {
        for (int i = 0; i < 64 && IsWindow(window); ++i) receive_output(window);
        if (IsWindow(window)) DestroyWindow(window);
      } else {
        receive_output(window);
      }
      return 0;
    case WM_CLOSE:
      log_line("WM_CLOSE");
      // No more requests: bridge_unix.py ends the Linux program, and its end closes the connection.
      shutdown(control, SD_SEND);
      SetTimer(window, close_timer, close_grace_ms, nullptr);
      return 0;
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

// A top-level window that is never shown (the real programs show none, or only an icon); the
// launcher's close request reaches it all the same.
HWND create_window(HINSTANCE instance) {
  WNDCLASSA type{};
  type.lpfnWndProc = window_procedure;
  type.hInstance = instance;
  type.lpszClassName = "brol_bridge";
  RegisterClassA(&type);
  const std::string title = program_name + " (bridge)";
  return CreateWindowA("brol_bridge", title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200, 60, nullptr, nullptr, instance,
                       nullptr);
}

void find_settings() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  path[length < MAX_PATH ? length : MAX_PATH - 1] = '\0';
  base_path = path;
  const size_t dot = base_path.find_last_of('.');
  if (dot != std::string::npos && dot > base_path.find_last_of('\\')) base_path.erase(dot);
  program_name = base_path.substr(base_path.find_last_of('\\') + 1);
}

int fail(const std::string& why) {
  log_line("error: " + why);
  log_line("exit");
  return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  find_settings();
  char directory[MAX_PATH] = "";
  GetCurrentDirectoryA(MAX_PATH, directory);
  log_line("start pid=" + std::to_string(GetCurrentProcessId()) + " cwd=" + directory +
           " cmdline=" + GetCommandLineA());
  const std::vector<std::string> args(__argv + 1, __argv + __argc);
  const linux_command command = lower(program_name) == "stunnel" ? translate_tunnel(args) : translate_vnc(args);
  if (!command.error.empty()) return fail(command.error);
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return fail("no socket library");
  std::string error;
  control = start_helper(error);
  if (control == INVALID_SOCKET || !send_all(control, request_of(command))) {
    return fail(error.empty() ? "the request did not reach bridge_unix.py" : error);
  }
  std::string shown = "running";
  for (const std::string& arg : command.args) shown += " " + arg;
  log_line(shown);
  HWND window = create_window(instance);
  WSAAsyncSelect(control, window, control_event, FD_READ | FD_CLOSE);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  closesocket(control);
  WSACleanup();
  log_line("exit");
  return 0;
}
