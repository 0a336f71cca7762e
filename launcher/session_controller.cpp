// The session state machine: ID check, start and stop of the two outside programs, close handling.
#include "launcher/session_controller.h"

#include <cstdint>

#include "brol/format/brol_format.h"
#include "brol/string/brol_string.h"
#include "launcher/launcher_res.h"

namespace {

// Waits, in milliseconds: the tunnel gets time to come up before the VNC server connects through it;
// the programs get time to close their windows before they are terminated.
constexpr std::uint32_t tunnel_start_wait = 2000;
constexpr std::uint32_t vnc_start_wait = 100;
constexpr std::uint32_t close_wait = 2000;
constexpr std::uint32_t vnc_terminate_wait = 1000;
constexpr std::uint32_t tunnel_terminate_wait = 200;

// IDCANCEL: the dialog manager sends it for the Escape key.
constexpr int command_cancel = 2;

constexpr int id_first = 301;
constexpr int id_last = 304;

// The shell's start settings: keep the process handle, plain "open", shown normally.
constexpr std::uint32_t see_mask_nocloseprocess = 64;
constexpr std::int32_t sw_show = 5;

// Which states show a control, as a bit per state (bit n for state n), in template order.
struct control_visibility {
  int id;
  unsigned states;
};
constexpr unsigned in(session_state s) { return 1u << static_cast<int>(s); }
constexpr control_visibility visibility[] = {
    {IDC_ID_FIELD, in(session_state::input)},
    {IDC_PROMPT, in(session_state::input)},
    {IDC_HINT_1, in(session_state::input)},
    {IDC_HINT_2, in(session_state::input)},
    {IDC_SESSION_BUTTON, in(session_state::input) | in(session_state::running)},
    {IDC_PROGRESS, in(session_state::starting) | in(session_state::stopping)},
    {IDC_PROGRESS_CAPTION, in(session_state::starting) | in(session_state::stopping)},
    {IDC_STATUS, in(session_state::starting)},
    {IDC_ID_DISPLAY, in(session_state::running)},
    {IDC_RUNNING_1, in(session_state::running)},
    {IDC_RUNNING_2, in(session_state::running)},
};

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

void fill_record(launcher_start_record& r, const char* file, const char* parameters) {
  r.cbSize = sizeof(launcher_start_record);
  r.fMask = see_mask_nocloseprocess;
  r.hwnd = nullptr;
  r.lpVerb = "open";
  r.lpFile = file;
  r.lpParameters = parameters;
  r.lpDirectory = nullptr;
  r.nShow = sw_show;
  r.hInstApp = nullptr;
}

}  // namespace

bool launcher_atoi(const char* text, std::int32_t& value) noexcept {
  value = 0;
  if (text == nullptr) return true;
  while (is_space(*text)) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  std::int64_t n = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    n = n * 10 + (*text - '0');
    if (n > std::int64_t{INT32_MAX} + 1) return false;
  }
  if (negative) n = -n;
  if (n > INT32_MAX) return false;
  value = static_cast<std::int32_t>(n);
  return true;
}

bool launcher_check_id(const char* text, std::int32_t& value) noexcept {
  value = 0;
  if (text == nullptr || *text == '\0') return false;
  return launcher_atoi(text, value) && value >= id_first && value <= id_last;
}

const char* launcher_tunnel_config(std::int32_t id) noexcept {
  static constexpr const char* files[] = {"stunnel1.conf", "stunnel2.conf", "stunnel3.conf", "stunnel4.conf"};
  return id >= id_first && id <= id_last ? files[id - id_first] : "";
}

void session_controller::init(launcher_ops* platform, const char* working_directory) noexcept {
  ops = platform;
  directory = working_directory;
  state = session_state::input;
  id = 0;
  records[0] = launcher_start_record{};
  records[1] = launcher_start_record{};
  paths[0].init();
  paths[1].init();
}

void session_controller::destroy() noexcept {
  paths[0].destroy();
  paths[1].destroy();
}

void session_controller::begin() noexcept { apply_state(session_state::input); }

launcher_start_record& session_controller::record(process_slot slot) noexcept {
  return records[static_cast<int>(slot) - 1];
}

const char* session_controller::button_caption() const noexcept {
  return state == session_state::running ? launcher_text::button_stop : launcher_text::button_start;
}

void session_controller::apply_state(session_state next) noexcept {
  state = next;
  for (const control_visibility& c : visibility) ops->show_control(c.id, (c.states & in(next)) != 0);
}

void session_controller::handle_command(int command) noexcept {
  if (command == IDC_SESSION_BUTTON) {
    // Starting and stopping run to their end inside one command; a command that reaches us while an
    // error box of a start is open must not start a second session inside the first.
    if (state == session_state::running) {
      stop_session();
    } else if (state == session_state::input) {
      start_session();
    }
  } else if (command == command_cancel || command == IDC_QUIT) {
    ops->quit(0);
  }
}

