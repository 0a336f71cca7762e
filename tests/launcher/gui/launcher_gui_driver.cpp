// Drives the real launcher from outside, as a user would, and checks what it shows and what the
// stand-in programs received. Runs under Wine on a virtual display, started by run_gui_test.sh:
//   launcher_gui_driver.exe APP_DIR WORK_DIR SHOT_DIR [demo]
//   launcher_gui_driver.exe deep refusal|tunnel SHOT_DIR
// The second form plays one session start in a launcher that the script has started from a folder too
// deep for a process start (see run_gui_test.sh) and expects the named message.
// APP_DIR holds the launcher, the stand-ins and the tunnel configurations; the launcher is started
// with WORK_DIR as its working directory. Screenshots are asked of the wrapper through SHOT_DIR
// (NAME.req -> NAME.png and NAME.ack). The result goes to SHOT_DIR\result.txt as "N passed, N failed".
// With "demo" only one session is played (ID 302: start, running, stop) and the stand-ins' logs stay.
// With "session" the real session is played against the bridges (see play_real_sessions).
#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const dialog_caption = "Brevant Fernwartungs Tool 0.0.0";
const char* const invalid_id = "Fernwarungs-ID ung\xFCltig";
const char* const tunnel_failed = "Fehler beim Aufbau des SSL-Tunnels:\n\"stunnel\" konnte nicht gestartet werden.";
const char* const vnc_failed =
    "Fehler beim Aufbau der Fernwartungs-Verbindung:\n\"winvnc\" konnte nicht gestartet werden.";
const char* const vnc_parameters = "-connect 127.0.0.1:5500 -noregistry -run";
const char* const no_directory =
    "Fehler beim Start der Fernwartung:\nDer Programmordner konnte nicht ge\xF6"
    "ffnet werden.\n"
    "Bitte legen Sie den Ordner an einen Ort mit k\xFCrzerem Pfad, z.B. C:\\Fernwartung.";

constexpr int id_field = 1100, session_button = 1007, id_display = 1300, progress_caption = 1304, status_line = 1305,
              progress_bar = 1330, prompt = 1301;

std::string app_dir, work_dir, shot_dir;
int passed = 0, failed = 0;
std::FILE* report = nullptr;

void say(const char* format, ...) {
  va_list list;
  va_start(list, format);
  char line[2048];
  std::vsnprintf(line, sizeof line, format, list);
  va_end(list);
  std::printf("%s\n", line);
  std::fflush(stdout);
  if (report != nullptr) std::fprintf(report, "%s\n", line), std::fflush(report);
}

bool check(bool ok, const std::string& what) {
  (ok ? passed : failed)++;
  say("%s: %s", ok ? "ok  " : "FAIL", what.c_str());
  return ok;
}

std::string quoted(const std::string& s) {
  std::string out = "\"";
  for (char c : s) out += c == '\n' ? std::string("\\n") : std::string(1, c);
  return out + "\"";
}

bool wait_until(const std::function<bool()>& condition, int milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    Sleep(25);
  }
  return true;
}

// --- Files --------------------------------------------------------------------------------------

std::string app_file(const std::string& name) { return app_dir + "\\" + name; }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// The log of a stand-in program ("stunnel" or "winvnc_QARU_RC23").
struct standin_log {
  std::string text;
  unsigned long pid = 0;
  std::string cwd, cmdline;
  int closes = 0, ignored = 0;
  bool exited = false;
};

standin_log read_log(const std::string& program) {
  standin_log log;
  log.text = read_file(app_file(program + ".log"));
  std::istringstream lines(log.text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("start pid=", 0) == 0) {
      log.pid = std::strtoul(line.c_str() + 10, nullptr, 10);
      const size_t cwd = line.find(" cwd="), cmd = line.find(" cmdline=");
      if (cwd != std::string::npos && cmd != std::string::npos) {
        log.cwd = line.substr(cwd + 5, cmd - cwd - 5);
        log.cmdline = line.substr(cmd + 9);
      }
    } else if (line == "WM_CLOSE") {
      log.closes++;
    } else if (line == "WM_CLOSE ignored") {
      log.ignored++;
    } else if (line == "exit") {
      log.exited = true;
    }
  }
  return log;
}

bool same_path(const std::string& a, const std::string& b) { return _stricmp(a.c_str(), b.c_str()) == 0; }

// --- Processes ----------------------------------------------------------------------------------

bool process_alive(unsigned long pid) {
  if (pid == 0) return false;
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return false;
  const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return alive;
}

bool wait_gone(unsigned long pid, int milliseconds) {
  return wait_until([&] { return !process_alive(pid); }, milliseconds);
}

void kill_process(unsigned long pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
  if (process == nullptr) return;
  TerminateProcess(process, 9);
  WaitForSingleObject(process, 5000);
  CloseHandle(process);
}

// Ends stand-ins that a scenario left running and clears the logs and markers for the next one.
void reset_folder() {
  for (const char* program : {"stunnel", "winvnc_QARU_RC23"}) {
    const standin_log log = read_log(program);
    if (process_alive(log.pid)) kill_process(log.pid);
    DeleteFileA(app_file(std::string(program) + ".log").c_str());
    DeleteFileA(app_file(std::string(program) + ".ignore-close").c_str());
    DeleteFileA(app_file(std::string(program) + ".exit-at-once").c_str());
  }
}

