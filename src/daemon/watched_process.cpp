#include "daemon/watched_process.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

WatchedProcess::WatchedProcess(pid_t pid) {
  if (pid <= 0) return;
  fd_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  if (fd_) pid_ = pid;
}

bool WatchedProcess::ended() const {
  if (!fd_) return false;
  // A pidfd becomes readable when its process has ended.
  pollfd p{fd_.get(), POLLIN, 0};
  int n;
  do {
    n = ::poll(&p, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n > 0;
}

bool WatchedProcess::signal(int sig) const {
  if (!fd_) {
    errno = ESRCH;
    return false;
  }
  return ::syscall(SYS_pidfd_send_signal, fd_.get(), sig, nullptr, 0) == 0;
}
