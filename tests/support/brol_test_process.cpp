// Child processes for tests. Starting, waiting for and killing a process has no counterpart in the
// library's platform layer (the library never starts processes), so the two systems are told apart
// here, in test support only.
#include "brol_test_process.h"

#include <chrono>
#include <cstdlib>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
extern char** environ;
#endif

namespace brol_test {

#ifdef _WIN32

std::string own_executable() {
  char path[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, n);
}

void set_environment(const std::string& name, const std::string& value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
  _putenv_s(name.c_str(), value.c_str());
}

bool child_process::start(const std::vector<std::string>& arguments) {
  std::string line;
  for (const std::string& a : arguments) {
    line += (line.empty() ? "\"" : " \"") + a + "\"";
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  id_ = reinterpret_cast<long long>(info.hProcess);
  running_ = true;
  return true;
}

int child_process::wait(int timeout_ms) {
  if (!running_) {
    return -1;
  }
  const HANDLE process = reinterpret_cast<HANDLE>(id_);
  const DWORD waited = WaitForSingleObject(process, static_cast<DWORD>(timeout_ms));
  if (waited == WAIT_FAILED) {
    // Wine gives a Linux child a handle that cannot be waited for.
    CloseHandle(process);
    running_ = false;
    return -2;
  }
  if (waited != WAIT_OBJECT_0) {
    kill();
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  running_ = false;
  return static_cast<int>(code);
}

void child_process::kill() {
  const HANDLE process = reinterpret_cast<HANDLE>(id_);
  TerminateProcess(process, 1);
  WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
  running_ = false;
}

#else

std::string own_executable() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

void set_environment(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

bool child_process::start(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const std::string& a : arguments) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (arguments.empty() || posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    return false;
  }
  id_ = pid;
  running_ = true;
  return true;
}

int child_process::wait(int timeout_ms) {
  if (!running_) {
    return -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    if (waitpid(static_cast<pid_t>(id_), &status, WNOHANG) == static_cast<pid_t>(id_)) {
      running_ = false;
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill();
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void child_process::kill() {
  ::kill(static_cast<pid_t>(id_), SIGKILL);
  int status = 0;
  waitpid(static_cast<pid_t>(id_), &status, 0);
  running_ = false;
}

#endif

child_process::~child_process() {
  if (running_) {
    kill();
  }
}

}  // namespace brol_test