// --- Windows of the launcher ------------------------------------------------------------------------

struct launcher {
  PROCESS_INFORMATION process{};
  HWND dialog = nullptr;

  HWND item(int id) const { return GetDlgItem(dialog, id); }
  bool visible(int id) const { return (GetWindowLongA(item(id), GWL_STYLE) & WS_VISIBLE) != 0; }
  bool running() const { return WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT; }
  bool wait_exit(int milliseconds) const {
    return WaitForSingleObject(process.hProcess, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0;
  }
};

struct window_search {
  DWORD pid;
  HWND exclude;
  std::vector<HWND> found;
};

BOOL CALLBACK collect_dialogs(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<window_search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  char type[64] = "";
  GetClassNameA(window, type, sizeof type);
  if (owner == search->pid && window != search->exclude && IsWindowVisible(window) &&
      std::strcmp(type, "#32770") == 0) {
    search->found.push_back(window);
  }
  return TRUE;
}

// Visible dialog windows of the launcher's process other than its main dialog: message boxes.
std::vector<HWND> boxes_of(const launcher& l) {
  window_search search{l.process.dwProcessId, l.dialog, {}};
  EnumWindows(collect_dialogs, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::string caption_of(HWND window) {
  char text[1024] = "";
  GetWindowTextA(window, text, sizeof text);
  return text;
}

// A static control's text is read without a message, so this works while the launcher waits; an
// edit control's text needs WM_GETTEXT, which the launcher answers when it is idle.
std::string text_of(HWND window) { return caption_of(window); }

std::string edit_text(HWND edit) {
  char text[256] = "";
  DWORD_PTR result = 0;
  SendMessageTimeoutA(edit, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000, &result);
  return text;
}

void set_edit(HWND edit, const char* text) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 5000, &result);
}

bool start_launcher(launcher& l) {
  std::string command = "\"" + app_file("launcher.exe") + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, work_dir.c_str(), &startup,
                      &l.process)) {
    return check(false, "the launcher starts (CreateProcess error " + std::to_string(GetLastError()) + ")");
  }
  const bool found = wait_until(
      [&] {
        HWND window = FindWindowA("#32770", dialog_caption);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (window != nullptr && owner == l.process.dwProcessId && IsWindowVisible(window)) l.dialog = window;
        return l.dialog != nullptr;
      },
      15000);
  WaitForInputIdle(l.process.hProcess, 5000);
  return check(found, "the launcher's dialog appears, found by its caption");
}

void finish_launcher(launcher& l) {
  if (l.running()) {
    TerminateProcess(l.process.hProcess, 9);
    WaitForSingleObject(l.process.hProcess, 5000);
  }
  CloseHandle(l.process.hProcess);
  CloseHandle(l.process.hThread);
}

// Waits for a message box of the launcher, checks its caption and text, answers it.
HWND wait_box(const launcher& l, int milliseconds) {
  HWND box = nullptr;
  wait_until(
      [&] {
        const std::vector<HWND> boxes = boxes_of(l);
        box = boxes.empty() ? nullptr : boxes.front();
        return box != nullptr;
      },
      milliseconds);
  return box;
}

std::string box_text(HWND box) { return text_of(GetDlgItem(box, 0xFFFF)); }

