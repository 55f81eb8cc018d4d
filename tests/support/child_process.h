// Test support: a forked child process, waited for with a limit, and killed
// and reaped when the object goes unless it was reaped before, also when a
// test fails.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/eventually.h"

namespace test_support {

// For a child: replaces the process by `program` with the argument vector
// `args` (args[0] included); exits with 127 when the program cannot start.
[[noreturn]] inline void exec_program(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

class ChildProcess {
 public:
  // Runs `body` in the child, which exits with its result (101 when it throws).
  explicit ChildProcess(const std::function<int()>& body) {
    pid_ = ::fork();
    if (pid_ == 0) {
      int code = 101;
      try {
        code = body();
      } catch (...) {
      }
      ::_exit(code);
    }
  }
  // Runs `program` with `args` (args[0] included) in the directory `cwd` (""
  // keeps the current one; 126 when the child cannot change there).
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& cwd = "")
      : ChildProcess([&]() -> int {
          if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) return 126;
          exec_program(program, args);
        }) {}
  ~ChildProcess() {
    if (pid_ > 0 && !status_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The child's id; -1 when the fork failed.
  pid_t pid() const { return pid_; }
  void signal(int sig) const {
    if (pid_ > 0 && !status_) ::kill(pid_, sig);
  }

  // The wait status once the child has ended within `limit`; nullopt while it
  // still runs (or never started).
  std::optional<int> wait_status(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    if (status_ || pid_ <= 0) return status_;
    eventually([&] {
      int st = 0;
      if (::waitpid(pid_, &st, WNOHANG) == pid_) status_ = st;
      return status_.has_value();
    }, limit);
    return status_;
  }
  // The exit status once the child has exited within `limit`; -1 when it did
  // not exit normally or not in time.
  int wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::optional<int> st = wait_status(limit);
    return st && WIFEXITED(*st) ? WEXITSTATUS(*st) : -1;
  }
  bool running() { return pid_ > 0 && !wait_status(std::chrono::milliseconds(0)); }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace test_support
