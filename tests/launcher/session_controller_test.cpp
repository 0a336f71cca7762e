// The session logic against a recording fake of the platform: every transition's complete sequence
// of operations (texts, ids, waits, command lines), the ID check against the C library's atoi, and
// allocation failures.
#include "launcher/session_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "brol_test_support.h"
#include "launcher/launcher_res.h"

namespace {

using ops_list = std::vector<std::string>;

// Records every operation as one line; answers reads, starts and message boxes from its settings.
class recording_ops final : public launcher_ops {
 public:
  std::string field;                 // text of the ID field
  std::deque<bool> start_results;    // per start; true when empty
  std::deque<int> answers;           // per message box; 1 (IDOK) when empty
  std::function<void()> during_box;  // runs while a message box is open
  ops_list log;
  std::vector<launcher_start_record> started;  // the records as the shell saw them
  std::uintptr_t next_process = 0x1000;
  std::set<std::uintptr_t> ended;  // processes that have ended by themselves

  std::int64_t control_text_length(int id) override {
    log.push_back("length " + std::to_string(id));
    return id == IDC_ID_FIELD ? static_cast<std::int64_t>(field.size()) : 0;
  }
  void get_control_text(int id, char* buffer, std::int64_t size) override {
    log.push_back("get " + std::to_string(id) + " " + std::to_string(size));
    const std::string text = field.substr(0, static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, text.c_str(), text.size() + 1);
  }
  void set_control_text(int id, const char* text) override { log.push_back("text " + std::to_string(id) + " " + text); }
  void show_control(int id, bool show) override { log.push_back("show " + std::to_string(id) + (show ? " 1" : " 0")); }
  void refresh_frame(int id) override { log.push_back("frame " + std::to_string(id)); }
  void set_progress_range(int low, int high) override {
    log.push_back("range " + std::to_string(low) + " " + std::to_string(high));
  }
  void set_progress(int position) override { log.push_back("progress " + std::to_string(position)); }
  int message_box(launcher_box_owner owner, const char* text, const char* caption, std::uint32_t type) override {
    log.push_back(std::string("box ") + (owner == launcher_box_owner::dialog ? "dialog" : "none") + " [" + text +
                  "] [" + caption + "] " + std::to_string(type));
    if (during_box) std::exchange(during_box, nullptr)();
    if (answers.empty()) return 1;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool start_program(launcher_start_record& record) override {
    log.push_back(std::string("start ") + record.lpFile + " " + record.lpParameters);
    started.push_back(record);
    const bool ok = start_results.empty() || start_results.front();
    if (!start_results.empty()) start_results.pop_front();
    if (ok) record.hProcess = reinterpret_cast<void*>(++next_process);
    return ok;
  }
  bool program_running(void* process) override {
    log.push_back("running? " + handle(process));
    return ended.count(reinterpret_cast<std::uintptr_t>(process)) == 0;
  }
  void request_close(void* process) override { log.push_back("close " + handle(process)); }
  void terminate_program(void* process) override { log.push_back("terminate " + handle(process)); }
  void sleep(std::uint32_t milliseconds) override { log.push_back("sleep " + std::to_string(milliseconds)); }
  void end_dialog(int result) override { log.push_back("end " + std::to_string(result)); }
  void quit(int exit_code) override { log.push_back("quit " + std::to_string(exit_code)); }

  static std::string handle(void* process) { return std::to_string(reinterpret_cast<std::uintptr_t>(process)); }
};

// The show/hide lines of apply_state for a state, in template order.
ops_list shows(session_state state) {
  const int s = static_cast<int>(state);
  auto line = [&](int id, bool shown) { return "show " + std::to_string(id) + (shown ? " 1" : " 0"); };
  return {line(1100, s == 1),
          line(1301, s == 1),
          line(1302, s == 1),
          line(1303, s == 1),
          line(1007, s == 1 || s == 3),
          line(1330, s == 2 || s == 4),
          line(1304, s == 2 || s == 4),
          line(1305, s == 2),
          line(1300, s == 3),
          line(1306, s == 3),
          line(1307, s == 3)};
}

ops_list operator+(ops_list a, const ops_list& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::string invalid_box = "box dialog [Fernwarungs-ID ung\xFCltig] [ACHTUNG] 0";
const std::string tunnel_box =
    "box none [Fehler beim Aufbau des SSL-Tunnels:\n\"stunnel\" konnte nicht gestartet werden.] [ACHTUNG] 0";
const std::string vnc_box =
    "box none [Fehler beim Aufbau der Fernwartungs-Verbindung:\n\"winvnc\" konnte nicht gestartet werden.] [ACHTUNG] 0";

// The folder the entry point entered, from which both programs are started by full path.
const char* const folder = "C:\\Users\\Anna\\Downloads\\Fernwartung";
const std::string tunnel_path = std::string(folder) + "\\stunnel.exe";
const std::string vnc_path = std::string(folder) + "\\winvnc_QARU_RC23.exe";

ops_list read_field(const std::string& text) {
  if (text.empty()) return {"length 1100"};
  return {"length 1100", "get 1100 " + std::to_string(text.size() + 1)};
}

// The whole successful start of a session with the field text, which names the given configuration
// and shows as `shown`, the tunnel process getting the handle `tunnel`.
ops_list successful_start(const std::string& text, const std::string& config, const std::string& shown,
                          std::uintptr_t tunnel = 0x1001) {
  return read_field(text) + ops_list{"range 0 3", "progress 1", "text 1305 starte SSL Tunnel..."} +
         shows(session_state::starting) +
         ops_list{"start " + tunnel_path + " " + config,
                  "sleep 2000",
                  "running? " + std::to_string(tunnel),
                  "progress 2",
                  "text 1305 starte VNC...",
                  "start " + vnc_path + " -connect 127.0.0.1:5500 -noregistry -run",
                  "progress 3",
                  "sleep 100",
                  "text 1300 " + shown,
                  "frame 1100"} +
         shows(session_state::running);
}

class session_test : public ::testing::Test {
 protected:
  recording_ops ops;
  session_controller controller{};

  void SetUp() override {
    controller.init(&ops, folder);
    controller.begin();
    ops.log.clear();
  }
  void TearDown() override { controller.destroy(); }
  void start_running(const char* id = "302") {
    ops.field = id;
    controller.handle_command(IDC_SESSION_BUTTON);
    ASSERT_EQ(controller.state, session_state::running);
    ops.log.clear();
  }
};

TEST(session_controller_states, begin_shows_the_input_controls_in_template_order) {
  recording_ops ops;
  session_controller controller{};
  controller.init(&ops, folder);
  controller.begin();
  EXPECT_EQ(ops.log, shows(session_state::input));
  EXPECT_EQ(controller.state, session_state::input);
  EXPECT_STREQ(controller.button_caption(), "&Sitzung starten");
}

TEST(session_controller_states, apply_state_shows_exactly_the_controls_of_each_state) {
  const struct {
    session_state state;
    std::vector<int> shown;
    const char* caption;
  } table[] = {
      {session_state::input, {1100, 1301, 1302, 1303, 1007}, "&Sitzung starten"},
      {session_state::starting, {1330, 1304, 1305}, "&Sitzung starten"},
      {session_state::running, {1007, 1300, 1306, 1307}, "&Sitzung beenden"},
      {session_state::stopping, {1330, 1304}, "&Sitzung starten"},
  };
  const int order[] = {1100, 1301, 1302, 1303, 1007, 1330, 1304, 1305, 1300, 1306, 1307};
  for (const auto& row : table) {
    recording_ops ops;
    session_controller controller{};
    controller.init(&ops, folder);
    controller.apply_state(row.state);
    ops_list expected;
    for (int id : order) {
      const bool shown = std::find(row.shown.begin(), row.shown.end(), id) != row.shown.end();
      expected.push_back("show " + std::to_string(id) + (shown ? " 1" : " 0"));
    }
    EXPECT_EQ(ops.log, expected) << static_cast<int>(row.state);
    EXPECT_EQ(controller.state, row.state);
    EXPECT_STREQ(controller.button_caption(), row.caption);
  }
}

TEST_F(session_test, invalid_ids_show_the_message_and_change_nothing) {
  for (const char* id : {"", "   ", "\t\r\n", "300", "305", "-301", "abc", "0", "3 02", "+-302", "4294967598",
                         "2147483648", "-2147483649", "99999999999999999999302"}) {
    ops.log.clear();
    ops.field = id;
    controller.handle_command(IDC_SESSION_BUTTON);
    EXPECT_EQ(ops.log, read_field(id) + ops_list{invalid_box}) << '"' << id << '"';
    EXPECT_EQ(controller.state, session_state::input) << id;
  }
  EXPECT_TRUE(ops.started.empty());
}

TEST_F(session_test, lenient_forms_of_an_id_start_its_tunnel) {
  const struct {
    const char* field;
    const char* config;
    const char* shown;
  } table[] = {
      {" 302 ", "stunnel2.conf", "302"},
      {"301", "stunnel1.conf", "301"},
      {"303abc", "stunnel3.conf", "303"},
      {"0304", "stunnel4.conf", "304"},
      {"+304", "stunnel4.conf", "304"},
      {"\t303\r\n", "stunnel3.conf", "303"},
      {"000000000000000000000302", "stunnel2.conf", "302"},
      {"304 305", "stunnel4.conf", "304"},
  };
  for (const auto& row : table) {
    recording_ops fresh;
    session_controller c{};
    c.init(&fresh, folder);
    fresh.field = row.field;
    c.handle_command(IDC_SESSION_BUTTON);
    EXPECT_EQ(fresh.log, successful_start(row.field, row.config, row.shown)) << row.field;
    EXPECT_EQ(c.state, session_state::running);
    EXPECT_STREQ(c.button_caption(), "&Sitzung beenden");
    c.destroy();
  }
}

TEST_F(session_test, start_records_carry_exactly_the_shell_settings) {
  // Fields the start does not own keep what they held.
  for (launcher_start_record& r : controller.records) {
    r.lpClass = "kept";
    r.dwHotKey = 77;
    r.lpIDList = &ops;
  }
  start_running("302");
  ASSERT_EQ(ops.started.size(), 2u);
  const char* files[] = {tunnel_path.c_str(), vnc_path.c_str()};
  const char* parameters[] = {"stunnel2.conf", "-connect 127.0.0.1:5500 -noregistry -run"};
  for (int i = 0; i < 2; ++i) {
    const launcher_start_record& r = ops.started[static_cast<std::size_t>(i)];
    EXPECT_EQ(r.cbSize, 112u);
    EXPECT_EQ(r.fMask, 64u);
    EXPECT_EQ(r.hwnd, nullptr);
    EXPECT_STREQ(r.lpVerb, "open");
    EXPECT_STREQ(r.lpFile, files[i]);
    EXPECT_STREQ(r.lpParameters, parameters[i]);
    EXPECT_EQ(r.lpDirectory, nullptr);
    EXPECT_EQ(r.nShow, 5);
    EXPECT_EQ(r.hInstApp, nullptr);
    EXPECT_STREQ(r.lpClass, "kept");
    EXPECT_EQ(r.dwHotKey, 77u);
    EXPECT_EQ(r.lpIDList, &ops);
  }
  EXPECT_EQ(controller.id, 302);
  EXPECT_EQ(controller.record(process_slot::tunnel).hProcess, reinterpret_cast<void*>(0x1001));
  EXPECT_EQ(controller.record(process_slot::vnc_server).hProcess, reinterpret_cast<void*>(0x1002));
}

TEST(session_controller_paths, programs_start_by_full_path_built_from_the_working_directory) {
  const std::string deep = "C:\\" + std::string(300, 'd') + "\\Fernwartung";
  const struct {
    std::string folder;
    std::string tunnel, vnc;
  } table[] = {
      {"C:\\Fernwartung", "C:\\Fernwartung\\stunnel.exe", "C:\\Fernwartung\\winvnc_QARU_RC23.exe"},
      {"E:\\", "E:\\stunnel.exe", "E:\\winvnc_QARU_RC23.exe"},
      {"\\\\server\\share\\fw", "\\\\server\\share\\fw\\stunnel.exe", "\\\\server\\share\\fw\\winvnc_QARU_RC23.exe"},
      {deep, deep + "\\stunnel.exe", deep + "\\winvnc_QARU_RC23.exe"},
  };
  for (const auto& row : table) {
    recording_ops ops;
    session_controller controller{};
    controller.init(&ops, row.folder.c_str());
    ops.field = "304";
    controller.handle_command(IDC_SESSION_BUTTON);
    ASSERT_EQ(ops.started.size(), 2u) << row.folder;
    EXPECT_EQ(ops.started[0].lpFile, row.tunnel);
    EXPECT_EQ(ops.started[1].lpFile, row.vnc);
    // The arguments and the working directory of the start stay: configuration by bare name, no folder.
    EXPECT_STREQ(ops.started[0].lpParameters, "stunnel4.conf");
    EXPECT_EQ(ops.started[0].lpDirectory, nullptr);
    EXPECT_EQ(ops.started[1].lpDirectory, nullptr);
    EXPECT_EQ(controller.state, session_state::running);
    controller.destroy();
  }
}

TEST(session_controller_paths, without_a_working_directory_a_start_refuses_and_starts_nothing) {
  const std::string refusal = std::string("box none [") + launcher_text::no_directory + "] [ACHTUNG] 0";
  EXPECT_NE(refusal.find("Programmordner konnte nicht ge\xF6"
                         "ffnet werden"),
            std::string::npos);
  for (const char* missing : {static_cast<const char*>(nullptr), ""}) {
    recording_ops ops;
    session_controller controller{};
    controller.init(&ops, missing);
    controller.begin();
    for (const char* id : {"302", "301"}) {  // each press refuses again, nothing is left behind
      ops.log.clear();
      ops.field = id;
      controller.handle_command(IDC_SESSION_BUTTON);
      EXPECT_EQ(ops.log, (read_field(id) + ops_list{"range 0 3", "progress 1", "text 1305 starte SSL Tunnel..."} +
                          shows(session_state::starting) + ops_list{refusal} + shows(session_state::input)));
      EXPECT_EQ(controller.state, session_state::input);
    }
    EXPECT_TRUE(ops.started.empty());
    // An invalid ID is still refused as such first.
    ops.log.clear();
    ops.field = "300";
    controller.handle_command(IDC_SESSION_BUTTON);
    EXPECT_EQ(ops.log, read_field("300") + ops_list{invalid_box});
    ops.log.clear();
    controller.close();
    EXPECT_EQ(ops.log, ops_list{"end 0"});
    controller.destroy();
  }
}

TEST_F(session_test, a_failed_tunnel_start_returns_to_input) {
  ops.field = "303";
  ops.start_results = {false};
  controller.handle_command(IDC_SESSION_BUTTON);
  EXPECT_EQ(ops.log, (read_field("303") + ops_list{"range 0 3", "progress 1", "text 1305 starte SSL Tunnel..."} +
                      shows(session_state::starting) + ops_list{"start " + tunnel_path + " stunnel3.conf", tunnel_box} +
                      shows(session_state::input)));
  EXPECT_EQ(controller.state, session_state::input);
}

TEST_F(session_test, a_tunnel_that_ended_during_its_wait_is_a_failed_start_and_no_vnc_server_starts) {
  ops.field = "303";
  ops.ended = {0x1001};
  controller.handle_command(IDC_SESSION_BUTTON);
  EXPECT_EQ(ops.log, (read_field("303") + ops_list{"range 0 3", "progress 1", "text 1305 starte SSL Tunnel..."} +
                      shows(session_state::starting) +
                      ops_list{"start " + tunnel_path + " stunnel3.conf", "sleep 2000", "running? 4097", tunnel_box} +
                      shows(session_state::input)));
  EXPECT_EQ(controller.state, session_state::input);
  // The next start works as usual with a tunnel that stays.
  ops.log.clear();
  ops.field = "301";
  controller.handle_command(IDC_SESSION_BUTTON);
  EXPECT_EQ(ops.log, successful_start("301", "stunnel1.conf", "301", 0x1002));
  EXPECT_EQ(controller.state, session_state::running);
}

TEST_F(session_test, a_failed_vnc_start_ends_its_tunnel_and_a_new_start_keeps_the_newest_tunnel) {
  ops.field = "301";
  ops.start_results = {true, false};
  controller.handle_command(IDC_SESSION_BUTTON);
  EXPECT_EQ(ops.log,
            (read_field("301") + ops_list{"range 0 3", "progress 1", "text 1305 starte SSL Tunnel..."} +
             shows(session_state::starting) +
             ops_list{"start " + tunnel_path + " stunnel1.conf", "sleep 2000", "running? 4097", "progress 2",
                      "text 1305 starte VNC...", "start " + vnc_path + " -connect 127.0.0.1:5500 -noregistry -run",
                      vnc_box, "close 4097", "terminate 4097"} +
             shows(session_state::input)));
  EXPECT_EQ(controller.state, session_state::input);

  ops.log.clear();
  ops.field = "304";
  controller.handle_command(IDC_SESSION_BUTTON);
  EXPECT_EQ(ops.log, (successful_start("304", "stunnel4.conf", "304", 0x1002)));
  EXPECT_EQ(controller.record(process_slot::tunnel).hProcess, reinterpret_cast<void*>(0x1002));
  ops.log.clear();
  controller.handle_command(IDC_SESSION_BUTTON);
  EXPECT_EQ(ops.log[std::size_t{13}], "close 4099");
  EXPECT_EQ(ops.log[std::size_t{14}], "close 4098");
}

TEST_F(session_test, the_button_while_running_stops_both_programs_and_quits) {
  start_running("302");
  controller.handle_command(IDC_SESSION_BUTTON);
  EXPECT_EQ(ops.log, (ops_list{"progress 0", "text 1304 Beende Prozesse..."} + shows(session_state::stopping) +
                      ops_list{"close 4098", "close 4097", "sleep 2000", "progress 1", "terminate 4098", "sleep 1000",
                               "progress 2", "terminate 4097", "sleep 200", "progress 3", "quit 0"}));
  EXPECT_EQ(controller.state, session_state::stopping);
}

TEST_F(session_test, close_while_running_asks_and_only_yes_stops) {
  start_running("302");
  const std::string question = "box dialog [Sitzung beenden?] [ACHTUNG] 4";
  for (int answer : {7, 2, 1}) {  // no, cancel, ok: anything but yes keeps the session
    ops.log.clear();
    ops.answers = {answer};
    controller.close();
    EXPECT_EQ(ops.log, ops_list{question}) << answer;
    EXPECT_EQ(controller.state, session_state::running);
  }
  ops.log.clear();
  ops.answers = {launcher_idyes};
  controller.close();
  EXPECT_EQ(ops.log, (ops_list{question, "close 4098", "close 4097", "sleep 2000", "terminate 4098", "sleep 1000",
                               "terminate 4097", "end 0"}));
}

TEST_F(session_test, close_in_any_other_state_ends_the_dialog_at_once) {
  controller.close();
  EXPECT_EQ(ops.log, ops_list{"end 0"});

  // While the error box of a failed start is open the state is still "starting".
  ops.log.clear();
  ops.field = "302";
  ops.start_results = {false};
  ops.during_box = [&] { controller.close(); };
  controller.handle_command(IDC_SESSION_BUTTON);
  const auto box = std::find(ops.log.begin(), ops.log.end(), tunnel_box);
  ASSERT_NE(box, ops.log.end());
  EXPECT_EQ(*(box + 1), "end 0");
}

TEST_F(session_test, escape_and_command_1001_quit_at_once_without_stopping) {
  for (int command : {2, IDC_QUIT}) {
    ops.log.clear();
    controller.handle_command(command);
    EXPECT_EQ(ops.log, ops_list{"quit 0"}) << command;
  }
  start_running("302");
  for (int command : {2, IDC_QUIT}) {
    ops.log.clear();
    controller.handle_command(command);
    EXPECT_EQ(ops.log, ops_list{"quit 0"}) << command;
    EXPECT_EQ(controller.state, session_state::running);
  }
}

TEST_F(session_test, enter_and_other_commands_do_nothing) {
  ops.field = "302";
  for (int command : {1, 0, 3, 1100, 1300, 1330, 65535}) {
    controller.handle_command(command);
    EXPECT_TRUE(ops.log.empty()) << command;
  }
  start_running("302");
  controller.handle_command(1);
  EXPECT_TRUE(ops.log.empty());
}

TEST_F(session_test, the_button_inside_an_open_error_box_starts_no_second_session) {
  ops.field = "302";
  ops.start_results = {false};
  ops.during_box = [&] { controller.handle_command(IDC_SESSION_BUTTON); };
  controller.handle_command(IDC_SESSION_BUTTON);
  EXPECT_EQ(
      std::count_if(ops.log.begin(), ops.log.end(), [](const std::string& l) { return l.rfind("start ", 0) == 0; }), 1);
  EXPECT_EQ(controller.state, session_state::input);
}

TEST_F(session_test, every_allocation_failure_leaves_a_consistent_session) {
  // A failure while the field is read makes it count as empty; one while the ID display is built
  // leaves that text empty. Nothing else changes, and nothing is written without room.
  const ops_list full = successful_start("302", "stunnel2.conf", "302");
  const ops_list without_display = successful_start("302", "stunnel2.conf", "");
  const ops_list refused_empty = ops_list{"length 1100", invalid_box};
  // A program path that cannot be built is a failed start of that program: a bare or cut name never
  // reaches the shell.
  const ops_list starting = read_field("302") + ops_list{"range 0 3", "progress 1", "text 1305 starte SSL Tunnel..."} +
                            shows(session_state::starting);
  const ops_list no_tunnel_path = starting + ops_list{tunnel_box} + shows(session_state::input);
  const ops_list no_vnc_path = starting +
                               ops_list{"start " + tunnel_path + " stunnel2.conf",
                                        "sleep 2000",
                                        "running? 4097",
                                        "progress 2",
                                        "text 1305 starte VNC...",
                                        vnc_box,
                                        "close 4097",
                                        "terminate 4097"} +
                               shows(session_state::input);
  const std::int64_t points = brol_test::for_each_allocation_failure(
      [&] {
        controller.destroy();
        controller.init(&ops, folder);
        ops.log.clear();
        ops.next_process = 0x1000;
        ops.field = "302";
      },
      [&] { controller.handle_command(IDC_SESSION_BUTTON); },
      [&](std::int64_t n) {
        const bool known = ops.log == full || ops.log == without_display || ops.log == refused_empty ||
                           ops.log == read_field("302") + ops_list{invalid_box} || ops.log == no_tunnel_path ||
                           ops.log == no_vnc_path;
        EXPECT_TRUE(known) << "failure at allocation " << n;
      });
  EXPECT_GE(points, 1);
}

TEST(launcher_id, reads_numbers_as_atoi_does_inside_the_int_range) {
  for (const char* text : {"", "0", "302", " 302 ", "\t\v\f-17x", "+304", "0304", "303abc", "abc", "-", "+", "+-1",
                           "2147483647", "-2147483648", "  -0", "12 34", "\n\r 301"}) {
    std::int32_t value = -1;
    EXPECT_TRUE(launcher_atoi(text, value)) << text;
    EXPECT_EQ(value, std::atoi(text)) << text;
  }
}

TEST(launcher_id, refuses_numbers_outside_the_int_range) {
  for (const char* text : {"2147483648", "-2147483649", "4294967598", "99999999999999999999999999", "-4294966994"}) {
    std::int32_t value = -1;
    EXPECT_FALSE(launcher_atoi(text, value)) << text;
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(launcher_check_id(text, value)) << text;
  }
  std::int32_t value = -1;
  EXPECT_TRUE(launcher_atoi(nullptr, value));
  EXPECT_EQ(value, 0);
  EXPECT_FALSE(launcher_check_id(nullptr, value));
}

TEST(launcher_id, names_the_four_tunnel_configurations) {
  const struct {
    std::int32_t id;
    const char* file;
  } table[] = {{300, ""},
               {301, "stunnel1.conf"},
               {302, "stunnel2.conf"},
               {303, "stunnel3.conf"},
               {304, "stunnel4.conf"},
               {305, ""},
               {-301, ""}};
  for (const auto& row : table) EXPECT_STREQ(launcher_tunnel_config(row.id), row.file) << row.id;
}

}  // namespace
