#include "platform/process_handle.h"

#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace platform {

ProcessHandle::ProcessHandle(pid_t pid) {
  if (pid <= 0) return;
  int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return;
  fd_ = fd;
  pid_ = pid;
}

ProcessHandle::~ProcessHandle() { reset(); }

ProcessHandle::ProcessHandle(ProcessHandle&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), pid_(std::exchange(other.pid_, 0)) {}

ProcessHandle& ProcessHandle::operator=(ProcessHandle&& other) noexcept {
  if (this != &other) {
    reset();
    fd_ = std::exchange(other.fd_, -1);
    pid_ = std::exchange(other.pid_, 0);
  }
  return *this;
}

void ProcessHandle::reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pid_ = 0;
}

bool ProcessHandle::ended() const {
  if (fd_ < 0) return true;
  // A pidfd becomes readable when its process has ended.
  pollfd p{fd_, POLLIN, 0};
  int n;
  do {
    n = ::poll(&p, 1, 0);
  } while (n < 0 && errno == EINTR);
  return n != 0;
}

bool ProcessHandle::signal(int sig) const {
  if (fd_ < 0) {
    errno = ESRCH;
    return false;
  }
  return ::syscall(SYS_pidfd_send_signal, fd_, sig, nullptr, 0) == 0;
}

}  // namespace platform
