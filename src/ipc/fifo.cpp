#include "ipc/fifo.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "platform/host_root.h"

namespace {

bool is_fifo(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
}

}  // namespace

bool Fifo::open(bool reader, const std::string& path) {
  close();
  const std::string mapped = platform::host_path(path);
  if (reader) {
    if (::mkfifo(mapped.c_str(), 0660) != 0 && errno != EEXIST) return false;
    fd_.reset(::open(mapped.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    return fd_.valid();
  }
  // The path comes from another process: never open anything but a FIFO for
  // writing (a device could act on the open, a file would be overwritten).
  struct stat st {};
  if (::lstat(mapped.c_str(), &st) != 0) return false;
  if (!S_ISFIFO(st.st_mode)) {
    errno = ENOTSUP;
    return false;
  }
  UniqueFd fd(::open(mapped.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return false;
  if (!is_fifo(fd.get())) {
    errno = ENOTSUP;
    return false;
  }
  fd_ = std::move(fd);
  return true;
}