void answer(HWND box, int button) {
  PostMessageA(box, WM_COMMAND, static_cast<WPARAM>(button), 0);
  wait_until([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
}

bool expect_box(const launcher& l, const char* text, bool owned_by_dialog, int button, const std::string& what) {
  HWND box = wait_box(l, 8000);
  if (!check(box != nullptr, what + ": a message box appears")) return false;
  check(caption_of(box) == "ACHTUNG", what + ": caption ACHTUNG, got " + quoted(caption_of(box)));
  check(box_text(box) == text, what + ": text " + quoted(text) + ", got " + quoted(box_text(box)));
  const HWND owner = GetWindow(box, GW_OWNER);
  check(owned_by_dialog ? owner == l.dialog : owner == nullptr,
        what + (owned_by_dialog ? ": owned by the dialog" : ": without owner"));
  answer(box, button);
  return true;
}

// The shell's own "file not found" box comes before the launcher's message when a program is missing.
void answer_shell_error(const launcher& l, const std::string& what) {
  HWND box = wait_box(l, 8000);
  const bool shell_box = box != nullptr && caption_of(box) != "ACHTUNG";
  check(shell_box, what + ": the shell reports the missing file first (" + quoted(box ? box_text(box) : "") + ")");
  if (shell_box) answer(box, IDOK);
}

void click(const launcher& l) { PostMessageA(l.item(session_button), BM_CLICK, 0, 0); }

void press_key(HWND window, WPARAM key) {
  PostMessageA(window, WM_KEYDOWN, key, 1);
  PostMessageA(window, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

HWND focus_of(const launcher& l) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(l.process.dwThreadId, &info) ? info.hwndFocus : nullptr;
}

// --- Screenshots ------------------------------------------------------------------------------------

// Screen rectangle of a window, for the wrapper's checks ("X Y W H").
std::string rect_of(HWND window, int inset = 0) {
  RECT r{};
  GetWindowRect(window, &r);
  char text[96];
  std::snprintf(text, sizeof text, "%ld %ld %ld %ld", r.left + inset, r.top + inset, r.right - r.left - 2 * inset,
                r.bottom - r.top - 2 * inset);
  return text;
}

// A screen point inside a window, inset from its top-left corner ("X Y").
std::string corner_of(HWND window, int inset) {
  RECT r{};
  GetWindowRect(window, &r);
  return std::to_string(r.left + inset) + " " + std::to_string(r.top + inset);
}

std::string client_point(HWND window, int x, int y) {
  POINT p{x, y};
  ClientToScreen(window, &p);
  return std::to_string(p.x) + " " + std::to_string(p.y);
}

std::string hex_colour(COLORREF c) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
  return text;
}

// Hands the wrapper request NAME (NAME.req, one line per check or action), waits for its answer
// (NAME.ack) and counts the verdicts in it ("ok ..." and "bad ..." lines).
void ask(const std::string& name, const std::vector<std::string>& lines, int milliseconds = 20000) {
  std::string request;
  for (const std::string& c : lines) request += c + "\n";
  const std::string base = shot_dir + "\\" + name;
  DeleteFileA((base + ".ack").c_str());
  write_file(base + ".tmp", request);
  MoveFileA((base + ".tmp").c_str(), (base + ".req").c_str());
  if (!check(wait_until([&] { return exists(base + ".ack"); }, milliseconds), "request " + name + " answered")) return;
  std::istringstream verdicts(read_file(base + ".ack"));
  std::string line;
  while (std::getline(verdicts, line)) {
    if (line.rfind("ok ", 0) == 0) check(true, name + ": " + line.substr(3));
    if (line.rfind("bad ", 0) == 0) check(false, name + ": " + line.substr(4));
  }
}

// Asks the wrapper for a screenshot of the dialog (NAME.png) and for checks of its pixels:
//   pixel X Y RRGGBB LABEL   the pixel has that colour
//   ink X Y W H LABEL        the area holds a dark pixel (something is written there)
//   inkbox X Y W H IW IH LABEL  the dark pixels of the area span IW x IH (within 1 pixel)
void screenshot(const launcher& l, const std::string& name, const std::vector<std::string>& checks) {
  std::vector<std::string> lines{"crop " + rect_of(l.dialog)};
  lines.insert(lines.end(), checks.begin(), checks.end());
  ask(name, lines);
}

// --- Scenarios ----------------------------------------------------------------------------------------

void check_input_state(const launcher& l, const std::string& what) {
  // The launcher may still be hiding the last controls of the state before.
  check(wait_until(
            [&] {
              return l.visible(id_field) && l.visible(prompt) && l.visible(session_button) &&
                     !l.visible(progress_bar) && !l.visible(id_display);
            },
            2000),
        what + ": the dialog shows the input state");
}

void check_field_look(const launcher& l) {
  const LONG style = GetWindowLongA(l.item(id_field), GWL_STYLE);
  const LONG exstyle = GetWindowLongA(l.item(id_field), GWL_EXSTYLE);
  check((style & (WS_BORDER | WS_DLGFRAME | WS_THICKFRAME)) == 0, "the ID field has no border styles");
  check((exstyle & (WS_EX_CLIENTEDGE | WS_EX_STATICEDGE | WS_EX_DLGMODALFRAME)) == 0,
        "the ID field has no edge styles");
  // The font itself is checked on the screenshots: a font handle means nothing in another process.
}

// The size of the ink of a text drawn in bold 26-pixel Arial (the launcher's large font) here, in
// this process, as "W H": the screenshot of the launcher's text must match it.
std::string large_font_ink(const char* text) {
  constexpr int width = 640, height = 80;
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old_bitmap = SelectObject(dc, bitmap);
  PatBlt(dc, 0, 0, width, height, WHITENESS);
  LOGFONTA face{};
  std::strcpy(face.lfFaceName, "Arial");
  face.lfHeight = -26;
  face.lfWeight = FW_BOLD;
  face.lfQuality = ANTIALIASED_QUALITY;
  HFONT font = CreateFontIndirectA(&face);
  HGDIOBJ old_font = SelectObject(dc, font);
  SetTextColor(dc, 0);
  SetBkMode(dc, TRANSPARENT);
  TextOutA(dc, 10, 10, text, static_cast<int>(std::strlen(text)));
  GdiFlush();
  int left = width, right = -1, top = height, bottom = -1;
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = pixels[y * width + x];
      const unsigned grey = ((p & 0xFF) + ((p >> 8) & 0xFF) + ((p >> 16) & 0xFF)) / 3;
      if (grey < 128)
        left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
    }
  }
  SelectObject(dc, old_font);
  SelectObject(dc, old_bitmap);
  DeleteObject(font);
  DeleteObject(bitmap);
  DeleteDC(dc);
  return std::to_string(right - left + 1) + " " + std::to_string(bottom - top + 1);
}

