// The session state machine of the launcher: checks the remote-maintenance ID, starts the tunnel
// program and the VNC server, shows the session and stops both programs again. It talks to the
// dialog and the processes only through launcher_ops, so it runs without a windowing system.
#pragma once

#include <cstdint>

#include "brol/string/brol_string.h"
#include "launcher/launcher_ops.h"

enum class session_state : int { input = 1, starting = 2, running = 3, stopping = 4 };
enum class process_slot : int { tunnel = 1, vnc_server = 2 };

// The program's fixed texts (code page 1252).
namespace launcher_text {
inline constexpr const char caption[] = "ACHTUNG";
inline constexpr const char invalid_id[] = "Fernwarungs-ID ung\xFCltig";
inline constexpr const char tunnel_failed[] =
    "Fehler beim Aufbau des SSL-Tunnels:\n\"stunnel\" konnte nicht gestartet werden.";
inline constexpr const char vnc_failed[] =
    "Fehler beim Aufbau der Fernwartungs-Verbindung:\n\"winvnc\" konnte nicht gestartet werden.";
inline constexpr const char no_directory[] =
    "Fehler beim Start der Fernwartung:\nDer Programmordner konnte nicht ge\xF6"
    "ffnet werden.\n"
    "Bitte legen Sie den Ordner an einen Ort mit k\xFCrzerem Pfad, z.B. C:\\Fernwartung.";
inline constexpr const char confirm_stop[] = "Sitzung beenden?";
inline constexpr const char starting_tunnel[] = "starte SSL Tunnel...";
inline constexpr const char starting_vnc[] = "starte VNC...";
inline constexpr const char stopping[] = "Beende Prozesse...";
inline constexpr const char button_start[] = "&Sitzung starten";
inline constexpr const char button_stop[] = "&Sitzung beenden";
inline constexpr const char tunnel_program[] = "stunnel.exe";
inline constexpr const char vnc_program[] = "winvnc_QARU_RC23.exe";
inline constexpr const char vnc_parameters[] = "-connect 127.0.0.1:5500 -noregistry -run";
}  // namespace launcher_text

// One per program. `init` before use, `destroy` at the end (it releases the program paths; process
// handles are never closed, as the stop needs them until the program ends).
struct session_controller {
  launcher_ops* ops;
  // The folder the entry point made the working directory, or null when it could not be entered.
  // The programs are started from there by full path, never by bare name: the shell would look for a
  // bare name along the search path and the registered application paths too. Without it no program
  // is started at all.
  const char* directory;
  session_state state;
  std::int32_t id;                   // the accepted ID, 301..304
  launcher_start_record records[2];  // indexed by process_slot - 1; never cleared
  brol_string paths[2];              // the full paths of the last start; the records' lpFile points here

  // Zero records, no ID, state input; ops and the directory's text must outlive the controller. A
  // controller that was initialised before must be destroyed first.
  void init(launcher_ops* platform, const char* working_directory) noexcept;
  // Releases the program paths; the records' lpFile may then be stale.
  void destroy() noexcept;

  // WM_INITDIALOG's part of the logic: the input state.
  void begin() noexcept;
  // WM_COMMAND with the control id: 1007 starts or stops the session, 2 (Escape) and 1001 quit at
  // once without stopping anything, every other id is ignored.
  void handle_command(int command) noexcept;
  // WM_CLOSE: while running, asks and on yes stops both programs and ends the dialog; in every other
  // state ends the dialog at once.
  void close() noexcept;

  // Stores the state and shows exactly the controls that belong to it, in template order.
  void apply_state(session_state next) noexcept;
  // Reads, checks and starts; back to input after a refused ID or a failed start.
  void start_session() noexcept;
  // Steps of start_session: the tunnel, its wait, the VNC server. False after a failed start, whose
  // message has then been shown (and a tunnel started for nothing has been ended again); without a
  // working directory the refusal is shown and nothing is started.
  bool start_programs() noexcept;
  // Fills the slot's record for the program file in the working directory. False, with nothing
  // filled, when the full path cannot be built (no room): the program must not be started then.
  bool prepare_start(process_slot slot, const char* file, const char* parameters) noexcept;
  // Closes and ends both programs, then quits the program.
  void stop_session() noexcept;

  // The caption the owner-drawn session button shows in the current state.
  const char* button_caption() const noexcept;
  launcher_start_record& record(process_slot slot) noexcept;

  // Makes s the control's text, trimmed. When no buffer can be had, s stays empty.
  void read_control_text(int control, brol_string& s) noexcept;
};

// atoi's reading of a text: leading white space, an optional sign and decimal digits up to the first
// other character; 0 without digits, and for a null text. False (value 0) when the number lies outside
// the range of int32, where atoi's result is undefined.
bool launcher_atoi(const char* text, std::int32_t& value) noexcept;

// Whether the trimmed field text is an ID that names one of the four tunnel configurations (301..304);
// value receives the number read.
bool launcher_check_id(const char* text, std::int32_t& value) noexcept;

// The tunnel configuration file of an accepted ID ("stunnel1.conf" for 301 ... "stunnel4.conf").
const char* launcher_tunnel_config(std::int32_t id) noexcept;
