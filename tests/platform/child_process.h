// Test support: a child process running a program, killed and reaped when the
// object goes, also when a test fails.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class ChildProcess {
 public:
  // Runs `program` with the argument vector `args` (args[0] included) in the
  // directory `cwd` ("" keeps the current one).
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::string& cwd = "") {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// Polls `done` every 20 ms for at most `limit`; true as soon as it holds.
inline bool eventually(const std::function<bool()>& done,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}
