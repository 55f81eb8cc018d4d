// Shared by the ipc tests: a private host root per test, so that queue and
// shared-memory names carry its tag and FIFOs and lock files live in it, and
// child processes that are always reaped.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <ev.h>
#include <gtest/gtest.h>

#include "driver/config.h"
#include "ipc/posix_mq.h"
#include "ipc/shm.h"
#include "platform/host_root.h"

// A temporary host root for one test. Removes, also when the test fails,
// both controller queues, every shared-memory object registered with
// track_shm and the whole directory (FIFOs and lock files included).
class IpcSandbox {
 public:
  IpcSandbox() {
    char tmpl[] = "/tmp/ombrix-ipc-XXXXXX";
    const char* dir = ::mkdtemp(tmpl);
    if (!dir) throw std::runtime_error("mkdtemp failed");
    root_ = dir;
    std::filesystem::create_directories(root_ + "/var/run");
    ::setenv("OMBRIX_ROOT", root_.c_str(), 1);
    platform::reload_host_root_for_tests();
    saved_size_kb_ = Config::instance().mq_max_msg_size_kb;
    // Small messages: every queue of the user shares one byte budget.
    Config::instance().mq_max_msg_size_kb = 4;
  }
  ~IpcSandbox() {
    PosixMq::unlink(PosixMq::kDaemonQueue);
    PosixMq::unlink(PosixMq::kAmqpQueue);
    for (const auto& q : queues_) PosixMq::unlink(q);
    for (const auto& id : shm_ids_)
      for (ShmKind k : {ShmKind::vm, ShmKind::reconfig, ShmKind::devices}) Shm::unlink(id, k);
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    Config::instance().mq_max_msg_size_kb = saved_size_kb_;
    ::unsetenv("OMBRIX_ROOT");
    platform::reload_host_root_for_tests();
  }
  IpcSandbox(const IpcSandbox&) = delete;
  IpcSandbox& operator=(const IpcSandbox&) = delete;

  const std::string& root() const { return root_; }
  // A queue name of this test, removed at the end.
  std::string queue(const std::string& name) {
    queues_.push_back(name);
    return name;
  }
  void track_shm(const std::string& vm_id) { shm_ids_.insert(vm_id); }

 private:
  std::string root_;
  std::vector<std::string> queues_;
  std::set<std::string> shm_ids_;
  int64_t saved_size_kb_ = 0;
};

// A forked child running `body`; its result is the exit status. The child is
// killed and reaped when the object goes unless wait() reaped it.
class ChildProcess {
 public:
  explicit ChildProcess(const std::function<int()>& body) {
    pid_ = ::fork();
    if (pid_ == 0) {
      int code = 100;
      try {
        code = body();
      } catch (...) {
        code = 101;
      }
      ::_exit(code);
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

  bool started() const { return pid_ > 0; }
  // The exit status, -1 when it did not exit normally.
  int wait() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

// A pipe for handing one byte between a test and its child.
class SignalPipe {
 public:
  SignalPipe() {
    if (::pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
  }
  ~SignalPipe() {
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;
  bool post() { return ::write(fds_[1], "x", 1) == 1; }
  bool await() {
    char c;
    return ::read(fds_[0], &c, 1) == 1;
  }

 private:
  int fds_[2];
};

// A private libev loop, destroyed with the object.
class EvLoop {
 public:
  EvLoop() : loop_(ev_loop_new(EVFLAG_AUTO)) {}
  ~EvLoop() {
    if (loop_) ev_loop_destroy(loop_);
  }
  EvLoop(const EvLoop&) = delete;
  EvLoop& operator=(const EvLoop&) = delete;
  struct ev_loop* get() const { return loop_; }

 private:
  struct ev_loop* loop_;
};
