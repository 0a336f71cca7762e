// The Windows front end of the launcher: the platform operations over the dialog and the shell, the
// dialog's appearance, and the context the dialog procedure finds in the window's user data.
#pragma once

#include <windows.h>

#include "launcher/launcher_ops.h"
#include "launcher/session_controller.h"

// The session logic's operations on the dialog `dialog` and on the started processes.
class launcher_win32_ops final : public launcher_ops {
 public:
  HWND dialog = nullptr;

  std::int64_t control_text_length(int id) override;
  void get_control_text(int id, char* buffer, std::int64_t size) override;
  void set_control_text(int id, const char* text) override;
  void show_control(int id, bool show) override;
  void refresh_frame(int id) override;
  void set_progress_range(int low, int high) override;
  void set_progress(int position) override;
  int message_box(launcher_box_owner owner, const char* text, const char* caption, std::uint32_t type) override;
  bool start_program(launcher_start_record& record) override;
  void request_close(void* process) override;
  void terminate_program(void* process) override;
  bool program_running(void* process) override;
  void sleep(std::uint32_t milliseconds) override;
  void end_dialog(int result) override;
  void quit(int exit_code) override;
};

// Drawing objects, created once while the dialog initialises and kept for the program's life.
struct launcher_look {
  HBRUSH button_brush;
  HFONT large_font;
};

// The dark blue of the session button's face.
inline constexpr COLORREF launcher_button_colour = 0x770000;

// The solid brush of the button face.
void launcher_create_button_brush(launcher_look& look);
// Bold 26-pixel Arial, given to the ID field, the ID display and the progress caption.
void launcher_set_large_font(launcher_look& look, HWND dialog);
// Takes the border and edge styles off a control so that it shows as bare text on the dialog.
void launcher_strip_edit_frame(HWND dialog, int id);
// The colour messages: prepares the device context and returns the brush for the dialog procedure.
INT_PTR launcher_colour(const launcher_look& look, HWND dialog, HDC dc, HWND control);
// WM_DRAWITEM of the session button: white caption on the face, pressed offset, focus rectangle.
void launcher_draw_button(const DRAWITEMSTRUCT* item, const char* caption);

// Everything the dialog procedure works with; it lives in WinMain for the whole dialog.
struct launcher_app {
  launcher_win32_ops ops;
  session_controller controller;
  launcher_look look;
};
