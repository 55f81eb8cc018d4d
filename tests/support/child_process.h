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

// A program's argument vector (args[0] included) and environment, made ready
// for execve before a fork. A child forked from a process with other threads
// must not allocate: another thread may have held the allocator's lock at the
// fork, and nobody releases it in the child. `exec` allocates nothing.
class ExecArgs {
 public:
  ExecArgs(std::string program, std::vector<std::string> args)
      : program_(std::move(program)), args_(std::move(args)) {
    for (std::string& a : args_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    for (char** e = environ; *e != nullptr; ++e) env_.emplace_back(*e);
    rebuild_envp();
  }
  ExecArgs(const ExecArgs&) = delete;
  ExecArgs& operator=(const ExecArgs&) = delete;

  // Sets `name` to `value` in the program's environment.
  void set_env(const std::string& name, const std::string& value) {
    std::string prefix = name + "=";
    std::erase_if(env_, [&](const std::string& e) { return e.starts_with(prefix); });
    env_.push_back(prefix + value);
    rebuild_envp();
  }

  // For the child: replaces the process by the program; exits with 127 when it
  // cannot start.
  [[noreturn]] void exec() const {
    ::execve(program_.c_str(), argv_.data(), envp_.data());
    ::_exit(127);
  }

 private:
  void rebuild_envp() {
    envp_.clear();
    for (std::string& e : env_) envp_.push_back(e.data());
    envp_.push_back(nullptr);
  }

  std::string program_;
  std::vector<std::string> args_;
  std::vector<char*> argv_;
  std::vector<std::string> env_;
  std::vector<char*> envp_;
};

class ChildProcess {
 public:
  // Runs `body` in the child, which exits with its result (101 when it throws).
  // When this process has other threads, `body` may make only calls that are
  // safe after a fork (no allocation, no logging): prepare an ExecArgs first.
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
      : ChildProcess(ExecArgs(program, args), cwd) {}
  ChildProcess(const ExecArgs& exec, const std::string& cwd)
      : ChildProcess([&]() -> int {
          if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) return 126;
          exec.exec();
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
