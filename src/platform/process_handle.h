// ProcessHandle: a handle on one process that stays with that process (a
// Linux pidfd), so that its end is seen even when its process id is used
// again by another process.
//
// Takes: a process id. Answers: a descriptor that becomes readable when the
// process ends (for an event loop's io watcher), whether it has ended, and
// sends signals that reach that very process or nobody.
#pragma once

#include <sys/types.h>

namespace platform {

class ProcessHandle {
 public:
  ProcessHandle() = default;
  // Opens a handle on `pid`; valid() is false when no such process exists
  // (or the host cannot give such handles).
  explicit ProcessHandle(pid_t pid);
  ~ProcessHandle();
  ProcessHandle(ProcessHandle&& other) noexcept;
  ProcessHandle& operator=(ProcessHandle&& other) noexcept;
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;

  bool valid() const { return fd_ >= 0; }
  pid_t pid() const { return pid_; }
  // Readable once the process has ended; -1 when not valid().
  int fd() const { return fd_; }
  // True once the process has ended (also when the handle is not valid).
  bool ended() const;
  // Sends `sig` to the process; false (errno set) when it is gone or the
  // handle is not valid.
  bool signal(int sig) const;

 private:
  void reset();

  int fd_ = -1;
  pid_t pid_ = 0;
};

}  // namespace platform
