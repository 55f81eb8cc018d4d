#include "app/service_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "driver/config.h"
#include "ipc/file_lock.h"
#include "platform/host_root.h"

namespace {

int daemon_lock_fd = -1;

}  // namespace

std::string service_pid_file() { return std::string("/var/run/") + program_name + ".pid"; }

ServiceLock::~ServiceLock() {
  if (fd_ >= 0) ::close(fd_);
}

bool ServiceLock::acquire(std::string* error) {
  const std::string path = platform::host_path(service_pid_file());
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = "Can't open '" + path + "': " + std::strerror(errno);
    return false;
  }
  int err = lock_whole_file(fd, F_WRLCK, false);
  if (err != 0) {
    if (error) *error = err == EAGAIN || err == EACCES ? "" : "Can't lock '" + path + "': " + std::strerror(err);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

pid_t ServiceLock::recorded_pid() const {
  const std::string path = platform::host_path(service_pid_file());
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {0};
  ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  ::close(fd);
  if (n <= 0) return 0;
  return static_cast<pid_t>(std::strtol(text, nullptr, 10));
}

void ServiceLock::record_own_pid() const {
  if (fd_ < 0) return;
  std::string text = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) != 0) return;
  if (::pwrite(fd_, text.data(), text.size(), 0) < 0) return;
}

bool ServiceLock::move_to(int fd) {
  if (fd_ < 0) return false;
  if (fd_ != fd) {
    if (::dup2(fd_, fd) < 0) return false;
    ::close(fd_);
    fd_ = fd;
  }
  return ::fcntl(fd_, F_SETFD, FD_CLOEXEC) == 0;
}

void set_service_lock_fd(int fd) { daemon_lock_fd = fd; }

void close_service_lock_in_child() {
  if (daemon_lock_fd >= 0) ::close(daemon_lock_fd);
  daemon_lock_fd = -1;
}
