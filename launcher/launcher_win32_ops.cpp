// The session logic's platform operations in Win32: dialog controls, message boxes, the shell start,
// close requests and termination, and a wait that first brings the dialog up to date on screen.
// windows.h comes first: the other system headers build on it.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <climits>
#include <cstddef>
#include <cstring>

#include "launcher/launcher_res.h"
#include "launcher/launcher_win32.h"

static_assert(sizeof(launcher_start_record) == sizeof(SHELLEXECUTEINFOA));
static_assert(offsetof(launcher_start_record, lpParameters) == offsetof(SHELLEXECUTEINFOA, lpParameters));
static_assert(offsetof(launcher_start_record, nShow) == offsetof(SHELLEXECUTEINFOA, nShow));
static_assert(offsetof(launcher_start_record, hInstApp) == offsetof(SHELLEXECUTEINFOA, hInstApp));
static_assert(offsetof(launcher_start_record, dwHotKey) == offsetof(SHELLEXECUTEINFOA, dwHotKey));
static_assert(offsetof(launcher_start_record, hProcess) == offsetof(SHELLEXECUTEINFOA, hProcess));

namespace {

constexpr UINT swp_refresh_frame = SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED | SWP_NOOWNERZORDER;
static_assert(swp_refresh_frame == 0x227);

BOOL CALLBACK post_close_to_process(HWND window, LPARAM process_id) {
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == static_cast<DWORD>(process_id)) PostMessageA(window, WM_CLOSE, 0, 0);
  return TRUE;
}

}  // namespace

std::int64_t launcher_win32_ops::control_text_length(int id) { return GetWindowTextLengthA(GetDlgItem(dialog, id)); }

void launcher_win32_ops::get_control_text(int id, char* buffer, std::int64_t size) {
  GetWindowTextA(GetDlgItem(dialog, id), buffer, size > INT_MAX ? INT_MAX : static_cast<int>(size));
}

void launcher_win32_ops::set_control_text(int id, const char* text) { SetWindowTextA(GetDlgItem(dialog, id), text); }

void launcher_win32_ops::show_control(int id, bool show) {
  ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOW : SW_HIDE);
}

void launcher_win32_ops::refresh_frame(int id) {
  SetWindowPos(GetDlgItem(dialog, id), nullptr, 0, 0, 0, 0, swp_refresh_frame);
}

void launcher_win32_ops::set_progress_range(int low, int high) {
  SendMessageA(GetDlgItem(dialog, IDC_PROGRESS), PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void launcher_win32_ops::set_progress(int position) {
  SendMessageA(GetDlgItem(dialog, IDC_PROGRESS), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

int launcher_win32_ops::message_box(launcher_box_owner owner, const char* text, const char* caption,
                                    std::uint32_t type) {
  return MessageBoxA(owner == launcher_box_owner::dialog ? dialog : nullptr, text, caption, type);
}

bool launcher_win32_ops::start_program(launcher_start_record& record) {
  // The record has the shell structure's layout (checked above), so it travels by copy both ways:
  // the shell reads the settings and writes back hInstApp and the process handle.
  SHELLEXECUTEINFOA info;
  std::memcpy(&info, &record, sizeof info);
  const BOOL started = ShellExecuteExA(&info);
  std::memcpy(&record, &info, sizeof info);
  return started != FALSE;
}

void launcher_win32_ops::request_close(void* process) {
  const DWORD id = GetProcessId(process);
  if (id != 0) EnumWindows(post_close_to_process, static_cast<LPARAM>(id));
}

void launcher_win32_ops::terminate_program(void* process) { TerminateProcess(process, 1); }

bool launcher_win32_ops::program_running(void* process) {
  DWORD code = 0;
  // A handle the system cannot ask about counts as running: only a known end stops the session.
  return GetExitCodeProcess(process, &code) == FALSE || code == STILL_ACTIVE;
}

void launcher_win32_ops::sleep(std::uint32_t milliseconds) {
  // The dialog's thread blocks here; paint what the logic has just shown or hidden first, so that the
  // state and its texts are on screen while the programs start or stop. Only paint messages are taken
  // from the queue, no input. The last, empty look into the queue also lets a system that keeps
  // window contents in a buffer (Wine) bring them to the screen now.
  RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  MSG message;
  for (int i = 0; i < 64 && PeekMessageA(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE); ++i) {
    DispatchMessageA(&message);
  }
  GdiFlush();
  Sleep(milliseconds);
}

void launcher_win32_ops::end_dialog(int result) { EndDialog(dialog, result); }

void launcher_win32_ops::quit(int exit_code) { PostQuitMessage(exit_code); }
