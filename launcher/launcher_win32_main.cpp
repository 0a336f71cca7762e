// The launcher's entry point and dialog procedure: the DLL search is restricted to the system folder,
// the program directory becomes the working directory, then the dialog runs modally and every message
// is handed to the logic or the look.
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

// Before anything else: every DLL the process loads by name from here on (the shell and the window
// system load many at run time) comes from the system folder only, never from the launcher's folder
// (a download folder, where anyone can leave a DLL) or the working directory. The static imports are
// all known DLLs of the system, which the loader maps from the system folder before any code runs.
void restrict_dll_search() {
  using set_directories_call = BOOL(WINAPI*)(DWORD);
  const auto set_default_directories = reinterpret_cast<set_directories_call>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  // Windows 7 without its loader update lacks the call (a static import would keep the launcher from
  // starting there): at least the working directory then leaves the search.
  if (set_default_directories == nullptr || set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32) == FALSE) {
    SetDllDirectoryA("");
  }
  // Names the shell resolves through SearchPath: the working directory after the system folders.
  SetSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE | BASE_SEARCH_PATH_PERMANENT);
}

// Registers the progress bar's window class, which must exist before the dialog template is
// instantiated. The common controls are loaded by their path in the system folder: linked, they
// would be looked for in the launcher's folder first (they are not one of the known DLLs), by the
// loader, before WinMain could restrict anything.
void register_progress_class() {
  char path[MAX_PATH + 16];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  std::memcpy(path + length, "\\comctl32.dll", sizeof "\\comctl32.dll");
  HMODULE controls = LoadLibraryA(path);  // kept: the dialog's progress bar lives in it
  if (controls == nullptr) return;
  using init_call = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  const auto init =
      reinterpret_cast<init_call>(reinterpret_cast<void (*)()>(GetProcAddress(controls, "InitCommonControlsEx")));
  const INITCOMMONCONTROLSEX wanted{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
  if (init != nullptr) init(&wanted);
}

// The executable's full path, whatever its length: the room doubles until the path fits. A cut path
// would name an ancestor folder (cut again at its last backslash), whose programs would be started.
bool read_program_path(brol_string& path) {
  for (DWORD room = 256; room <= 65536; room *= 2) {
    char* text = brol_string::buffer(&path, room);
    if (text == nullptr) return false;
    const DWORD length = GetModuleFileNameA(nullptr, text, room);
    if (length == 0) return false;
    if (length < room) return true;
  }
  return false;
}

// Makes the executable's folder the working directory, where the outside programs and their
// configuration files lie. Returns the folder's text, or null when the path cannot be read or the
// folder not entered (a path too long for the system's working directory, a name outside the code
// page): then no program may be started, as the working directory is still someone else's.
const char* enter_program_directory(brol_string& directory) {
  if (!read_program_path(directory)) return nullptr;
  const char* path = directory.c_str();
  const char* last = std::strrchr(path, '\\');
  if (last != nullptr) {
    // A drive's root keeps its backslash: "C:" alone would be the drive's current folder.
    const bool drive_root = last - path == 2 && path[1] == ':';
    directory.erase(last - path + (drive_root ? 1 : 0), -1);
  }
  if (directory.is_empty() || SetCurrentDirectoryA(directory.c_str()) == FALSE) return nullptr;
  return directory.c_str();
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
  restrict_dll_search();
  const char* directory = enter_program_directory(program_directory.text);
  register_progress_class();
  launcher_app app{};
  app.controller.init(&app.ops, directory);
  const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_LAUNCHER), nullptr, dialog_procedure,
                                         reinterpret_cast<LPARAM>(&app));
  app.controller.destroy();
  return static_cast<int>(result);
}
