// WatchedProcess: one process followed by a pidfd, so that its end is seen
// even after the process was reaped and its pid given to another process.
//
// Takes the pid of a live process (a child of ours that has not been reaped
// yet, or a process just found in the process table) and answers whether
// that very process has ended; signals reach that process or nobody. An
// empty handle (no pid, or a process that was already gone) watches nothing.
#pragma once

#include <sys/types.h>

#include "ipc/unique_fd.h"

class WatchedProcess {
 public:
  WatchedProcess() = default;
  // Opens the process's pidfd; empty when `pid` is not above 0 or names no
  // process.
  explicit WatchedProcess(pid_t pid);

  bool empty() const { return !fd_; }
  pid_t pid() const { return pid_; }
  // True once the process has ended (reaped or not).
  bool ended() const;
  // Sends `sig` to the process; false (errno set) when it is gone or the
  // handle is empty.
  bool signal(int sig) const;

 private:
  pid_t pid_ = 0;
  UniqueFd fd_;
};
