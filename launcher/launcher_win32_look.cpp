// The dialog's appearance: the button brush and large font, the frameless ID field, the colour
// messages (black on white, the button white on dark blue) and the owner-drawn session button.
#include <windows.h>

#include <cstring>
#include <initializer_list>

#include "launcher/launcher_res.h"
#include "launcher/launcher_win32.h"

namespace {

constexpr COLORREF white = 0xFFFFFF;
constexpr COLORREF black = 0x000000;
constexpr UINT dt_button = DT_CENTER | DT_VCENTER | DT_SINGLELINE;
static_assert(dt_button == 0x25);

// Minimise, maximise, border, dialog frame, system menu and sizing frame: a bare text field.
constexpr LONG style_frame_bits = 0x21CC0000;
// Modal frame, client edge and static edge.
constexpr LONG exstyle_edge_bits = 0x00020201;

void clear_bits(HWND window, int index, LONG bits) {
  SetWindowLongA(window, index, GetWindowLongA(window, index) & ~bits);
}

}  // namespace

void launcher_create_button_brush(launcher_look& look) { look.button_brush = CreateSolidBrush(launcher_button_colour); }

void launcher_set_large_font(launcher_look& look, HWND dialog) {
  LOGFONTA font;
  std::memset(&font, 0, sizeof font);
  std::strncpy(font.lfFaceName, "Arial", sizeof font.lfFaceName);
  font.lfFaceName[sizeof font.lfFaceName - 1] = '\0';
  font.lfHeight = -26;
  font.lfWeight = FW_BOLD;
  font.lfQuality = ANTIALIASED_QUALITY;
  look.large_font = CreateFontIndirectA(&font);
  for (int id : {IDC_ID_FIELD, IDC_ID_DISPLAY, IDC_PROGRESS_CAPTION}) {
    SendMessageA(GetDlgItem(dialog, id), WM_SETFONT, reinterpret_cast<WPARAM>(look.large_font), 0);
  }
}

void launcher_strip_edit_frame(HWND dialog, int id) {
  HWND field = GetDlgItem(dialog, id);
  clear_bits(field, GWL_STYLE, style_frame_bits);
  clear_bits(field, GWL_EXSTYLE, exstyle_edge_bits);
  SetWindowPos(field, nullptr, 0, 0, 0, 0,
               SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED | SWP_NOOWNERZORDER);
}

INT_PTR launcher_colour(const launcher_look& look, HWND dialog, HDC dc, HWND control) {
  const bool button = control != nullptr && control == GetDlgItem(dialog, IDC_SESSION_BUTTON);
  SetBkMode(dc, OPAQUE);
  SetTextColor(dc, button ? white : black);
  SetBkColor(dc, button ? launcher_button_colour : white);
  HGDIOBJ brush = button ? look.button_brush : GetStockObject(WHITE_BRUSH);
  return reinterpret_cast<INT_PTR>(brush);
}

void launcher_draw_button(const DRAWITEMSTRUCT* item, const char* caption) {
  if (item == nullptr) return;
  const COLORREF previous = SetTextColor(item->hDC, white);
  RECT area = item->rcItem;
  const bool pressed = (item->itemState & ODS_SELECTED) != 0;
  if (pressed) OffsetRect(&area, 1, 1);
  DrawTextA(item->hDC, caption, -1, &area, dt_button);
  if (pressed) OffsetRect(&area, -1, -1);
  SetTextColor(item->hDC, previous);
  if ((item->itemState & ODS_FOCUS) != 0) {
    InflateRect(&area, -1, -1);
    DrawFocusRect(item->hDC, &area);
  }
}
