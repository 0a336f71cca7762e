// The console's system backend for POSIX: posix_spawnp, poll, signals held and waited for.
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "technician/technician_platform.h"

extern char** environ;

namespace {

sigset_t stop_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

std::string reason(int number) {
  const char* text = brol_platform_error_text(number);
  return text ? text : "error " + std::to_string(number);
}

}  // namespace

bool tech_platform_start(std::string* error) {
  const sigset_t set = stop_signals();
  const int failed = pthread_sigmask(SIG_BLOCK, &set, nullptr);
  if (failed != 0) {
    *error = "cannot hold the stop signals: " + reason(failed);
  }
  return failed == 0;
}

bool tech_spawn(const std::string& program, const std::vector<std::string>& arguments, tech_child* out,
                std::string* error) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, 2, 1);  // the console's own output keeps the journal's lines only
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);  // the console holds its stop signals; the viewer must not
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) {
    *error = program + ": " + reason(failed);
    return false;
  }
  out->id = pid;
  out->running = true;
  return true;
}

bool tech_child_running(tech_child& child) {
  if (child.running && waitpid(static_cast<pid_t>(child.id), nullptr, WNOHANG) != 0) {
    child.running = false;
  }
  return child.running;
}

void tech_child_end(tech_child& child) {
  if (!tech_child_running(child)) {
    return;
  }
  kill(static_cast<pid_t>(child.id), SIGTERM);
  for (int i = 0; i < 40 && tech_child_running(child); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (child.running) {
    kill(static_cast<pid_t>(child.id), SIGKILL);
    waitpid(static_cast<pid_t>(child.id), nullptr, 0);
    child.running = false;
  }
}

int tech_wait_readable(const brol_socket_handle* sockets, int count, int milliseconds, bool* ready) {
  pollfd fds[4];
  for (int i = 0; i < count; ++i) {
    fds[i] = {static_cast<int>(sockets[i]), POLLIN, 0};
  }
  const int n = poll(fds, static_cast<nfds_t>(count), milliseconds);
  for (int i = 0; i < count; ++i) {
    ready[i] = n > 0 && fds[i].revents != 0;
  }
  return n < 0 && errno == EINTR ? 0 : n;
}

void tech_socket_no_delay(brol_socket_handle socket) {
  const int on = 1;
  setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void tech_wait_for_stop() {
  const sigset_t set = stop_signals();
  int received = 0;
  while (sigwait(&set, &received) != 0) {
  }
}

void tech_stopped() {}

std::string tech_program_folder() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) {
    return "";
  }
  std::string text(path, static_cast<std::size_t>(n));
  return text.substr(0, text.find_last_of('/') + 1);
}
