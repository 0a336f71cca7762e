// Child processes for tests: the test program itself (to act as a second delivering process) and
// helper programs such as a python3 HTTP server.
#pragma once

#include <string>
#include <vector>

namespace brol_test {

// The path of the running test program.
std::string own_executable();

// Sets an environment variable of this process, which children started afterwards inherit.
void set_environment(const std::string& name, const std::string& value);

// One child process. It is started with its standard streams inherited; a child still running when
// the object goes is killed and waited for, so no test leaves a process behind.
class child_process {
 public:
  child_process() = default;
  ~child_process();
  child_process(const child_process&) = delete;
  child_process& operator=(const child_process&) = delete;

  // Starts arguments[0] (a path, or a name looked up in PATH on POSIX) with the arguments. Under
  // Wine, a Linux program given by its absolute path runs natively. False when it cannot be started.
  bool start(const std::vector<std::string>& arguments);
  // Waits up to timeout_ms for the child to end: its exit code, or -1 when it had to be killed. -2
  // when the child cannot be waited for (a Linux program started under Wine), which must end by
  // itself.
  int wait(int timeout_ms);

 private:
  long long id_ = 0;  // a pid, or a process HANDLE
  bool running_ = false;
  void kill();
};

}  // namespace brol_test
