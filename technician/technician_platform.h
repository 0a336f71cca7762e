// What the console needs of the system beyond the library: starting and ending the viewer, waiting
// for sockets to become readable, the stop request (Ctrl-C, the service's stop) and the program's
// folder. One backend per system: technician_posix.cpp, technician_win32.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "brol/platform/brol_platform.h"

// A started viewer: the process id, and on Windows the process handle too.
struct tech_child {
  std::int64_t id = 0;
  std::intptr_t handle = 0;
  bool running = false;
};

// Prepares the process: the socket library (Windows), the stop signals held for tech_wait_for_stop
// (POSIX; every thread started afterwards holds them too). False with *error the reason.
bool tech_platform_start(std::string* error);

// Starts program with the arguments (program is looked up as the system looks up a command), its
// input empty and its output on the console's standard error. False with *error the reason when it
// cannot be started (a missing program included).
bool tech_spawn(const std::string& program, const std::vector<std::string>& arguments, tech_child* out,
                std::string* error);
// True while the child runs; an ended child is collected (no zombie is left).
bool tech_child_running(tech_child& child);
// Ends the child (asked first, forced after two seconds) and collects it. Nothing when it has ended.
void tech_child_end(tech_child& child);

// Waits up to milliseconds for any of count sockets to become readable (data, the peer's end, an
// error, or a connection waiting on a listener): the number of ready sockets (ready[i] says which),
// 0 when the time ran out, -1 on failure with errno set.
int tech_wait_readable(const brol_socket_handle* sockets, int count, int milliseconds, bool* ready);
// Sends small writes at once (TCP_NODELAY): a screen update or a key never waits for more bytes.
void tech_socket_no_delay(brol_socket_handle socket);

// Blocks until the console is asked to stop: Ctrl-C, Ctrl-Break or the console window closing; a
// service manager's stop (SIGTERM, SIGINT, SIGHUP on POSIX).
void tech_wait_for_stop();
// Called when everything has ended: on Windows a closing console window may then end the process.
void tech_stopped();

// The folder of the running program, with its separator at the end ("" when unknown).
std::string tech_program_folder();