void scenario_invalid_ids_and_enter() {
  say("-- invalid IDs, Enter, close in the input state");
  launcher l;
  if (!start_launcher(l)) return finish_launcher(l);
  check_field_look(l);
  check(focus_of(l) == l.item(id_field), "the ID field has the focus after start-up");
  set_edit(l.item(id_field), "302");
  press_key(l.item(id_field), VK_RETURN);
  Sleep(700);
  check(boxes_of(l).empty() && !exists(app_file("stunnel.log")) && l.running(), "Enter in the ID field starts nothing");
  check_input_state(l, "after Enter");
  for (const char* id : {"", "300", "305", "-301", "abc", "4294967598"}) {
    const std::string what = "ID " + quoted(id);
    set_edit(l.item(id_field), id);
    click(l);
    expect_box(l, invalid_id, true, IDOK, what);
    check(edit_text(l.item(id_field)) == id, what + ": the field keeps its text");
    check_input_state(l, what);
  }
  check(!exists(app_file("stunnel.log")), "no invalid ID started a program");
  PostMessageA(l.dialog, WM_CLOSE, 0, 0);
  check(l.wait_exit(5000) && boxes_of(l).empty(), "close in the input state ends the launcher without a question");
  finish_launcher(l);
}

// Starts a session with the ID and waits for the running state; false if it never comes.
bool start_session(const launcher& l, const char* id, bool screenshots) {
  set_edit(l.item(id_field), id);
  if (screenshots) {
    // Tab to the button as a user would: its focus rectangle shows, and no caret stands in the field.
    press_key(l.item(id_field), VK_TAB);
    check(wait_until([&] { return focus_of(l) == l.item(session_button); }, 3000),
          "Tab moves the focus to the session button");
    Sleep(200);
    screenshot(
        l, "input",
        {"pixel " + client_point(l.dialog, 4, 4) + " FFFFFF dialog background white",
         "pixel " + corner_of(l.item(session_button), 4) + " 000077 button face dark blue",
         "inkbox " + rect_of(l.item(id_field)) + " " + large_font_ink(id) + " ID field text in bold 26-pixel Arial"});
  }
  click(l);
  if (screenshots) {
    const bool starting = wait_until([&] { return l.visible(status_line) && l.visible(progress_bar); }, 5000);
    check(starting, "the starting state shows the status line and the progress bar");
    check(text_of(l.item(status_line)) == "starte SSL Tunnel...", "status " + quoted(text_of(l.item(status_line))));
    // The state is painted when the launcher begins its wait after the tunnel's start, which a busy
    // machine can delay by a second or more: wait for the tunnel stand-in to be running first.
    wait_until([] { return read_log("stunnel").pid != 0; }, 5000);
    Sleep(300);
    RECT bar{};
    GetWindowRect(l.item(progress_bar), &bar);
    const std::string bar_point = std::to_string(bar.left + 4) + " " + std::to_string((bar.top + bar.bottom) / 2);
    screenshot(l, "starting",
               {"pixel " + bar_point + " " + hex_colour(GetSysColor(COLOR_HIGHLIGHT)) + " progress bar filled",
                "ink " + rect_of(l.item(status_line)) + " status line painted",
                "inkbox " + rect_of(l.item(progress_caption)) + " " + large_font_ink("starte Fernwartung ...") +
                    " progress caption in bold 26-pixel Arial"});
  }
  return check(wait_until([&] { return l.visible(id_display); }, 10000),
               std::string("ID ") + quoted(id) + " reaches the running state");
}

// what: the programs that stand where the launcher expects the tunnel and the VNC server ("stand-in",
// or in the real session the bridges to Debian's stunnel4 and x11vnc), named in the checks' lines.
void check_started(const std::string& config, const std::string& tunnel_what = "tunnel stand-in",
                   const std::string& vnc_what = "VNC stand-in") {
  // The VNC server was started only 100 ms before the running state: give its log time to appear.
  wait_until([] { return read_log("stunnel").pid != 0 && read_log("winvnc_QARU_RC23").pid != 0; }, 5000);
  const standin_log tunnel = read_log("stunnel"), vnc = read_log("winvnc_QARU_RC23");
  check(tunnel.pid != 0 && process_alive(tunnel.pid), "the " + tunnel_what + " runs");
  check(vnc.pid != 0 && process_alive(vnc.pid), "the " + vnc_what + " runs");
  check(tunnel.cmdline.size() > config.size() &&
            tunnel.cmdline.substr(tunnel.cmdline.size() - config.size()) == config &&
            tunnel.cmdline.find("stunnel.exe") != std::string::npos,
        "stunnel.exe gets " + config + ": " + quoted(tunnel.cmdline));
  const std::string params = vnc_parameters;
  check(vnc.cmdline.find("winvnc_QARU_RC23.exe") != std::string::npos && vnc.cmdline.size() > params.size() &&
            vnc.cmdline.substr(vnc.cmdline.size() - params.size()) == params,
        "the VNC server gets its parameters: " + quoted(vnc.cmdline));
  check(same_path(tunnel.cwd, app_dir) && same_path(vnc.cwd, app_dir),
        "both run in the launcher's folder: " + quoted(tunnel.cwd) + ", " + quoted(vnc.cwd));
}

