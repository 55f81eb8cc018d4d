#include "platform/disk_device.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/host_root.h"

namespace platform {

namespace {

// An image disk: a regular file under the simulated host's /dev.
bool is_image_disk(const std::string& path, const struct stat& st) {
  if (!S_ISREG(st.st_mode) || host_root().empty()) return false;
  char resolved[PATH_MAX];
  if (!::realpath(host_path(path).c_str(), resolved)) return false;
  return std::string(resolved).starts_with(host_root() + "/dev/");
}

}  // namespace

int resolve_disk_path(const std::string& path, std::string& resolved) {
  char buffer[PATH_MAX];
  if (!::realpath(host_path(path).c_str(), buffer)) return errno;
  resolved = real_path(buffer);
  return 0;
}

int open_disk(const std::string& path, int flags, bool exclusive) {
  int fd = ::open(host_path(path).c_str(), flags | O_NOFOLLOW | O_CLOEXEC | (exclusive ? O_EXCL : 0));
  if (fd < 0) return -errno;
  if (exclusive) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && is_image_disk(path, st) && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int error = errno == EWOULDBLOCK ? EBUSY : errno;
      ::close(fd);
      return -error;
    }
  }
  return fd;
}

bool is_disk_node(const std::string& path, const struct stat& st) {
  return S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || is_image_disk(path, st);
}

int disk_media_size(int fd, uint64_t& size) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  if (S_ISBLK(st.st_mode)) {
    uint64_t bytes = 0;
    if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0) return errno;
    size = bytes;
    return 0;
  }
  if (S_ISREG(st.st_mode) && !host_root().empty()) {
    size = static_cast<uint64_t>(st.st_size);
    return 0;
  }
  return ENOTTY;
}

}  // namespace platform
