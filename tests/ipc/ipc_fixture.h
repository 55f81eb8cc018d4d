// Shared by the ipc tests: a private host root per test, so that queue and
// shared-memory names carry its tag and FIFOs and lock files live in it;
// child processes (the shared ChildProcess), a pipe to hand a byte to a child
// and a libev loop.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <ev.h>

#include "driver/config.h"
#include "ipc/posix_mq.h"
#include "ipc/shm.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_root.h"

using test_support::ChildProcess;

// A TempRoot for one test with small queue messages. Removes, also when the
// test fails, both controller queues, every queue named through queue(), every
// shared-memory object registered with track_shm and the whole directory
// (FIFOs and lock files included).
class IpcSandbox : public test_support::TempRoot {
 public:
  IpcSandbox() {
    std::filesystem::create_directories(path("/var/run"));
    saved_size_kb_ = Config::instance().mq_max_msg_size_kb;
    // Small messages: every queue of the user shares one byte budget.
    Config::instance().mq_max_msg_size_kb = 4;
  }
  // The objects go while this root is still the host root: their names carry
  // its tag.
  ~IpcSandbox() {
    PosixMq::unlink(PosixMq::kDaemonQueue);
    PosixMq::unlink(PosixMq::kAmqpQueue);
    for (const auto& q : queues_) PosixMq::unlink(q);
    for (const auto& id : shm_ids_)
      for (ShmKind k : {ShmKind::vm, ShmKind::reconfig, ShmKind::devices}) Shm::unlink(id, k);
    Config::instance().mq_max_msg_size_kb = saved_size_kb_;
  }

  // A queue name of this test, removed at the end.
  std::string queue(const std::string& name) {
    queues_.push_back(name);
    return name;
  }
  void track_shm(const std::string& vm_id) { shm_ids_.insert(vm_id); }

 private:
  std::vector<std::string> queues_;
  std::set<std::string> shm_ids_;
  int64_t saved_size_kb_ = 0;
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