void session_controller::read_control_text(int control, brol_string& s) noexcept {
  s.assign("");
  const std::int64_t length = ops->control_text_length(control);
  if (length <= 0) return;
  char* text = brol_string::buffer(&s, length);
  if (text == nullptr) return;  // no room: the field counts as empty
  ops->get_control_text(control, text, length + 1);
  s.trim();
}

void session_controller::start_session() noexcept {
  brol_string s;
  s.init();
  read_control_text(IDC_ID_FIELD, s);
  s.trim();
  std::int32_t value = 0;
  if (!launcher_check_id(s.c_str(), value)) {
    ops->message_box(launcher_box_owner::dialog, launcher_text::invalid_id, launcher_text::caption, launcher_mb_ok);
    s.destroy();
    return;
  }
  id = value;
  ops->set_progress_range(0, 3);
  ops->set_progress(1);
  ops->set_control_text(IDC_STATUS, launcher_text::starting_tunnel);
  apply_state(session_state::starting);
  if (start_programs()) {
    ops->set_progress(3);
    ops->sleep(vnc_start_wait);
    s.assign("");
    s.append_format(brol_fmt_int, 4, id, brol_fmt_end);
    ops->set_control_text(IDC_ID_DISPLAY, s.c_str());
    ops->refresh_frame(IDC_ID_FIELD);
    apply_state(session_state::running);
  } else {
    apply_state(session_state::input);
  }
  s.destroy();
}

bool session_controller::prepare_start(process_slot slot, const char* file, const char* parameters) noexcept {
  brol_string& path = paths[static_cast<int>(slot) - 1];
  path.error = 0;
  path.assign(directory);
  // A drive's root ends in its backslash already.
  if (path.length() > 0 && path.c_str()[path.length() - 1] != '\\') path.append_char('\\');
  path.append(file);
  // A failed assign or append leaves a shorter text (or none); a bare or cut name is exactly what
  // must never reach the shell.
  if (path.error != 0) {
    path.assign("");
    return false;
  }
  fill_record(record(slot), path.c_str(), parameters);
  return true;
}

bool session_controller::start_programs() noexcept {
  if (directory == nullptr || *directory == '\0') {
    ops->message_box(launcher_box_owner::none, launcher_text::no_directory, launcher_text::caption, launcher_mb_ok);
    return false;
  }
  launcher_start_record& tunnel = record(process_slot::tunnel);
  if (!prepare_start(process_slot::tunnel, launcher_text::tunnel_program, launcher_tunnel_config(id)) ||
      !ops->start_program(tunnel)) {
    ops->message_box(launcher_box_owner::none, launcher_text::tunnel_failed, launcher_text::caption, launcher_mb_ok);
    return false;
  }
  ops->sleep(tunnel_start_wait);
  // A tunnel that ended during the wait (a missing or broken configuration, a port already in use)
  // carries nothing: starting the VNC server and showing a running session would mislead the user.
  if (!ops->program_running(tunnel.hProcess)) {
    ops->message_box(launcher_box_owner::none, launcher_text::tunnel_failed, launcher_text::caption, launcher_mb_ok);
    return false;
  }
  ops->set_progress(2);
  ops->set_control_text(IDC_STATUS, launcher_text::starting_vnc);
  launcher_start_record& vnc = record(process_slot::vnc_server);
  if (!prepare_start(process_slot::vnc_server, launcher_text::vnc_program, launcher_text::vnc_parameters) ||
      !ops->start_program(vnc)) {
    ops->message_box(launcher_box_owner::none, launcher_text::vnc_failed, launcher_text::caption, launcher_mb_ok);
    // A tunnel left running would carry the next session's screen to this session's technician.
    ops->request_close(tunnel.hProcess);
    ops->terminate_program(tunnel.hProcess);
    return false;
  }
  return true;
}

void session_controller::stop_session() noexcept {
  ops->set_progress(0);
  ops->set_control_text(IDC_PROGRESS_CAPTION, launcher_text::stopping);
  apply_state(session_state::stopping);
  ops->request_close(record(process_slot::vnc_server).hProcess);
  ops->request_close(record(process_slot::tunnel).hProcess);
  ops->sleep(close_wait);
  ops->set_progress(1);
  ops->terminate_program(record(process_slot::vnc_server).hProcess);
  ops->sleep(vnc_terminate_wait);
  ops->set_progress(2);
  ops->terminate_program(record(process_slot::tunnel).hProcess);
  ops->sleep(tunnel_terminate_wait);
  ops->set_progress(3);
  ops->quit(0);
}

void session_controller::close() noexcept {
  if (state != session_state::running) {
    ops->end_dialog(0);
    return;
  }
  const int answer = ops->message_box(launcher_box_owner::dialog, launcher_text::confirm_stop, launcher_text::caption,
                                      launcher_mb_yesno);
  if (answer != launcher_idyes) return;
  ops->request_close(record(process_slot::vnc_server).hProcess);
  ops->request_close(record(process_slot::tunnel).hProcess);
  ops->sleep(close_wait);
  ops->terminate_program(record(process_slot::vnc_server).hProcess);
  ops->sleep(vnc_terminate_wait);
  ops->terminate_program(record(process_slot::tunnel).hProcess);
  ops->end_dialog(0);
}