void check_stopped(const std::string& what, bool tunnel_ignores) {
  const standin_log tunnel = read_log("stunnel"), vnc = read_log("winvnc_QARU_RC23");
  check(vnc.closes >= 1 && vnc.exited, what + ": the VNC stand-in got WM_CLOSE and left");
  if (tunnel_ignores) {
    check(tunnel.ignored >= 1 && !tunnel.exited, what + ": the tunnel stand-in ignored WM_CLOSE and was terminated");
  } else {
    check(tunnel.closes >= 1 && tunnel.exited, what + ": the tunnel stand-in got WM_CLOSE and left");
  }
  check(wait_gone(tunnel.pid, 5000) && wait_gone(vnc.pid, 5000), what + ": both processes are gone");
}

void scenario_button_start_and_stop() {
  say("-- start with \" 302 \", stop with the session button");
  launcher l;
  if (!start_launcher(l)) return finish_launcher(l);
  if (start_session(l, " 302 ", true)) {
    check(text_of(l.item(id_display)) == "302", "the ID display shows " + quoted(text_of(l.item(id_display))));
    check(!l.visible(id_field) && l.visible(session_button), "running: the ID field is hidden, the button shown");
    check_started("stunnel2.conf");
    screenshot(
        l, "running",
        {"pixel " + client_point(l.dialog, 4, 4) + " FFFFFF dialog background white",
         "pixel " + client_point(l.dialog, 8, 200) + " FFFFFF dialog background white",
         "pixel " + corner_of(l.item(session_button), 4) + " 000077 button face RGB(0, 0, 0x77)",
         "inkbox " + rect_of(l.item(id_display)) + " " + large_font_ink("302") + " ID display in bold 26-pixel Arial"});
    click(l);
    check(wait_until([&] { return l.visible(progress_caption) && !l.visible(session_button); }, 5000),
          "the stopping state shows the progress caption");
    check(text_of(l.item(progress_caption)) == "Beende Prozesse...",
          "caption " + quoted(text_of(l.item(progress_caption))));
    // The state is visible before it is painted; the launcher paints before its 2-second wait.
    Sleep(300);
    screenshot(l, "stopping",
               {"inkbox " + rect_of(l.item(progress_caption)) + " " + large_font_ink("Beende Prozesse...") +
                " progress caption painted"});
    check(l.wait_exit(10000), "the launcher ends after the stop");
    check_stopped("stop with the button", false);
  }
  finish_launcher(l);
}

void scenario_close_while_running() {
  say("-- close while running: No keeps the session, Yes stops it (the tunnel ignores WM_CLOSE)");
  write_file(app_file("stunnel.ignore-close"), "");
  launcher l;
  if (!start_launcher(l)) return finish_launcher(l);
  if (start_session(l, "301", false)) {
    check_started("stunnel1.conf");
    PostMessageA(l.dialog, WM_CLOSE, 0, 0);
    expect_box(l, "Sitzung beenden?", true, IDNO, "close answered No");
    Sleep(500);
    const standin_log tunnel = read_log("stunnel"), vnc = read_log("winvnc_QARU_RC23");
    check(l.running() && l.visible(id_display) && process_alive(tunnel.pid) && process_alive(vnc.pid) &&
              tunnel.ignored == 0 && vnc.closes == 0,
          "No keeps the dialog and both programs, without close requests");
    PostMessageA(l.dialog, WM_CLOSE, 0, 0);
    expect_box(l, "Sitzung beenden?", true, IDYES, "close answered Yes");
    check(l.wait_exit(10000), "Yes ends the dialog");
    check_stopped("close answered Yes", true);
  }
  finish_launcher(l);
}

void scenario_escape_while_running() {
  say("-- Escape while running ends the launcher and leaves both programs running");
  launcher l;
  if (!start_launcher(l)) return finish_launcher(l);
  if (start_session(l, "303", false)) {
    HWND focus = focus_of(l);
    press_key(focus != nullptr ? focus : l.item(session_button), VK_ESCAPE);
    check(l.wait_exit(5000), "Escape ends the launcher");
    Sleep(500);
    const standin_log tunnel = read_log("stunnel"), vnc = read_log("winvnc_QARU_RC23");
    check(process_alive(tunnel.pid) && process_alive(vnc.pid) && tunnel.closes + tunnel.ignored == 0 && vnc.closes == 0,
          "both programs still run and got no close request");
  }
  finish_launcher(l);
}

void scenario_missing_program(const char* program, const char* id, const char* message) {
  say("-- %s missing", program);
  const std::string path = app_file(program), moved = path + ".away";
  MoveFileA(path.c_str(), moved.c_str());
  launcher l;
  if (start_launcher(l)) {
    const std::string what = std::string(program) + " missing";
    set_edit(l.item(id_field), id);
    click(l);
    answer_shell_error(l, what);
    expect_box(l, message, false, IDOK, what);
    check(wait_until([&] { return l.visible(id_field) && l.visible(session_button); }, 5000),
          what + ": back to the input state");
    check_input_state(l, what);
    if (std::strcmp(program, "stunnel.exe") != 0) {
      const standin_log tunnel = read_log("stunnel");
      check(tunnel.pid != 0 && wait_gone(tunnel.pid, 5000),
            what + ": the tunnel started for this session is ended again");
    }
    PostMessageA(l.dialog, WM_CLOSE, 0, 0);
    check(l.wait_exit(5000), what + ": close ends the launcher");
  }
  finish_launcher(l);
  MoveFileA(moved.c_str(), path.c_str());
}

