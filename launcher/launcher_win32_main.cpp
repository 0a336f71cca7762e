// The launcher's entry point and dialog procedure: the program directory becomes the working
// directory, then the dialog runs modally and every message is handed to the logic or the look.
// windows.h comes first: the other system headers build on it.
#include <windows.h>

#include <commctrl.h>

#include <cstring>

#include "brol/string/brol_string.h"
#include "launcher/launcher_res.h"
#include "launcher/launcher_win32.h"

namespace {

// The old colour message of 16-bit Windows, which some controls still send.
constexpr UINT wm_ctlcolor = 25;

// The executable's directory, kept for the program's life (zero is the empty string).
struct program_directory_holder {
  brol_string text;
  ~program_directory_holder() { text.destroy(); }
} program_directory;

// Makes the executable's directory the working directory, where the outside programs and their
// configuration files are found by bare name. Without memory the current directory stays.
void enter_program_directory(brol_string& directory) {
  constexpr DWORD room = 256;
  char* path = brol_string::buffer(&directory, room);
  if (path == nullptr) return;
  const DWORD length = GetModuleFileNameA(nullptr, path, room);
  path[length < room ? length : room] = '\0';
  const char* last = std::strrchr(path, '\\');
  if (last != nullptr) directory.erase(last - path, -1);
  if (!directory.is_empty()) SetCurrentDirectoryA(directory.c_str());
}

void init_dialog(launcher_app& app, HWND dialog) {
  app.ops.dialog = dialog;
  launcher_create_button_brush(app.look);
  app.controller.begin();
  launcher_set_large_font(app.look, dialog);
  launcher_strip_edit_frame(dialog, IDC_ID_FIELD);
}

INT_PTR CALLBACK dialog_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, GWLP_USERDATA, lparam);
  auto* app = reinterpret_cast<launcher_app*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
  if (app == nullptr) return FALSE;  // the messages before WM_INITDIALOG
  switch (message) {
    case WM_INITDIALOG:
      init_dialog(*app, dialog);
      return TRUE;
    case WM_COMMAND:
      app->controller.handle_command(LOWORD(wparam));
      return TRUE;
    case WM_CLOSE:
      app->controller.close();
      return TRUE;
    case WM_DRAWITEM:
      launcher_draw_button(reinterpret_cast<const DRAWITEMSTRUCT*>(lparam), app->controller.button_caption());
      return TRUE;
    case wm_ctlcolor:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
      return launcher_colour(app->look, dialog, reinterpret_cast<HDC>(wparam), reinterpret_cast<HWND>(lparam));
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  enter_program_directory(program_directory.text);
  // The progress bar's window class must exist before the dialog template is instantiated.
  INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  launcher_app app{};
  app.controller.init(&app.ops);
  const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_LAUNCHER), nullptr, dialog_procedure,
                                         reinterpret_cast<LPARAM>(&app));
  return static_cast<int>(result);
}
