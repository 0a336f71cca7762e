// The operations the session logic needs of a platform: control texts and visibility, the progress
// bar, message boxes, starting and stopping the two outside programs, waiting and ending the dialog.
// Windows implements them with Win32 calls (launcher_win32_ops.cpp); the tests record them.
#pragma once

#include <cstddef>
#include <cstdint>

// The record from which a program is started, laid out field for field like the shell's
// SHELLEXECUTEINFOA on 64-bit Windows, so that the Windows side can hand it to the shell as it is.
// Handles are kept as plain addresses; the text fields point to constant texts, lpFile to the
// controller's full path of the program.
struct launcher_start_record {
  std::uint32_t cbSize;
  std::uint32_t fMask;
  void* hwnd;
  const char* lpVerb;
  const char* lpFile;
  const char* lpParameters;
  const char* lpDirectory;
  std::int32_t nShow;
  void* hInstApp;
  void* lpIDList;
  const char* lpClass;
  void* hkeyClass;
  std::uint32_t dwHotKey;
  void* hIcon;  // also hMonitor
  void* hProcess;
};
static_assert(sizeof(launcher_start_record) == 112, "the shell's start record has 112 bytes on x86-64");
static_assert(offsetof(launcher_start_record, nShow) == 48 && offsetof(launcher_start_record, hProcess) == 104);

// Message box owners and answers, with the values of the Win32 constants.
enum class launcher_box_owner { none, dialog };
inline constexpr std::uint32_t launcher_mb_ok = 0;
inline constexpr std::uint32_t launcher_mb_yesno = 4;
inline constexpr int launcher_idyes = 6;

class launcher_ops {
 public:
  virtual ~launcher_ops() = default;

  // Length of a control's text in characters (0 for a missing control).
  virtual std::int64_t control_text_length(int id) = 0;
  // Copies at most size - 1 characters of a control's text and a NUL into buffer (size >= 1).
  virtual void get_control_text(int id, char* buffer, std::int64_t size) = 0;
  virtual void set_control_text(int id, const char* text) = 0;
  virtual void show_control(int id, bool show) = 0;
  // Lets a control's changed frame take effect (SetWindowPos with SWP_FRAMECHANGED and no move,
  // size or z-order change).
  virtual void refresh_frame(int id) = 0;
  virtual void set_progress_range(int low, int high) = 0;
  virtual void set_progress(int position) = 0;
  // Shows a modal message box and returns the answer (launcher_idyes for yes).
  virtual int message_box(launcher_box_owner owner, const char* text, const char* caption, std::uint32_t type) = 0;
  // Starts a program from the record; on success the record's hProcess holds the process handle.
  virtual bool start_program(launcher_start_record& record) = 0;
  // True while the started process has not ended (its exit code is still STILL_ACTIVE).
  virtual bool program_running(void* process) = 0;
  // Posts WM_CLOSE to every top-level window of the process.
  virtual void request_close(void* process) = 0;
  // Ends the process with exit code 1; a process that has already ended is no failure.
  virtual void terminate_program(void* process) = 0;
  // Blocks the dialog's thread; what was set on screen before is visible while it waits.
  virtual void sleep(std::uint32_t milliseconds) = 0;
  virtual void end_dialog(int result) = 0;
  virtual void quit(int exit_code) = 0;
};