void scenario_tunnel_ends_at_once() {
  say("-- the tunnel ends right after its start");
  write_file(app_file("stunnel.exit-at-once"), "");
  launcher l;
  if (start_launcher(l)) {
    const std::string what = "tunnel ends at once";
    set_edit(l.item(id_field), "303");
    click(l);
    expect_box(l, tunnel_failed, false, IDOK, what);
    check(wait_until([&] { return l.visible(id_field) && l.visible(session_button); }, 5000),
          what + ": back to the input state");
    check_input_state(l, what);
    const standin_log tunnel = read_log("stunnel");
    check(tunnel.pid != 0 && tunnel.exited, what + ": the tunnel stand-in was started and ended by itself");
    check(!exists(app_file("winvnc_QARU_RC23.log")), what + ": the VNC server was not started");
    PostMessageA(l.dialog, WM_CLOSE, 0, 0);
    check(l.wait_exit(5000), what + ": close ends the launcher");
  }
  finish_launcher(l);
}

// --- Hardening -------------------------------------------------------------------------------------

// A program of the launcher's name elsewhere, which the shell would find for a bare name.
struct decoy {
  std::string folder, program, log;
  explicit decoy(const std::string& where)
      : folder(where), program(where + "\\stunnel.exe"), log(where + "\\stunnel.log") {
    CreateDirectoryA(folder.c_str(), nullptr);
    CopyFileA(app_file("stunnel.exe").c_str(), program.c_str(), FALSE);
    DeleteFileA(log.c_str());
  }
  ~decoy() {
    const standin_log started = read_log_at(log);
    if (process_alive(started.pid)) kill_process(started.pid);
    DeleteFileA(log.c_str());
  }
  static standin_log read_log_at(const std::string& path) {
    standin_log l;
    l.text = read_file(path);
    const size_t at = l.text.find("start pid=");
    if (at != std::string::npos) l.pid = std::strtoul(l.text.c_str() + at + 10, nullptr, 10);
    return l;
  }
  // The control: the shell itself does find this program for the bare name from the launcher's
  // working directory's point of view (a folder without it), so the launcher's refusal below means
  // something. Ends the program again.
  bool reachable_by_bare_name() {
    SHELLEXECUTEINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = "open";
    info.lpFile = "stunnel.exe";
    info.lpParameters = "control.conf";
    info.lpDirectory = work_dir.c_str();
    info.nShow = SW_SHOWNOACTIVATE;
    const bool started = ShellExecuteExA(&info) != FALSE && wait_until([&] { return read_log_at(log).pid != 0; }, 5000);
    if (info.hProcess != nullptr) {
      TerminateProcess(info.hProcess, 9);
      WaitForSingleObject(info.hProcess, 5000);
      CloseHandle(info.hProcess);
    }
    DeleteFileA(log.c_str());
    return started;
  }
};

// One session start that must fail with the shell's box for the missing file and then the message.
void failed_start(const launcher& l, const char* id, const char* message, const std::string& what) {
  set_edit(l.item(id_field), id);
  click(l);
  answer_shell_error(l, what);
  expect_box(l, message, false, IDOK, what);
  check(wait_until([&] { return l.visible(id_field) && l.visible(session_button); }, 5000),
        what + ": back to the input state");
}

constexpr const char* app_paths_key = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\stunnel.exe";

void register_app_path(const std::string& program) {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, app_paths_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
      continue;
    }
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                   static_cast<DWORD>(program.size() + 1));
    RegCloseKey(key);
  }
}

void unregister_app_path() {
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) RegDeleteKeyA(root, app_paths_key);
}

void scenario_programs_only_from_the_working_directory() {
  say("-- stunnel.exe missing beside the launcher but found on PATH and in App Paths");
  const std::string path = app_file("stunnel.exe"), moved = path + ".away";
  {
    decoy on_path(work_dir + "\\on-path");
    decoy registered(work_dir + "\\app-paths");
    MoveFileA(path.c_str(), moved.c_str());
    char saved[32768] = "";
    GetEnvironmentVariableA("PATH", saved, sizeof saved);
    SetEnvironmentVariableA("PATH", (on_path.folder + ";" + saved).c_str());
    check(on_path.reachable_by_bare_name(), "control: the shell finds stunnel.exe on PATH by its bare name");
    launcher l;
    const bool started = start_launcher(l);  // inherits the PATH
    SetEnvironmentVariableA("PATH", saved);
    if (started) {
      std::string what = "stunnel.exe only on PATH";
      failed_start(l, "304", tunnel_failed, what);
      check(read_file(on_path.log).empty(), what + ": the program on PATH was not started");

      register_app_path(registered.program);
      check(registered.reachable_by_bare_name(), "control: the shell finds stunnel.exe through App Paths");
      what = "stunnel.exe only in App Paths";
      failed_start(l, "302", tunnel_failed, what);
      check(read_file(registered.log).empty() && read_file(on_path.log).empty(),
            what + ": the registered program was not started");
      unregister_app_path();
      PostMessageA(l.dialog, WM_CLOSE, 0, 0);
      check(l.wait_exit(5000), "close ends the launcher");
    }
    unregister_app_path();
    finish_launcher(l);
  }
  MoveFileA(moved.c_str(), path.c_str());
}

