#include "pool/state/lock_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/host_root.h"

namespace {

// Another process unlinking and recreating the file between our open and our
// lock is retried this often.
constexpr int kLockAttempts = 10;

bool lock_whole_file(int fd, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  return ::fcntl(fd, F_SETLK, &fl) == 0;
}

}  // namespace

LockFile::LockFile(std::string path) : path_(std::move(path)) {}

LockFile::~LockFile() { release(); }

LockFile::LockFile(LockFile&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, 0)),
      existed_(other.existed_) {}

LockFile& LockFile::operator=(LockFile&& other) noexcept {
  if (this != &other) {
    release();
    path_ = std::move(other.path_);
    fd_ = std::exchange(other.fd_, 0);
    existed_ = other.existed_;
  }
  return *this;
}

int LockFile::try_lock() {
  if (fd_ > 0) return -1;
  const std::string mapped = platform::host_path(path_);
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    struct stat before {};
    existed_ = ::stat(mapped.c_str(), &before) == 0 || errno != ENOENT;
    int fd = ::open(mapped.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 1) {
      if (fd == 0) ::close(fd);
      return -1;
    }
    if (!lock_whole_file(fd, F_WRLCK)) {
      int error = errno;
      ::close(fd);
      return error == EACCES || error == EAGAIN ? 1 : -1;
    }
    // The holder before us may have removed the file after we opened it: a
    // lock on a file no longer at the path locks nothing.
    struct stat held {}, now {};
    if (::fstat(fd, &held) == 0 && ::stat(mapped.c_str(), &now) == 0 &&
        held.st_dev == now.st_dev && held.st_ino == now.st_ino) {
      fd_ = fd;
      return 0;
    }
    ::close(fd);
  }
  return -1;
}

void LockFile::release() {
  if (fd_ <= 0) return;
  if (!existed_) ::unlink(platform::host_path(path_).c_str());
  lock_whole_file(fd_, F_UNLCK);
  ::close(std::exchange(fd_, 0));
}
