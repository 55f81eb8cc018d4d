#include "ipc/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

namespace {

const char* kind_of(mode_t mode) {
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a plain file";
}

std::string not_regular(mode_t mode) { return fmt::format("{}, not a regular file", kind_of(mode)); }

}  // namespace

UniqueFd open_regular_file(const std::string& path, int flags, mode_t mode, std::string& error) {
  UniqueFd fd(::open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
  struct stat st {};
  if (!fd) {
    int saved = errno;
    // A link, socket or directory in the file's place fails the open itself.
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
      error = not_regular(st.st_mode);
    else
      error = std::strerror(saved);
    errno = saved;
    return fd;
  }
  if (::fstat(fd.get(), &st) != 0) {
    int saved = errno;
    error = std::strerror(saved);
    errno = saved;
    return UniqueFd();
  }
  if (!S_ISREG(st.st_mode)) {
    error = not_regular(st.st_mode);
    errno = EINVAL;
    return UniqueFd();
  }
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  error.clear();
  return fd;
}