// The DLL name the window system loads by name at run time (Wine's user32 and Windows' alike). Wine
// prefers its own built-in DLL of that name; its per-program override makes it prefer a native one,
// as Windows does for any DLL that is not one of its known DLLs. (Wine reads WINEDLLOVERRIDES from
// the environment it was started with, not from one a Windows parent hands down.)
constexpr const char* planted_name = "uxtheme.dll";
constexpr const char* override_programs[] = {"launcher.exe", "load_by_name.exe"};

void prefer_native_plant(bool on) {
  for (const char* program : override_programs) {
    const std::string key = std::string("Software\\Wine\\AppDefaults\\") + program;
    if (!on) {
      RegDeleteKeyA(HKEY_CURRENT_USER, (key + "\\DllOverrides").c_str());
      RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
      continue;
    }
    HKEY handle = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, (key + "\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) == ERROR_SUCCESS) {
      const char order[] = "native,builtin";
      RegSetValueExA(handle, "uxtheme", 0, REG_SZ, reinterpret_cast<const BYTE*>(order), sizeof order);
      RegCloseKey(handle);
    }
  }
}

// The control of the planted DLL: a program beside it that loads the DLL's name without restricting
// the search first must get the planted one.
bool plant_loads_unrestricted() {
  const std::string copy = app_file("load_by_name.exe");
  CopyFileA((app_dir + "\\..\\load_by_name.exe").c_str(), copy.c_str(), FALSE);
  std::string command = "\"" + copy + "\" " + planted_name;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, work_dir.c_str(),
                                      &startup, &process);
  if (started) {
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  DeleteFileA(copy.c_str());
  return read_file(app_file(planted_name) + ".loaded").find("load_by_name.exe") != std::string::npos;
}

void scenario_planted_dll() {
  say("-- a DLL planted beside the launcher is not loaded");
  const std::string planted = app_file(planted_name), marker = planted + ".loaded";
  const std::string source = app_dir + "\\..\\planted.dll";
  if (!check(CopyFileA(source.c_str(), planted.c_str(), FALSE) != FALSE, "the DLL is planted beside the launcher")) {
    return;
  }
  DeleteFileA(marker.c_str());
  prefer_native_plant(true);
  launcher l;
  if (start_launcher(l)) {
    // A whole session: the dialog, a message box, the shell's start of both programs.
    set_edit(l.item(id_field), "305");
    click(l);
    expect_box(l, invalid_id, true, IDOK, "planted DLL");
    if (start_session(l, "301", false)) {
      check_started("stunnel1.conf");
      click(l);
      check(l.wait_exit(10000), "planted DLL: the session ends");
    }
    const std::string loaded = read_file(marker);
    check(
        loaded.find("launcher.exe") == std::string::npos,
        "the launcher did not load the planted " + std::string(planted_name) + " (loaded by: " + quoted(loaded) + ")");
  }
  finish_launcher(l);
  check(plant_loads_unrestricted(), "control: a program beside it that does not restrict its DLL search loads it");
  prefer_native_plant(false);
  DeleteFileA(planted.c_str());
  DeleteFileA(marker.c_str());
}

// The launcher was started by the script; find it by its dialog.
bool attach_launcher(launcher& l) {
  const bool found = wait_until(
      [&] {
        l.dialog = FindWindowA("#32770", dialog_caption);
        return l.dialog != nullptr && IsWindowVisible(l.dialog);
      },
      20000);
  if (!check(found, "the deep launcher's dialog appears")) {
    say("found %s, visible %d, style %08lx", l.dialog != nullptr ? "the dialog" : "no dialog",
        l.dialog != nullptr && IsWindowVisible(l.dialog),
        l.dialog != nullptr ? static_cast<unsigned long>(GetWindowLongA(l.dialog, GWL_STYLE)) : 0ul);
    return false;
  }
  GetWindowThreadProcessId(l.dialog, &l.process.dwProcessId);
  l.process.dwThreadId = GetWindowThreadProcessId(l.dialog, nullptr);
  l.process.hProcess =
      OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE, l.process.dwProcessId);
  if (!check(l.process.hProcess != nullptr, "the deep launcher's process can be watched")) return false;
  WaitForInputIdle(l.process.hProcess, 5000);
  return true;
}

// One start in the deep launcher: `refusal` expects the message about the folder, `tunnel` the failed
// start of its own tunnel program (its path is too long to start). Either way no program runs; the
// script checks that no stand-in anywhere below the deep root has written a log.
void scenario_deep(const std::string& expect) {
  say("-- launcher in a deep folder, expecting the %s message", expect.c_str());
  launcher l;
  if (attach_launcher(l)) {
    const std::string what = "deep folder (" + expect + ")";
    set_edit(l.item(id_field), "302");
    click(l);
    HWND box = wait_box(l, 8000);
    if (box != nullptr && caption_of(box) != "ACHTUNG") {
      say("the shell reported first: %s", quoted(box_text(box)).c_str());
      answer(box, IDOK);
    }
    expect_box(l, expect == "refusal" ? no_directory : tunnel_failed, false, IDOK, what);
    check(wait_until([&] { return l.visible(id_field) && l.visible(session_button); }, 5000),
          what + ": back to the input state");
    PostMessageA(l.dialog, WM_CLOSE, 0, 0);
    check(l.wait_exit(5000), what + ": close ends the launcher");
  }
  finish_launcher(l);
}

// --- The real session (tests/launcher/session/run_session_test.py) ---------------------------------
// APP_DIR holds the bridges instead of the stand-ins; the wrapper runs the technician's side and
// answers the requests "viewer" (the viewer shows this display), "refused" (the technician's viewer
// got nothing), "closed" (the viewer's connection closed, nothing of the session left running) and
// "impostor" (the technician's tunnel server now has an impostor's certificate).

constexpr int started_text = 1307;

void scenario_real_session(bool impostor) {
  say("-- real session with ID 301, %s", impostor ? "the technician's server is an impostor" : "genuine");
  const std::string name = impostor ? "impostor" : "session";
  launcher l;
  if (!start_launcher(l)) return finish_launcher(l);
  set_edit(l.item(id_field), "301");
  click(l);
  const bool running = check(wait_until([&] { return l.visible(started_text) && l.visible(id_display); }, 15000),
                             "\"gestartet.\" appears");
  if (running) {
    check(text_of(l.item(id_display)) == "301", "the ID display shows " + quoted(text_of(l.item(id_display))));
    check_started("stunnel1.conf", "tunnel bridge (running Debian's stunnel4)", "VNC bridge (running x11vnc)");
    screenshot(l, name + "-running", {impostor ? "refused" : "viewer"});
    char hold[16] = "";
    if (GetEnvironmentVariableA("BROL_SESSION_HOLD_MS", hold, sizeof hold) > 0) Sleep(std::strtoul(hold, nullptr, 10));
    click(l);
    check(l.wait_exit(15000), "\"&Sitzung beenden\" ends the launcher");
    check_stopped("Sitzung beenden", false);
    ask(name + "-closed", {"closed"});
  }
  finish_launcher(l);
}

// The wrapper touches SHOT_DIR\alive while it runs. One that was killed stops, and then this process
// ends at once instead of running into its timeouts with nobody to answer.
DWORD WINAPI watch_wrapper(void*) {
  const std::string alive = shot_dir + "\\alive";
  const auto ticks = [](FILETIME t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
  for (;;) {
    Sleep(500);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    if (GetFileAttributesExA(alive.c_str(), GetFileExInfoStandard, &data) &&
        ticks(now) > ticks(data.ftLastWriteTime) + 5 * 10000000ULL) {
      say("the wrapper has stopped: ending");
      ExitProcess(3);
    }
  }
}

void play_real_sessions() {
  reset_folder();
  scenario_real_session(false);
  reset_folder();
  ask("switch", {"impostor"});
  scenario_real_session(true);
  reset_folder();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "deep") == 0) {
    shot_dir = argv[3];
    const std::string name = std::string("deep-") + argv[2];
    report = std::fopen((shot_dir + "\\" + name + ".log").c_str(), "w");
    scenario_deep(argv[2]);
    say("%d passed, %d failed", passed, failed);
    write_file(shot_dir + "\\" + name + ".txt",
               std::to_string(passed) + " passed, " + std::to_string(failed) + " failed\n");
    if (report != nullptr) std::fclose(report);
    return failed == 0 ? 0 : 1;
  }
  const bool demo = argc == 5 && std::strcmp(argv[4], "demo") == 0;
  const bool session = argc == 5 && std::strcmp(argv[4], "session") == 0;
  if (argc != 4 && !demo && !session) {
    std::fprintf(stderr, "usage: launcher_gui_driver APP_DIR WORK_DIR SHOT_DIR [demo|session]\n");
    return 2;
  }
  app_dir = argv[1];
  work_dir = argv[2];
  shot_dir = argv[3];
  report = std::fopen((shot_dir + "\\driver.log").c_str(), "w");
  const auto started = std::chrono::steady_clock::now();
  const std::function<void()> scenarios[] = {
      scenario_invalid_ids_and_enter,
      scenario_button_start_and_stop,
      scenario_close_while_running,
      scenario_escape_while_running,
      [] { scenario_missing_program("stunnel.exe", "304", tunnel_failed); },
      [] { scenario_missing_program("winvnc_QARU_RC23.exe", "302", vnc_failed); },
      scenario_tunnel_ends_at_once,
      scenario_programs_only_from_the_working_directory,
      scenario_planted_dll,
  };
  // What a run that died midway may have left in the prefix's registry.
  unregister_app_path();
  prefer_native_plant(false);
  if (session) {
    CreateThread(nullptr, 0, watch_wrapper, nullptr, 0, nullptr);
    play_real_sessions();
  } else if (demo) {
    reset_folder();
    scenario_button_start_and_stop();
  } else {
    for (const auto& scenario : scenarios) {
      reset_folder();
      scenario();
    }
    reset_folder();
  }
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
  say("GUI test took %lld s", static_cast<long long>(seconds.count()));
  say("%d passed, %d failed", passed, failed);
  write_file(shot_dir + "\\result.txt", std::to_string(passed) + " passed, " + std::to_string(failed) + " failed\n");
  if (report != nullptr) std::fclose(report);
  return failed == 0 ? 0 : 1;
}
